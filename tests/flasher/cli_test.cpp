// The command line as a user sees it: the built program run as a process.
// What it does with a firmware file that is none is the bad-input test's.
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

namespace {

struct Run
{
    int exitCode = -1;
    QString out;
    QString err;
};

Run runFlasher(const QStringList &args)
{
    QProcess process;
    process.start(QStringLiteral(TARV_FLASHER_PATH), args);
    Run run;
    if (!process.waitForFinished(60000)) {
        process.kill();
        process.waitForFinished();
        return run;
    }
    run.exitCode = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    run.out = QString::fromLocal8Bit(process.readAllStandardOutput());
    run.err = QString::fromLocal8Bit(process.readAllStandardError());
    return run;
}

QStringList lines(const QString &text)
{
    QStringList list = text.split(u'\n');
    if (!list.isEmpty() && list.last().isEmpty())
        list.removeLast();
    return list;
}

} // namespace

class CliTest : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir dir_;

private slots:
    void tooFewArgumentsPrintsTheUsage_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::newRow("none") << QStringList{};
        QTest::newRow("three") << QStringList{"PCAN_USB", "125", "0"};
    }

    void tooFewArgumentsPrintsTheUsage()
    {
        QFETCH(QStringList, args);
        const Run run = runFlasher(args);
        QCOMPARE(run.exitCode, 1);
        QCOMPARE(run.err, QString());
        const QStringList out = lines(run.out);
        QCOMPARE(out.size(), 1 + 2 + 10);
        QVERIFY(out[0].startsWith("tarvCanFlash"));
        QCOMPARE(out[1], QString());
        QCOMPARE(out[2], QStringLiteral("Error: To less parameters!"));
        QCOMPARE(out[3], QStringLiteral("Syntax: tarvCanFlash [PEAK CAN Interface] [BitRate] "
                                        "[CanLine] [FileName] [Close] [CanIds]"));
        QCOMPARE(out[5], QStringLiteral("        BitRate: 125 or 250 (kBit/s)"));
        QCOMPARE(out[10], QStringLiteral("     Example: tarvCanFlash PCAN_USB 125 0 K31B7_421.hex"));
    }

    // What is installed: the usage, or the program's and the driver
    // library's versions, and exit code 0. "--help" beside other arguments is
    // no query.
    void queriesAnswerWithExitCodeZero_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<QString>("line");
        QTest::newRow("help")
            << QStringList{"--help"} << 0
            << QStringLiteral(
                   "Syntax: tarvCanFlash [PEAK CAN Interface] [BitRate] [CanLine] [FileName] [Close] [CanIds]");
        QTest::newRow("version") << QStringList{"--version"} << 0 << QStringLiteral("tarvpcan3 4.01p");
        QTest::newRow("help and more") << QStringList{"--help", "x"} << 1
                                       << QStringLiteral("Error: To less parameters!");
    }

    void queriesAnswerWithExitCodeZero()
    {
        QFETCH(QStringList, args);
        QFETCH(int, exitCode);
        QFETCH(QString, line);
        const Run run = runFlasher(args);
        QCOMPARE(run.exitCode, exitCode);
        QVERIFY2(lines(run.out).contains(line), qPrintable(run.out));
    }

    void refusedArgumentsGoToStandardError_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<QString>("error");
        QTest::newRow("lower-case keyword")
            << QStringList{"pcan_usb", "125", "0", "f.hex"}
            << "Error: Parameter 1: pcan_usb not valid! Please use PCAN_PCI or PCAN_USB\n";
        QTest::newRow("keyword checked before bit rate")
            << QStringList{"PCAN_ISA", "500", "0", "f.hex"}
            << "Error: Parameter 1: PCAN_ISA not valid! Please use PCAN_PCI or PCAN_USB\n";
        QTest::newRow("500") << QStringList{"PCAN_USB", "500", "0", "f.hex"}
                             << "Error: Parameter 2: 500 not valid! Please use 125 or 250\n";
        QTest::newRow("rate as typed") << QStringList{"PCAN_PCI", "50kbit", "0", "f.hex"}
                                       << "Error: Parameter 2: 50kbit not valid! Please use 125 or 250\n";
        QTest::newRow("rate that wraps to 125")
            << QStringList{"PCAN_USB", "4294967421", "0", "f.hex"}
            << "Error: Parameter 2: 4294967421 not valid! Please use 125 or 250\n";
        QTest::newRow("line that wraps to 0") << QStringList{"PCAN_USB", "125", "65536", "f.hex"}
                                              << "Error: Parameter 3: 65536 not valid! Please use 0, 1, .. 15\n";
        QTest::newRow("line 16") << QStringList{"PCAN_USB", "125", "16", "f.hex"}
                                 << "Error: Parameter 3: 16 not valid! Please use 0, 1, .. 15\n";
        // CLOSE_AUTO before the list: the list is the sixth argument.
        QTest::newRow("list and close swapped")
            << QStringList{"PCAN_USB", "125", "0", "f.hex", "0x208", "CLOSE_AUTO"}
            << "Error: Parameter 6: CLOSE_AUTO not valid! Please use CAN-Ids as comma separated "
               "dec. numbers or 0x hex numbers, 0 .. 2047\n";
    }

    void refusedArgumentsGoToStandardError()
    {
        QFETCH(QStringList, args);
        QFETCH(QString, error);
        const Run run = runFlasher(args);
        QCOMPARE(run.exitCode, 1);
        QCOMPARE(run.err, error);
        QCOMPARE(lines(run.out).size(), 1); // the banner alone
    }

    void acceptedArgumentsReachTheFirmwareFile_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::newRow("1000") << QStringList{"PCAN_USB", "1000", "0"};
        QTest::newRow("125kbit") << QStringList{"PCAN_PCI", "125kbit", "3"};
        QTest::newRow("ids fifth") << QStringList{"PCAN_USB", "250", "0"};
    }

    void acceptedArgumentsReachTheFirmwareFile()
    {
        QFETCH(QStringList, args);
        const QString missing = dir_.filePath(QStringLiteral("K3B7_421.hex"));
        args << missing;
        if (QString(QTest::currentDataTag()) == QLatin1String("ids fifth"))
            args << QStringLiteral("512,0x208");
        const Run run = runFlasher(args);
        QCOMPARE(run.exitCode, 1);
        const QStringList out = lines(run.out);
        QCOMPARE(out.size(), 2);
        QCOMPARE(out[1], QStringLiteral("Programflash from hex file: ") + missing);
        QCOMPARE(run.err, QStringLiteral("Can not open file '") + missing + "'\nError: Firmware file '" + missing
                              + "' cannot be opened: No such file or directory\n");
    }
};

QTEST_GUILESS_MAIN(CliTest)
#include "cli_test.moc"
