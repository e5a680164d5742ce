// tarvCanFlash end to end: the real program, the driver library and the
// simulated adapter with modules hosted inside the program's process; one
// run over Qt's virtualcan against tarvModuleSim in a process of its own.
// With -virtual, the scenarios of the update sequence run in virtual time
// against the same bench instead, judged the same way.
#include "candumplog.h"
#include "modulesimprocess.h"
#include "testbench.h"
#include "virtualrun.h"

#include <QFile>
#include <QRegularExpression>
#include <QTest>

#include <algorithm>
#include <csignal>

namespace {

// -virtual on the command line: the scenario's runs go through runVirtualBench.
bool inVirtualTime = false;

testkit::RunResult runIn(testkit::Bench &bench, const QStringList &args)
{
    return inVirtualTime ? testkit::runVirtualBench(bench, args) : bench.run(args);
}

const QRegularExpression FinishLine(QStringLiteral("Finish: Update Process needed \\d+ seconds\\.$"));

QString shown(const QString &line)
{
    return line.left(30);
}

// The progress lines of one phase of one module, in order.
QStringList phaseLines(const testkit::RunResult &run, const QString &phase, uint16_t id)
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

// Frames on the wire to the word with exactly these bytes.
int countFrames(const testkit::RunResult &run, uint32_t word, const QByteArray &data)
{
    const QList<testkit::LoggedFrame> frames = testkit::readCandumpLog(run.trace, {}).frames;
    return static_cast<int>(std::count_if(frames.begin(), frames.end(), [&](const testkit::LoggedFrame &frame) {
        return frame.id == word && frame.data == data;
    }));
}

// The first flash data frame to module 0x208 after the first frame the module
// sent past the answer bound; empty when there is none.
QByteArray dataFrameAfterLateAnswer(const testkit::RunResult &run)
{
    const QByteArray flashData = QByteArray::fromHex("1500");
    qint64 lastDataUs = -1;
    bool late = false;
    for (const testkit::LoggedFrame &frame : testkit::readCandumpLog(run.trace, {}).frames) {
        if (frame.id == 0x209 && frame.data.startsWith(flashData)) {
            if (late)
                return frame.data.mid(2);
            lastDataUs = frame.timeUs;
        } else if (frame.id == 0x20D && lastDataUs >= 0 && frame.timeUs - lastDataUs > 251000) {
            late = true;
        }
    }
    return {};
}

} // namespace

#define VERIFY_WHOLE_FILE(lines, file)                                                                           \
    do {                                                                                                         \
        QString why;                                                                                             \
        QVERIFY2(wholeFileOnce(lines, file, &why), qPrintable(why));                                             \
    } while (false)

// The exit code, the final line and the frames on the wire; the run's output when one fails.
#define VERIFY_RUN(run, code)                                                                                    \
    QVERIFY2(                                                                                                    \
        (run).exitCode == (code) && (run).wireOk()                                                               \
            && FinishLine.match(QString::fromLocal8Bit((run).out)).hasMatch(),                                   \
        qPrintable(QStringLiteral("expected exit code %1 and a Finish: line\n").arg(code) + (run).describe()))

#define VERIFY_WIRE(run) QVERIFY2((run).wireOk(), qPrintable((run).describe()))

class FlashTest : public QObject
{
    Q_OBJECT

private slots:
    void oneModule()
    {
        testkit::Bench bench;
        const QStringList file = bench.writeFirmware();
        bench.addAdapter(0);
        bench.addModule(1, {{"name", "K3B7"}});
        bench.writeConfig();
        const testkit::RunResult run = runIn(bench, bench.autoArgs(0, QStringLiteral("125")));
        VERIFY_RUN(run, 0);
        QVERIFY(run.outLines[0].startsWith("tarvCanFlash"));
        QCOMPARE(run.outLines[1], QStringLiteral("Programflash from hex file: ") + bench.firmwarePath());
        VERIFY_WHOLE_FILE(phaseLines(run, "Flash", 0x208), file);
        VERIFY_WHOLE_FILE(phaseLines(run, "Compare", 0x208), file);
        QVERIFY(
            run.out.contains(("\nCompare ID 208 100.0% " + shown(file.last()) + "\n\nPostFlash \n").toUtf8()));
        QCOMPARE(run.countErr("1  of  1 completed. "), 1);
        // The driver library's line; a run in virtual time has no library.
        QVERIFY(inVirtualTime || run.errLines.contains("tarvpcan3.dll version 4.01p "));
        QVERIFY(!run.err.contains("Error"));
        QVERIFY(run.imageEqual(1));
    }

    void twoModulesInAscendingOrder()
    {
        testkit::Bench bench;
        const QStringList file = bench.writeFirmware();
        bench.addAdapter(0);
        // The higher id logs on first.
        bench.addModule(5, {{"logon_delay_ms", "0"}});
        bench.addModule(2, {{"logon_delay_ms", "400"}, {"seed", "7"}});
        bench.writeConfig();
        const testkit::RunResult run = runIn(bench, bench.autoArgs());
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
        QVERIFY(run.imageEqual(2));
        QVERIFY(run.imageEqual(5));
    }

    void nameMismatchIsSkipped()
    {
        testkit::Bench bench;
        bench.writeFirmware();
        bench.addAdapter(0);
        bench.addModule(1, {{"name", "K31B7"}});
        bench.addModule(2, {{"name", "K3B7"}});
        bench.addModule(3, {{"name", "k3b7"}});
        bench.writeConfig();
        const testkit::RunResult run = runIn(bench, bench.autoArgs());
        VERIFY_RUN(run, 0);
        QCOMPARE(phaseLines(run, "Flash", 0x208).size(), 0);
        QCOMPARE(phaseLines(run, "Flash", 0x218).size(), 0);
        QCOMPARE(phaseLines(run, "Compare", 0x210).size(), bench.firmwareLines().size());
        QCOMPARE(run.countErr("3  of  3 completed. "), 1);
        QVERIFY(run.imageEqual(2));
        QVERIFY(!run.imageEqual(1));
    }

    void onlyAMismatchEndsAsFailure()
    {
        testkit::Bench bench;
        bench.writeFirmware();
        bench.addAdapter(0);
        bench.addModule(1, {{"name", "X9"}});
        bench.writeConfig();
        const testkit::RunResult run = runIn(bench, bench.autoArgs());
        VERIFY_RUN(run, 2);
        QVERIFY(run.progressLines().isEmpty());
        QVERIFY(run.errLines.contains("Error: No module fits the file and the selection, no module updated"));
    }

    void canIdsSelectModules_data()
    {
        QTest::addColumn<int>("line");
        QTest::newRow("line 0") << 0;
        // The address words carry the line above the identifiers the selection names.
        QTest::newRow("line 2") << 2;
    }

    void canIdsSelectModules()
    {
        QFETCH(int, line);
        testkit::Bench bench;
        const QStringList file = bench.writeFirmware();
        for (int adapter = 0; adapter <= line; ++adapter)
            bench.addAdapter(adapter);
        for (int address : {1, 2, 3})
            bench.addModule(address, {{"adapter", QString::number(line)}});
        bench.writeConfig();
        QStringList args = bench.autoArgs(line);
        // 0x428 is selected but never logs on: it was not updated either.
        args << QStringLiteral("528,0x218,,1064");
        const testkit::RunResult run = runIn(bench, args);
        VERIFY_RUN(run, 2);
        const uint16_t onLine = static_cast<uint16_t>(line << 12);
        QCOMPARE(phaseLines(run, "Flash", onLine | 0x208).size(), 0);
        VERIFY_WHOLE_FILE(phaseLines(run, "Flash", onLine | 0x210), file);
        VERIFY_WHOLE_FILE(phaseLines(run, "Compare", onLine | 0x218), file);
        QVERIFY(run.imageEqual(2));
        QVERIFY(run.imageEqual(3));
        QVERIFY(!run.imageEqual(1));
        QVERIFY(run.errLines.contains("Error: Modules not updated: " + QString::number(onLine | 0x428, 16)));
    }

    // An empty name is contained in every file name; the module is asked
    // again, and not flashed while it names nothing.
    void unnamedModuleIsNotFlashed()
    {
        testkit::Bench bench;
        const QStringList file = bench.writeFirmware();
        bench.addAdapter(0);
        bench.addModule(1, {{"name", ""}});
        bench.addModule(2);
        bench.writeConfig();
        const testkit::RunResult run = runIn(bench, bench.autoArgs());
        VERIFY_RUN(run, 2);
        QCOMPARE(run.countErr("\"\" Module 208 not updated: no firmware name after 5 requests "), 1);
        QCOMPARE(phaseLines(run, "Flash", 0x208).size(), 0);
        VERIFY_WHOLE_FILE(phaseLines(run, "Compare", 0x210), file);
        QVERIFY(run.errLines.contains("Error: Modules not updated: 208"));
    }

    void reupdateModuleIsUpdatedWithoutName()
    {
        testkit::Bench bench;
        const QStringList file = bench.writeFirmware();
        bench.addAdapter(0);
        bench.addModule(4, {{"reupdate", "true"}, {"name", "OTHER"}});
        bench.writeConfig();
        const testkit::RunResult run = runIn(bench, bench.autoArgs());
        VERIFY_RUN(run, 0);
        VERIFY_WHOLE_FILE(phaseLines(run, "Compare", 0x220), file);
        QVERIFY(run.imageEqual(4));
    }

    void checksumErrorRepeatsTheLine()
    {
        testkit::Bench bench;
        const QStringList file = bench.writeFirmware();
        bench.addAdapter(0);
        bench.addModule(1, {{"checksum_error_lines", "3"}});
        bench.writeConfig();
        const testkit::RunResult run = runIn(bench, bench.autoArgs());
        VERIFY_RUN(run, 0);
        QCOMPARE(run.countErr("\"\" Checksum error, repeating line: " + debugQuoted(file[2]) + ' '), 1);
        QStringList flash = phaseLines(run, "Flash", 0x208);
        QCOMPARE(flash.size(), file.size() + 1);
        QCOMPARE(flash[2], flash[3]); // the same progress line again
        flash.removeAt(3);
        VERIFY_WHOLE_FILE(flash, file);
        QVERIFY(run.imageEqual(1));
    }

    void compareMismatchRestartsTheFlash()
    {
        testkit::Bench bench;
        const QStringList file = bench.writeFirmware();
        bench.addAdapter(0);
        bench.addModule(1, {{"compare_mismatch_line", "4"}});
        bench.writeConfig();
        const testkit::RunResult run = runIn(bench, bench.autoArgs());
        VERIFY_RUN(run, 0);
        QCOMPARE(run.countErr("\"\" Flash error, restarting writing from the beginning. "), 1);
        const qsizetype n = file.size();
        QCOMPARE(phaseLines(run, "Flash", 0x208).size(), 2 * n);
        QCOMPARE(phaseLines(run, "Compare", 0x208).size(), n + 4);
        // After the fourth compare line the flash starts again from the first line.
        const QStringList progress = run.progressLines();
        QVERIFY(progress[n + 3].startsWith("Compare ID 208 "));
        QVERIFY(progress[n + 4].startsWith("Flash ID 208 ") && progress[n + 4].endsWith(shown(file[0])));
        QVERIFY(run.imageEqual(1));
    }

    void flashRestartsAreBounded_data()
    {
        QTest::addColumn<int>("mismatches"); // compare passes with a flash error
        QTest::addColumn<int>("exitCode");
        QTest::newRow("5 restarts, updated") << 5 << 0;
        QTest::newRow("6 flash errors, given up") << 6 << 2;
    }

    // Five restarts of the flash are allowed; the flash error after the sixth
    // flash pass gives the module up.
    void flashRestartsAreBounded()
    {
        QFETCH(int, mismatches);
        QFETCH(int, exitCode);
        testkit::Bench bench;
        const QStringList file = bench.writeFirmware();
        bench.addAdapter(0);
        bench.addModule(
            1, {{"compare_mismatch_line", "2"}, {"compare_mismatch_passes", QString::number(mismatches)}});
        bench.writeConfig();
        const testkit::RunResult run = runIn(bench, bench.autoArgs());
        VERIFY_RUN(run, exitCode);
        QCOMPARE(countFrames(run, 0x208, QByteArray::fromHex("1503")), 6);
        QCOMPARE(run.countErr("\"\" Flash error, restarting writing from the beginning. "), mismatches);
        const bool updated = exitCode == 0;
        QCOMPARE(run.countErr("\"\" Module 208 not updated: flashing restarted 5 times "), updated ? 0 : 1);
        QCOMPARE(run.countOut("PostFlash "), updated ? 1 : 0);
        if (updated)
            QVERIFY(run.imageEqual(1));
    }

    void versionErrorEndsTheRun_data()
    {
        QTest::addColumn<QString>("code");
        QTest::addColumn<QString>("message");
        QTest::newRow("0x97") << "0x97"
                              << "Error: GeneralProjectVersion ";
        QTest::newRow("0x98") << "0x98"
                              << "Error: UpdateVersionToHigh ";
    }

    void versionErrorEndsTheRun()
    {
        QFETCH(QString, code);
        QFETCH(QString, message);
        testkit::Bench bench;
        const QStringList file = bench.writeFirmware();
        bench.addAdapter(0);
        bench.addModule(1, {{"version_error", code}});
        bench.addModule(2);
        bench.writeConfig();
        const testkit::RunResult run = runIn(bench, bench.autoArgs());
        VERIFY_RUN(run, 2);
        QCOMPARE(run.countErr("\"\" Other error: 0x " + code.mid(2)
                              + " , the run ends: the module refused the firmware's version, line: "
                              + debugQuoted(file[0]) + ' '),
                 1);
        QCOMPARE(run.countErr(message), 1);
        QVERIFY(run.errLines.contains("Error: Modules not updated: 208 210"));
        // Nothing was flashed after the refusal, and the other module was left alone.
        QCOMPARE(run.progressLines().size(), 1);
        QVERIFY(run.countOut("PostFlash") == 0);
        QVERIFY(!run.imageEqual(2));
    }

    void lostAcknowledgementRepeatsTheLine_data()
    {
        QTest::addColumn<int>("line");
        QTest::addColumn<bool>("lastFrame"); // else its third frame
        QTest::newRow("inside a line") << 1 << false;
        // The line went out whole; only its end was not confirmed.
        QTest::newRow("last frame of the header") << 0 << true;
    }

    // The line goes once more per timeout reported, and the pass goes on with
    // the next line: no extra copy, no second progress line.
    void lostAcknowledgementRepeatsTheLine()
    {
        QFETCH(int, line);
        QFETCH(bool, lastFrame);
        testkit::Bench bench;
        const QStringList file = bench.writeFirmware();
        bench.addAdapter(0);
        // Frames are counted over the module's life, from 1; six text bytes
        // each, CR LF included.
        int lostFrame = lastFrame ? 0 : 3;
        for (int i = 0; i < line + (lastFrame ? 1 : 0); ++i)
            lostFrame += (file[i].size() + 2 + 5) / 6;
        bench.addModule(1, {{"lose_ack_frames", QString::number(lostFrame)}});
        bench.writeConfig();
        const testkit::RunResult run = runIn(bench, bench.autoArgs());
        VERIFY_RUN(run, 0);
        QCOMPARE(run.countErr("\"\" Timeout, repeating line: " + debugQuoted(file[line]) + ' '), 1);
        // A line cut short reaches the module joined to its repeat, and the
        // module refuses that; the wire judge holds the second repeat to the rules.
        if (lastFrame)
            VERIFY_WHOLE_FILE(phaseLines(run, "Flash", 0x208), file);
        VERIFY_WHOLE_FILE(phaseLines(run, "Compare", 0x208), file);
        QVERIFY(run.imageEqual(1));
    }

    void lostAnswerRepeatsTheLine()
    {
        testkit::Bench bench;
        const QStringList file = bench.writeFirmware();
        bench.addAdapter(0);
        bench.addModule(1, {{"lose_answer_lines", "3"}});
        bench.writeConfig();
        const testkit::RunResult run = runIn(bench, bench.autoArgs());
        VERIFY_RUN(run, 0);
        QCOMPARE(run.countErr("\"\" Timeout, repeating line: " + debugQuoted(file[2]) + ' '), 1);
        QStringList flash = phaseLines(run, "Flash", 0x208);
        QCOMPARE(flash.size(), file.size() + 1);
        QCOMPARE(flash[2], flash[3]);
        QVERIFY(run.imageEqual(1));
    }

    void lateAnswerIsNotTaken_data()
    {
        QTest::addColumn<QString>("key");
        QTest::addColumn<int>("line"); // of the file, from 0, that times out
        QTest::addColumn<QString>("lateMs");
        QTest::addColumn<bool>("repeatLate"); // the repeat is answered late too
        QTest::newRow("acknowledgement inside a line") << "late_ack_frames" << 1 << "500" << false;
        QTest::newRow("status answer") << "late_answer_lines" << 2 << "500" << false;
        // Arrives while the repeat's frames go out at 125 kbit/s, after the
        // timeout's pause: the repeat must still wait for an answer of its own.
        QTest::newRow("status answer during the repeat") << "late_answer_lines" << 2 << "2258" << true;
    }

    // An answer past the bound belongs to a transfer the flasher has ended:
    // nothing of that line goes out after it, and the line goes again from
    // its first frame after the pause.
    void lateAnswerIsNotTaken()
    {
        QFETCH(QString, key);
        QFETCH(int, line);
        QFETCH(QString, lateMs);
        QFETCH(bool, repeatLate);
        testkit::Bench bench;
        const QStringList file = bench.writeFirmware();
        bench.addAdapter(0);
        // The third frame of the line, frames counted over the module's life.
        int lateFrame = 3;
        for (int i = 0; i < line; ++i)
            lateFrame += (file[i].size() + 2 + 5) / 6;
        const int late = key == QLatin1String("late_ack_frames") ? lateFrame : line + 1;
        const QString lateOnes = QString::number(late) + (repeatLate ? "," + QString::number(late + 1) : "");
        bench.addModule(1, {{key, lateOnes}, {"late_ms", lateMs}});
        bench.writeConfig();
        const testkit::RunResult run = runIn(bench, bench.autoArgs(0, repeatLate ? "125" : "1000"));
        VERIFY_RUN(run, 0);
        // One that comes just after the repeat's last frame cannot be told from
        // the repeat's answer, and then the repeat does not time out.
        const int timeouts = run.countErr("\"\" Timeout, repeating line: " + debugQuoted(file[line]) + ' ');
        QVERIFY(timeouts == 1 || (repeatLate && timeouts == 2));
        // One that comes during the pause is followed by the repeat's first frame;
        // one that comes during the repeat, by nothing of the next line before the
        // repeat's own answer, which the judge sees.
        if (!repeatLate)
            QCOMPARE(dataFrameAfterLateAnswer(run), (file[line] + "\r\n").toLatin1().left(6));
        VERIFY_WHOLE_FILE(phaseLines(run, "Compare", 0x208), file);
        QVERIFY(run.imageEqual(1));
    }

    void lineGivenUpNamesWhatHappened_data()
    {
        QTest::addColumn<QString>("key");
        QTest::addColumn<QString>("value");
        QTest::addColumn<int>("line"); // of the file, from 0
        QTest::addColumn<QString>("notice");
        QTest::addColumn<QString>("reason");
        QTest::newRow("silent module") << "die_at_line"
                                       << "4" << 3 << "Timeout"
                                       << "no answer to the line, 10 times in a row";
        QTest::newRow("refusing module") << "checksum_error_prob"
                                         << "1" << 0 << "Checksum error"
                                         << "line refused 10 times in a row";
    }

    // The refusal or timeout that gives a module up promises no repeat, and
    // the module's line says what it did; the next module starts afresh.
    void lineGivenUpNamesWhatHappened()
    {
        QFETCH(QString, key);
        QFETCH(QString, value);
        QFETCH(int, line);
        QFETCH(QString, notice);
        QFETCH(QString, reason);
        testkit::Bench bench;
        const QStringList file = bench.writeFirmware();
        bench.addAdapter(0);
        bench.addModule(1, {{key, value}});
        bench.addModule(2);
        bench.writeConfig();
        const testkit::RunResult run = runIn(bench, bench.autoArgs());
        VERIFY_RUN(run, 2);
        const QString quotedLine = debugQuoted(file[line]) + ' ';
        QCOMPARE(run.countErr("\"\" " + notice + ", repeating line: " + quotedLine), 9);
        QCOMPARE(run.countErr("\"\" " + notice + ", giving up line: " + quotedLine), 1);
        QCOMPARE(run.countErr("\"\" Module 208 not updated: " + reason + ' '), 1);
        QVERIFY(run.errLines.contains("Error: Modules not updated: 208"));
        // The module given up leaves nothing behind: the next one's pass
        // starts at the first line.
        VERIFY_WHOLE_FILE(phaseLines(run, "Flash", 0x210), file);
        VERIFY_WHOLE_FILE(phaseLines(run, "Compare", 0x210), file);
        QVERIFY(run.imageEqual(2));
    }

    // A module that refuses the header after another module was given up must
    // not have been sent any line of the file before it.
    void versionErrorAfterGivenUpModuleSendsNoStrayLine()
    {
        testkit::Bench bench;
        const QStringList file = bench.writeFirmware();
        bench.addAdapter(0);
        bench.addModule(1, {{"die_at_line", "4"}});
        bench.addModule(2, {{"version_error", "0x97"}});
        bench.writeConfig();
        const testkit::RunResult run = runIn(bench, bench.autoArgs());
        VERIFY_RUN(run, 2);
        QCOMPARE(phaseLines(run, "Flash", 0x210).size(), 1);
        QVERIFY(phaseLines(run, "Flash", 0x210).constFirst().endsWith(shown(file[0])));
        QCOMPARE(run.countErr("Error: GeneralProjectVersion "), 1);
        QFile image(bench.imagePath(2));
        QVERIFY(image.open(QIODevice::ReadOnly));
        // A data record may be the image's first line.
        QVERIFY2(!('\n' + image.readAll()).contains("\nS3"), "the refusing module holds data");
    }

    // Without CLOSE_AUTO: the verdict comes before the prompt to close.
    void moduleNeverReadyIsGivenUp()
    {
        testkit::Bench bench;
        bench.writeFirmware();
        bench.addAdapter(0);
        bench.addModule(1, {{"never_ready", "true"}});
        bench.writeConfig();
        QStringList args = bench.autoArgs();
        args.removeLast();
        const testkit::RunResult run = runIn(bench, args);
        VERIFY_RUN(run, 2);
        QCOMPARE(run.countErr("\"\" Module 208 not updated: no ready report within 10 seconds "), 1);
        QVERIFY(run.progressLines().isEmpty());
        const qsizetype verdict = run.errLines.indexOf("Error: Modules not updated: 208");
        QVERIFY2(verdict >= 0 && verdict < run.errLines.indexOf("Push <ENTER> key to close terminal window "),
                 qPrintable(run.describe()));
    }

    void noLogOnAfterRestartIsGivenUp()
    {
        testkit::Bench bench;
        bench.writeFirmware();
        bench.addAdapter(0);
        bench.addModule(1, {{"no_logon_after_restart", "true"}});
        bench.writeConfig();
        const testkit::RunResult run = runIn(bench, bench.autoArgs());
        VERIFY_RUN(run, 2);
        QCOMPARE(run.countOut("PostFlash "), 1);
        QCOMPARE(run.countErr("\"\" Module 208 not updated: no log-on within 20 seconds after the restart "), 1);
        QVERIFY(run.errLines.contains("Error: Modules not updated: 208"));
    }

    void lostLogOnRequestIsAskedAgain_data()
    {
        QTest::addColumn<QString>("firstMisses");
        QTest::addColumn<QString>("secondMisses");
        QTest::newRow("alone, the start-up's request and the first repeat") << "2"
                                                                            << "";
        // The first answers at once: the request must go on for the second.
        QTest::newRow("second of two, the start-up's request") << "0"
                                                               << "1";
        QTest::newRow("second of two, two requests") << "0"
                                                     << "2";
    }

    // Modules that miss log-on requests are asked again: every module is updated.
    void lostLogOnRequestIsAskedAgain()
    {
        QFETCH(QString, firstMisses);
        QFETCH(QString, secondMisses);
        testkit::Bench bench;
        bench.writeFirmware();
        bench.addAdapter(0);
        bench.addModule(1, {{"missed_logon_requests", firstMisses}});
        if (!secondMisses.isEmpty())
            bench.addModule(2, {{"missed_logon_requests", secondMisses}});
        bench.writeConfig();
        const testkit::RunResult run = runIn(bench, bench.autoArgs());
        VERIFY_RUN(run, 0);
        QVERIFY(run.imageEqual(1));
        QVERIFY(secondMisses.isEmpty() || run.imageEqual(2));
    }

    // The controller goes bus off for good during the flash pass: the trace
    // records it, and only that excuses the missing closing sequence.
    void busOffEndsTheRun_data()
    {
        QTest::addColumn<QString>("frames");
        QTest::newRow("mid-flash") << "250";
        // The module's device information is the last frame before the bus goes.
        QTest::newRow("at the identity requests") << "137";
    }

    void busOffEndsTheRun()
    {
        QFETCH(QString, frames);
        testkit::Bench bench;
        bench.writeFirmware();
        bench.addAdapter(0, {{"bus_off_after_frames", frames}, {"bus_off_for_good", "true"}});
        bench.addModule(1);
        bench.writeConfig();
        const testkit::RunResult run = runIn(bench, bench.autoArgs());
        VERIFY_RUN(run, 2);
        QVERIFY2(run.trace.contains(" 20000040#0000000000000000\n"), qPrintable(run.describe()));
        QVERIFY(run.errLines.contains("Error: CAN-Connection lost BUSOFF"));
        QVERIFY(run.errLines.contains("Error: Modules not updated: 208"));
    }

    void scanNamesModulesAndUpdatesNothing_data()
    {
        QTest::addColumn<int>("modules");
        QTest::addColumn<int>("exitCode");
        // The third is in re-update state: it fits any file, and still must
        // not be sent an update command.
        QTest::newRow("three modules") << 3 << 0;
        QTest::newRow("none") << 0 << 2;
    }

    // The judge refuses any update command in a scan and checks the identity
    // lines against the modules' answers.
    void scanNamesModulesAndUpdatesNothing()
    {
        QFETCH(int, modules);
        QFETCH(int, exitCode);
        testkit::Bench bench;
        bench.writeFirmware();
        bench.addAdapter(0);
        for (int address = 1; address <= modules; ++address)
            bench.addModule(address, {{"name", address == 1 ? "K3B7" : "K31B7"},
                                      {"serial", "4711"},
                                      {"reupdate", address == 3 ? "true" : "false"}});
        bench.writeConfig();
        const testkit::RunResult run = runIn(bench, {"--scan", "PCAN_USB", "1000", "0"});
        VERIFY_RUN(run, exitCode);
        QCOMPARE(run.countOut("Module "), modules);
        if (modules > 0)
            QVERIFY(run.outLines.contains("Module 210: name K31B7, serial 4711, release 4.20, channel 1"));
        else
            QVERIFY(run.errLines.contains("Error: No module logged on"));
        QVERIFY(!run.out.contains("Programflash") && !run.err.contains("completed"));
    }

    void noModuleAtAll()
    {
        testkit::Bench bench;
        bench.writeFirmware();
        bench.addAdapter(0);
        bench.writeConfig();
        const testkit::RunResult run = runIn(bench, bench.autoArgs());
        VERIFY_RUN(run, 2);
        QVERIFY(run.errLines.contains("No module logged on within 10 seconds. "));
        QVERIFY(run.errLines.contains("Error: No module logged on, no module updated"));
        QVERIFY(run.progressLines().isEmpty());
    }

    void busNotOkAtStartUp()
    {
        testkit::Bench bench;
        bench.writeFirmware();
        bench.addAdapter(0, {{"bus_status", "0x10"}});
        bench.addModule(1);
        bench.writeConfig();
        const testkit::RunResult run = bench.run(bench.autoArgs());
        QCOMPARE(run.exitCode, 1);
        QVERIFY(run.errLines.contains("Error: CAN-Bus not OK: BUSOFF"));
        QVERIFY(!run.out.contains("Finish:"));
        VERIFY_WIRE(run);
    }

    void enterEndsTheRunOnlyAtTheLineFeed()
    {
        testkit::Bench bench;
        bench.writeFirmware();
        bench.addAdapter(0);
        bench.addModule(1);
        bench.writeConfig();
        QStringList args = bench.autoArgs();
        args.removeLast();
        testkit::FlasherRun &flasher = bench.start(args, false);
        QVERIFY(flasher.waitForOutput("Push <ENTER> key to close terminal window \n", QProcess::StandardError));
        flasher.process().write("abc");
        QTest::qWait(1500);
        QVERIFY(!flasher.done()); // letters alone do not end it
        flasher.process().write("\n");
        const testkit::RunResult &run = flasher.finish();
        VERIFY_RUN(run, 0);
        QVERIFY(run.imageEqual(1));
    }

    void everyStopEndsWithTheClosingSequence_data()
    {
        QTest::addColumn<QString>("point");
        QTest::addColumn<int>("signal");
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<QString>("said"); // on standard error
        const QString stopped = QStringLiteral("\"\" Module 208 not updated: the run was stopped ");
        QTest::newRow("SIGINT mid-flash") << "flash" << SIGINT << 2 << stopped;
        QTest::newRow("SIGTERM mid-flash") << "flash" << SIGTERM << 2 << stopped;
        QTest::newRow("SIGHUP mid-flash") << "flash" << SIGHUP << 2 << stopped;
        QTest::newRow("timeout pause") << "pause" << SIGINT << 2 << stopped;
        QTest::newRow("ENTER prompt") << "enter" << SIGTERM << 0 << "1  of  1 completed. ";
        QTest::newRow("scan") << "scan" << SIGINT << 2 << "Error: Scan stopped, 2 modules found";
        QTest::newRow("before any log-on")
            << "logon" << SIGHUP << 2 << "Error: Run stopped before any module logged on";
        QTest::newRow("closed output") << "pipe" << 0 << 0 << "1  of  1 completed. ";
        QTest::newRow("second signal") << "second" << SIGINT << 2
                                       << "Error: stopped at once, without the closing sequence";
    }

    // The wire shows that the stop took effect at the next wait: no line and no
    // log-on request after it but the one in flight, and the closing sequence
    // last with its pauses; a second signal ends the program without it.
    void everyStopEndsWithTheClosingSequence()
    {
        QFETCH(QString, point);
        QFETCH(int, signal);
        QFETCH(int, exitCode);
        QFETCH(QString, said);
        testkit::Bench bench;
        bench.writeFirmware();
        bench.addAdapter(0);
        if (point == QLatin1String("logon"))
            bench.addModule(1, {{"logon_delay_ms", "5000"}});
        else
            bench.addModule(1, {{"die_at_line", point == QLatin1String("pause") ? "3" : "0"}});
        if (QStringList{"flash", "pause", "scan", "second"}.contains(point))
            bench.addModule(2);
        bench.writeConfig();
        QStringList args = bench.autoArgs();
        if (point == QLatin1String("enter"))
            args.removeLast();
        if (point == QLatin1String("scan"))
            args = QStringList{"--scan", "PCAN_USB", "1000", "0"};
        testkit::RunSpec spec = bench.spec(args);
        spec.closeInput = point != QLatin1String("enter");
        if (point == QLatin1String("pipe")) {
            // A reader that takes the first lines and goes, as tee closed with Ctrl-C.
            spec.flasherArgs = args;
            spec.args =
                QStringList{"-c", "\"$0\" \"$@\" | head -c 100 > /dev/null; exit ${PIPESTATUS[0]}", spec.program}
                + args;
            spec.program = QStringLiteral("bash");
            spec.outCut = true;
        }
        testkit::FlasherRun flasher(spec);
        flasher.start();
        const QHash<QString, QByteArray> waitFor{
            {"flash", "Flash ID 208 "}, {"second", "Flash ID 208 "}, {"scan", "Module 208: name"}};
        if (waitFor.contains(point))
            QVERIFY(flasher.waitForOutput(waitFor[point]));
        else if (point == QLatin1String("pause"))
            QVERIFY(flasher.waitForOutput("\"\" Timeout, repeating line: ", QProcess::StandardError));
        else if (point == QLatin1String("enter"))
            QVERIFY(flasher.waitForOutput("Push <ENTER> key to close terminal window", QProcess::StandardError));
        else if (point == QLatin1String("logon"))
            QVERIFY(flasher.waitForOutput("tarvpcan3.dll version", QProcess::StandardError));
        if (point == QLatin1String("logon"))
            QTest::qWait(1500); // past the start-up's log-on request, into the repeats
        if (signal != 0)
            flasher.signal(signal);
        if (point == QLatin1String("second")) {
            QVERIFY(flasher.waitForOutput("\"\" Module 208 not updated: the run was stopped",
                                          QProcess::StandardError));
            flasher.signal(signal);
        }
        const testkit::RunResult run = flasher.finish();
        QVERIFY2(run.exitCode == exitCode && run.errLines.contains(said), qPrintable(run.describe()));
        QVERIFY(!run.err.contains("210 not updated: the run was stopped"));
        if (point == QLatin1String("second")) {
            // Proven on the wire: the record ends without a whole closing sequence.
            QVERIFY2(run.wire && run.wire->rule == QLatin1String("closing sequence"), qPrintable(run.describe()));
            return;
        }
        VERIFY_WIRE(run);
        if (point == QLatin1String("scan"))
            QVERIFY(!run.out.contains("not updated") && !run.err.contains("not updated"));
        if (exitCode == 0)
            QVERIFY(run.imageEqual(1));
        if (point != QLatin1String("flash"))
            return;
        QVERIFY2(run.outLines.contains("Module 208: not updated: the run was stopped")
                     && run.outLines.contains("Module 210: not updated: not reached"),
                 qPrintable(run.describe()));
        if (signal != SIGINT)
            return; // the next run updates the modules a stop left: once is enough
        const testkit::RunResult again = bench.run(bench.autoArgs());
        VERIFY_RUN(again, 0);
        QVERIFY(again.imageEqual(1) && again.imageEqual(2));
    }

    void endOfInputCountsAsEnter()
    {
        testkit::Bench bench;
        bench.writeFirmware();
        bench.addAdapter(0);
        bench.addModule(1);
        bench.writeConfig();
        QStringList args = bench.autoArgs();
        args.removeLast();
        const testkit::RunResult run = bench.run(args, "x");
        VERIFY_RUN(run, 0);
        QCOMPARE(run.countErr("Push <ENTER> key to close terminal window "), 1);
        QVERIFY(run.imageEqual(1));
    }

    void missingLibrary()
    {
        testkit::Bench bench;
        bench.writeFirmware();
        bench.addAdapter(0);
        bench.addModule(1);
        bench.writeConfig();
        const QString lonely = bench.path(QStringLiteral("tarvCanFlash"));
        QVERIFY(QFile::copy(testkit::flasherPath(), lonely));
        const testkit::RunResult run = bench.run(bench.autoArgs(), {}, lonely);
        QCOMPARE(run.exitCode, 1);
        QVERIFY(run.err.contains("tarvpcan3"));
        QCOMPARE(run.errLines.last(), QStringLiteral("Error: failed to initialize CAN-Interface PCAN_USB "));
        QVERIFY(!run.out.contains("Finish:"));
        VERIFY_WIRE(run);
    }

    void noAdapterSaysWhatToDo()
    {
        // No bench file, and a network namespace of its own with a fresh
        // sysfs, so that no SocketCAN interface of the machine is seen.
        const QString isolated = QStringLiteral("mount -t sysfs none /sys && exec \"$@\"");
        if (QProcess::execute(QStringLiteral("unshare"), {"-rnm", "sh", "-c", isolated, "sh", "true"}) != 0)
            QSKIP("no network namespace of its own for the program");
        testkit::Bench bench;
        bench.writeFirmware();
        testkit::RunSpec spec;
        spec.flasherArgs = bench.autoArgs();
        spec.args = QStringList{"-rnm", "sh", "-c", isolated, "sh", "env", "-u", "TARVCAN_CONFIG", spec.program}
                    + spec.flasherArgs;
        spec.program = QStringLiteral("unshare");
        spec.folder = bench.folder();
        const testkit::RunResult run = testkit::runFlasher(spec);
        QCOMPARE(run.exitCode, 1);
        const QStringList lines = QString::fromLocal8Bit(run.out + run.err).split(u'\n', Qt::SkipEmptyParts);
        const QString searched =
            QStringLiteral("tarvcanapi: no CAN adapter found: no bench file (TARVCAN_CONFIG, "
                           "tarvcan.ini beside the library, or /etc/tarvcanflash/tarvcan.ini), "
                           "no SocketCAN interface of a PEAK driver, ");
        QVERIFY2(lines.size() >= 2 && lines.at(lines.size() - 2).startsWith(searched),
                 qPrintable(run.describe()));
        // The front end ends the run at the first "Error:" line and shows it.
        QCOMPARE(run.count(QStringLiteral("Error:")), 1);
        QCOMPARE(lines.last(),
                 QStringLiteral("Error: failed to initialize CAN-Interface PCAN_USB - no adapter serves CAN "
                                "line 0: set one up for SocketCAN as the README says, or name one in a "
                                "bench file (TARVCAN_CONFIG) "));
        QVERIFY2(!run.err.contains("qt.canbus"), run.err.constData());
    }

    void secondLineOfTwoAdapters()
    {
        testkit::Bench bench;
        const QStringList file = bench.writeFirmware();
        bench.addAdapter(0);
        bench.addAdapter(1);
        bench.addModule(1, {{"adapter", "0"}});
        bench.addModule(2, {{"adapter", "1"}});
        bench.writeConfig();
        const testkit::RunResult run = bench.run(bench.autoArgs(1));
        VERIFY_RUN(run, 0);
        QCOMPARE(run.countErr("1  of  1 completed. "), 1);
        VERIFY_WHOLE_FILE(phaseLines(run, "Flash", 0x1210), file);
        QVERIFY(run.imageEqual(2));
        QVERIFY(!run.imageEqual(1));
    }

    void moduleSimulatorOverVirtualCan()
    {
        testkit::Bench bench;
        const QStringList file = bench.writeFirmware();
        const QString interface = testkit::freeVirtualCanInterface();
        bench.addQtAdapter(0, QStringLiteral("virtualcan"), interface);
        bench.writeConfig();
        QStringList args{"--plugin", "virtualcan", "--interface", interface, "--bitrate", "1000"};
        for (int address : {1, 3})
            args << "--module" << testkit::BenchIni::moduleOption(address, {}, bench.folder());
        testkit::ModuleSimProcess modules;
        QString problem;
        QVERIFY2(modules.start(testkit::moduleSimPath(), args, bench.path("modules.txt"), &problem),
                 qPrintable(problem));

        const testkit::RunResult run = bench.run(bench.autoArgs());
        QVERIFY(modules.stop()); // it writes the images as it ends
        VERIFY_RUN(run, 0);
        VERIFY_WHOLE_FILE(phaseLines(run, "Compare", 0x208), file);
        VERIFY_WHOLE_FILE(phaseLines(run, "Compare", 0x218), file);
        QVERIFY(bench.verifyImage(1));
        QVERIFY(bench.verifyImage(3));
    }
};

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QStringList args = QCoreApplication::arguments();
    inVirtualTime = args.removeAll(QStringLiteral("-virtual")) > 0;
    FlashTest test;
    return QTest::qExec(&test, args);
}
#include "flash_test.moc"
