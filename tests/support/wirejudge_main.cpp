// tarvWireJudge: judges one tarvCanFlash run by its candump record.
//
//   tarvWireJudge --trace FILE --firmware FILE --out FILE --err FILE
//                 [--line N] [--interface NAME] [--file-name NAME] [--can-ids LIST]
//                 [--exit-code N]
//
// With --exit-code, tarvCanFlash's exit code, the console's outcome is judged
// too: the banner, the firmware file line (--file-name, default the --firmware
// argument as given), the post-flash, completed and Finish: lines, and whether
// the exit code and the last "Error:" line fit the modules updated.
//
// Exit code 0 and "ok" when the run kept every rule; 1 and the first broken
// rule on standard error; 2 on bad arguments or unreadable files.
#include "wirejudge.h"

#include <QFile>
#include <QMap>
#include <QStringList>

#include <cstdio>

namespace {

constexpr int ExitBadArguments = 2;

int usage(const QString &problem)
{
    std::fprintf(stderr,
                 "tarvWireJudge: %s\n"
                 "usage: tarvWireJudge --trace FILE --firmware FILE --out FILE --err FILE"
                 " [--line N] [--interface NAME] [--file-name NAME] [--can-ids LIST] [--exit-code N]\n",
                 qPrintable(problem));
    return ExitBadArguments;
}

bool readFile(const QString &path, QByteArray *contents)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return false;
    *contents = file.readAll();
    return file.error() == QFileDevice::NoError;
}

} // namespace

int main(int argc, char **argv)
{
    static const QStringList options{"--trace",     "--firmware",  "--out",     "--err",      "--line",
                                     "--interface", "--file-name", "--can-ids", "--exit-code"};
    QMap<QString, QString> given;
    for (int i = 1; i < argc; i += 2) {
        const QString option = QString::fromLocal8Bit(argv[i]);
        if (!options.contains(option) || i + 1 >= argc || given.contains(option))
            return usage(QStringLiteral("bad or repeated option \"%1\"").arg(option));
        given.insert(option, QString::fromLocal8Bit(argv[i + 1]));
    }
    testkit::WireRun run;
    const QList<std::pair<QString, QByteArray *>> files{
        {"--trace", &run.trace}, {"--firmware", &run.firmware}, {"--out", &run.out}, {"--err", &run.err}};
    for (const auto &[option, contents] : files) {
        if (!given.contains(option))
            return usage(QStringLiteral("%1 is missing").arg(option));
        if (!readFile(given[option], contents))
            return usage(QStringLiteral("cannot read %1").arg(given[option]));
    }
    bool lineOk = true;
    run.canLine = given.value(QStringLiteral("--line"), QStringLiteral("0")).toInt(&lineOk);
    if (!lineOk || run.canLine < 0 || run.canLine > 15)
        return usage(QStringLiteral("--line takes 0 to 15"));
    run.interfaceName = given.value(QStringLiteral("--interface"));
    // The firmware argument as the run was given it, which its console names.
    run.fileName = given.value(QStringLiteral("--file-name"), given["--firmware"]);
    run.canIds = given.value(QStringLiteral("--can-ids"));
    bool exitCodeOk = true;
    run.exitCode = given.value(QStringLiteral("--exit-code"), QStringLiteral("-1")).toInt(&exitCodeOk);
    if (!exitCodeOk || run.exitCode < -1 || run.exitCode > 255)
        return usage(QStringLiteral("--exit-code takes 0 to 255"));

    const testkit::WireVerdict verdict = testkit::judgeWire(run);
    if (!verdict.ok()) {
        std::fprintf(stderr, "%s\n", qPrintable(verdict.describe()));
        return 1;
    }
    std::printf("ok\n");
    if (verdict.answeredTimeouts > 0)
        std::printf("%d timeouts reported although the answer was on the bus in time\n",
                    verdict.answeredTimeouts);
    return 0;
}
