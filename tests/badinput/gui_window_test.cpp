// The front end's window meets the same bad input as the console program:
// files it refuses itself, a file it lets through that the console program
// refuses, and a file gone before the start. Every run ends with the window
// ready again and a status that tells the truth: red for a refusal. Which
// files the console program refuses is the bad-input test's; a whole run from
// the window is the front end's end-to-end test.
#include "mainwindow.h"
#include "testbench.h"

#include <QAction>
#include <QApplication>
#include <QDir>
#include <QFile>
#include <QPushButton>
#include <QSettings>
#include <QStatusBar>
#include <QTemporaryDir>
#include <QtTest>

namespace {

constexpr int RunTimeoutMs = 180000;

struct Window
{
    explicit Window(const QString &file)
    {
        MainWindowHooks hooks;
        hooks.chooseFile = [file](QWidget *, const QString &, const QString &, const QString &) { return file; };
        hooks.runningPrograms = [](QDeadlineTimer) { return std::optional<QStringList>(QStringList()); };
        hooks.flasherProgram = testkit::flasherPath();
        window = std::make_unique<MainWindow>(hooks);
        window->show();
        statusBar = window->findChild<QStatusBar *>(QStringLiteral("statusBar"));
        start = window->findChild<QPushButton *>(QStringLiteral("pushButton_2"));
        open = window->findChild<QPushButton *>(QStringLiteral("pushBtnOpen"));
    }

    bool readyForNextRun() const
    {
        return !window->runInProgress() && window->findChild<QAction *>(QStringLiteral("actionOpen"))->isEnabled()
               && QApplication::overrideCursor() == nullptr;
    }

    std::unique_ptr<MainWindow> window;
    QStatusBar *statusBar = nullptr;
    QPushButton *start = nullptr;
    QPushButton *open = nullptr;
};

} // namespace

class BadInputWindowTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void windowRefusesTheFile_data();
    void windowRefusesTheFile();
    void consoleRefusalShowsRed();
    void fileGoneBeforeTheStartShowsRed();

private:
    QTemporaryDir config_;
    testkit::Bench bench_;
};

void BadInputWindowTest::initTestCase()
{
    bench_.addAdapter(0);
    bench_.addModule(1);
    QVERIFY(config_.isValid() && bench_.valid() && bench_.writeConfig());
    QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, config_.path());
    qputenv("XDG_CONFIG_HOME", config_.path().toLocal8Bit());
    // The console program the window starts inherits the simulated bench.
    qputenv("TARVCAN_CONFIG", bench_.configPath().toLocal8Bit());
}

void BadInputWindowTest::windowRefusesTheFile_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QByteArray>("content"); // null: a folder of that name
    QTest::addColumn<QString>("message");
    QTest::newRow("binary") << "K3B7_bin.hex"
                            << QByteArray("\x7F"
                                          "ELF\x02\x01\x01\x00",
                                          8)
                            << "invalid file: its first line is no S0 header record";
    QTest::newRow("empty") << "K3B7_empty.hex" << QByteArray("")
                           << "invalid file: its first line is no S0 header record";
    QTest::newRow("directory") << "K3B7_dir.hex" << QByteArray() << "Cannot open file";
    QTest::newRow("missing") << "K3B7_none/K3B7.hex" << QByteArray("") << "Cannot open file";
}

void BadInputWindowTest::windowRefusesTheFile()
{
    QFETCH(QString, name);
    QFETCH(QByteArray, content);
    QFETCH(QString, message);
    const QString path = bench_.path(name);
    if (content.isNull())
        QVERIFY(QDir().mkpath(path));
    else if (!name.contains(u'/'))
        QVERIFY(bench_.writeFile(name, content));

    Window w(path);
    w.open->click();
    QCOMPARE(w.statusBar->currentMessage(), message);
    QVERIFY(!w.start->isEnabled());
    w.start->click();
    QVERIFY(!w.window->runInProgress());
}

// The window checks only the opening "S0"; the console program checks the
// rest before any CAN activity and the window shows its refusal.
void BadInputWindowTest::consoleRefusalShowsRed()
{
    QList<QByteArray> content = testkit::firmwareRecords({});
    content[3] = QByteArray("\x01\x02\xFF\x00\x7F", 5);
    const QString path = bench_.path(QStringLiteral("K3B7_odd.hex"));
    QVERIFY(bench_.writeFile(QStringLiteral("K3B7_odd.hex"), testkit::joined(content, "\n")));

    Window w(path);
    w.open->click();
    QVERIFY(w.start->isEnabled());
    w.start->click();
    QVERIFY(w.window->runInProgress());
    QTRY_VERIFY_WITH_TIMEOUT(w.readyForNextRun(), RunTimeoutMs);
    QVERIFY2(w.statusBar->currentMessage().startsWith(QStringLiteral("Error: Firmware file '") + path + u'\''),
             qPrintable(w.statusBar->currentMessage()));
    QCOMPARE(w.statusBar->styleSheet(), QStringLiteral("color: red"));
}

void BadInputWindowTest::fileGoneBeforeTheStartShowsRed()
{
    const QString path = bench_.path(QStringLiteral("K3B7_gone.hex"));
    QVERIFY(bench_.writeFile(QStringLiteral("K3B7_gone.hex"), testkit::joined(testkit::firmwareRecords({}))));
    Window w(path);
    w.open->click();
    QVERIFY(w.start->isEnabled());
    QVERIFY(QFile::remove(path));
    w.start->click();
    QTRY_VERIFY_WITH_TIMEOUT(w.readyForNextRun(), RunTimeoutMs);
    QCOMPARE(w.statusBar->styleSheet(), QStringLiteral("color: red"));
    QVERIFY2(!w.statusBar->currentMessage().startsWith(QStringLiteral("Finish:")),
             qPrintable(w.statusBar->currentMessage()));
}

QTEST_MAIN(BadInputWindowTest)
#include "gui_window_test.moc"
