// tarvSoak: complete update runs of two simulated modules through the real
// tarvCanFlash, several at a time, while the modules and the bus inject
// faults. Every run is judged (time, exit code, error lines, images, the
// frames on the wire); the figures of all runs are printed at the end. Exit
// code 0: no run broke a rule.
//
//   tarvSoak [--runs N | --long] [--seed S] [--first I] [--parallel P] [--keep]
#include "judge.h"
#include "soakcase.h"
#include "tally.h"
#include "testbench.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QTemporaryDir>
#include <QTextStream>

#include <cstdio>
#include <memory>

namespace {

constexpr int ShortRuns = 20;
constexpr int LongRuns = 500;
// Past its bound a run still gets this long to end by itself, so that a slow
// run is told apart from one that hangs.
constexpr int GraceMs = 60000;

struct Options
{
    QString flasher;
    QString workFolder; // parent of the runs' folders
    uint64_t seed = 1;
    int first = 0;
    int runs = ShortRuns;
    int parallel = 6;
    bool keep = false;
};

bool parseOptions(const QCoreApplication &app, Options *options, QString *error)
{
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("Fault soak of tarvCanFlash against simulated modules."));
    parser.addHelpOption();
    parser.addOptions({
        {QStringLiteral("runs"), QStringLiteral("Number of runs (default 20)."), QStringLiteral("N")},
        {QStringLiteral("long"), QStringLiteral("The long soak: 500 runs.")},
        {QStringLiteral("seed"), QStringLiteral("Seed of every random choice (default 1)."), QStringLiteral("S")},
        {QStringLiteral("first"), QStringLiteral("Index of the first run, to repeat one (default 0)."),
         QStringLiteral("I")},
        {QStringLiteral("parallel"), QStringLiteral("Runs at the same time (default 6)."), QStringLiteral("P")},
        {QStringLiteral("keep"), QStringLiteral("Keep every run's folder, not only those of failed runs.")},
        {QStringLiteral("flasher"), QStringLiteral("tarvCanFlash to run."), QStringLiteral("PATH"),
         testkit::flasherPath()},
    });
    parser.process(app);
    bool ok = true;
    const auto number = [&](const QString &name, qulonglong fallback, qulonglong low) {
        if (!parser.isSet(name))
            return fallback;
        bool good = false;
        const qulonglong value = parser.value(name).toULongLong(&good);
        ok = ok && good && value >= low && value <= 1000000000;
        return value;
    };
    options->runs = static_cast<int>(
        number(QStringLiteral("runs"), parser.isSet(QStringLiteral("long")) ? LongRuns : ShortRuns, 1));
    options->seed = number(QStringLiteral("seed"), 1, 0);
    options->first = static_cast<int>(number(QStringLiteral("first"), 0, 0));
    options->parallel = static_cast<int>(number(QStringLiteral("parallel"), 6, 1));
    options->keep = parser.isSet(QStringLiteral("keep"));
    options->flasher = parser.value(QStringLiteral("flasher"));
    if (!ok)
        *error = QStringLiteral(
            "--runs, --seed, --first and --parallel take whole numbers (runs and parallel from 1)");
    return ok;
}

// Keeps `parallel` runs going until every case has run.
class Scheduler : public QObject
{
public:
    Scheduler(const Options &options, QTextStream &out)
        : options_(options)
        , out_(out)
    {}

    void start()
    {
        clock_.start();
        for (int i = 0; i < options_.parallel && next_ < options_.runs; ++i)
            launch();
    }

    const soak::Tally &tally() const { return tally_; }
    double seconds() const { return static_cast<double>(clock_.elapsed()) / 1000.0; }

private:
    void launch()
    {
        const soak::SoakCase c = soak::makeCase(options_.seed, options_.first + next_++);
        auto bench =
            std::make_shared<testkit::Bench>(options_.workFolder + QStringLiteral("/run%1-XXXXXX").arg(c.index));
        QList<QByteArray> firmware;
        for (const QString &line : c.firmware)
            firmware.append(line.toLatin1());
        bench->writeFirmware(firmware, c.fileName);
        bench->ini() = soak::benchIni(c);
        bench->writeConfig();
        testkit::RunSpec spec = bench->spec({"PCAN_USB", "1000", "0", c.fileName, "CLOSE_AUTO"});
        spec.program = options_.flasher;
        spec.deadlineMs = static_cast<int>(c.boundSeconds * 1000) + GraceMs;
        auto *run = new testkit::FlasherRun(spec, this);
        connect(run, &testkit::FlasherRun::finished, this, [this, run, bench, c] { onFinished(c, *bench, run); });
        ++active_;
        run->start();
    }

    void onFinished(const soak::SoakCase &c, testkit::Bench &bench, testkit::FlasherRun *run)
    {
        const soak::Verdict verdict = soak::judge(c, run->result());
        tally_.add(c, run->result(), verdict);
        out_ << soak::runLine(c, run->result(), verdict) << Qt::endl;
        if (!verdict.violations.isEmpty())
            out_ << run->result().describe() << Qt::endl;
        if (!verdict.violations.isEmpty() || options_.keep)
            out_ << "  folder kept: " << bench.keepFolder() << Qt::endl;
        run->deleteLater();
        --active_;
        if (next_ < options_.runs)
            launch();
        else if (active_ == 0)
            QCoreApplication::quit();
    }

    const Options &options_;
    QTextStream &out_;
    soak::Tally tally_;
    QElapsedTimer clock_;
    int next_ = 0;
    int active_ = 0;
};

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QTextStream out(stdout);
    Options options;
    QString error;
    if (!parseOptions(app, &options, &error)) {
        QTextStream(stderr) << "tarvSoak: " << error << Qt::endl;
        return 2;
    }
    QTemporaryDir work(QDir::tempPath() + QStringLiteral("/tarvsoak-XXXXXX"));
    work.setAutoRemove(false); // the folders of failed runs stay for a look
    options.workFolder = work.path();
    out << "Soak: seed " << options.seed << ", runs " << options.first << " to "
        << options.first + options.runs - 1 << ", " << options.parallel << " at a time" << Qt::endl;
    Scheduler scheduler(options, out);
    QMetaObject::invokeMethod(
        &scheduler, [&scheduler] { scheduler.start(); }, Qt::QueuedConnection);
    app.exec();
    // The last run goes with its folder before the work folder is removed.
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    for (const QString &line : scheduler.tally().report())
        out << line << Qt::endl;
    out << QStringLiteral("Wall time: %1 s").arg(scheduler.seconds(), 0, 'f', 0) << Qt::endl;
    QDir().rmdir(work.path()); // only when empty: no run was kept
    return scheduler.tally().failedRuns() == 0 ? 0 : 1;
}
