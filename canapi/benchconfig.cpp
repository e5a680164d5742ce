#include "benchconfig.h"

#include "inivalue.h"
#include "runplaces.h"

#include <QDir>
#include <QHash>
#include <QRegularExpression>
#include <QSet>

#include <algorithm>
#include <cmath>
#include <optional>

namespace canapi {

namespace {

constexpr int kMaxAdapters = 16;
constexpr int kMaxIndex = 255;
constexpr int kMaxSpinUs = 1000;

const QStringList kDrivers = {QStringLiteral("pcan_usb"), QStringLiteral("pcan_pci"), QStringLiteral("peakcan")};
const QStringList kPlugins = {QStringLiteral("peakcan"), QStringLiteral("socketcan"),
                              QStringLiteral("virtualcan")};

class Parser
{
public:
    Parser(const QString &fileName, const QString &baseDir)
        : fileName_(fileName)
        , baseDir_(baseDir)
    {}

    bool parse(const QString &text, BenchConfig *config, QString *error);

private:
    enum class Section { None, Adapter, Module };

    bool fail(int line, const QString &message);
    bool parseLine(int number, const QString &line);
    bool openSection(int number, const QString &header);
    bool setKey(int number, const QString &key, const QString &value);
    bool adapterKey(AdapterConfig &a, int number, const QString &key, const QString &value);
    std::optional<bool> adapterSetupKey(AdapterConfig &a, int number, const QString &key, const QString &value);
    std::optional<bool> adapterSimulationKey(AdapterConfig &a, int number, const QString &key,
                                             const QString &value);
    bool indexKey(AdapterConfig &a, int number, const QString &value);
    bool driftKey(AdapterConfig &a, int number, const QString &value);
    bool moduleKey(ModuleEntry &m, int number, const QString &key, const QString &value);
    bool checkAdapter(const AdapterConfig &a, const QSet<QString> &keys);
    bool checkAdapters();
    bool checkModules();
    QString absolutePath(const QString &path) const;
    bool placeValue(int number, const QString &key, const QString &value, QString *path);

    QString fileName_;
    QString baseDir_;
    QString error_;
    Section section_ = Section::None;
    QSet<QString> sectionNames_;
    QSet<QString> sectionKeys_;
    QList<AdapterConfig> adapters_;
    QList<QSet<QString>> adapterKeys_;
    QList<ModuleEntry> modules_;
    QHash<int, QString> indexOwner_;
    QList<int> moduleAdapterLines_;
};

bool Parser::fail(int line, const QString &message)
{
    error_ = QStringLiteral("%1:%2: %3").arg(fileName_).arg(line).arg(message);
    return false;
}

QString Parser::absolutePath(const QString &path) const
{
    return QDir::cleanPath(QDir(baseDir_).absoluteFilePath(path));
}

// A trace or statistics place; its placeholders are filled when a run opens it.
bool Parser::placeValue(int number, const QString &key, const QString &value, QString *path)
{
    if (value.isEmpty())
        return fail(number, QStringLiteral("%1 names no file").arg(key));
    if (const QString problem = placeholderProblem(value); !problem.isEmpty())
        return fail(number, QStringLiteral("%1: %2").arg(key, problem));
    *path = absolutePath(value);
    return true;
}

bool Parser::parse(const QString &text, BenchConfig *config, QString *error)
{
    const QStringList lines = text.split(QLatin1Char('\n'));
    bool ok = true;
    for (int i = 0; ok && i < lines.size(); ++i)
        ok = parseLine(i + 1, lines.at(i));
    ok = ok && checkAdapters() && checkModules();
    if (!ok) {
        if (error)
            *error = error_;
        return false;
    }
    std::sort(adapters_.begin(), adapters_.end(),
              [](const AdapterConfig &a, const AdapterConfig &b) { return a.index < b.index; });
    config->fileName = fileName_;
    config->adapters = adapters_;
    config->modules = modules_;
    config->clockDriftPpm = 0.0;
    for (const AdapterConfig &a : std::as_const(adapters_)) {
        if (a.hasClockDrift)
            config->clockDriftPpm = a.clockDriftPpm;
    }
    return true;
}

bool Parser::parseLine(int number, const QString &raw)
{
    // A NUL would end the value wherever it becomes a C string (a path, a
    // number), so what is used would differ from what the line says.
    if (raw.contains(QChar(u'\0')))
        return fail(number, QStringLiteral("the line holds a NUL byte"));
    const QString line = raw.trimmed();
    if (line.isEmpty() || line.startsWith(QLatin1Char(';')) || line.startsWith(QLatin1Char('#')))
        return true;
    if (line.startsWith(QLatin1Char('[')))
        return openSection(number, line);
    const qsizetype eq = line.indexOf(QLatin1Char('='));
    if (eq <= 0)
        return fail(number, QStringLiteral("expected \"key = value\" or a [section]"));
    const QString key = line.left(eq).trimmed();
    QString value;
    QString problem;
    if (!cleanValue(line.mid(eq + 1), &value, &problem))
        return fail(number, problem);
    return setKey(number, key, value);
}

bool Parser::openSection(int number, const QString &header)
{
    static const QRegularExpression form(
        QStringLiteral("^\\[\\s*(adapter|module)\\.([A-Za-z0-9_.-]+)\\s*\\]\\s*(;.*)?$"));
    const QRegularExpressionMatch m = form.match(header);
    if (!m.hasMatch())
        return fail(number,
                    QStringLiteral("unknown section %1 (expected [adapter.NAME] or [module.NAME])").arg(header));
    const QString full = m.captured(1) + QLatin1Char('.') + m.captured(2);
    if (sectionNames_.contains(full))
        return fail(number, QStringLiteral("section [%1] appears twice").arg(full));
    sectionNames_.insert(full);
    sectionKeys_.clear();
    if (m.captured(1) == QLatin1String("adapter")) {
        section_ = Section::Adapter;
        AdapterConfig a;
        a.name = m.captured(2);
        a.line = number;
        adapters_.append(a);
        adapterKeys_.append(QSet<QString>());
    } else {
        section_ = Section::Module;
        ModuleEntry e;
        e.name = m.captured(2);
        e.line = number;
        modules_.append(e);
        moduleAdapterLines_.append(0);
    }
    return true;
}

bool Parser::setKey(int number, const QString &key, const QString &value)
{
    if (section_ == Section::None)
        return fail(number, QStringLiteral("key %1 outside of a section").arg(key));
    if (sectionKeys_.contains(key))
        return fail(number, QStringLiteral("key %1 appears twice in this section").arg(key));
    sectionKeys_.insert(key);
    if (section_ == Section::Adapter) {
        adapterKeys_.last().insert(key);
        return adapterKey(adapters_.last(), number, key, value);
    }
    return moduleKey(modules_.last(), number, key, value);
}

bool Parser::adapterKey(AdapterConfig &a, int number, const QString &key, const QString &value)
{
    if (const std::optional<bool> done = adapterSetupKey(a, number, key, value))
        return *done;
    if (const std::optional<bool> done = adapterSimulationKey(a, number, key, value))
        return *done;
    return fail(number, QStringLiteral("unknown key %1 in an adapter section").arg(key));
}

// What the adapter is, and where and under which name its records go; none
// for another key.
std::optional<bool> Parser::adapterSetupKey(AdapterConfig &a, int number, const QString &key,
                                            const QString &value)
{
    if (key == QLatin1String("index")) {
        return indexKey(a, number, value);
    } else if (key == QLatin1String("driver")) {
        if (!kDrivers.contains(value))
            return fail(number,
                        QStringLiteral("driver must be one of %1").arg(kDrivers.join(QLatin1String(", "))));
        a.driver = value;
    } else if (key == QLatin1String("backend")) {
        if (value != QLatin1String("sim") && value != QLatin1String("qt"))
            return fail(number, QStringLiteral("backend must be sim or qt"));
        a.backend = value == QLatin1String("qt") ? AdapterConfig::Backend::Qt : AdapterConfig::Backend::Sim;
    } else if (key == QLatin1String("plugin")) {
        if (!kPlugins.contains(value))
            return fail(number,
                        QStringLiteral("plugin must be one of %1").arg(kPlugins.join(QLatin1String(", "))));
        a.plugin = value;
    } else if (key == QLatin1String("interface")) {
        if (value.isEmpty())
            return fail(number, QStringLiteral("interface is empty"));
        a.interface = value;
    } else if (key == QLatin1String("trace")) {
        a.traceLine = number;
        return placeValue(number, key, value, &a.tracePath);
    } else if (key == QLatin1String("stats")) {
        a.statsLine = number;
        return placeValue(number, key, value, &a.statsPath);
    } else if (key == QLatin1String("trace_name")) {
        static const QRegularExpression name(QStringLiteral("^[A-Za-z0-9_.-]{1,15}$"));
        if (!name.match(value).hasMatch())
            return fail(number, QStringLiteral("trace_name must be 1 to 15 letters, digits, '_', '.' or '-'"));
        a.traceName = value;
    } else {
        return std::nullopt;
    }
    return true;
}

// How a simulated adapter and its bus behave; none for another key.
std::optional<bool> Parser::adapterSimulationKey(AdapterConfig &a, int number, const QString &key,
                                                 const QString &value)
{
    qulonglong n = 0;
    if (key == QLatin1String("bus_status")) {
        if (!parseNumber(value, 0xFFFF, &n))
            return fail(number, QStringLiteral("bus_status must be a number from 0 to 0xFFFF"));
        a.busStatus = static_cast<uint16_t>(n);
    } else if (key == QLatin1String("bus_off_after_frames")) {
        if (!parseNumber(value, 0xFFFFFFFF, &n))
            return fail(number, QStringLiteral("bus_off_after_frames must be a number from 0 to 0xFFFFFFFF"));
        a.busOffAfterFrames = n;
    } else if (key == QLatin1String("bus_off_for_good")) {
        if (!parseFlag(value, &a.busOffForGood))
            return fail(number, QStringLiteral("bus_off_for_good must be true or false"));
    } else if (key == QLatin1String("realtime")) {
        if (!parseFlag(value, &a.realtime))
            return fail(number, QStringLiteral("realtime must be true or false"));
    } else if (key == QLatin1String("spin_us")) {
        if (!parseNumber(value, kMaxSpinUs, &n))
            return fail(number, QStringLiteral("spin_us must be a number from 0 to %1").arg(kMaxSpinUs));
        a.spinUs = static_cast<uint32_t>(n);
    } else if (key == QLatin1String("clock_drift_ppm")) {
        return driftKey(a, number, value);
    } else {
        return std::nullopt;
    }
    return true;
}

bool Parser::indexKey(AdapterConfig &a, int number, const QString &value)
{
    qulonglong n = 0;
    if (!parseNumber(value, kMaxIndex, &n))
        return fail(number, QStringLiteral("index must be a number from 0 to %1").arg(kMaxIndex));
    const int index = static_cast<int>(n);
    if (indexOwner_.contains(index))
        return fail(
            number,
            QStringLiteral("index %1 is already used by [adapter.%2]").arg(index).arg(indexOwner_.value(index)));
    indexOwner_.insert(index, a.name);
    a.index = index;
    return true;
}

bool Parser::driftKey(AdapterConfig &a, int number, const QString &value)
{
    bool ok = false;
    const double ppm = value.toDouble(&ok);
    if (!ok || !std::isfinite(ppm) || ppm <= -1e6 || ppm >= 1e6)
        return fail(number, QStringLiteral("clock_drift_ppm must be a number above -1000000 and below 1000000"));
    a.clockDriftPpm = ppm;
    a.hasClockDrift = true;
    return true;
}

bool Parser::moduleKey(ModuleEntry &m, int number, const QString &key, const QString &value)
{
    if (key == QLatin1String("adapter")) {
        qulonglong n = 0;
        if (!parseNumber(value, kMaxIndex, &n))
            return fail(number, QStringLiteral("adapter must be the index of an adapter"));
        m.adapterIndex = static_cast<int>(n);
        moduleAdapterLines_.last() = number;
        return true;
    }
    if (key == QLatin1String("image"))
        m.imageLine = number;
    std::string problem;
    if (!modsim::applyModuleKey(m.config, key.toStdString(), value.toStdString(), baseDir_.toStdString(),
                                &problem))
        return fail(number, QString::fromStdString(problem));
    return true;
}

bool Parser::checkAdapter(const AdapterConfig &a, const QSet<QString> &keys)
{
    const QString section = QStringLiteral("[adapter.%1] ").arg(a.name);
    for (const char *required : {"index", "driver", "backend"}) {
        if (!keys.contains(QLatin1String(required)))
            return fail(a.line, section + QStringLiteral("has no %1").arg(QLatin1String(required)));
    }
    const bool qt = a.backend == AdapterConfig::Backend::Qt;
    for (const char *qtKey : {"plugin", "interface"}) {
        if (qt && !keys.contains(QLatin1String(qtKey)))
            return fail(a.line, section + QStringLiteral("has backend = qt but no %1").arg(QLatin1String(qtKey)));
        if (!qt && keys.contains(QLatin1String(qtKey)))
            return fail(a.line, section
                                    + QStringLiteral("has %1, which only a backend = qt adapter takes")
                                          .arg(QLatin1String(qtKey)));
    }
    for (const char *simKey : {"bus_status", "clock_drift_ppm", "stats", "realtime", "spin_us",
                               "bus_off_after_frames", "bus_off_for_good"}) {
        if (qt && keys.contains(QLatin1String(simKey)))
            return fail(a.line, section
                                    + QStringLiteral("has %1, which only a backend = sim adapter takes")
                                          .arg(QLatin1String(simKey)));
    }
    return true;
}

bool Parser::checkAdapters()
{
    if (adapters_.size() > kMaxAdapters)
        return fail(adapters_.at(kMaxAdapters).line, QStringLiteral("more than %1 adapters").arg(kMaxAdapters));
    const AdapterConfig *drift = nullptr;
    for (qsizetype i = 0; i < adapters_.size(); ++i) {
        AdapterConfig &a = adapters_[i];
        if (!checkAdapter(a, adapterKeys_.at(i)))
            return false;
        if (a.traceName.isEmpty())
            a.traceName = QStringLiteral("can%1").arg(a.index);
        if (!a.hasClockDrift)
            continue;
        // The interface has one clock, whatever the number of adapters.
        if (drift != nullptr && drift->clockDriftPpm != a.clockDriftPpm)
            return fail(a.line,
                        QStringLiteral(
                            "clock_drift_ppm differs from the one of [adapter.%1]; the interface has one clock")
                            .arg(drift->name));
        drift = &a;
    }
    return true;
}

bool Parser::checkModules()
{
    QHash<QPair<int, int>, QString> idOwner; // (adapter, module id) -> section name
    for (qsizetype i = 0; i < modules_.size(); ++i) {
        const ModuleEntry &m = modules_.at(i);
        const QString section = QStringLiteral("[module.%1] ").arg(m.name);
        if (m.adapterIndex < 0)
            return fail(m.line, section + QStringLiteral("has no adapter"));
        if (!indexOwner_.contains(m.adapterIndex))
            return fail(moduleAdapterLines_.at(i), QStringLiteral("no adapter has index %1").arg(m.adapterIndex));
        std::string problem;
        if (!modsim::validateModule(m.config, &problem))
            return fail(m.line, section + QString::fromStdString(problem));
        // Two modules answering on one identifier garble each other's frames.
        const QPair<int, int> place(m.adapterIndex, m.config.id());
        if (idOwner.contains(place))
            return fail(m.line, section
                                    + QStringLiteral("has the address of [module.%1] on adapter %2")
                                          .arg(idOwner.value(place))
                                          .arg(m.adapterIndex));
        idOwner.insert(place, m.name);
    }
    return true;
}

} // namespace

bool parseBenchConfig(const QString &text, const QString &fileName, const QString &baseDir, BenchConfig *config,
                      QString *error)
{
    Parser parser(fileName, baseDir);
    return parser.parse(text, config, error);
}

} // namespace canapi
