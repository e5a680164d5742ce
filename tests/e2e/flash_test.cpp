// tarvCanFlash end to end: the real program, the driver library and the
// simulated adapter with modules hosted inside the program's process; one
// run over Qt's virtualcan against tarvModuleSim in a process of its own.
#include "flashbench.h"

#include <QFile>
#include <QRegularExpression>
#include <QTest>

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

const QRegularExpression FinishLine(QStringLiteral("Finish: Update Process needed \\d+ seconds\\.$"));

QString shown(const QString &line)
{
    return line.left(30);
}

// The progress lines of one phase of one module, in order.
QStringList phaseLines(const FlashRun &run, const QString &phase, uint16_t id)
{
    const QString prefix = phase + QStringLiteral(" ID ") + QString::number(id, 16) + u' ';
    QStringList lines;
    for (const QString &line : run.outLines) {
        if (line.startsWith(prefix))
            lines.append(line.mid(prefix.size()));
    }
    return lines;
}

// Every file line once, in order, with a rising percentage ending at 100.0.
bool wholeFileOnce(const QStringList &lines, const QStringList &file, QString *why)
{
    if (lines.size() != file.size()) {
        *why = QStringLiteral("%1 progress lines for %2 file lines").arg(lines.size()).arg(file.size());
        return false;
    }
    double last = 0;
    for (int i = 0; i < lines.size(); ++i) {
        const int space = static_cast<int>(lines[i].indexOf(u' '));
        const QString percent = lines[i].left(space);
        const double value = percent.chopped(1).toDouble();
        if (!percent.endsWith(u'%') || value < last || lines[i].mid(space + 1) != shown(file[i])) {
            *why = QStringLiteral("line %1: %2").arg(i + 1).arg(lines[i]);
            return false;
        }
        last = value;
    }
    if (!lines.last().startsWith(QLatin1String("100.0% "))) {
        *why = QStringLiteral("last line: ") + lines.last();
        return false;
    }
    return true;
}

QString debugQuoted(const QString &text)
{
    return u'"' + text + u'"';
}

int freeTcpPort()
{
    const int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t size = sizeof address;
    int port = 0;
    if (fd >= 0 && bind(fd, reinterpret_cast<sockaddr *>(&address), sizeof address) == 0
        && getsockname(fd, reinterpret_cast<sockaddr *>(&address), &size) == 0)
        port = ntohs(address.sin_port);
    if (fd >= 0)
        close(fd);
    return port;
}

} // namespace

#define VERIFY_WHOLE_FILE(lines, file)                                                            \
    do {                                                                                          \
        QString why;                                                                              \
        QVERIFY2(wholeFileOnce(lines, file, &why), qPrintable(why));                              \
    } while (false)

#define VERIFY_RUN(run, code)                                                                     \
    do {                                                                                          \
        QCOMPARE((run).exitCode, code);                                                           \
        QVERIFY2(FinishLine.match((run).out).hasMatch(), qPrintable((run).out.right(200)));       \
    } while (false)

class FlashTest : public QObject
{
    Q_OBJECT

private slots:
    void oneModule()
    {
        FlashBench bench;
        const QStringList file = bench.writeFirmware();
        bench.addAdapter(0);
        bench.addModule(1, {{"name", "K3B7"}});
        bench.writeConfig();
        const FlashRun run = bench.run(autoArgs(bench, 0, QStringLiteral("125")));
        VERIFY_RUN(run, 0);
        QVERIFY(run.outLines[0].startsWith("tarvCanFlash"));
        QCOMPARE(run.outLines[1], QStringLiteral("Programflash from hex file: ") + bench.firmwarePath());
        VERIFY_WHOLE_FILE(phaseLines(run, "Flash", 0x208), file);
        VERIFY_WHOLE_FILE(phaseLines(run, "Compare", 0x208), file);
        QVERIFY(run.out.contains("\nCompare ID 208 100.0% " + shown(file.last()) + "\n\nPostFlash \n"));
        QCOMPARE(run.countErr("1  of  1 completed. "), 1);
        QVERIFY(run.errLines.contains("tarvpcan3.dll version 4.01p "));
        QVERIFY(!run.err.contains("Error"));
        QVERIFY(bench.verifyImage(1));
    }

    void twoModulesInAscendingOrder()
    {
        FlashBench bench;
        const QStringList file = bench.writeFirmware();
        bench.addAdapter(0);
        // The higher id logs on first.
        bench.addModule(5, {{"logon_delay_ms", "0"}});
        bench.addModule(2, {{"logon_delay_ms", "400"}, {"seed", "7"}});
        bench.writeConfig();
        const FlashRun run = bench.run(autoArgs(bench));
        VERIFY_RUN(run, 0);
        const QStringList progress = run.progressLines();
        QVERIFY(!progress.isEmpty());
        QVERIFY2(progress.first().startsWith("Flash ID 210 "), qPrintable(progress.first()));
        QVERIFY(progress.last().startsWith("Compare ID 228 100.0% "));
        // Module 0x210 is finished before 0x228 begins.
        const auto firstOf228 = progress.indexOf(QRegularExpression("^Flash ID 228 .*"));
        const auto lastOf210 = progress.lastIndexOf(QRegularExpression("^Compare ID 210 .*"));
        QVERIFY(lastOf210 < firstOf228);
        VERIFY_WHOLE_FILE(phaseLines(run, "Flash", 0x228), file);
        QCOMPARE(run.countOut("PostFlash "), 2);
        QCOMPARE(run.countErr("2  of  2 completed. "), 1);
        QVERIFY(bench.verifyImage(2));
        QVERIFY(bench.verifyImage(5));
    }

    void nameMismatchIsSkipped()
    {
        FlashBench bench;
        bench.writeFirmware(QStringLiteral("K3B7_421.hex"));
        bench.addAdapter(0);
        bench.addModule(1, {{"name", "K31B7"}});
        bench.addModule(2, {{"name", "K3B7"}});
        bench.addModule(3, {{"name", "k3b7"}});
        bench.writeConfig();
        const FlashRun run = bench.run(autoArgs(bench));
        VERIFY_RUN(run, 0);
        QCOMPARE(phaseLines(run, "Flash", 0x208).size(), 0);
        QCOMPARE(phaseLines(run, "Flash", 0x218).size(), 0);
        QCOMPARE(phaseLines(run, "Compare", 0x210).size(), bench.firmwareLines().size());
        QCOMPARE(run.countErr("3  of  3 completed. "), 1);
        QVERIFY(bench.verifyImage(2));
        QVERIFY(!bench.verifyImage(1));
    }

    void onlyAMismatchEndsAsFailure()
    {
        FlashBench bench;
        bench.writeFirmware(QStringLiteral("K3B7_421.hex"));
        bench.addAdapter(0);
        bench.addModule(1, {{"name", "X9"}});
        bench.writeConfig();
        const FlashRun run = bench.run(autoArgs(bench));
        VERIFY_RUN(run, 2);
        QVERIFY(run.progressLines().isEmpty());
        QVERIFY(run.errLines.contains(
            "Error: No module fits the file and the selection, no module updated"));
    }

    void canIdsSelectModules()
    {
        FlashBench bench;
        const QStringList file = bench.writeFirmware();
        bench.addAdapter(0);
        bench.addModule(1);
        bench.addModule(2);
        bench.addModule(3);
        bench.writeConfig();
        QStringList args = autoArgs(bench);
        args << QStringLiteral("528,0x218,abc");
        const FlashRun run = bench.run(args);
        VERIFY_RUN(run, 0);
        QCOMPARE(phaseLines(run, "Flash", 0x208).size(), 0);
        VERIFY_WHOLE_FILE(phaseLines(run, "Flash", 0x210), file);
        VERIFY_WHOLE_FILE(phaseLines(run, "Compare", 0x218), file);
        QVERIFY(bench.verifyImage(2));
        QVERIFY(bench.verifyImage(3));
    }

    void reupdateModuleIsUpdatedWithoutName()
    {
        FlashBench bench;
        const QStringList file = bench.writeFirmware();
        bench.addAdapter(0);
        bench.addModule(4, {{"reupdate", "true"}, {"name", "OTHER"}});
        bench.writeConfig();
        const FlashRun run = bench.run(autoArgs(bench));
        VERIFY_RUN(run, 0);
        VERIFY_WHOLE_FILE(phaseLines(run, "Compare", 0x220), file);
        QVERIFY(bench.verifyImage(4));
    }

    void checksumErrorRepeatsTheLine()
    {
        FlashBench bench;
        const QStringList file = bench.writeFirmware();
        bench.addAdapter(0);
        bench.addModule(1, {{"checksum_error_lines", "3"}});
        bench.writeConfig();
        const FlashRun run = bench.run(autoArgs(bench));
        VERIFY_RUN(run, 0);
        QCOMPARE(run.countErr("\"\" Checksum error, repeating line: " + debugQuoted(file[2]) + ' '), 1);
        QStringList flash = phaseLines(run, "Flash", 0x208);
        QCOMPARE(flash.size(), file.size() + 1);
        QCOMPARE(flash[2], flash[3]); // the same progress line again
        flash.removeAt(3);
        VERIFY_WHOLE_FILE(flash, file);
        QVERIFY(bench.verifyImage(1));
    }

    void compareMismatchRestartsTheFlash()
    {
        FlashBench bench;
        const QStringList file = bench.writeFirmware();
        bench.addAdapter(0);
        bench.addModule(1, {{"compare_mismatch_line", "4"}});
        bench.writeConfig();
        const FlashRun run = bench.run(autoArgs(bench));
        VERIFY_RUN(run, 0);
        QCOMPARE(run.countErr("\"\" Flash error, restarting writing from the beginning. "), 1);
        const qsizetype n = file.size();
        QCOMPARE(phaseLines(run, "Flash", 0x208).size(), 2 * n);
        QCOMPARE(phaseLines(run, "Compare", 0x208).size(), n + 4);
        // After the fourth compare line the flash starts again from the first line.
        const QStringList progress = run.progressLines();
        QVERIFY(progress[n + 3].startsWith("Compare ID 208 "));
        QVERIFY(progress[n + 4].startsWith("Flash ID 208 ") && progress[n + 4].endsWith(shown(file[0])));
        QVERIFY(bench.verifyImage(1));
    }

    void versionErrorEndsTheRun_data()
    {
        QTest::addColumn<QString>("code");
        QTest::addColumn<QString>("message");
        QTest::newRow("0x97") << "0x97" << "Error: GeneralProjectVersion ";
        QTest::newRow("0x98") << "0x98" << "Error: UpdateVersionToHigh ";
    }

    void versionErrorEndsTheRun()
    {
        QFETCH(QString, code);
        QFETCH(QString, message);
        FlashBench bench;
        const QStringList file = bench.writeFirmware();
        bench.addAdapter(0);
        bench.addModule(1, {{"version_error", code}});
        bench.addModule(2);
        bench.writeConfig();
        const FlashRun run = bench.run(autoArgs(bench));
        VERIFY_RUN(run, 2);
        QCOMPARE(run.countErr("\"\" Other error: 0x " + code.mid(2) + " , repeating line: "
                              + debugQuoted(file[0]) + ' '),
                 1);
        QCOMPARE(run.countErr(message), 1);
        QVERIFY(run.errLines.contains("Error: Modules not updated: 208 210"));
        // Nothing was flashed after the refusal, and the other module was left alone.
        QCOMPARE(run.progressLines().size(), 1);
        QVERIFY(run.countOut("PostFlash") == 0);
        QVERIFY(!bench.verifyImage(2));
    }

    void lostAcknowledgementRepeatsTheLine()
    {
        FlashBench bench;
        const QStringList file = bench.writeFirmware();
        bench.addAdapter(0);
        bench.addModule(1, {{"lose_ack_frames", "12"}});
        bench.writeConfig();
        const FlashRun run = bench.run(autoArgs(bench));
        VERIFY_RUN(run, 0);
        QCOMPARE(run.countErr("\"\" Timeout, repeating line: " + debugQuoted(file[1]) + ' '), 1);
        VERIFY_WHOLE_FILE(phaseLines(run, "Compare", 0x208), file);
        QVERIFY(bench.verifyImage(1));
    }

    void lostAnswerRepeatsTheLine()
    {
        FlashBench bench;
        const QStringList file = bench.writeFirmware();
        bench.addAdapter(0);
        bench.addModule(1, {{"lose_answer_lines", "3"}});
        bench.writeConfig();
        const FlashRun run = bench.run(autoArgs(bench));
        VERIFY_RUN(run, 0);
        QCOMPARE(run.countErr("\"\" Timeout, repeating line: " + debugQuoted(file[2]) + ' '), 1);
        QStringList flash = phaseLines(run, "Flash", 0x208);
        QCOMPARE(flash.size(), file.size() + 1);
        QCOMPARE(flash[2], flash[3]);
        QVERIFY(bench.verifyImage(1));
    }

    void deadModuleIsGivenUpOthersStillUpdated()
    {
        FlashBench bench;
        const QStringList file = bench.writeFirmware();
        bench.addAdapter(0);
        bench.addModule(1, {{"die_at_line", "4"}});
        bench.addModule(2);
        bench.writeConfig();
        const FlashRun run = bench.run(autoArgs(bench));
        VERIFY_RUN(run, 2);
        QCOMPARE(run.countErr("\"\" Timeout, repeating line: " + debugQuoted(file[3]) + ' '), 10);
        QCOMPARE(run.countErr("\"\" Module 208 not updated: line refused 10 times in a row "), 1);
        QVERIFY(run.errLines.contains("Error: Modules not updated: 208"));
        VERIFY_WHOLE_FILE(phaseLines(run, "Compare", 0x210), file);
        QVERIFY(bench.verifyImage(2));
    }

    void moduleNeverReadyIsGivenUp()
    {
        FlashBench bench;
        bench.writeFirmware();
        bench.addAdapter(0);
        bench.addModule(1, {{"never_ready", "true"}});
        bench.writeConfig();
        const FlashRun run = bench.run(autoArgs(bench));
        VERIFY_RUN(run, 2);
        QCOMPARE(run.countErr("\"\" Module 208 not updated: no ready report within 10 seconds "), 1);
        QVERIFY(run.progressLines().isEmpty());
        QVERIFY(run.errLines.contains("Error: Modules not updated: 208"));
    }

    void noLogOnAfterRestartIsGivenUp()
    {
        FlashBench bench;
        bench.writeFirmware();
        bench.addAdapter(0);
        bench.addModule(1, {{"no_logon_after_restart", "true"}});
        bench.writeConfig();
        const FlashRun run = bench.run(autoArgs(bench));
        VERIFY_RUN(run, 2);
        QCOMPARE(run.countOut("PostFlash "), 1);
        QCOMPARE(run.countErr("\"\" Module 208 not updated: no log-on within 20 seconds after the restart "), 1);
        QVERIFY(run.errLines.contains("Error: Modules not updated: 208"));
    }

    void noModuleAtAll()
    {
        FlashBench bench;
        bench.writeFirmware();
        bench.addAdapter(0);
        bench.writeConfig();
        const FlashRun run = bench.run(autoArgs(bench));
        VERIFY_RUN(run, 2);
        QVERIFY(run.errLines.contains("No module logged on within 10 seconds. "));
        QVERIFY(run.errLines.contains("Error: No module logged on, no module updated"));
        QVERIFY(run.progressLines().isEmpty());
    }

    void busNotOkAtStartUp()
    {
        FlashBench bench;
        bench.writeFirmware();
        bench.addAdapter(0, {{"bus_status", "0x10"}});
        bench.addModule(1);
        bench.writeConfig();
        const FlashRun run = bench.run(autoArgs(bench));
        QCOMPARE(run.exitCode, 1);
        QVERIFY(run.errLines.contains("Error: CAN-Bus not OK: BUSOFF"));
        QVERIFY(!run.out.contains("Finish:"));
    }

    void enterEndsTheRunOnlyAtTheLineFeed()
    {
        FlashBench bench;
        bench.writeFirmware();
        bench.addAdapter(0);
        bench.addModule(1);
        bench.writeConfig();
        QProcess process;
        QStringList args = autoArgs(bench);
        args.removeLast();
        bench.start(process, args);
        QVERIFY(process.waitForStarted());
        QByteArray err;
        QDeadlineTimer deadline(200000);
        while (!err.contains("Push <ENTER> key to close terminal window \n") && !deadline.hasExpired()
               && process.state() == QProcess::Running) {
            process.waitForReadyRead(1000);
            err += process.readAllStandardError();
        }
        QVERIFY2(err.contains("Push <ENTER> key to close terminal window \n"), err.constData());
        process.write("abc");
        QVERIFY(!process.waitForFinished(1500)); // letters alone do not end it
        process.write("\n");
        const FlashRun run = FlashBench::collect(process);
        VERIFY_RUN(run, 0);
        QVERIFY(bench.verifyImage(1));
    }

    void endOfInputCountsAsEnter()
    {
        FlashBench bench;
        bench.writeFirmware();
        bench.addAdapter(0);
        bench.addModule(1);
        bench.writeConfig();
        QStringList args = autoArgs(bench);
        args.replace(4, QStringLiteral("NO"));
        const FlashRun run = bench.run(args, "x");
        VERIFY_RUN(run, 0);
        QCOMPARE(run.countErr("Push <ENTER> key to close terminal window "), 1);
        QVERIFY(bench.verifyImage(1));
    }

    void firmwareFileShrinkingDuringTheFlashFailsTheRun()
    {
        FlashBench bench;
        const QStringList file = bench.writeFirmware(QStringLiteral("K3B7_421.hex"), 300);
        bench.addAdapter(0);
        bench.addModule(1);
        bench.writeConfig();
        QProcess process;
        bench.start(process, autoArgs(bench));
        QVERIFY(process.waitForStarted());
        QByteArray out;
        QDeadlineTimer deadline(200000);
        while (!out.contains("\nFlash ") && !deadline.hasExpired()
               && process.state() == QProcess::Running) {
            process.waitForReadyRead(1000);
            out += process.readAllStandardOutput();
        }
        QVERIFY2(out.contains("\nFlash "), out.constData());
        QVERIFY(::truncate(QFile::encodeName(bench.firmwarePath()).constData(), 200) == 0);
        FlashRun run = FlashBench::collect(process);
        run.out.prepend(QString::fromLocal8Bit(out));
        VERIFY_RUN(run, 2);
        QCOMPARE(run.countErr("\"\" Module 208 not updated: the firmware file changed during the run "), 1);
        QVERIFY(run.errLines.contains("Error: Modules not updated: 208"));
        QVERIFY(!run.out.contains("PostFlash"));
    }

    void missingLibrary()
    {
        FlashBench bench;
        bench.writeFirmware();
        bench.addAdapter(0);
        bench.addModule(1);
        bench.writeConfig();
        const QString lonely = bench.path(QStringLiteral("tarvCanFlash"));
        QVERIFY(QFile::copy(FlashBench::flasherPath(), lonely));
        const FlashRun run = bench.run(autoArgs(bench), {}, lonely);
        QCOMPARE(run.exitCode, 1);
        QVERIFY(run.err.contains("tarvpcan3"));
        QCOMPARE(run.errLines.last(), QStringLiteral("Error: failed to initialize CAN-Interface PCAN_USB "));
        QVERIFY(!run.out.contains("Finish:"));
    }

    void secondLineOfTwoAdapters()
    {
        FlashBench bench;
        const QStringList file = bench.writeFirmware();
        bench.addAdapter(0);
        bench.addAdapter(1);
        bench.addModule(1, {{"adapter", "0"}});
        bench.addModule(2, {{"adapter", "1"}});
        bench.writeConfig();
        const FlashRun run = bench.run(autoArgs(bench, 1));
        VERIFY_RUN(run, 0);
        QCOMPARE(run.countErr("1  of  1 completed. "), 1);
        VERIFY_WHOLE_FILE(phaseLines(run, "Flash", 0x1210), file);
        QVERIFY(bench.verifyImage(2));
        QVERIFY(!bench.verifyImage(1));
    }

    void moduleSimulatorOverVirtualCan()
    {
        FlashBench bench;
        const QStringList file = bench.writeFirmware();
        const int port = freeTcpPort();
        QVERIFY(port > 0);
        const QString interface = QStringLiteral("tcp://127.0.0.1:%1/can0").arg(port);
        bench.addQtAdapter(0, QStringLiteral("virtualcan"), interface);
        bench.writeConfig();

        QProcess modules;
        modules.setProcessChannelMode(QProcess::MergedChannels);
        modules.start(FlashBench::moduleSimPath(),
                      {"--plugin", "virtualcan", "--interface", interface, "--bitrate", "1000",
                       "--module", "address=1,name=K3B7,image=" + bench.imagePath(1),
                       "--module", "address=3,name=K3B7,image=" + bench.imagePath(3)});
        QVERIFY(modules.waitForStarted());
        QByteArray simOutput;
        QDeadlineTimer ready(30000);
        while (!simOutput.contains("tarvModuleSim ready on") && !ready.hasExpired()
               && modules.state() == QProcess::Running) {
            modules.waitForReadyRead(1000);
            simOutput += modules.readAll();
        }
        QVERIFY2(simOutput.contains("tarvModuleSim ready on"), simOutput.constData());

        const FlashRun run = bench.run(autoArgs(bench));
        modules.closeWriteChannel(); // the end of its input ends the simulator
        QVERIFY(modules.waitForFinished(30000));
        VERIFY_RUN(run, 0);
        VERIFY_WHOLE_FILE(phaseLines(run, "Compare", 0x208), file);
        VERIFY_WHOLE_FILE(phaseLines(run, "Compare", 0x218), file);
        QCOMPARE(modules.exitCode(), 0);
        QVERIFY(bench.verifyImage(1));
        QVERIFY(bench.verifyImage(3));
    }
};

QTEST_GUILESS_MAIN(FlashTest)
#include "flash_test.moc"
