// The console program meets bad input: files that are no firmware, odd line
// ends and file names, files that change under a run, empty and out-of-range
// arguments. Every case ends by itself with a message and its exit code:
// 1 when the input is refused before any CAN activity, 2 when a run failed,
// 0 only when the module holds the file.
#include "badinputbench.h"
#include "firmwaretext.h"

#include <QDir>
#include <QFile>
#include <QTest>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace badinput;

namespace {

const QString FirmwareName = QStringLiteral("K3B7_421.hex");

QStringList autoArgs(const QString &file, const QString &line = QStringLiteral("0"))
{
    return {QStringLiteral("PCAN_USB"), QStringLiteral("1000"), line, file, QStringLiteral("CLOSE_AUTO")};
}

bool hasErrorLine(const FlashRun &run)
{
    return run.count("Error:") > 0;
}

// Refused before the driver was even asked for the bus: no frame, no flash.
QString refusalProblem(const FlashRun &run, const BadInputBench &bench)
{
    if (!run.ended || run.crashed || run.exitCode != 1)
        return QStringLiteral("not refused with exit code 1: ") + run.describe();
    if (run.count("Flash ") || run.count("Compare ") || run.count("Finish:"))
        return QStringLiteral("a run took place: ") + run.describe();
    if (bench.tracedFrames() != 0)
        return QStringLiteral("%1 frames went on the bus").arg(bench.tracedFrames());
    if (bench.moduleImageBytes() != 0)
        return QStringLiteral("the module's flash was written");
    return {};
}

// Sound outcomes of a run whose file changed under it: a failure named as
// such, or a module that holds the whole file as it was, compared throughout.
QString changedFileProblem(const FlashRun &run, const BadInputBench &bench, const QString &original,
                           int originalLines)
{
    if (!run.ended || run.crashed)
        return QStringLiteral("did not end by itself: ") + run.describe();
    if (run.exitCode == 2)
        return hasErrorLine(run) ? QString() : QStringLiteral("exit code 2 without an Error: line");
    if (run.exitCode != 0)
        return QStringLiteral("unexpected exit code: ") + run.describe();
    QString why;
    if (!bench.moduleHolds(original, &why))
        return QStringLiteral("reported success, but the module does not hold the file: ") + why
               + u'\n' + run.describe();
    if (run.count("Compare ") < originalLines || !run.lastCompareLine().contains(" 100.0% "))
        return QStringLiteral("reported success after comparing %1 of %2 lines\n")
                   .arg(run.count("Compare "))
                   .arg(originalLines)
               + run.describe();
    return {};
}

QString successProblem(const FlashRun &run, const BadInputBench &bench, const QString &firmware)
{
    if (!run.ended || run.crashed || run.exitCode != 0)
        return QStringLiteral("the run did not succeed: ") + run.describe();
    if (run.count("Finish: Update Process needed ") != 1 || hasErrorLine(run))
        return QStringLiteral("no clean final line: ") + run.describe();
    QString why;
    if (!bench.moduleHolds(firmware, &why))
        return QStringLiteral("the module does not hold the file: ") + why;
    return {};
}

} // namespace

class BadInputTest : public QObject
{
    Q_OBJECT

private slots:
    void refusedFiles_data();
    void refusedFiles();
    void refusedPaths_data();
    void refusedPaths();
    void nameNotInTheLocaleEncodingIsRefused();
    void specialFilesAreRefused_data();
    void specialFilesAreRefused();
    void emptyArguments_data();
    void emptyArguments();
    void emptyOptionalArguments_data();
    void emptyOptionalArguments();
    void numbersBeyondTheirRange_data();
    void numbersBeyondTheirRange();
    void mixedLineEndsAreFlashed();
    void nameWithBlanksAndNonAsciiIsFlashed();
    void fileDisappearsDuringRun();
    void fileShrinksDuringRun_data();
    void fileShrinksDuringRun();
};

void BadInputTest::refusedFiles_data()
{
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<int>("badLine"); // 0: the file as a whole

    const QList<QByteArray> records = firmwareRecords(3);
    QByteArray binary;
    for (int i = 0; i < 4096; ++i)
        binary.append(static_cast<char>((i * 37) & 0xFF));
    QTest::newRow("binary") << QByteArray("\x7F" "ELF\x02\x01\x01") + binary << 1;

    QList<QByteArray> withNul = records;
    withNul[2].insert(10, '\0');
    QTest::newRow("NUL inside a record") << joined(withNul, "\r\n") << 3;

    const QByteArray tenMegabytes(10 * 1024 * 1024, 'A');
    QTest::newRow("one 10 MB line") << "S0" + tenMegabytes + "\r\n" << 1;
    QTest::newRow("10 MB line without line end after records")
        << joined(records.mid(0, 2), "\r\n") + "S2" + tenMegabytes << 3;

    QTest::newRow("CR-only line ends") << joined(records, "\r") << 1;
    QTest::newRow("lone CR inside a line")
        << records[0] + "\r\n" + records[1] + '\r' + records[2] + "\r\n" + records[3] + "\n" << 2;
    QTest::newRow("UTF-8 byte order mark") << "\xEF\xBB\xBF" + joined(records, "\r\n") << 1;

    QByteArray utf16;
    for (char c : joined(records, "\r\n"))
        utf16 += QByteArray(1, c) + '\0';
    QTest::newRow("UTF-16 text") << "\xFF\xFE" + utf16 << 1;

    QTest::newRow("empty file") << QByteArray() << 0;
    QTest::newRow("blank lines only") << QByteArray(" \r\n\t\n\n   ") << 0;
}

void BadInputTest::refusedFiles()
{
    QFETCH(QByteArray, content);
    QFETCH(int, badLine);
    BadInputBench bench;
    QVERIFY(bench.valid());
    const QString file = bench.path(FirmwareName);
    QVERIFY(bench.writeFile(FirmwareName, content));

    const FlashRun run = bench.run(autoArgs(file));
    const QString problem = refusalProblem(run, bench);
    QVERIFY2(problem.isEmpty(), qPrintable(problem));
    QCOMPARE(run.outLines().value(1), "Programflash from hex file: " + file.toUtf8());

    // One clear line that names the file and, where there is one, the line.
    const QByteArray opening = "Error: Firmware file '" + file.toUtf8() + "'";
    QList<QByteArray> messages;
    for (const QByteArray &line : run.errLines()) {
        if (line.startsWith("Error:"))
            messages.append(line);
    }
    QCOMPARE(messages.size(), 1);
    QVERIFY2(messages[0].startsWith(opening), messages[0].constData());
    if (badLine > 0)
        QVERIFY2(messages[0].contains(" line " + QByteArray::number(badLine) + ' '), messages[0].constData());
    QVERIFY(messages[0].size() < 300);
}

void BadInputTest::refusedPaths_data()
{
    QTest::addColumn<QString>("name"); // relative to the bench folder
    QTest::newRow("directory") << QStringLiteral("K3B7_dir.hex");
    QTest::newRow("missing file") << QStringLiteral("K3B7_missing.hex");
    QTest::newRow("folder that does not exist") << QStringLiteral("nowhere/K3B7_421.hex");
}

void BadInputTest::refusedPaths()
{
    QFETCH(QString, name);
    BadInputBench bench;
    QVERIFY(QDir().mkpath(bench.path(QStringLiteral("K3B7_dir.hex"))));
    const QString file = bench.path(name);
    const FlashRun run = bench.run(autoArgs(file));
    const QString problem = refusalProblem(run, bench);
    QVERIFY2(problem.isEmpty(), qPrintable(problem));
    QVERIFY2(run.errLines().contains("Can not open file '" + file.toUtf8() + "'"), qPrintable(run.describe()));
}

// Not a file that can be read to its end: opening a named pipe waits for a
// writer that never comes, so only a refusal before the open ends the run.
void BadInputTest::specialFilesAreRefused_data()
{
    QTest::addColumn<QString>("path"); // empty: a named pipe in the bench folder
    QTest::newRow("named pipe") << QString();
    QTest::newRow("character device") << QStringLiteral("/dev/zero");
}

void BadInputTest::specialFilesAreRefused()
{
    QFETCH(QString, path);
    BadInputBench bench;
    if (path.isEmpty()) {
        path = bench.path(QStringLiteral("K3B7_pipe.hex"));
        QVERIFY(::mkfifo(QFile::encodeName(path).constData(), 0600) == 0);
    }
    const FlashRun run = bench.run(autoArgs(path), 60s);
    const QString problem = refusalProblem(run, bench);
    QVERIFY2(problem.isEmpty(), qPrintable(problem));
    QVERIFY2(hasErrorLine(run) || run.count("Can not open file '"), qPrintable(run.describe()));
}

// A file name that is not valid UTF-8 may not reach the program intact. Then
// it must be refused cleanly rather than open some other file; if it does
// arrive, the module must hold that file.
void BadInputTest::nameNotInTheLocaleEncodingIsRefused()
{
    BadInputBench bench;
    const QByteArray latin1Name = QFile::encodeName(bench.path(QString())) + "/K3B7_\xE4.hex";
    const QByteArray content = joined(firmwareRecords(3), "\r\n");
    QVERIFY(bench.writeFile(QStringLiteral("same-content.hex"), content));
    const int fd = ::open(latin1Name.constData(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    QVERIFY(fd >= 0);
    QCOMPARE(::write(fd, content.constData(), size_t(content.size())), ssize_t(content.size()));
    ::close(fd);

    const FlashRun run = bench.runShell(
        QStringLiteral("exec \"$0\" PCAN_USB 1000 0 \"$(printf '%s/K3B7_\\344.hex' \"$1\")\" CLOSE_AUTO"),
        {bench.path(QString())});
    QVERIFY2(run.outLines().value(1).startsWith("Programflash from hex file: "), qPrintable(run.describe()));
    if (run.exitCode == 0) {
        const QString problem = successProblem(run, bench, bench.path(QStringLiteral("same-content.hex")));
        QVERIFY2(problem.isEmpty(), qPrintable(problem));
        return;
    }
    const QString problem = refusalProblem(run, bench);
    QVERIFY2(problem.isEmpty(), qPrintable(problem));
    bool named = false;
    for (const QByteArray &line : run.errLines())
        named = named || line.startsWith("Can not open file '") || line.startsWith("Error:");
    QVERIFY2(named, qPrintable(run.describe()));
}

void BadInputTest::emptyArguments_data()
{
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<QByteArray>("message");
    QTest::newRow("all four empty") << QStringList{"", "", "", ""}
                                    << QByteArray("Error: Parameter 1:  not valid! Please use PCAN_PCI or PCAN_USB");
    QTest::newRow("interface") << QStringList{"", "125", "0", FirmwareName}
                               << QByteArray("Error: Parameter 1:  not valid! Please use PCAN_PCI or PCAN_USB");
    QTest::newRow("bit rate") << QStringList{"PCAN_USB", "", "0", FirmwareName}
                              << QByteArray("Error: Parameter 2:  not valid! Please use 125 or 250");
    QTest::newRow("file name") << QStringList{"PCAN_USB", "125", "0", "", "CLOSE_AUTO"}
                               << QByteArray("Can not open file ''");
}

void BadInputTest::emptyArguments()
{
    QFETCH(QStringList, args);
    QFETCH(QByteArray, message);
    BadInputBench bench;
    QVERIFY(bench.writeFile(FirmwareName, joined(firmwareRecords(3), "\r\n")));
    const FlashRun run = bench.run(args);
    const QString problem = refusalProblem(run, bench);
    QVERIFY2(problem.isEmpty(), qPrintable(problem));
    QVERIFY2(run.errLines().contains(message), qPrintable(run.describe()));
}

// An empty fifth argument is an empty CanIds list, an empty sixth one too:
// no module is left out, and without CLOSE_AUTO the closed input ends the run.
void BadInputTest::emptyOptionalArguments_data()
{
    QTest::addColumn<QStringList>("tail");
    QTest::newRow("empty fifth") << QStringList{""};
    QTest::newRow("empty sixth") << QStringList{"CLOSE_AUTO", ""};
}

void BadInputTest::emptyOptionalArguments()
{
    QFETCH(QStringList, tail);
    BadInputBench bench;
    const QString file = bench.path(FirmwareName);
    QVERIFY(bench.writeFile(FirmwareName, joined(firmwareRecords(3), "\r\n")));
    const FlashRun run = bench.run(QStringList{"PCAN_USB", "1000", "0", file} + tail);
    const QString problem = successProblem(run, bench, file);
    QVERIFY2(problem.isEmpty(), qPrintable(problem));
}

// A number the C library cannot hold must not wrap into an accepted value:
// a line beyond 0..15 must never become a line whose modules get flashed.
void BadInputTest::numbersBeyondTheirRange_data()
{
    QTest::addColumn<QString>("bitRate");
    QTest::addColumn<QString>("line");
    QTest::newRow("line 16") << "1000" << "16";
    QTest::newRow("line 65536") << "1000" << "65536";
    QTest::newRow("line -65536") << "1000" << "-65536";
    QTest::newRow("line 4294967296") << "1000" << "4294967296";
    QTest::newRow("bit rate 4294967421") << "4294967421" << "0";
}

void BadInputTest::numbersBeyondTheirRange()
{
    QFETCH(QString, bitRate);
    QFETCH(QString, line);
    BadInputBench bench;
    const QString file = bench.path(FirmwareName);
    QVERIFY(bench.writeFile(FirmwareName, joined(firmwareRecords(3), "\r\n")));
    const FlashRun run = bench.run({"PCAN_USB", bitRate, line, file, "CLOSE_AUTO"});
    QVERIFY2(run.ended && !run.crashed, qPrintable(run.describe()));
    QVERIFY2(run.exitCode == 1 && hasErrorLine(run), qPrintable(run.describe()));
    QVERIFY2(run.count("Flash ") == 0, qPrintable(run.describe()));
    QCOMPARE(bench.moduleImageBytes(), 0);
}

// CR LF, LF, blank lines, blanks and tabs around records and a last line
// without line end: the module gets every record as the file holds it.
void BadInputTest::mixedLineEndsAreFlashed()
{
    BadInputBench bench;
    const QList<QByteArray> records = firmwareRecords(12);
    QByteArray content;
    for (int i = 0; i < records.size(); ++i) {
        const QByteArray ends[] = {"\r\n", "\n", "\r\n\r\n", "  \t\n", "\n\n"};
        const QByteArray lead = i % 3 == 1 ? " \t " : "";
        content += lead + records[i] + (i + 1 < records.size() ? ends[i % 5] : QByteArray());
    }
    const QString file = bench.path(FirmwareName);
    QVERIFY(bench.writeFile(FirmwareName, content));
    const FlashRun run = bench.run(autoArgs(file));
    const QString problem = successProblem(run, bench, file);
    QVERIFY2(problem.isEmpty(), qPrintable(problem));
    QVERIFY2(run.lastCompareLine().contains(" 100.0% " + records.last()), qPrintable(run.describe()));
}

void BadInputTest::nameWithBlanksAndNonAsciiIsFlashed()
{
    BadInputBench bench;
    const QString folder = QStringLiteral("fw dir with blanks/Übergröße ñ ✓");
    QVERIFY(QDir().mkpath(bench.path(folder)));
    const QString name = folder + QStringLiteral("/K3B7 Fïrmwäre  4.21 ✓.hex");
    const QString file = bench.path(name);
    QVERIFY(bench.writeFile(name, joined(firmwareRecords(6), "\r\n")));
    const FlashRun run = bench.run(autoArgs(file));
    const QString problem = successProblem(run, bench, file);
    QVERIFY2(problem.isEmpty(), qPrintable(problem));
    QCOMPARE(run.outLines().value(1), "Programflash from hex file: " + file.toUtf8());
}

// The file is removed while the module is being flashed.
void BadInputTest::fileDisappearsDuringRun()
{
    BadInputBench bench;
    const QList<QByteArray> records = firmwareRecords(400);
    const QString file = bench.path(FirmwareName);
    const QString original = bench.path(QStringLiteral("original.hex"));
    QVERIFY(bench.writeFile(FirmwareName, joined(records, "\r\n")));
    QVERIFY(QFile::copy(file, original));

    QProcess process;
    bench.start(process, autoArgs(file));
    QByteArray out;
    QVERIFY2(BadInputBench::waitForOutput(process, out, "\nFlash "), out.constData());
    QVERIFY(QFile::remove(file));
    const FlashRun run = BadInputBench::finish(process, out);
    const QString problem = changedFileProblem(run, bench, original, int(records.size()));
    QVERIFY2(problem.isEmpty(), qPrintable(problem));
}

void BadInputTest::fileShrinksDuringRun_data()
{
    QTest::addColumn<int>("dataRecords");
    QTest::addColumn<QByteArray>("when"); // the progress word after which it shrinks
    QTest::addColumn<int>("keptRecords");
    // A small file may be read whole at the first line, a large one is not.
    QTest::newRow("small, to 10 lines while flashing") << 60 << QByteArray("\nFlash ") << 10;
    QTest::newRow("small, to nothing while flashing") << 60 << QByteArray("\nFlash ") << 0;
    QTest::newRow("small, to 10 lines while comparing") << 60 << QByteArray("\nCompare ") << 10;
    QTest::newRow("large, to 100 lines while flashing") << 400 << QByteArray("\nFlash ") << 100;
    QTest::newRow("large, to nothing while flashing") << 400 << QByteArray("\nFlash ") << 0;
    QTest::newRow("large, to 100 lines while comparing") << 400 << QByteArray("\nCompare ") << 100;
}

// The file is cut short in place, at a line end, while the run reads it.
void BadInputTest::fileShrinksDuringRun()
{
    QFETCH(int, dataRecords);
    QFETCH(QByteArray, when);
    QFETCH(int, keptRecords);
    BadInputBench bench;
    const QList<QByteArray> records = firmwareRecords(dataRecords);
    const QString file = bench.path(FirmwareName);
    const QString original = bench.path(QStringLiteral("original.hex"));
    QVERIFY(bench.writeFile(FirmwareName, joined(records, "\r\n")));
    QVERIFY(QFile::copy(file, original));

    QProcess process;
    bench.start(process, autoArgs(file));
    QByteArray out;
    QVERIFY2(BadInputBench::waitForOutput(process, out, when), out.constData());
    const QByteArray kept = joined(records.mid(0, keptRecords), "\r\n");
    QVERIFY(::truncate(QFile::encodeName(file).constData(), kept.size()) == 0);
    const FlashRun run = BadInputBench::finish(process, out);
    const QString problem = changedFileProblem(run, bench, original, int(records.size()));
    QVERIFY2(problem.isEmpty(), qPrintable(problem));
}

QTEST_GUILESS_MAIN(BadInputTest)
#include "flasher_badinput_test.moc"
