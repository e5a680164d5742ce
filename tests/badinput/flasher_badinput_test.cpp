// The console program meets bad input: files that are no firmware, odd line
// ends and file names, files that change under a run, empty arguments. Every
// case ends by itself with a message and its exit code: 1 when the input is
// refused before any CAN activity, 2 when a run failed, 0 only when the
// module holds the file as it was checked. The bench is one module (address 1, K3B7) on line 0.
#include "testbench.h"

#include <QDir>
#include <QFile>
#include <QTest>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <memory>

using testkit::RunResult;

namespace {

const QString FirmwareName = QStringLiteral("K3B7_421.hex");

QList<QByteArray> records(int dataRecords)
{
    return testkit::firmwareRecords({.title = "K3B7 bad input", .dataBytes = 16 * dataRecords});
}

// Refused before the driver was even asked for the bus: no frame, no flash.
QString refusalProblem(const RunResult &run)
{
    if (!run.ended || run.crashed || run.exitCode != 1)
        return QStringLiteral("not refused with exit code 1");
    if (run.count("Flash ") || run.count("Compare ") || run.count("Finish:"))
        return QStringLiteral("a run took place");
    if (!run.trace.isEmpty())
        return QStringLiteral("frames went on the bus");
    return run.wireOk() ? QString() : QStringLiteral("the wire judge objects");
}

QString successProblem(const RunResult &run)
{
    if (!run.ended || run.crashed || run.exitCode != 0 || !run.wireOk())
        return QStringLiteral("the run did not succeed");
    if (run.count("Finish: Update Process needed ") != 1 || run.count("Error:") > 0)
        return QStringLiteral("no clean final line");
    return run.imageEqual(1) ? QString() : QStringLiteral("the module does not hold the file");
}

// A file that changed under a run: the module holds the file as it was
// checked, compared line by line (the kit verifies the image and judges the
// wire against the content at the start).
QString checkedContentProblem(const RunResult &run, int originalLines)
{
    if (const QString problem = successProblem(run); !problem.isEmpty())
        return problem;
    return run.count("Compare ") == originalLines
               ? QString()
               : QStringLiteral("compared %1 of %2 lines").arg(run.count("Compare ")).arg(originalLines);
}

} // namespace

#define VERIFY_NO_PROBLEM(problem, run)                                                                          \
    do {                                                                                                         \
        const QString why = (problem);                                                                           \
        QVERIFY2(why.isEmpty(), qPrintable(why + u'\n' + (run).describe()));                                     \
    } while (false)

class BadInputTest : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup() { bench_.reset(); }
    void refusedFiles_data();
    void refusedFiles();
    void refusedPaths_data();
    void refusedPaths();
    void nameNotInTheLocaleEncodingIsRefused();
    void imagePlaceThatIsNoFileRefusesTheRun_data();
    void imagePlaceThatIsNoFileRefusesTheRun();
    void lineBeyondTheBenchNamesItsLastAdapter_data();
    void lineBeyondTheBenchNamesItsLastAdapter();
    void specialFilesAreRefused_data();
    void specialFilesAreRefused();
    void emptyArguments_data();
    void emptyArguments();
    void emptyOptionalArguments_data();
    void emptyOptionalArguments();
    void mixedLineEndsAreFlashed();
    void nameWithBlanksAndNonAsciiIsFlashed();
    void fileDisappearsDuringRun();
    void fileChangesDuringRun_data();
    void fileChangesDuringRun();

private:
    QStringList autoArgs(const QString &file) const
    {
        return {QStringLiteral("PCAN_USB"), QStringLiteral("1000"), QStringLiteral("0"), file,
                QStringLiteral("CLOSE_AUTO")};
    }

    std::unique_ptr<testkit::Bench> bench_;
};

void BadInputTest::init()
{
    bench_ = std::make_unique<testkit::Bench>();
    bench_->addAdapter(0);
    bench_->addModule(1);
    QVERIFY(bench_->valid() && bench_->writeConfig());
}

void BadInputTest::refusedFiles_data()
{
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<int>("badLine"); // 0: the file as a whole

    const QList<QByteArray> firmware = records(3);
    QByteArray binary;
    for (int i = 0; i < 4096; ++i)
        binary.append(static_cast<char>((i * 37) & 0xFF));
    QTest::newRow("binary") << QByteArray("\x7F"
                                          "ELF\x02\x01\x01")
                                   + binary
                            << 1;

    QList<QByteArray> withNul = firmware;
    withNul[2].insert(10, '\0');
    QTest::newRow("NUL inside a record") << testkit::joined(withNul) << 3;
    QList<QByteArray> wrongSum = firmware;
    wrongSum[1].back() = wrongSum[1].back() == '0' ? '1' : '0';
    QTest::newRow("wrong checksum") << testkit::joined(wrongSum) << 2;

    const QByteArray tenMegabytes(10 * 1024 * 1024, 'A');
    QTest::newRow("one 10 MB line") << "S0" + tenMegabytes + "\r\n" << 1;
    QTest::newRow("10 MB line without line end after records")
        << testkit::joined(firmware.mid(0, 2)) + "S2" + tenMegabytes << 3;

    QTest::newRow("CR-only line ends") << testkit::joined(firmware, "\r") << 1;
    QTest::newRow("lone CR inside a line")
        << firmware[0] + "\r\n" + firmware[1] + '\r' + firmware[2] + "\r\n" + firmware[3] + "\n"
        << 2;
    QTest::newRow("UTF-8 byte order mark") << "\xEF\xBB\xBF" + testkit::joined(firmware) << 1;

    QByteArray utf16;
    for (char c : testkit::joined(firmware))
        utf16 += QByteArray(1, c) + '\0';
    QTest::newRow("UTF-16 text") << "\xFF\xFE" + utf16 << 1;

    // Ten data records dropped from the middle, the count and end records kept.
    QList<QByteArray> cut = records(20);
    cut.insert(cut.size() - 1, testkit::sRecord(5, 20, {}));
    cut.remove(5, 10);
    QTest::newRow("records missing before the count record") << testkit::joined(cut) << 12;

    QTest::newRow("empty file") << QByteArray() << 0;
    QTest::newRow("header only") << firmware.first() + "\r\n" << 0;
    QTest::newRow("header and end record") << firmware.first() + "\r\n" + firmware.last() << 0;
    QTest::newRow("blank lines only") << QByteArray(" \r\n\t\n\n   ") << 0;
}

void BadInputTest::refusedFiles()
{
    QFETCH(QByteArray, content);
    QFETCH(int, badLine);
    const QString file = bench_->path(FirmwareName);
    QVERIFY(bench_->writeFile(FirmwareName, content));

    const RunResult run = bench_->run(autoArgs(file));
    VERIFY_NO_PROBLEM(refusalProblem(run), run);
    QCOMPARE(run.outLines.value(1), "Programflash from hex file: " + file);

    // One clear line that names the file and, where there is one, the line.
    QStringList messages;
    for (const QString &line : run.errLines) {
        if (line.startsWith("Error:"))
            messages.append(line);
    }
    QCOMPARE(messages.size(), 1);
    QVERIFY2(messages[0].startsWith("Error: Firmware file '" + file + "'"), qPrintable(messages[0]));
    if (badLine > 0)
        QVERIFY2(messages[0].contains(QStringLiteral(" line %1 ").arg(badLine)), qPrintable(messages[0]));
    QVERIFY(messages[0].size() < 300);
}

void BadInputTest::refusedPaths_data()
{
    QTest::addColumn<QString>("name"); // relative to the bench folder
    QTest::addColumn<QString>("reason");
    QTest::newRow("directory") << QStringLiteral("K3B7_dir.hex") << QStringLiteral("it is a folder");
    QTest::newRow("missing file") << QStringLiteral("K3B7_missing.hex")
                                  << QStringLiteral("No such file or directory");
    QTest::newRow("folder that does not exist")
        << QStringLiteral("nowhere/K3B7_421.hex") << QStringLiteral("No such file or directory");
}

// The words scripts look for, then the reason on the line the front end shows.
void BadInputTest::refusedPaths()
{
    QFETCH(QString, name);
    QFETCH(QString, reason);
    QVERIFY(QDir().mkpath(bench_->path(QStringLiteral("K3B7_dir.hex"))));
    const QString file = bench_->path(name);
    const RunResult run = bench_->run(autoArgs(file));
    VERIFY_NO_PROBLEM(refusalProblem(run), run);
    const QStringList said{"Can not open file '" + file + "'",
                           "Error: Firmware file '" + file + "' cannot be opened: " + reason};
    QVERIFY2(run.errLines.mid(run.errLines.indexOf(said[0]), 2) == said, qPrintable(run.describe()));
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
    if (path.isEmpty()) {
        path = bench_->path(QStringLiteral("K3B7_pipe.hex"));
        QVERIFY(::mkfifo(QFile::encodeName(path).constData(), 0600) == 0);
    }
    testkit::RunSpec spec = bench_->spec(autoArgs(path));
    spec.deadlineMs = 60000;
    const RunResult run = testkit::runFlasher(spec);
    VERIFY_NO_PROBLEM(refusalProblem(run), run);
    QVERIFY2(run.errLines.contains("Can not open file '" + path + "'"), qPrintable(run.describe()));
    QVERIFY2(
        run.errLines.contains("Error: Firmware file '" + path + "' cannot be opened: it is not a regular file"),
        qPrintable(run.describe()));
}

// The bench file's image of the module is a link, a named pipe, or the
// firmware file of the run under another name: the line's adapter refuses to
// open, naming the bench file's line, and the final line points at the
// adapter's section; what the place leads to is left alone.
void BadInputTest::imagePlaceThatIsNoFileRefusesTheRun_data()
{
    QTest::addColumn<QString>("kind");
    QTest::addColumn<QString>("reason");
    QTest::newRow("link to another file") << "link"
                                          << ": is a symbolic link, which is not followed for writing";
    QTest::newRow("named pipe") << "pipe"
                                << ": is not a regular file";
    QTest::newRow("hard link to the firmware file")
        << "firmware"
        << ": is a file named on the program's command line, which the run reads";
}

void BadInputTest::imagePlaceThatIsNoFileRefusesTheRun()
{
    QFETCH(QString, kind);
    QFETCH(QString, reason);
    const QString image = bench_->imagePath(1);
    const QString victim =
        kind == "firmware" ? bench_->path(FirmwareName) : bench_->path(QStringLiteral("victim.txt"));
    bench_->writeFirmware();
    QVERIFY(kind == "firmware" || bench_->writeFile(QStringLiteral("victim.txt"), "keep"));
    QFile original(victim);
    QVERIFY(original.open(QIODevice::ReadOnly));
    const QByteArray kept = original.readAll();
    const QByteArray placeName = QFile::encodeName(image);
    QVERIFY(kind == "pipe"   ? ::mkfifo(placeName.constData(), 0600) == 0
            : kind == "link" ? QFile::link(victim, image)
                             : ::link(QFile::encodeName(victim).constData(), placeName.constData()) == 0);
    const RunResult run = bench_->run(autoArgs(bench_->firmwarePath()));
    VERIFY_NO_PROBLEM(refusalProblem(run), run);
    const QStringList iniLines = bench_->ini().text().split(u'\n');
    const QString imageLine =
        QString::number(iniLines.indexOf("image = \"" + testkit::BenchIni::imageName(1) + u'"') + 1);
    const QString said = "Error: " + bench_->configPath() + u':' + imageLine + ": image of [module.m1]: " + image
                         + reason + "; adapter a0 cannot be opened";
    QVERIFY2(run.errLines.contains(said), qPrintable(said + u'\n' + run.describe()));
    const QString section = QString::number(iniLines.indexOf(QStringLiteral("[adapter.a0]")) + 1);
    const QString last = "Error: failed to initialize CAN-Interface PCAN_USB - " + bench_->configPath() + u':'
                         + section + ": [adapter.a0] cannot be opened";
    QVERIFY2(run.errLines.constLast().trimmed() == last, qPrintable(last + u'\n' + run.describe()));
    QFile after(victim);
    QVERIFY(after.open(QIODevice::ReadOnly) && after.readAll() == kept);
}

// A line beyond the bench file's adapters, or a bench file that is refused:
// the final line names the place in that file, not the advice to name one.
void BadInputTest::lineBeyondTheBenchNamesItsLastAdapter_data()
{
    QTest::addColumn<QByteArray>("ini"); // empty: the bench of one adapter
    QTest::addColumn<int>("line");
    QTest::addColumn<QString>("place"); // after the bench file's path
    QTest::newRow("line 1 of one adapter")
        << QByteArray() << 1 << ":1: [adapter.a0], the last adapter it lists for pcan_usb, serves line 0";
    QTest::newRow("bad bench file") << QByteArray("[adapter.a0]\nindex = 0\ndriver = pcan_usb\nspeed = 3\n") << 0
                                    << ":4: ";
}

void BadInputTest::lineBeyondTheBenchNamesItsLastAdapter()
{
    QFETCH(QByteArray, ini);
    QFETCH(int, line);
    QFETCH(QString, place);
    QVERIFY(ini.isEmpty() || bench_->writeFile(QStringLiteral("bench.ini"), ini));
    bench_->writeFirmware();
    const RunResult run = bench_->run(bench_->autoArgs(line));
    VERIFY_NO_PROBLEM(refusalProblem(run), run);
    const QString last =
        QStringLiteral("Error: failed to initialize CAN-Interface PCAN_USB - no adapter serves CAN line %1: ")
            .arg(line)
        + bench_->configPath() + place;
    QVERIFY2(run.errLines.constLast().startsWith(last), qPrintable(last + u'\n' + run.describe()));
}

// A file name that is not valid UTF-8 may not reach the program intact. Then
// it must be refused cleanly rather than open some other file; if it does
// arrive, the module must hold that file.
void BadInputTest::nameNotInTheLocaleEncodingIsRefused()
{
    const QByteArray content = testkit::joined(records(3));
    QVERIFY(bench_->writeFile(QStringLiteral("K3B7_same.hex"), content));
    const QByteArray latin1Name = QFile::encodeName(bench_->folder()) + "/K3B7_\xE4.hex";
    const int fd = ::open(latin1Name.constData(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    QVERIFY(fd >= 0);
    QCOMPARE(::write(fd, content.constData(), size_t(content.size())), ssize_t(content.size()));
    ::close(fd);

    // The shell passes the name's bytes as they are; the checks read the
    // file of the same content.
    testkit::RunSpec spec = bench_->spec(autoArgs(bench_->path(QStringLiteral("K3B7_same.hex"))));
    spec.flasherArgs = spec.args;
    spec.program = QStringLiteral("/bin/sh");
    spec.args = QStringList{
        QStringLiteral("-c"),
        QStringLiteral("exec \"$0\" PCAN_USB 1000 0 \"$(printf '%s/K3B7_\\344.hex' \"$1\")\" CLOSE_AUTO"),
        testkit::flasherPath(), bench_->folder()};
    const RunResult run = testkit::runFlasher(spec);
    QVERIFY2(run.outLines.value(1).startsWith("Programflash from hex file: "), qPrintable(run.describe()));
    if (run.exitCode == 0) {
        VERIFY_NO_PROBLEM(successProblem(run), run);
        return;
    }
    VERIFY_NO_PROBLEM(refusalProblem(run), run);
    QVERIFY2(run.count("Can not open file '") + run.count("Error:") > 0, qPrintable(run.describe()));
}

void BadInputTest::emptyArguments_data()
{
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<QString>("message");
    QTest::newRow("all four empty") << QStringList{
        "", "", "", ""} << QStringLiteral("Error: Parameter 1:  not valid! Please use PCAN_PCI or PCAN_USB");
    QTest::newRow("interface") << QStringList{"", "125", "0", FirmwareName}
                               << QStringLiteral(
                                      "Error: Parameter 1:  not valid! Please use PCAN_PCI or PCAN_USB");
    QTest::newRow("bit rate") << QStringList{"PCAN_USB", "", "0", FirmwareName}
                              << QStringLiteral("Error: Parameter 2:  not valid! Please use 125 or 250");
    QTest::newRow("file name") << QStringList{"PCAN_USB", "125", "0", "", "CLOSE_AUTO"}
                               << QStringLiteral("Can not open file ''");
}

void BadInputTest::emptyArguments()
{
    QFETCH(QStringList, args);
    QFETCH(QString, message);
    bench_->writeFirmware(records(3), FirmwareName);
    const RunResult run = bench_->run(args);
    VERIFY_NO_PROBLEM(refusalProblem(run), run);
    QVERIFY2(run.errLines.contains(message), qPrintable(run.describe()));
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
    bench_->writeFirmware(records(3), FirmwareName);
    const RunResult run = bench_->run(QStringList{"PCAN_USB", "1000", "0", bench_->firmwarePath()} + tail);
    VERIFY_NO_PROBLEM(successProblem(run), run);
}

// CR LF, LF, blank lines, blanks and tabs around records and a last line
// without line end: the module gets every record as the file holds it.
void BadInputTest::mixedLineEndsAreFlashed()
{
    const QList<QByteArray> firmware = records(12);
    QByteArray content;
    for (int i = 0; i < firmware.size(); ++i) {
        const QByteArray ends[] = {"\r\n", "\n", "\r\n\r\n", "  \t\n", "\n\n"};
        const QByteArray lead = i % 3 == 1 ? " \t " : "";
        content += lead + firmware[i] + (i + 1 < firmware.size() ? ends[i % 5] : QByteArray());
    }
    const QString file = bench_->path(FirmwareName);
    QVERIFY(bench_->writeFile(FirmwareName, content));
    const RunResult run = bench_->run(autoArgs(file));
    VERIFY_NO_PROBLEM(successProblem(run), run);
    QVERIFY2(run.progressLines().constLast().endsWith(" 100.0% " + firmware.last().left(30)),
             qPrintable(run.describe()));
}

void BadInputTest::nameWithBlanksAndNonAsciiIsFlashed()
{
    const QString folder = QStringLiteral("fw dir with blanks/Übergröße ñ ✓");
    QVERIFY(QDir().mkpath(bench_->path(folder)));
    bench_->writeFirmware(records(6), folder + QStringLiteral("/K3B7 Fïrmwäre  4.21 ✓.hex"));
    const RunResult run = bench_->run(autoArgs(bench_->firmwarePath()));
    VERIFY_NO_PROBLEM(successProblem(run), run);
    QCOMPARE(run.outLines.value(1), "Programflash from hex file: " + bench_->firmwarePath());
}

// The file is removed while the module is being flashed.
void BadInputTest::fileDisappearsDuringRun()
{
    const QStringList file = bench_->writeFirmware(records(400), FirmwareName);
    testkit::FlasherRun &flasher = bench_->start(autoArgs(bench_->firmwarePath()));
    QVERIFY(flasher.waitForOutput("\nFlash "));
    QVERIFY(QFile::remove(bench_->firmwarePath()));
    const RunResult &run = flasher.finish();
    VERIFY_NO_PROBLEM(checkedContentProblem(run, int(file.size())), run);
}

void BadInputTest::fileChangesDuringRun_data()
{
    QTest::addColumn<int>("dataRecords");
    QTest::addColumn<QByteArray>("when"); // the progress word after which it changes
    QTest::addColumn<int>("keptRecords"); // -1: rewritten with other data bytes, same length
    QTest::newRow("small, to 10 lines while flashing") << 60 << QByteArray("\nFlash ") << 10;
    QTest::newRow("small, to nothing while flashing") << 60 << QByteArray("\nFlash ") << 0;
    QTest::newRow("small, to 10 lines while comparing") << 60 << QByteArray("\nCompare ") << 10;
    QTest::newRow("large, to 100 lines while flashing") << 400 << QByteArray("\nFlash ") << 100;
    QTest::newRow("large, to nothing while flashing") << 400 << QByteArray("\nFlash ") << 0;
    QTest::newRow("large, to 100 lines while comparing") << 400 << QByteArray("\nCompare ") << 100;
    QTest::newRow("same length, other data while flashing") << 400 << QByteArray("\nFlash ") << -1;
}

// The file is cut short at a line end, or rewritten with valid records of
// the same length, in place, while the run goes on.
void BadInputTest::fileChangesDuringRun()
{
    QFETCH(int, dataRecords);
    QFETCH(QByteArray, when);
    QFETCH(int, keptRecords);
    const QList<QByteArray> firmware = records(dataRecords);
    bench_->writeFirmware(firmware, FirmwareName);
    QByteArray changed = testkit::joined(firmware.mid(0, keptRecords));
    if (keptRecords < 0)
        changed = testkit::joined(
            testkit::firmwareRecords({.title = "K3B7 bad input", .dataBytes = 16 * dataRecords, .seed = 1}));
    QVERIFY(keptRecords >= 0
            || (changed.size() == testkit::joined(firmware).size() && changed != testkit::joined(firmware)));
    testkit::FlasherRun &flasher = bench_->start(autoArgs(bench_->firmwarePath()));
    QVERIFY(flasher.waitForOutput(when));
    const QByteArray path = QFile::encodeName(bench_->firmwarePath());
    const int fd = ::open(path.constData(), O_WRONLY);
    QVERIFY(fd >= 0);
    QCOMPARE(::write(fd, changed.constData(), size_t(changed.size())), ssize_t(changed.size()));
    QVERIFY(::ftruncate(fd, changed.size()) == 0);
    ::close(fd);
    const RunResult &run = flasher.finish();
    VERIFY_NO_PROBLEM(checkedContentProblem(run, int(firmware.size())), run);
}

QTEST_GUILESS_MAIN(BadInputTest)
#include "flasher_badinput_test.moc"
