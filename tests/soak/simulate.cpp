// tarvSimulate --runs N --seed S: the soak's fault cases as whole runs in
// virtual time, plus log-on requests a module misses and stops at random
// points. Each run is judged by the wire judge and by the soak's rules for
// what each module may end as. A run that breaks a rule is printed with its
// own seed; --runs 1 --seed THAT replays it. The last line is
// "runs N, violations V, digest HEX", the digest over every run's frames
// and console text, so that two machines can compare whole sessions.
// --keep DIR writes the trace and console text of each run that breaks a
// rule into DIR (SEED.log, SEED.out, SEED.err), never over an existing file.
#include "judge.h"
#include "soakcase.h"
#include "virtualrun.h"

#include "moduleconfig.h"

#include <QCoreApplication>
#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QTemporaryDir>

#include <cstdio>
#include <optional>

namespace {

struct Options
{
    int runs = 20;
    uint64_t seed = 1;
    QString keep; // absolute; empty: nothing kept
};

std::optional<Options> parseOptions(const QStringList &args)
{
    Options options;
    for (qsizetype i = 1; i + 1 < args.size(); i += 2) {
        bool ok = false;
        if (args[i] == QLatin1String("--runs"))
            options.runs = args[i + 1].toInt(&ok);
        else if (args[i] == QLatin1String("--seed"))
            options.seed = args[i + 1].toULongLong(&ok, 0);
        else if (args[i] == QLatin1String("--keep")) {
            ok = QFileInfo(args[i + 1]).isDir();
            options.keep = QFileInfo(args[i + 1]).absoluteFilePath();
        }
        if (!ok)
            return std::nullopt;
    }
    if (args.size() % 2 == 0 || options.runs < 1)
        return std::nullopt;
    return options;
}

// The seed of one run, from the session's: a run replays alone from its own.
uint64_t runSeed(uint64_t sessionSeed, int index)
{
    return index == 0 ? sessionSeed : QRandomGenerator64(sessionSeed + uint64_t(index)).generate();
}

bool writeFirmware(const QString &path, const QStringList &lines)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return false;
    for (const QString &line : lines)
        file.write(line.toLatin1() + "\r\n");
    return true;
}

// The soak's case, and what the soak itself does not draw: a module that
// misses the first log-on requests, and a stop at a random moment, after
// which either end is allowed for every module.
struct Drawn
{
    soak::SoakCase soakCase;
    int64_t stopAtUs = -1;
};

Drawn draw(uint64_t seed)
{
    Drawn drawn{soak::makeCase(seed, 0), -1};
    QRandomGenerator random(static_cast<quint32>(seed ^ (seed >> 32)));
    if (random.bounded(4) == 0)
        drawn.soakCase.modules[random.bounded(2)].keys.append(
            {QStringLiteral("missed_logon_requests"), QString::number(1 + random.bounded(2))});
    // The soak's rules for a lost bus assume the run was not stopped first.
    if (drawn.soakCase.kind != soak::FaultKind::BusOff && random.bounded(5) == 0) {
        drawn.stopAtUs = 500000 + random.bounded(20000000);
        for (soak::ModulePlan &module : drawn.soakCase.modules)
            module.expect = soak::Expect::Either;
    }
    return drawn;
}

testkit::RunResult asRunResult(const testkit::VirtualResult &v, const soak::SoakCase &c)
{
    testkit::RunResult r;
    r.started = true;
    r.ended = !v.overran;
    r.exitCode = v.exitCode;
    r.seconds = double(v.virtualUs) / 1e6;
    r.out = v.out;
    r.err = v.err;
    r.outLines = QString::fromUtf8(v.out).split(u'\n', Qt::SkipEmptyParts);
    r.errLines = QString::fromUtf8(v.err).split(u'\n', Qt::SkipEmptyParts);
    r.trace = v.trace;
    r.wire = v.wire;
    for (size_t i = 0; i < c.modules.size() && i < v.imagesEqual.size(); ++i)
        r.images.append({c.modules[i].address, v.imagesEqual[i], QString()});
    return r;
}

// NewOnly: a kept record never replaces a file, nor follows a link.
void keepRun(const QString &folder, uint64_t seed, const testkit::VirtualResult &result)
{
    const QString base = folder + QStringLiteral("/%1.").arg(seed);
    const std::pair<const char *, const QByteArray *> parts[] = {
        {"log", &result.trace}, {"out", &result.out}, {"err", &result.err}};
    for (const auto &[suffix, data] : parts) {
        QFile file(base + QLatin1String(suffix));
        if (!file.open(QIODevice::WriteOnly | QIODevice::NewOnly) || file.write(*data) != data->size())
            std::fprintf(stderr, "tarvSimulate: %s: %s\n", qPrintable(file.fileName()),
                         qPrintable(file.errorString()));
    }
}

// The run's violations; its frames and console text go into the digest.
QStringList simulate(uint64_t seed, QCryptographicHash &digest, const QString &keep)
{
    const Drawn drawn = draw(seed);
    const soak::SoakCase &c = drawn.soakCase;
    testkit::VirtualSpec spec;
    // Named as given, relative to the session's folder: the console shows
    // the name, and the digest must not depend on where the folder is.
    spec.firmwarePath = c.fileName;
    if (!writeFirmware(spec.firmwarePath, c.firmware))
        return {QStringLiteral("cannot write ") + spec.firmwarePath};
    QString error;
    spec.modules = testkit::benchModules(soak::benchIni(c), 0, &error);
    if (!error.isEmpty())
        return {error};
    spec.busOffAfterFrames = uint64_t(c.busOffAfterFrames);
    spec.stopAtUs = drawn.stopAtUs;
    const testkit::VirtualResult result = testkit::runVirtual(spec);
    digest.addData(result.trace);
    digest.addData(result.out);
    digest.addData(result.err);
    QStringList violations = soak::judge(c, asRunResult(result, c)).violations;
    if (!violations.isEmpty() && !keep.isEmpty())
        keepRun(keep, seed, result);
    for (QString &violation : violations)
        violation.prepend(soak::faultKindName(c.kind) + (drawn.stopAtUs >= 0 ? " (stopped): " : ": "));
    return violations;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    const std::optional<Options> options = parseOptions(app.arguments());
    if (!options) {
        std::fprintf(stderr, "usage: tarvSimulate [--runs N] [--seed S] [--keep FOLDER]\n");
        return 2;
    }
    QTemporaryDir folder;
    if (!folder.isValid() || !QDir::setCurrent(folder.path())) {
        std::fprintf(stderr, "tarvSimulate: no temporary folder to work in\n");
        return 2;
    }
    QCryptographicHash digest(QCryptographicHash::Sha256);
    int violations = 0;
    for (int i = 0; i < options->runs; ++i) {
        const uint64_t seed = runSeed(options->seed, i);
        const QStringList broken = simulate(seed, digest, options->keep);
        for (const QString &violation : broken)
            std::printf("run %d seed %llu: %s\n", i, static_cast<unsigned long long>(seed),
                        qPrintable(violation));
        violations += static_cast<int>(broken.size());
    }
    std::printf("runs %d, violations %d, digest %s\n", options->runs, violations,
                digest.result().toHex().left(16).constData());
    return violations == 0 ? 0 : 1;
}
