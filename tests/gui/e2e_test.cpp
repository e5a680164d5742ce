// Runs of the real console program, started from the window against a
// simulated bench of two modules, as a user would start them.

#include "logwindow.h"
#include "mainwindow.h"
#include "testbench.h"
#include "wirejudge.h"

#include <QAction>
#include <QApplication>
#include <QDateTime>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRegularExpression>
#include <QSettings>
#include <QSignalSpy>
#include <QStatusBar>
#include <QTableView>
#include <QtTest>

class TestGuiEndToEnd : public QObject
{
    Q_OBJECT

private slots:
    void simulatedRunEndsGreenAtFullProgress();
    void closingDuringRunStopsCleanly();
    void scanThenRunUpdatesCheckedOnly();
};

// The firmware file of a bench of modules 1 and 3 on adapter 0.
static QString prepareBench(testkit::Bench &bench)
{
    QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, bench.path(QStringLiteral("config")));
    qputenv("XDG_CONFIG_HOME", bench.path(QStringLiteral("config")).toLocal8Bit());
    qputenv("XDG_DATA_HOME", bench.path(QStringLiteral("data")).toLocal8Bit()); // the run records
    QDir().mkpath(bench.path(QStringLiteral("fw dir")));
    bench.writeFirmware(testkit::FirmwareShape(), QStringLiteral("fw dir/K3B7_421.hex"));
    bench.addAdapter(0);
    bench.addModule(1);
    bench.addModule(3);
    if (!bench.writeConfig())
        qFatal("cannot write the bench configuration");
    qputenv("TARVCAN_CONFIG", bench.configPath().toLocal8Bit());
    return bench.firmwarePath();
}

static MainWindowHooks hooksFor(const QString &firmware)
{
    MainWindowHooks hooks;
    hooks.chooseFile = [firmware](QWidget *, const QString &, const QString &, const QString &) {
        return firmware;
    };
    // Other tests may run a tarvCanFlash right now; a warning box would block for ever.
    hooks.runningPrograms = [](QDeadlineTimer) { return std::optional<QStringList>(QStringList()); };
    return hooks;
}

// What the log window shows: both streams of the console program, merged.
static QString logWindowText()
{
    for (QWidget *top : QApplication::topLevelWidgets()) {
        if (auto *log = qobject_cast<LogWindow *>(top))
            return log->findChild<QPlainTextEdit *>(QStringLiteral("plainTextEdit"))->toPlainText();
    }
    return QString();
}

// What was said on the bus. The judge takes progress lines and notices by
// their own form from either stream.
// stopUs: when the window asked the run to stop, on the trace's clock (the wall clock).
static testkit::WireVerdict judgedWire(testkit::Bench &bench, const QString &firmware, const QString &logText,
                                       qint64 stopUs = -1)
{
    QFile trace(bench.path(QStringLiteral("trace0.log")));
    QFile file(firmware);
    if (!trace.open(QIODevice::ReadOnly) || !file.open(QIODevice::ReadOnly))
        return {-1, QStringLiteral("trace"), QStringLiteral("the trace or the firmware file cannot be read")};
    const QByteArray console = logText.toUtf8();
    testkit::WireRun run{trace.readAll(), QString(), file.readAll(), firmware, QString(), console, console, 0};
    run.stopUs = stopUs;
    return testkit::judgeWire(run);
}

static QStringList nonEmpty(const QSignalSpy &spy)
{
    QStringList texts;
    for (const QList<QVariant> &call : spy) {
        if (!call.at(0).toString().isEmpty())
            texts.append(call.at(0).toString());
    }
    return texts;
}

void TestGuiEndToEnd::simulatedRunEndsGreenAtFullProgress()
{
    testkit::Bench bench;
    QVERIFY(bench.valid());
    const QString firmware = prepareBench(bench);
    MainWindow window(hooksFor(firmware));
    window.show();
    window.findChild<QPushButton *>(QStringLiteral("logButton"))->click();
    window.findChild<QPushButton *>(QStringLiteral("pushBtnOpen"))->click();

    auto *statusBar = window.findChild<QStatusBar *>(QStringLiteral("statusBar"));
    auto *bar = window.findChild<QProgressBar *>(QStringLiteral("progressBar"));
    QSignalSpy statusSpy(statusBar, &QStatusBar::messageChanged);
    window.findChild<QPushButton *>(QStringLiteral("pushButton_2"))->click();
    QVERIFY(window.runInProgress());
    QTRY_VERIFY_WITH_TIMEOUT(!window.runInProgress(), 300000);

    QVERIFY2(QRegularExpression(QStringLiteral("^Finish: Update Process needed \\d+ seconds\\.$"))
                 .match(statusBar->currentMessage())
                 .hasMatch(),
             qPrintable(statusBar->currentMessage()));
    QCOMPARE(statusBar->styleSheet(), QStringLiteral("color: green"));
    QCOMPARE(bar->value(), 100);
    QVERIFY(window.findChild<QAction *>(QStringLiteral("actionOpen"))->isEnabled());
    QVERIFY(window.findChild<QAction *>(QStringLiteral("actionStart_firmware_flashing"))->isEnabled());
    QCOMPARE(QApplication::overrideCursor(), nullptr);

    // Both modules, one after the other, each phase announced once.
    const QStringList phases{"flashing...", "comparing...", "postflashing..."};
    QCOMPARE(nonEmpty(statusSpy).mid(0, 10),
             QStringList({"initialize CAN...", "module 208: waiting for its ready report..."}) + phases
                 + QStringList({"module 218: waiting for its ready report..."}) + phases
                 + QStringList({"waiting for the restarted modules to log on again..."}));
    QCOMPARE(bar->text(), QStringLiteral("all 2 updated"));

    const QString logText = logWindowText();
    QVERIFY(logText.contains(QStringLiteral("Flash ID 208 100.0% ")));
    QVERIFY(logText.contains(QStringLiteral("Compare ID 218 100.0% ")));
    const testkit::WireVerdict wire = judgedWire(bench, firmware, logText);
    QVERIFY2(wire.ok(), qPrintable(wire.describe()));

    // The modules hold the file: the simulator's own check of the written images.
    QVERIFY(bench.verifyImage(1));
    QVERIFY(bench.verifyImage(3));
    // And the table says so, row by row.
    const QAbstractItemModel *table = window.findChild<QTableView *>(QStringLiteral("moduleTable"))->model();
    QCOMPARE(table->rowCount(), 2);
    for (int row = 0; row < 2; ++row)
        QCOMPARE(table->index(row, 4).data().toString(), QStringLiteral("updated"));
}

void TestGuiEndToEnd::closingDuringRunStopsCleanly()
{
    testkit::Bench bench;
    QVERIFY(bench.valid());
    const QString firmware = prepareBench(bench);
    MainWindowHooks hooks = hooksFor(firmware);
    int questions = 0;
    hooks.confirmStop = [&questions](QWidget *, const QString &, const QString &) { return ++questions > 0; };
    MainWindow window(hooks);
    window.show();
    window.findChild<QPushButton *>(QStringLiteral("pushBtnOpen"))->click();
    auto *bar = window.findChild<QProgressBar *>(QStringLiteral("progressBar"));
    window.findChild<QPushButton *>(QStringLiteral("pushButton_2"))->click();
    QTRY_VERIFY_WITH_TIMEOUT(bar->value() > 0, 300000);

    const qint64 stopUs = QDateTime::currentMSecsSinceEpoch() * 1000;
    QVERIFY(!window.close());
    QCOMPARE(questions, 1);
    QTRY_VERIFY_WITH_TIMEOUT(!window.runInProgress(), 60000);
    // The window stays with the stopped run's verdict until it is closed again.
    QVERIFY(window.isVisible());
    const QString status = window.findChild<QStatusBar *>(QStringLiteral("statusBar"))->currentMessage();
    QVERIFY2(status.startsWith(QStringLiteral("Run stopped: Error: Modules not updated: ")), qPrintable(status));
    QVERIFY(window.close());
    QCOMPARE(questions, 1);
    window.findChild<QPushButton *>(QStringLiteral("logButton"))->click();
    // The console program's own account of a clean stop, not a kill; the
    // trace ends with the closing sequence.
    const QString logText = logWindowText();
    const testkit::WireVerdict wire = judgedWire(bench, firmware, logText, stopUs);
    QVERIFY2(wire.ok(), qPrintable(wire.describe()));
    QVERIFY2(logText.contains(QStringLiteral("not updated: the run was stopped")),
             qPrintable(logText.right(2000)));
    QVERIFY2(logText.contains(QStringLiteral("\nError: Modules not updated: ")), qPrintable(logText.right(2000)));
    QVERIFY2(logText.contains(QStringLiteral("\nFinish: ")), qPrintable(logText.right(2000)));
}

void TestGuiEndToEnd::scanThenRunUpdatesCheckedOnly()
{
    testkit::Bench bench;
    QVERIFY(bench.valid());
    const QString firmware = prepareBench(bench);
    MainWindow window(hooksFor(firmware));
    window.show();
    window.findChild<QPushButton *>(QStringLiteral("pushBtnOpen"))->click();
    auto *statusBar = window.findChild<QStatusBar *>(QStringLiteral("statusBar"));
    QAbstractItemModel *table = window.findChild<QTableView *>(QStringLiteral("moduleTable"))->model();

    window.findChild<QPushButton *>(QStringLiteral("pushBtnScan"))->click();
    QTRY_VERIFY_WITH_TIMEOUT(!window.runInProgress(), 300000);
    QCOMPARE(statusBar->currentMessage(), QStringLiteral("Scan: 2 modules found"));
    QCOMPARE(table->index(0, 0).data().toString(), QStringLiteral("208"));
    QCOMPARE(table->index(1, 1).data().toString(), QStringLiteral("K3B7"));

    QVERIFY(table->setData(table->index(0, 0), Qt::Unchecked, Qt::CheckStateRole));
    window.findChild<QPushButton *>(QStringLiteral("pushButton_2"))->click();
    QTRY_VERIFY_WITH_TIMEOUT(!window.runInProgress(), 300000);
    QVERIFY2(statusBar->currentMessage().startsWith(QStringLiteral("Finish:")),
             qPrintable(statusBar->currentMessage()));
    QCOMPARE(table->index(0, 4).data().toString(), QStringLiteral("skipped: not selected"));
    QCOMPARE(table->index(1, 4).data().toString(), QStringLiteral("updated"));
    QVERIFY(!bench.verifyImage(1));
    QVERIFY(bench.verifyImage(3));
}

QTEST_MAIN(TestGuiEndToEnd)
#include "e2e_test.moc"
