#include "fakeflasher.h"
#include "logwindow.h"
#include "mainwindow.h"
#include "runlog.h"

#include <QAction>
#include <QApplication>
#include <QBoxLayout>
#include <QComboBox>
#include <QFontDatabase>
#include <QFrame>
#include <QGridLayout>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRegularExpression>
#include <QScrollBar>
#include <QSettings>
#include <QSignalSpy>
#include <QStatusBar>
#include <QStyleOptionComboBox>
#include <QTableView>
#include <QTemporaryDir>
#include <QtTest>

#include <algorithm>
#include <memory>

namespace {

constexpr int runTimeoutMs = 20000;
const QString failedBar = QStringLiteral("QProgressBar::chunk { background-color: red; }");

const QByteArray validFirmware = "S00600004844521B\nS1130000000102030405060708090A0B0C0D0E0F74\nS9030000FC\n";

template <class T>
T *widget(QObject *window, const char *name)
{
    T *found = window->findChild<T *>(QLatin1String(name));
    if (!found)
        qFatal("no %s named %s", T::staticMetaObject.className(), name);
    return found;
}

LogWindow *openLogWindow()
{
    for (QWidget *top : QApplication::topLevelWidgets()) {
        if (auto *log = qobject_cast<LogWindow *>(top))
            return log;
    }
    return nullptr;
}

QString logText()
{
    return widget<QPlainTextEdit>(openLogWindow(), "plainTextEdit")->toPlainText();
}

QByteArray fileContent(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("(unreadable)");
}

QStringList itemTexts(const QComboBox *box)
{
    QStringList texts;
    for (int i = 0; i < box->count(); ++i)
        texts.append(box->itemText(i));
    return texts;
}

QStringList messages(const QSignalSpy &spy)
{
    QStringList texts;
    for (const QList<QVariant> &call : spy) {
        const QString text = call.at(0).toString();
        if (!text.isEmpty())
            texts.append(text);
    }
    return texts;
}

QList<int> values(const QSignalSpy &spy)
{
    QList<int> result;
    for (const QList<QVariant> &call : spy)
        result.append(call.at(0).toInt());
    return result;
}

} // namespace

class TestMainWindow : public QObject
{
    Q_OBJECT

private:
    struct Chooser
    {
        QStringList answers;
        QList<QStringList> calls; // caption, dir, filter
    };
    struct Warnings
    {
        QStringList titles;
        QStringList texts;
        QList<bool> answers; // answer per box; OK when the list runs out
    };

    std::unique_ptr<QTemporaryDir> temp;
    std::unique_ptr<FakeFlasher> flasher;
    int quietLineMs = 1000; // of the windows made by makeWindow
    int stopTimeoutMs = runTimeoutMs;
    Chooser chooser;
    Chooser saver;
    Warnings warnings;
    Warnings stopQuestions;
    Warnings clearQuestions;
    QString recordsDir;
    QStringList aboutTexts;
    std::optional<QStringList> running = QStringList();

    QString configFile() const
    {
        return temp->filePath(QStringLiteral("config/tarv Systemtechnik GmbH/tarvCanFlash.ini"));
    }

    QString writeFile(const QString &name, const QByteArray &content) const
    {
        const QString path = temp->filePath(name);
        QFile file(path);
        if (!file.open(QIODevice::WriteOnly))
            qFatal("cannot write %s", qPrintable(path));
        file.write(content);
        return path;
    }

    void storeSettings(const QVariantMap &values) const
    {
        QSettings stored(QSettings::IniFormat, QSettings::UserScope, QStringLiteral("tarv Systemtechnik GmbH"),
                         QStringLiteral("tarvCanFlash"));
        for (auto it = values.cbegin(); it != values.cend(); ++it)
            stored.setValue(it.key(), it.value());
    }

    std::unique_ptr<MainWindow> makeWindow(const QString &program = {})
    {
        MainWindowHooks hooks;
        hooks.chooseFile = [this](QWidget *, const QString &caption, const QString &dir, const QString &filter) {
            chooser.calls.append({caption, dir, filter});
            return chooser.answers.isEmpty() ? QString() : chooser.answers.takeFirst();
        };
        hooks.runningPrograms = [this](QDeadlineTimer) { return running; };
        hooks.confirmWarning = [this](QWidget *, const QString &title, const QString &text) {
            warnings.titles.append(title);
            warnings.texts.append(text);
            return warnings.answers.isEmpty() ? true : warnings.answers.takeFirst();
        };
        hooks.confirmStop = [this](QWidget *, const QString &title, const QString &text) {
            stopQuestions.titles.append(title);
            stopQuestions.texts.append(text);
            return stopQuestions.answers.isEmpty() ? false : stopQuestions.answers.takeFirst();
        };
        hooks.chooseSaveFile = [this](QWidget *, const QString &caption, const QString &dir,
                                      const QString &filter) {
            saver.calls.append({caption, dir, filter});
            return saver.answers.isEmpty() ? QString() : saver.answers.takeFirst();
        };
        hooks.showAbout = [this](QWidget *, const QString &, const QString &text) { aboutTexts.append(text); };
        hooks.confirmClear = [this](QWidget *, const QString &title, const QString &text) {
            clearQuestions.titles.append(title);
            clearQuestions.texts.append(text);
            return clearQuestions.answers.isEmpty() ? false : clearQuestions.answers.takeFirst();
        };
        hooks.runRecordsDir = recordsDir;
        hooks.flasherProgram = program.isEmpty() ? flasher->program() : program;
        hooks.quietLineMs = quietLineMs;
        hooks.stopTimeoutMs = stopTimeoutMs;
        return std::make_unique<MainWindow>(hooks);
    }

    void choose(MainWindow *window, const QString &path)
    {
        chooser.answers.append(path);
        widget<QAction>(window, "actionOpen")->trigger();
    }

    std::unique_ptr<MainWindow> windowWithValidFile()
    {
        auto window = makeWindow();
        choose(window.get(), writeFile(QStringLiteral("K3B7_421.hex"), validFirmware));
        return window;
    }

    static void start(MainWindow *window) { widget<QPushButton>(window, "pushButton_2")->click(); }

    static void waitForRunEnd(MainWindow *window)
    {
        QTRY_VERIFY_WITH_TIMEOUT(!window->runInProgress(), runTimeoutMs);
    }

    static void verifyIdleControls(MainWindow *window)
    {
        QVERIFY(widget<QAction>(window, "actionOpen")->isEnabled());
        QVERIFY(widget<QPushButton>(window, "pushBtnOpen")->isEnabled());
        QVERIFY(widget<QAction>(window, "actionStart_firmware_flashing")->isEnabled());
        QCOMPARE(QApplication::overrideCursor(), nullptr);
    }

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void aboutShowsEveryVersion();

    void initialForm();
    void formLayouts();
    void textsFitAtStartingSize_data();
    void textsFitAtStartingSize();
    void readSettings_data();
    void readSettings();
    void closeWritesSettings();
    void quitWritesNothing();
    void storedFileOnlyShown();
    void chooseFile_data();
    void chooseFile();
    void unreadableChoice();
    void cancelKeepsChoice();
    void laterInvalidChoiceDisablesStart();
    void validFileStoredOnClose();
    void conflictingProgramsWarnInOrder();
    void cancelAtWarningStops();
    void processListFailure();
    void logWindowPlacement();
    void logWindowToggle();
    void logWindowClosedByItself();
    void logWindowTrimAndClear();
    void logWindowEnterKeepsLog();
    void logWindowOpensAtEnd();
    void runRecordsKeepEveryRunAndScan();
    void runRecordFailureOnlyShown();
    void runPassesArguments();
    void runShowsPhasesAndFinalLine();
    void runJoinsSplitLines();
    void runShowsUtf8Output();
    void runFillsModuleTable();
    void runTwoBlankProgressLineChangesNothing();
    void scanThenStartUpdatesCheckedOnly();
    void scanWithoutModulesShowsError();
    void scanBelongsToItsBus();
    void statusShowsWholeErrorAndKeepsIt();
    void refusedFileTurnsFieldRed();
    void moduleInWorkStaysInView();
    void runDyingMidFlashLeavesNoRowInWork();
    void errorLineKillsChild();
    void unterminatedErrorWhileChildRuns();
    void startDuringRunDoesNothing();
    void cannotStart();
    void secondRunStartsAfresh();
    void childEndsWithoutFinalLine_data();
    void childEndsWithoutFinalLine();
    void logCollectsFromRunStart();
    void logSavedAfterErrorWithoutLogWindow();
    void saveLogRefused_data();
    void saveLogRefused();
    void stopQuestionDuringRun_data();
    void stopQuestionDuringRun();
    void destroyingWindowStopsChildCleanly();
};

void TestMainWindow::initTestCase()
{
    QCoreApplication::setOrganizationName(QStringLiteral("tarv Systemtechnik GmbH"));
    QCoreApplication::setApplicationName(QStringLiteral("tarv CAN Flash"));
    QStandardPaths::setTestModeEnabled(true);
}

// The window's version, and the console program's answer to --version (its
// own and its driver library's); a program that gives none says so.
void TestMainWindow::aboutShowsEveryVersion()
{
    flasher->setBody("[ \"$1\" = --version ] || exit 9\necho 'tarvCanFlash 4.0.1: x'\necho 'tarvpcan3 4.01p'");
    auto window = makeWindow();
    widget<QAction>(window.get(), "actionAbout")->trigger();
    flasher->setBody("echo 'Error: something'; exit 1");
    widget<QAction>(window.get(), "actionAbout")->trigger();
    QCOMPARE(aboutTexts.size(), 2);
    QVERIFY2(aboutTexts[0].startsWith("tarvCanFlashGui ")
                 && aboutTexts[0].endsWith("\n\ntarvCanFlash 4.0.1: x\ntarvpcan3 4.01p"),
             qPrintable(aboutTexts[0]));
    QVERIFY2(aboutTexts[1].contains(" --version gave no answer"), qPrintable(aboutTexts[1]));
}

void TestMainWindow::init()
{
    temp = std::make_unique<QTemporaryDir>();
    QVERIFY(temp->isValid());
    QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, temp->filePath(QStringLiteral("config")));
    flasher = std::make_unique<FakeFlasher>(temp->path());
    quietLineMs = 1000;
    stopTimeoutMs = runTimeoutMs;
    flasher->setBody("printf 'Finish: Update Process needed 0 seconds.'");
    chooser = {};
    saver = {};
    warnings = {};
    stopQuestions = {};
    clearQuestions = {};
    recordsDir = temp->filePath(QStringLiteral("runs"));
    aboutTexts.clear();
    running = QStringList();
}

void TestMainWindow::cleanup()
{
    if (LogWindow *log = openLogWindow())
        qWarning("log window left behind: %s", qPrintable(log->objectName()));
    // A cursor left set by a failed test must not fail the tests after it.
    while (QApplication::overrideCursor())
        QApplication::restoreOverrideCursor();
    flasher.reset();
    temp.reset();
}

void TestMainWindow::initialForm()
{
    auto window = makeWindow();
    MainWindow *w = window.get();
    QCOMPARE(w->objectName(), QStringLiteral("MainWindow"));
    QCOMPARE(w->windowTitle(), QStringLiteral("tarv CAN Flash"));
    QCOMPARE(w->sizePolicy().horizontalPolicy(), QSizePolicy::Preferred);
    QCOMPARE(w->sizePolicy().verticalPolicy(), QSizePolicy::Preferred);
    QVERIFY(w->documentMode());
    QVERIFY(w->styleSheet().isEmpty());
    QVERIFY(!w->windowIcon().isNull());
    QCOMPARE(QIcon(QStringLiteral(":/icon/images/tarvFlash64x64.ico")).actualSize(QSize(64, 64)), QSize(64, 64));

    auto *open = widget<QAction>(w, "actionOpen");
    auto *startAction = widget<QAction>(w, "actionStart_firmware_flashing");
    auto *quit = widget<QAction>(w, "actionQuit");
    QCOMPARE(open->text(), QStringLiteral("Open firmware file ..."));
    QCOMPARE(open->toolTip(), QStringLiteral("open a firmware file for flashing"));
    QCOMPARE(open->shortcut(), QKeySequence(QStringLiteral("Ctrl+O")));
    QCOMPARE(startAction->text(), QStringLiteral("Start firmware flashing"));
    QCOMPARE(startAction->shortcut(), QKeySequence(QStringLiteral("Ctrl+F")));
    QCOMPARE(quit->text(), QStringLiteral("Quit"));
    QCOMPARE(quit->shortcut(), QKeySequence(QStringLiteral("Ctrl+Q")));
    QVERIFY(open->isEnabled());
    QVERIFY(!startAction->isEnabled());
    QVERIFY(quit->isEnabled());

    auto *menuFile = widget<QMenu>(w, "menuFile");
    auto *menuAbout = widget<QMenu>(w, "menuAbout");
    QCOMPARE(menuFile->title(), QStringLiteral("File"));
    QCOMPARE(menuAbout->title(), QStringLiteral("About"));
    QCOMPARE(menuFile->actions(), (QList<QAction *>{open, startAction, quit}));
    QCOMPARE(menuAbout->actions(), (QList<QAction *>{widget<QAction>(w, "actionAbout")}));
    auto *menuBar = widget<QMenuBar>(w, "menuBar");
    QCOMPARE(menuBar->actions(), (QList<QAction *>{menuFile->menuAction(), menuAbout->menuAction()}));
    QCOMPARE(w->menuBar(), menuBar);

    QCOMPARE(widget<QGroupBox>(w, "groupBox")->title(), QStringLiteral("File Selection"));
    QCOMPARE(widget<QGroupBox>(w, "groupBox_2")->title(), QStringLiteral("Hardware Settings"));
    auto *openButton = widget<QPushButton>(w, "pushBtnOpen");
    QCOMPARE(openButton->text(), QStringLiteral("..."));
    QCOMPARE(openButton->maximumWidth(), 40);
    QVERIFY(openButton->isEnabled());
    auto *lineEdit = widget<QLineEdit>(w, "lineEdit");
    QVERIFY(lineEdit->isReadOnly());
    QVERIFY(lineEdit->text().isEmpty());

    QCOMPARE(widget<QLabel>(w, "label")->text(), QStringLiteral("Hardware Type:"));
    QCOMPARE(widget<QLabel>(w, "label_2")->text(), QStringLiteral("CAN Bitrate (kBit/s):"));
    QCOMPARE(widget<QLabel>(w, "label_3")->text(), QStringLiteral("Channel:"));

    auto *hw = widget<QComboBox>(w, "cmbBoxHwType");
    auto *rate = widget<QComboBox>(w, "cmbBoxBitRate");
    auto *chn = widget<QComboBox>(w, "cmbBoxChn");
    QCOMPARE(itemTexts(hw), QStringList({"Peak CAN USB Interface", "Peak CAN PCI Interface Cards"}));
    QCOMPARE(itemTexts(rate), QStringList({"125", "250", "1000"}));
    QStringList channels;
    for (int i = 0; i < 16; ++i)
        channels.append(QString::number(i));
    QCOMPARE(itemTexts(chn), channels);
    QCOMPARE(hw->currentIndex(), 0);
    QCOMPARE(rate->currentIndex(), 0);
    QCOMPARE(chn->currentIndex(), 0);
    QCOMPARE(chn->sizePolicy().horizontalPolicy(), QSizePolicy::Preferred);
    QCOMPARE(chn->sizePolicy().verticalPolicy(), QSizePolicy::Preferred);

    auto *startButton = widget<QPushButton>(w, "pushButton_2");
    QCOMPARE(startButton->text(), QStringLiteral("Start"));
    QVERIFY(!startButton->isEnabled());
    // Enter on a focused button presses it, as Space does.
    for (const char *name : {"pushBtnOpen", "pushButton_2", "pushBtnScan", "logButton"})
        QVERIFY2(widget<QPushButton>(w, name)->autoDefault(), name);
    auto *scanButton = widget<QPushButton>(w, "pushBtnScan");
    QCOMPARE(scanButton->text(), QStringLiteral("Scan bus"));
    QVERIFY(scanButton->isEnabled());
    auto *bar = widget<QProgressBar>(w, "progressBar");
    QVERIFY(!bar->isEnabled());
    QCOMPARE(bar->minimum(), 0);
    QCOMPARE(bar->maximum(), 100);
    QCOMPARE(bar->value(), 0);
    QVERIFY(!bar->isTextVisible());
    auto *logButton = widget<QPushButton>(w, "logButton");
    QCOMPARE(logButton->text(), QStringLiteral("show log >>"));
    QVERIFY(logButton->isEnabled());

    auto *statusBar = widget<QStatusBar>(w, "statusBar");
    QCOMPARE(w->statusBar(), statusBar);
    QVERIFY(!statusBar->isSizeGripEnabled());
    QVERIFY(statusBar->currentMessage().isEmpty());
    QCOMPARE(w->centralWidget(), widget<QWidget>(w, "centralWidget"));
}

void TestMainWindow::formLayouts()
{
    auto window = makeWindow();
    MainWindow *w = window.get();
    const auto margins = [](const QLayout *layout) { return layout->contentsMargins(); };

    auto *outer = widget<QHBoxLayout>(w, "horizontalLayout_4");
    QCOMPARE(outer->spacing(), 3);
    QCOMPARE(margins(outer), QMargins(3, 5, 3, 3));
    QCOMPARE(widget<QWidget>(w, "centralWidget")->layout(), outer);
    auto *column = widget<QVBoxLayout>(w, "verticalLayout_2");
    QCOMPARE(outer->count(), 1);
    QCOMPARE(outer->itemAt(0)->layout(), column);
    QCOMPARE(column->spacing(), 0);
    QCOMPARE(margins(column), QMargins(0, 0, 0, 0));
    QCOMPARE(column->count(), 8);
    QCOMPARE(column->itemAt(0)->widget(), widget<QGroupBox>(w, "groupBox"));
    QCOMPARE(column->itemAt(1)->widget(), widget<QGroupBox>(w, "groupBox_2"));
    QCOMPARE(column->itemAt(2)->widget(), widget<QFrame>(w, "frame"));
    QCOMPARE(column->itemAt(3)->layout(), widget<QHBoxLayout>(w, "horizontalLayout_2"));
    QCOMPARE(column->itemAt(4)->widget(), widget<QLabel>(w, "overallProgress"));
    QCOMPARE(column->itemAt(5)->widget(), widget<QLabel>(w, "scanNote"));
    QCOMPARE(column->itemAt(6)->widget(), widget<QTableView>(w, "moduleTable"));
    QCOMPARE(column->itemAt(7)->widget(), widget<QLabel>(w, "verdict"));

    auto *fileRow = widget<QHBoxLayout>(w, "horizontalLayout");
    QCOMPARE(fileRow->spacing(), 6);
    QCOMPARE(margins(fileRow), QMargins(11, 11, 11, 11));
    QCOMPARE(fileRow->itemAt(0)->widget(), widget<QPushButton>(w, "pushBtnOpen"));
    QCOMPARE(fileRow->itemAt(1)->widget(), widget<QLineEdit>(w, "lineEdit"));

    auto *grid = widget<QGridLayout>(w, "gridLayout");
    QCOMPARE(grid->horizontalSpacing(), 6);
    QCOMPARE(grid->verticalSpacing(), 6);
    QCOMPARE(margins(grid), QMargins(6, 6, 6, 6));
    const char *cells[3][2] = {{"label", "cmbBoxHwType"}, {"label_2", "cmbBoxBitRate"}, {"label_3", "cmbBoxChn"}};
    for (int row = 0; row < 3; ++row) {
        for (int col = 0; col < 2; ++col)
            QCOMPARE(grid->itemAtPosition(row, col)->widget()->objectName(), QLatin1String(cells[row][col]));
    }

    auto *frame = widget<QFrame>(w, "frame");
    QCOMPARE(frame->frameShape(), QFrame::StyledPanel);
    QCOMPARE(frame->frameShadow(), QFrame::Raised);
    QCOMPARE(frame->minimumSize(), QSize(20, 20));
    auto *runRow = widget<QHBoxLayout>(w, "horizontalLayout_3");
    QCOMPARE(runRow->spacing(), 6);
    QCOMPARE(margins(runRow), QMargins(3, 3, 3, 3));
    QCOMPARE(runRow->itemAt(0)->widget(), widget<QPushButton>(w, "pushButton_2"));
    QCOMPARE(runRow->itemAt(1)->widget(), widget<QPushButton>(w, "pushBtnScan"));
    QCOMPARE(runRow->itemAt(2)->widget(), widget<QProgressBar>(w, "progressBar"));

    auto *logRow = widget<QHBoxLayout>(w, "horizontalLayout_2");
    QCOMPARE(logRow->spacing(), 6);
    QVERIFY(logRow->itemAt(0)->spacerItem());
    QCOMPARE(logRow->itemAt(0)->spacerItem()->sizeHint(), QSize(40, 20));
    QCOMPARE(logRow->itemAt(0)->expandingDirections(), Qt::Horizontal);
    QCOMPARE(logRow->itemAt(1)->widget(), widget<QPushButton>(w, "logButton"));
    QCOMPARE(widget<QMenuBar>(w, "menuBar")->geometry().size().height() > 0, true);
}

void TestMainWindow::textsFitAtStartingSize_data()
{
    QTest::addColumn<int>("fontPixels"); // 0: the desktop's own font
    QTest::newRow("desktop font") << 0;
    QTest::newRow("small font") << 9;
    QTest::newRow("large font") << 16;
}

void TestMainWindow::textsFitAtStartingSize()
{
#if defined(__SANITIZE_THREAD__)
    // Qt lays out text with a pool of threads inside its uninstrumented
    // libraries, whose hand-overs the checker cannot see; this test has no
    // thread of its own to check.
    QSKIP("text layout runs on Qt's own thread pool");
#endif
    QFETCH(int, fontPixels);
    const QFont desktopFont = QApplication::font();
    const auto restoreFont = qScopeGuard([&] { QApplication::setFont(desktopFont); });
    if (fontPixels > 0) {
        QFont font = desktopFont;
        font.setPixelSize(fontPixels);
        QApplication::setFont(font);
    }
    auto window = makeWindow();
    window->show();
    QVERIFY(QTest::qWaitForWindowExposed(window.get()));
    // Without a stored size the window starts at its smallest, and may grow both ways.
    QCOMPARE(window->size(), window->minimumSize());
    QCOMPARE(window->maximumSize(), QSize(QWIDGETSIZE_MAX, QWIDGETSIZE_MAX));
    QVERIFY(window->minimumHeight() >= 430);
    QVERIFY(window->minimumWidth() >= 320);
    if (fontPixels == 9) // small fonts keep the form's own size
        QCOMPARE(window->size(), QSize(320, 430));

    QStringList cut;
    const auto check = [&cut](const QString &text, const QFontMetrics &metrics, const QRect &room) {
        const QSize needed(metrics.horizontalAdvance(text), metrics.height());
        if (needed.width() > room.width() || needed.height() > room.height())
            cut.append(QStringLiteral("'%1' needs %2x%3, has %4x%5")
                           .arg(text)
                           .arg(needed.width())
                           .arg(needed.height())
                           .arg(room.width())
                           .arg(room.height()));
    };
    for (const char *name : {"label", "label_2", "label_3"}) {
        const QLabel *label = widget<QLabel>(window.get(), name);
        check(label->text(), label->fontMetrics(), label->contentsRect());
    }
    for (const char *name : {"cmbBoxHwType", "cmbBoxBitRate", "cmbBoxChn"}) {
        const QComboBox *box = widget<QComboBox>(window.get(), name);
        QStyleOptionComboBox option;
        option.initFrom(box);
        option.frame = box->hasFrame();
        option.subControls = QStyle::SC_All;
        // Any item may be the current one, drawn with a pixel to spare on either side of the edit field.
        const QRect field =
            box->style()->subControlRect(QStyle::CC_ComboBox, &option, QStyle::SC_ComboBoxEditField, box);
        for (const QString &text : itemTexts(box))
            check(text, box->fontMetrics(), field.adjusted(1, 0, -1, 0));
    }
    QVERIFY2(cut.isEmpty(), qPrintable(cut.join(QStringLiteral("; "))));
}

void TestMainWindow::readSettings_data()
{
    QTest::addColumn<QVariantMap>("stored");
    QTest::addColumn<int>("hardware");
    QTest::addColumn<int>("bitRate");
    QTest::addColumn<int>("channel");

    QTest::newRow("first start") << QVariantMap{} << 0 << 0 << 0;
    QTest::newRow("PCI") << QVariantMap{{"CAN/Hardware", "PCI"}} << 1 << 0 << 0;
    QTest::newRow("USB") << QVariantMap{{"CAN/Hardware", "USB"}} << 0 << 0 << 0;
    QTest::newRow("unknown hardware") << QVariantMap{{"CAN/Hardware", "LAN"}} << 0 << 0 << 0;
    QTest::newRow("1000") << QVariantMap{{"CAN/BitRate", "1000"}} << 0 << 2 << 0;
    QTest::newRow("250") << QVariantMap{{"CAN/BitRate", "250"}} << 0 << 1 << 0;
    QTest::newRow("25 is in 125") << QVariantMap{{"CAN/BitRate", "25"}} << 0 << 0 << 0;
    QTest::newRow("channel 7") << QVariantMap{{"CAN/Channel", 7}} << 0 << 0 << 7;
    QTest::newRow("channel 15") << QVariantMap{{"CAN/Channel", 15}} << 0 << 0 << 15;
    QTest::newRow("channel 16") << QVariantMap{{"CAN/Channel", 16}} << 0 << 0 << 0;
    QTest::newRow("channel -1") << QVariantMap{{"CAN/Channel", -1}} << 0 << 0 << 0;
    QTest::newRow("channel word") << QVariantMap{{"CAN/Channel", "three"}} << 0 << 0 << 0;
    QTest::newRow("all") << QVariantMap{{"CAN/Hardware", "PCI"}, {"CAN/BitRate", "250"}, {"CAN/Channel", 3}} << 1
                         << 1 << 3;
}

void TestMainWindow::readSettings()
{
    QFETCH(QVariantMap, stored);
    storeSettings(stored);
    auto window = makeWindow();
    QTEST(widget<QComboBox>(window.get(), "cmbBoxHwType")->currentIndex(), "hardware");
    QTEST(widget<QComboBox>(window.get(), "cmbBoxBitRate")->currentIndex(), "bitRate");
    QTEST(widget<QComboBox>(window.get(), "cmbBoxChn")->currentIndex(), "channel");
}

void TestMainWindow::closeWritesSettings()
{
    auto window = makeWindow();
    window->show();
    widget<QComboBox>(window.get(), "cmbBoxHwType")->setCurrentIndex(1);
    widget<QComboBox>(window.get(), "cmbBoxBitRate")->setCurrentIndex(1);
    widget<QComboBox>(window.get(), "cmbBoxChn")->setCurrentIndex(7);
    const QSize grown = window->minimumSize() + QSize(150, 200);
    window->resize(grown);
    QVERIFY(window->close());
    window.reset();
    // The next window opens at the size the technician left.
    QCOMPARE(makeWindow()->size(), grown);

    QSettings stored(configFile(), QSettings::IniFormat);
    QCOMPARE(stored.value("CAN/Hardware").toString(), QStringLiteral("PCI"));
    QCOMPARE(stored.value("CAN/BitRate").toString(), QStringLiteral("250"));
    QCOMPARE(stored.value("CAN/Channel").toInt(), 7);
    QVERIFY(!stored.contains("DefaultHexFileName"));

    QFile raw(configFile());
    QVERIFY(raw.open(QIODevice::ReadOnly));
    QVERIFY(raw.readAll().contains("[CAN]"));
}

void TestMainWindow::quitWritesNothing()
{
    auto window = makeWindow();
    window->show();
    widget<QComboBox>(window.get(), "cmbBoxHwType")->setCurrentIndex(1);
    widget<QComboBox>(window.get(), "cmbBoxBitRate")->setCurrentIndex(1);
    widget<QComboBox>(window.get(), "cmbBoxChn")->setCurrentIndex(7);
    widget<QAction>(window.get(), "actionQuit")->trigger();
    QVERIFY(window->isVisible());
    window.reset();
    QVERIFY(!QFile::exists(configFile()));
}

void TestMainWindow::storedFileOnlyShown()
{
    const QString stored = temp->filePath(QStringLiteral("fw/K3B7_421.hex"));
    storeSettings({{"DefaultHexFileName", stored}});
    auto window = makeWindow();
    QCOMPARE(widget<QLineEdit>(window.get(), "lineEdit")->text(), QDir::toNativeSeparators(stored));
    QVERIFY(!widget<QPushButton>(window.get(), "pushButton_2")->isEnabled());
    QVERIFY(!widget<QAction>(window.get(), "actionStart_firmware_flashing")->isEnabled());

    widget<QPushButton>(window.get(), "pushBtnOpen")->click();
    QCOMPARE(chooser.calls.size(), 1);
    QCOMPARE(
        chooser.calls.at(0),
        QStringList({"Open firmware file", QDir::toNativeSeparators(stored),
                     "S-record files (*.hex *.s19 *.s28 *.s37 *.srec *.mot);;Hex Files (*.hex);;All files (*)"}));
}

void TestMainWindow::chooseFile_data()
{
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<bool>("valid");

    QTest::newRow("S0 header") << validFirmware << true;
    QTest::newRow("S0 with CR LF") << QByteArray("S00600004844521B\r\nS9030000FC\r\n") << true;
    QTest::newRow("colon") << QByteArray(":100000000C9434000C94\n") << false;
    QTest::newRow("blank") << QByteArray(" S00600004844521B\n") << false;
    QTest::newRow("S1") << QByteArray("S1130000000102030405060708090A0B0C0D0E0F74\n") << false;
    QTest::newRow("empty") << QByteArray() << false;
}

void TestMainWindow::chooseFile()
{
    QFETCH(QByteArray, content);
    QFETCH(bool, valid);
    auto window = makeWindow();
    const QString path = writeFile(QStringLiteral("firmware file.hex"), content);
    choose(window.get(), path);

    QCOMPARE(widget<QLineEdit>(window.get(), "lineEdit")->text(), QDir::toNativeSeparators(path));
    QCOMPARE(widget<QLineEdit>(window.get(), "lineEdit")->styleSheet(),
             valid ? QStringLiteral("background: lightgreen") : QStringLiteral("background: red"));
    QCOMPARE(widget<QPushButton>(window.get(), "pushButton_2")->isEnabled(), valid);
    QCOMPARE(widget<QAction>(window.get(), "actionStart_firmware_flashing")->isEnabled(), valid);
    QCOMPARE(widget<QStatusBar>(window.get(), "statusBar")->currentMessage(),
             valid ? QString() : QStringLiteral("invalid file: its first line is no S0 header record"));
    QCOMPARE(widget<QStatusBar>(window.get(), "statusBar")->styleSheet(),
             valid ? QString() : QStringLiteral("color: red"));
}

void TestMainWindow::unreadableChoice()
{
    auto window = makeWindow();
    const QString path = temp->filePath(QStringLiteral("gone.hex"));
    choose(window.get(), path);
    QCOMPARE(widget<QLineEdit>(window.get(), "lineEdit")->text(), QDir::toNativeSeparators(path));
    QCOMPARE(widget<QLineEdit>(window.get(), "lineEdit")->styleSheet(), QStringLiteral("background: red"));
    QCOMPARE(widget<QStatusBar>(window.get(), "statusBar")->currentMessage(), QStringLiteral("Cannot open file"));
    QCOMPARE(widget<QStatusBar>(window.get(), "statusBar")->styleSheet(), QStringLiteral("color: red"));
    QVERIFY(!widget<QPushButton>(window.get(), "pushButton_2")->isEnabled());
}

void TestMainWindow::cancelKeepsChoice()
{
    auto window = windowWithValidFile();
    const QString shown = widget<QLineEdit>(window.get(), "lineEdit")->text();
    choose(window.get(), QString());
    QCOMPARE(chooser.calls.size(), 2);
    QCOMPARE(chooser.calls.at(1).at(1), shown);
    QCOMPARE(widget<QLineEdit>(window.get(), "lineEdit")->text(), shown);
    QCOMPARE(widget<QLineEdit>(window.get(), "lineEdit")->styleSheet(), QStringLiteral("background: lightgreen"));
    QVERIFY(widget<QAction>(window.get(), "actionStart_firmware_flashing")->isEnabled());

    start(window.get());
    waitForRunEnd(window.get());
    QCOMPARE(flasher->arguments().value(3), temp->filePath(QStringLiteral("K3B7_421.hex")));
}

void TestMainWindow::laterInvalidChoiceDisablesStart()
{
    auto window = windowWithValidFile();
    choose(window.get(), writeFile(QStringLiteral("other.hex"), ":10000000\n"));
    QVERIFY(!widget<QPushButton>(window.get(), "pushButton_2")->isEnabled());
    QVERIFY(!widget<QAction>(window.get(), "actionStart_firmware_flashing")->isEnabled());

    // Neither the button's slot nor the action may run the refused file.
    QMetaObject::invokeMethod(window.get(), "on_pushButton_2_clicked");
    QMetaObject::invokeMethod(window.get(), "on_actionStart_firmware_flashing_triggered");
    QVERIFY(!window->runInProgress());
    QCOMPARE(flasher->startCount(), 0);

    choose(window.get(), temp->filePath(QStringLiteral("missing.hex")));
    QVERIFY(!widget<QPushButton>(window.get(), "pushButton_2")->isEnabled());
    choose(window.get(), temp->filePath(QStringLiteral("K3B7_421.hex")));
    QVERIFY(widget<QPushButton>(window.get(), "pushButton_2")->isEnabled());
    QVERIFY(widget<QAction>(window.get(), "actionStart_firmware_flashing")->isEnabled());
}

void TestMainWindow::validFileStoredOnClose()
{
    auto window = windowWithValidFile();
    window->show();
    // A later refused choice does not replace the file the next dialog should start from.
    choose(window.get(), writeFile(QStringLiteral("other.hex"), "S1\n"));
    QVERIFY(window->close());
    window.reset();
    QSettings stored(configFile(), QSettings::IniFormat);
    QCOMPARE(stored.value("DefaultHexFileName").toString(), temp->filePath(QStringLiteral("K3B7_421.hex")));
}

void TestMainWindow::conflictingProgramsWarnInOrder()
{
    running = QStringList{"bash", "tarvHvPanel.exe", "tarvCanFlashGui", "PcanView", "pcanview.exe"};
    auto window = makeWindow();
    QVERIFY(window->startAccepted());
    // Named as this system names its programs.
    QCOMPARE(warnings.titles, QStringList({"PcanView is running", "tarvHvPanel is running"}));
    QCOMPARE(warnings.texts.value(0),
             QStringLiteral("Warning: PcanView is running and can cause update problems!"));
    QVERIFY(widget<QStatusBar>(window.get(), "statusBar")->currentMessage().isEmpty());
}

void TestMainWindow::cancelAtWarningStops()
{
    running = QStringList{"tarvCanFlash", "tarvHvPanel"};
    warnings.answers = {false};
    auto window = makeWindow();
    QVERIFY(!window->startAccepted());
    QCOMPARE(warnings.titles, QStringList({"tarvCanFlash is running"}));
    window.reset();
    QVERIFY(!QFile::exists(configFile()));
}

void TestMainWindow::processListFailure()
{
    running = std::nullopt;
    auto window = makeWindow();
    QVERIFY(window->startAccepted());
    QVERIFY(warnings.titles.isEmpty());
    QCOMPARE(widget<QStatusBar>(window.get(), "statusBar")->currentMessage(),
             QStringLiteral("Cannot run system program 'tasklist'!"));
}

void TestMainWindow::logWindowPlacement()
{
    auto window = makeWindow();
    const int width = window->width();
    window->setGeometry(100, 200, width, 430);
    window->show();
    QVERIFY(QTest::qWaitForWindowExposed(window.get()));
    QCOMPARE(window->geometry(), QRect(100, 200, width, 430));
    widget<QPushButton>(window.get(), "logButton")->click();
    LogWindow *log = openLogWindow();
    QVERIFY(log);
    QVERIFY(log->isVisible());
    QCOMPARE(log->objectName(), QStringLiteral("LogWindow"));
    QCOMPARE(log->windowTitle(), QStringLiteral("Log Window"));
    QCOMPARE(log->parentWidget(), nullptr);
    QCOMPARE(log->geometry().topLeft(), QPoint(100 + width + 19, 200));
    QCOMPARE(log->height(), 430);
    // The longest progress line stands on one line, its columns in line.
    auto *view = widget<QPlainTextEdit>(log, "plainTextEdit");
    QCOMPARE(view->font(), QFontDatabase::systemFont(QFontDatabase::FixedFont));
    QCOMPARE(view->lineWrapMode(), QPlainTextEdit::NoWrap);
    const int lineWidth = view->fontMetrics().horizontalAdvance(
                              QStringLiteral("Compare ID 7ff 100.0% S21400200010111213141516171819"))
                          + 2 * int(view->document()->documentMargin());
    QVERIFY2(view->viewport()->width() >= lineWidth,
             qPrintable(QStringLiteral("%1 < %2").arg(view->viewport()->width()).arg(lineWidth)));
    window.reset();
    QCOMPARE(openLogWindow(), nullptr);
}

void TestMainWindow::logWindowToggle()
{
    auto window = makeWindow();
    window->show();
    auto *button = widget<QPushButton>(window.get(), "logButton");
    button->click();
    LogWindow *log = openLogWindow();
    QVERIFY(log && log->isVisible());
    QCOMPARE(button->text(), QStringLiteral("<< hide log"));
    log->move(700, 10);
    button->click();
    QVERIFY(log->isHidden());
    QCOMPARE(button->text(), QStringLiteral("show log >>"));
    button->click();
    QVERIFY(log->isVisible());
    QCOMPARE(openLogWindow(), log);
    QCOMPARE(log->pos(), QPoint(700, 10));
    QCOMPARE(button->text(), QStringLiteral("<< hide log"));

    window->close();
    QVERIFY(log->isHidden());
    window.reset();
}

void TestMainWindow::logWindowClosedByItself()
{
    auto window = windowWithValidFile();
    window->show();
    auto *button = widget<QPushButton>(window.get(), "logButton");
    button->click();
    LogWindow *log = openLogWindow();
    QVERIFY(log);
    QVERIFY(log->close());
    start(window.get());
    waitForRunEnd(window.get());
    QVERIFY(log->isHidden());
    QCOMPARE(button->text(), QStringLiteral("show log >>"));
    button->click();
    QVERIFY(log->isVisible());
    QCOMPARE(button->text(), QStringLiteral("<< hide log"));
    QTest::keyClick(log, Qt::Key_Escape);
    QVERIFY(log->isHidden());
    QCOMPARE(button->text(), QStringLiteral("show log >>"));
    button->click();
    QCOMPARE(logText(), QStringLiteral("Finish: Update Process needed 0 seconds."));
    window.reset();
}

void TestMainWindow::logWindowTrimAndClear()
{
    RunLog runLog;
    LogWindow log(&runLog, {}, [](QWidget *, const QString &, const QString &) { return true; });
    auto *text = widget<QPlainTextEdit>(&log, "plainTextEdit");
    auto *clear = widget<QPushButton>(&log, "pushButton");
    QCOMPARE(clear->text(), QStringLiteral("clear log"));
    QVERIFY(text->isReadOnly());
    QCOMPARE(text->minimumHeight(), 170);
    QCOMPARE(text->sizePolicy().verticalStretch(), 1);
    QCOMPARE(log.size(), QSize(381, 370));

    runLog.appendLine("Flash ID 208 37.5% S2140020\r\n");
    runLog.appendLine("   leading blanks\t\n");
    runLog.appendLine(" \r\n");
    runLog.appendLine("Error: \xc3\xa4nderung\n");
    QCOMPARE(text->toPlainText(),
             QStringLiteral("Flash ID 208 37.5% S2140020\nleading blanks\n\nError: \u00e4nderung"));
    QCOMPARE(text->document()->blockCount(), 4);

    clear->click();
    QVERIFY(text->toPlainText().isEmpty());
    QVERIFY(runLog.lines().isEmpty()); // nor saved later
    runLog.appendLine("after\n");
    QCOMPARE(text->toPlainText(), QStringLiteral("after"));
    QCOMPARE(text->document()->blockCount(), 1);
}

// Enter in the log window must never lose the record of a run; clearing asks.
void TestMainWindow::logWindowEnterKeepsLog()
{
    flasher->setBody("printf 'Flash ID 1 10.0%% S1\\nFinish: Update Process needed 0 seconds.'");
    auto window = windowWithValidFile();
    window->show();
    start(window.get());
    waitForRunEnd(window.get());
    widget<QPushButton>(window.get(), "logButton")->click();
    LogWindow *log = openLogWindow();
    QVERIFY(QTest::qWaitForWindowActive(log));
    const QString lines = QStringLiteral("Flash ID 1 10.0% S1\nFinish: Update Process needed 0 seconds.");
    QCOMPARE(logText(), lines);
    QCOMPARE(QApplication::focusWidget(), widget<QPlainTextEdit>(log, "plainTextEdit"));
    for (QWidget *target : {QApplication::focusWidget(), static_cast<QWidget *>(log)}) {
        QTest::keyClick(target, Qt::Key_Return);
        QTest::keyClick(target, Qt::Key_Enter);
    }
    QVERIFY(log->isVisible());
    QCOMPARE(logText(), lines);
    QVERIFY(clearQuestions.titles.isEmpty());

    clearQuestions.answers = {false, true};
    auto *clear = widget<QPushButton>(log, "pushButton");
    clear->click();
    QCOMPARE(logText(), lines);
    clear->click();
    QVERIFY(logText().isEmpty());
    QCOMPARE(clearQuestions.titles, QStringList({"Clear the log?", "Clear the log?"}));
    QVERIFY(clearQuestions.texts[0].endsWith(QStringLiteral("\n\nClear the log?")));
    window.reset();
}

// Many lines: the window opens on the last ones and stays at the end as more come.
void TestMainWindow::logWindowOpensAtEnd()
{
    flasher->setBody("i=0; while [ $i -lt 299 ]; do echo 'Flash ID 1 10.0% S1'; i=$((i+1)); done\n"
                     "echo 'Flash ID 1 20.0% S1'\n"
                     "gate 1\n"
                     "i=0; while [ $i -lt 50 ]; do echo \"PostFlash $i\"; i=$((i+1)); done\n");
    auto window = windowWithValidFile();
    window->show();
    start(window.get());
    QTRY_COMPARE_WITH_TIMEOUT(widget<QProgressBar>(window.get(), "progressBar")->value(), 10, runTimeoutMs);
    widget<QPushButton>(window.get(), "logButton")->click();
    auto *view = widget<QPlainTextEdit>(openLogWindow(), "plainTextEdit");
    QVERIFY(QTest::qWaitForWindowExposed(openLogWindow()));
    QScrollBar *bar = view->verticalScrollBar();
    QVERIFY(bar->maximum() > 100);
    QCOMPARE(bar->value(), bar->maximum());
    const int before = bar->maximum();
    flasher->openGate(1);
    waitForRunEnd(window.get());
    QCOMPARE(view->document()->blockCount(), 350);
    QVERIFY(bar->maximum() > before);
    QCOMPARE(bar->value(), bar->maximum());
    window.reset();
}

// Every run and every scan leaves a file of its own: when and what was
// started, every line, how it ended.
void TestMainWindow::runRecordsKeepEveryRunAndScan()
{
    auto window = makeWindow();
    const QString firmware = writeFile(QStringLiteral("my firmware K3B7_421.hex"), validFirmware);
    choose(window.get(), firmware);
    start(window.get());
    waitForRunEnd(window.get());
    flasher->setBody("printf 'Scanning\\nno module'\nexit 2");
    widget<QPushButton>(window.get(), "pushBtnScan")->click();
    waitForRunEnd(window.get());

    const QDir records(recordsDir);
    const QStringList names = records.entryList(QDir::Files, QDir::Name);
    QCOMPARE(names.size(), 2);
    const QStringList run = QString::fromUtf8(fileContent(records.filePath(names[0]))).split(u'\n');
    const QStringList scan = QString::fromUtf8(fileContent(records.filePath(names[1]))).split(u'\n');
    static const QRegularExpression started(
        QStringLiteral("^Started: \\d{4}-\\d\\d-\\d\\dT\\d\\d:\\d\\d:\\d\\d\\.\\d{3}[+-]\\d\\d:\\d\\d$"));
    QVERIFY2(started.match(run[0]).hasMatch(), qPrintable(run[0]));
    QVERIFY2(started.match(scan[0]).hasMatch(), qPrintable(scan[0]));
    QVERIFY2(run[1].startsWith("Command: ") && run[1].contains(" \"" + firmware + "\""), qPrintable(run[1]));
    QCOMPARE(run.mid(2), QStringList({"Finish: Update Process needed 0 seconds.", "Ended: exit code 0", ""}));
    QVERIFY2(scan[1].startsWith("Command: ") && scan[1].endsWith(u' ' + flasher->arguments().join(u' ')),
             qPrintable(scan[1]));
    QCOMPARE(scan.mid(2), QStringList({"Scanning", "no module", "Ended: exit code 2", ""}));

    widget<QPushButton>(window.get(), "logButton")->click();
    QCOMPARE(widget<QLabel>(openLogWindow(), "recordPlace")->text(),
             QStringLiteral("Every run is also kept in %1 (the last 100 runs), the latest as %2")
                 .arg(QDir::toNativeSeparators(recordsDir), names[1]));
    window.reset();
}

// A record that cannot be written costs the run nothing; the log window says so.
void TestMainWindow::runRecordFailureOnlyShown()
{
    recordsDir = writeFile(QStringLiteral("not a folder"), "x");
    auto window = windowWithValidFile();
    QTest::ignoreMessage(QtWarningMsg, QRegularExpression(QStringLiteral("^This run is not kept in ")));
    start(window.get());
    waitForRunEnd(window.get());
    QCOMPARE(widget<QStatusBar>(window.get(), "statusBar")->currentMessage(),
             QStringLiteral("Finish: Update Process needed 0 seconds."));
    widget<QPushButton>(window.get(), "logButton")->click();
    auto *status = widget<QLabel>(openLogWindow(), "saveStatus");
    QVERIFY(status->isVisibleTo(openLogWindow()));
    QCOMPARE(status->text(), QStringLiteral("This run is not kept in %1: cannot make the folder")
                                 .arg(QDir::toNativeSeparators(recordsDir)));
    QCOMPARE(status->styleSheet(), QStringLiteral("color: red"));
    window.reset();
}

void TestMainWindow::runPassesArguments()
{
    auto window = makeWindow();
    const QString path = writeFile(QStringLiteral("my firmware K3B7_421.hex"), validFirmware);
    choose(window.get(), path);
    widget<QComboBox>(window.get(), "cmbBoxHwType")->setCurrentIndex(1);
    widget<QComboBox>(window.get(), "cmbBoxBitRate")->setCurrentIndex(1);
    widget<QComboBox>(window.get(), "cmbBoxChn")->setCurrentIndex(3);
    widget<QAction>(window.get(), "actionStart_firmware_flashing")->trigger();
    waitForRunEnd(window.get());
    QCOMPARE(flasher->arguments(), QStringList({"PCAN_PCI", "250", "3", path, "CLOSE_AUTO"}));
    QCOMPARE(flasher->startCount(), 1);
}

void TestMainWindow::runShowsPhasesAndFinalLine()
{
    flasher->setBody("printf 'Programflash from hex file: %s\\n' \"$4\"\n"
                     "printf 'Module 1f: name K3B7, serial 1, release 4.20, channel 1\\n'\n"
                     "printf 'Flash ID 1f 42.7%% S00600004844521B\\n'\n"
                     "gate 1\n"
                     "printf 'Flash ID 1f 43.0%% S1130000\\nCompare ID 1f 0.0%% S00600004844521B\\n'\n"
                     "printf 'Compare ID 1f 100.0%% S9030000FC\\n'\n"
                     "gate 2\n"
                     "printf '\\nPostFlash \\n'\n"
                     "gate 3\n"
                     "printf '1  of  1 completed. \\nModule 1f: updated\\n'\n"
                     "printf 'Finish: Update Process needed 3 seconds.'\n");
    auto window = windowWithValidFile();
    auto *bar = widget<QProgressBar>(window.get(), "progressBar");
    auto *statusBar = widget<QStatusBar>(window.get(), "statusBar");
    QSignalSpy statusSpy(statusBar, &QStatusBar::messageChanged);
    QSignalSpy barSpy(bar, &QProgressBar::valueChanged);

    start(window.get());
    QVERIFY(window->runInProgress());
    QVERIFY(!widget<QAction>(window.get(), "actionOpen")->isEnabled());
    QVERIFY(!widget<QAction>(window.get(), "actionStart_firmware_flashing")->isEnabled());
    QVERIFY(!widget<QPushButton>(window.get(), "pushBtnOpen")->isEnabled());
    QVERIFY(!widget<QPushButton>(window.get(), "pushButton_2")->isEnabled());
    for (const char *name : {"cmbBoxHwType", "cmbBoxBitRate", "cmbBoxChn"})
        QVERIFY2(!widget<QComboBox>(window.get(), name)->isEnabled(), name);
    QVERIFY(bar->isEnabled());
    QVERIFY(QApplication::overrideCursor());
    QCOMPARE(QApplication::overrideCursor()->shape(), Qt::WaitCursor);

    // The bar is the share of the run: 42 % of the flash pass of the one
    // module due is 21 % of its two passes.
    QTRY_COMPARE_WITH_TIMEOUT(bar->value(), 21, runTimeoutMs);
    QCOMPARE(bar->text(), QStringLiteral("21 % of the run"));
    QCOMPARE(statusBar->currentMessage(), QStringLiteral("flashing..."));
    QCOMPARE(statusBar->styleSheet(), QStringLiteral("color: green"));
    flasher->openGate(1);
    QTRY_COMPARE_WITH_TIMEOUT(statusBar->currentMessage(), QStringLiteral("comparing..."), runTimeoutMs);
    QTRY_COMPARE_WITH_TIMEOUT(bar->value(), 71, runTimeoutMs);
    flasher->openGate(2);
    QTRY_COMPARE_WITH_TIMEOUT(statusBar->currentMessage(), QStringLiteral("postflashing..."), runTimeoutMs);
    QCOMPARE(statusBar->styleSheet(), QStringLiteral("color: green"));
    QCOMPARE(bar->value(), 71);
    flasher->openGate(3);
    waitForRunEnd(window.get());

    QCOMPARE(statusBar->currentMessage(), QStringLiteral("Finish: Update Process needed 3 seconds."));
    QCOMPARE(statusBar->styleSheet(), QStringLiteral("color: green"));
    QCOMPARE(messages(statusSpy), QStringList({"initialize CAN...", "module 1f: waiting for its ready report...",
                                               "flashing...", "comparing...", "postflashing...",
                                               "waiting for the restarted modules to log on again...",
                                               "Finish: Update Process needed 3 seconds."}));
    // The flash pass ended at 43 %: the module owes no more than it sent.
    QCOMPARE(values(barSpy), QList<int>({21, 71, 100}));
    QCOMPARE(bar->text(), QStringLiteral("all 1 updated"));
    QCOMPARE(bar->styleSheet(), QStringLiteral("QProgressBar::chunk { background-color: green; }"));
    QVERIFY(bar->isEnabled());
    verifyIdleControls(window.get());
}

void TestMainWindow::runJoinsSplitLines()
{
    quietLineMs = 60000; // the pauses between the pieces may stretch on a loaded machine
    flasher->setBody("printf 'Flash ID 208 3'\n"
                     "sleep 0.1\n"
                     "printf '7.5%% S2140020\\nCompare ID 208 5'\n"
                     "sleep 0.1\n"
                     "printf '0.0%% S2\\nFin'\n"
                     "sleep 0.1\n"
                     "printf 'ish: Update Process needed 1 seconds.'\n");
    auto window = windowWithValidFile();
    QSignalSpy barSpy(widget<QProgressBar>(window.get(), "progressBar"), &QProgressBar::valueChanged);
    start(window.get());
    waitForRunEnd(window.get());
    // No result line for 208: its fate is unknown, the bar full red.
    QCOMPARE(values(barSpy), QList<int>({18, 43, 100}));
    QCOMPARE(widget<QStatusBar>(window.get(), "statusBar")->currentMessage(),
             QStringLiteral("Finish: Update Process needed 1 seconds."));
}

void TestMainWindow::runShowsUtf8Output()
{
    quietLineMs = 60000;
    // "K3B7 Übergröße.hex" in UTF-8, each line cut inside a two-byte character.
    flasher->setBody(
        "printf 'Programflash from hex file: K3B7 \\303'\n"
        "sleep 0.2\n"
        "printf '\\234bergr\\303\\266\\303\\237e.hex\\nError: Firmware file \"K3B7 \\303\\234bergr\\303'\n"
        "sleep 0.2\n"
        "printf '\\266\\303\\237e.hex\" holds no S-record\\n'\n"
        "exec sleep 60\n");
    auto window = windowWithValidFile();
    widget<QPushButton>(window.get(), "logButton")->click();
    start(window.get());
    waitForRunEnd(window.get());
    const QString name = QStringLiteral("K3B7 \u00dcbergr\u00f6\u00dfe.hex");
    const QString error = QStringLiteral("Error: Firmware file \"%1\" holds no S-record").arg(name);
    QCOMPARE(widget<QStatusBar>(window.get(), "statusBar")->currentMessage(), error);
    QCOMPARE(widget<QPlainTextEdit>(openLogWindow(), "plainTextEdit")->toPlainText(),
             QStringLiteral("Programflash from hex file: ") + name + u'\n' + error);
    window.reset();
}

void TestMainWindow::runFillsModuleTable()
{
    flasher->setBody(
        "printf 'Module 208: name K3B7, serial 120035, release 4.20, channel 1\\n'\n"
        "printf 'Flash ID 208 100.0%% S1\\n'\n"
        "printf '\"\" Timeout, repeating line: \"S1\" \\n' >&2\n"
        "printf 'Compare ID 208 100.0%% S1\\n\\nPostFlash \\n'\n"
        "printf 'Module 218: name K31B7, serial 7, release 1.00, channel 1\\n'\n"
        "gate 1\n"
        "printf 'Module 208: updated\\nModule 218: skipped: firmware name K31B7 does not fit the file\\n'\n"
        "printf 'Finish: Update Process needed 3 seconds.'\n");
    auto window = windowWithValidFile();
    const QAbstractItemModel *table = widget<QTableView>(window.get(), "moduleTable")->model();
    auto *overall = widget<QLabel>(window.get(), "overallProgress");
    const auto row = [table](int r) {
        QStringList cells;
        for (int c = 0; c < table->columnCount(); ++c)
            cells.append(table->index(r, c).data().toString());
        return cells.join(u'|');
    };

    start(window.get());
    QTRY_COMPARE_WITH_TIMEOUT(table->rowCount(), 2, runTimeoutMs);
    QCOMPARE(row(0), QStringLiteral("208|K3B7|120035|4.20|restarted: result at the end of the run|1"));
    QCOMPARE(row(1), QStringLiteral("218|K31B7|7|1.00|waiting for its ready report|0"));
    // Without a scan the number of modules is not known before the end.
    QVERIFY2(overall->text().startsWith(QStringLiteral("module 2, ")), qPrintable(overall->text()));
    // The clock goes on while the console program is silent (a restart, a pause).
    const QString silentSince = overall->text();
    QTRY_VERIFY_WITH_TIMEOUT(overall->text() != silentSince, 2500);
    flasher->openGate(1);
    waitForRunEnd(window.get());
    QCOMPARE(row(0), QStringLiteral("208|K3B7|120035|4.20|updated|1"));
    QCOMPARE(row(1), QStringLiteral("218|K31B7|7|1.00|skipped: firmware name K31B7 does not fit the file|0"));
    // 218 was skipped without a line: it was never due.
    QVERIFY2(overall->text().startsWith(QStringLiteral("1 module, ")), qPrintable(overall->text()));

    flasher->setBody("printf 'Finish: Update Process needed 0 seconds.'");
    start(window.get());
    waitForRunEnd(window.get());
    QCOMPARE(table->rowCount(), 0);
}

void TestMainWindow::scanThenStartUpdatesCheckedOnly()
{
    flasher->setBody("if [ \"$1\" = --scan ]; then\n"
                     "  printf 'Module 208: name K3B7, serial 120035, release 4.20, channel 1\\n'\n"
                     "  printf 'Module 208: skipped: scanned\\n'\n"
                     "  printf 'Module 1210: name K3B7, serial 7, release 4.20, channel 1\\n'\n"
                     "  gate 1\n"
                     "  exit 0\n"
                     "fi\n"
                     "printf 'Module 208: skipped: not selected\\nModule 1210: updated\\n'\n"
                     "printf 'Finish: Update Process needed 0 seconds.'\n");
    auto window = windowWithValidFile();
    widget<QComboBox>(window.get(), "cmbBoxBitRate")->setCurrentIndex(2);
    widget<QComboBox>(window.get(), "cmbBoxChn")->setCurrentIndex(5);
    QAbstractItemModel *table = widget<QTableView>(window.get(), "moduleTable")->model();
    auto *statusBar = widget<QStatusBar>(window.get(), "statusBar");
    auto *scan = widget<QPushButton>(window.get(), "pushBtnScan");
    auto *startButton = widget<QPushButton>(window.get(), "pushButton_2");

    scan->click();
    QTRY_COMPARE_WITH_TIMEOUT(table->rowCount(), 2, runTimeoutMs);
    QVERIFY(!scan->isEnabled());
    QVERIFY(!startButton->isEnabled());
    QVERIFY(!widget<QAction>(window.get(), "actionStart_firmware_flashing")->isEnabled());
    flasher->openGate(1);
    waitForRunEnd(window.get());
    QCOMPARE(flasher->arguments(), QStringList({"--scan", "PCAN_USB", "1000", "5"}));
    QCOMPARE(statusBar->currentMessage(), QStringLiteral("Scan: 2 modules found"));
    QCOMPARE(statusBar->styleSheet(), QStringLiteral("color: green"));
    QCOMPARE(table->index(0, 4).data().toString(), QStringLiteral("waiting"));
    QVERIFY(scan->isEnabled());
    verifyIdleControls(window.get());

    QVERIFY(table->setData(table->index(0, 0), Qt::Unchecked, Qt::CheckStateRole));
    start(window.get());
    QVERIFY(!scan->isEnabled());
    waitForRunEnd(window.get());
    QCOMPARE(flasher->arguments().mid(4), QStringList({"CLOSE_AUTO", "528"}));
    QCOMPARE(table->rowCount(), 2);
    QCOMPARE(table->index(1, 4).data().toString(), QStringLiteral("updated"));

    // No box checked: nothing starts, as no list would update every module.
    QVERIFY(table->setData(table->index(1, 0), Qt::Unchecked, Qt::CheckStateRole));
    start(window.get());
    QVERIFY(!window->runInProgress());
    QCOMPARE(flasher->startCount(), 2);
    QVERIFY(statusBar->currentMessage().startsWith(QStringLiteral("No module checked")));
    QCOMPARE(statusBar->styleSheet(), QStringLiteral("color: red"));

    QVERIFY(table->index(1, 4).data(Qt::ToolTipRole).toString() == QStringLiteral("updated"));
}

void TestMainWindow::scanBelongsToItsBus()
{
    flasher->setBody("if [ \"$1\" = --scan ]; then\n"
                     "  printf 'Module 208: name K3B7, serial 1, release 4.20, channel 1\\n'\n"
                     "  printf 'Module 1210: name K3B7, serial 7, release 4.20, channel 1\\n'\n"
                     "  exit 0\n"
                     "fi\n"
                     "printf 'Module 1210: updated\\nFinish: Update Process needed 0 seconds.'\n");
    auto window = windowWithValidFile();
    window->show();
    auto *view = widget<QTableView>(window.get(), "moduleTable");
    QAbstractItemModel *table = view->model();
    auto *rate = widget<QComboBox>(window.get(), "cmbBoxBitRate");
    auto *note = widget<QLabel>(window.get(), "scanNote");
    auto *statusBar = widget<QStatusBar>(window.get(), "statusBar");
    widget<QPushButton>(window.get(), "pushBtnScan")->click();
    waitForRunEnd(window.get());
    QCOMPARE(table->rowCount(), 2);
    QVERIFY(table->setData(table->index(0, 0), Qt::Unchecked, Qt::CheckStateRole));

    // The wheel turned over the box on the way to the table: nothing changes.
    widget<QLineEdit>(window.get(), "lineEdit")->setFocus();
    for (int notch : {-120, 120}) {
        QWheelEvent wheel(QPointF(5, 5), rate->mapToGlobal(QPointF(5, 5)), {}, {0, notch}, Qt::NoButton,
                          Qt::NoModifier, Qt::NoScrollPhase, false);
        QApplication::sendEvent(rate, &wheel);
        QCOMPARE(rate->currentIndex(), 0);
    }
    QCOMPARE(table->rowCount(), 2);

    // Another bus on purpose: the scan stays as it was, marked, and Start refuses it.
    rate->setCurrentIndex(1);
    QVERIFY(!note->isHidden());
    QVERIFY(note->text().contains(QStringLiteral("125 kBit/s, channel 0")));
    QVERIFY(!view->isEnabled());
    QCOMPARE(table->index(0, 0).data(Qt::CheckStateRole).toInt(), int(Qt::Unchecked));
    start(window.get());
    QVERIFY(!window->runInProgress());
    QCOMPARE(flasher->startCount(), 1);
    QVERIFY(
        statusBar->currentMessage().startsWith(QStringLiteral("The modules listed were scanned on another bus")));
    QCOMPARE(statusBar->styleSheet(), QStringLiteral("color: red"));

    rate->setCurrentIndex(0);
    QVERIFY(note->isHidden());
    QVERIFY(view->isEnabled());
    start(window.get());
    waitForRunEnd(window.get());
    QCOMPARE(flasher->arguments().mid(4), QStringList({"CLOSE_AUTO", "528"}));
}

void TestMainWindow::statusShowsWholeErrorAndKeepsIt()
{
    const QString error =
        QStringLiteral("Error: CAN hardware PCAN_USB - no adapter on line 0: check its cable and "
                       "driver, and that no other program holds it");
    flasher->setBody("printf '" + error.toUtf8() + "\\n'\nexit 1\n");
    auto window = windowWithValidFile();
    window->show();
    start(window.get());
    waitForRunEnd(window.get());
    auto *statusBar = widget<QStatusBar>(window.get(), "statusBar");
    auto *text = widget<QLabel>(statusBar, "statusText");
    QCOMPARE(text->text(), error);
    // Wrapped over as many lines as it needs in the narrowest window.
    QTRY_VERIFY(text->height() >= text->heightForWidth(text->width()));
    QVERIFY(text->height() >= 2 * text->fontMetrics().height());
    // A menu's status tip, as the pointer passes over it, leaves the verdict.
    QStatusTipEvent tip{QString()};
    QApplication::sendEvent(widget<QMenuBar>(window.get(), "menuBar"), &tip);
    QCOMPARE(statusBar->currentMessage(), error);
}

void TestMainWindow::refusedFileTurnsFieldRed()
{
    flasher->setBody(
        "printf \"Error: Firmware file 'K3B7_421.hex' holds no data record (S1, S2 or S3)\\n\"\nexit 1\n");
    auto window = windowWithValidFile();
    start(window.get());
    waitForRunEnd(window.get());
    QCOMPARE(widget<QLineEdit>(window.get(), "lineEdit")->styleSheet(), QStringLiteral("background: red"));
}

void TestMainWindow::moduleInWorkStaysInView()
{
    flasher->setBody("for m in 201 202 203 204 205 206 207 208 209 20a 20b 20c; do\n"
                     "  printf 'Module %s: name K3B7, serial 1, release 4.20, channel 1\\n' $m\n"
                     "done\n"
                     "printf 'Flash ID 20c 10.0%% S1\\n'\ngate 1\n");
    auto window = windowWithValidFile();
    window->show();
    auto *view = widget<QTableView>(window.get(), "moduleTable");
    start(window.get());
    QTRY_COMPARE_WITH_TIMEOUT(view->model()->index(11, 4).data().toString(), QStringLiteral("flashing 10 %"),
                              runTimeoutMs);
    QVERIFY(view->viewport()->rect().contains(view->visualRect(view->model()->index(11, 4)).center()));
    flasher->openGate(1);
    waitForRunEnd(window.get());
}

void TestMainWindow::scanWithoutModulesShowsError()
{
    flasher->setBody("printf 'Error: No module logged on\\n'\nsleep 0.2\nexit 2\n");
    auto window = makeWindow();
    widget<QPushButton>(window.get(), "pushBtnScan")->click();
    waitForRunEnd(window.get());
    auto *statusBar = widget<QStatusBar>(window.get(), "statusBar");
    QCOMPARE(statusBar->currentMessage(), QStringLiteral("Error: No module logged on"));
    QCOMPARE(statusBar->styleSheet(), QStringLiteral("color: red"));
    QVERIFY(widget<QPushButton>(window.get(), "pushBtnScan")->isEnabled());
    QVERIFY(!widget<QPushButton>(window.get(), "pushButton_2")->isEnabled());
}

void TestMainWindow::runDyingMidFlashLeavesNoRowInWork()
{
    flasher->setBody("printf 'Module 208: name K3B7, serial 1, release 4.20, channel 1\\n'\n"
                     "[ \"$1\" = --scan ] &&\n"
                     "  printf 'Module 218: name K3B7, serial 2, release 4.20, channel 1\\n' && exit 0\n"
                     "printf 'Flash ID 208 50.0%% S1\\n'\n"
                     "gate 1\n"
                     "kill -9 $$\n");
    auto window = windowWithValidFile();
    const QAbstractItemModel *table = widget<QTableView>(window.get(), "moduleTable")->model();
    auto *bar = widget<QProgressBar>(window.get(), "progressBar");
    auto *scan = widget<QPushButton>(window.get(), "pushBtnScan");
    scan->click();
    waitForRunEnd(window.get());
    start(window.get());
    // Half the flash pass of the first of two modules chosen.
    QTRY_COMPARE_WITH_TIMEOUT(bar->value(), 12, runTimeoutMs);
    QCOMPARE(bar->text(), QStringLiteral("12 % of the run"));
    const QString overall = widget<QLabel>(window.get(), "overallProgress")->text();
    QVERIFY2(overall.startsWith(QStringLiteral("module 1 of 2, ")), qPrintable(overall));
    flasher->openGate(1);
    waitForRunEnd(window.get());
    for (int row = 0; row < 2; ++row) {
        QCOMPARE(table->index(row, 4).data().toString(), QStringLiteral("unknown: the program ended"));
        QCOMPARE(table->index(row, 4).data(Qt::ForegroundRole).value<QBrush>().color(), QColor(Qt::red));
    }
    QCOMPARE(bar->value(), 100);
    QCOMPARE(bar->styleSheet(), failedBar);
    QCOMPARE(bar->text(), QStringLiteral("2 of 2 not updated"));

    // A scan starts the bar afresh.
    scan->click();
    QCOMPARE(bar->value(), 0);
    QVERIFY(bar->styleSheet().isEmpty());
    QVERIFY(!bar->isTextVisible());
    waitForRunEnd(window.get());
}

void TestMainWindow::runTwoBlankProgressLineChangesNothing()
{
    flasher->setBody("printf 'Flash  ID 1f 42.7%% S1\\nFlash ID 1f 4 S1\\n'\n"
                     "gate 1\n"
                     "printf 'Finish: Update Process needed 0 seconds.'\n");
    auto window = windowWithValidFile();
    auto *bar = widget<QProgressBar>(window.get(), "progressBar");
    bar->setValue(17);
    QSignalSpy barSpy(bar, &QProgressBar::valueChanged);
    window->findChild<QPushButton *>("logButton")->click();
    start(window.get());
    QTRY_COMPARE_WITH_TIMEOUT(widget<QPlainTextEdit>(openLogWindow(), "plainTextEdit")->document()->blockCount(),
                              2, runTimeoutMs);
    QCOMPARE(widget<QStatusBar>(window.get(), "statusBar")->currentMessage(), QStringLiteral("flashing..."));
    flasher->openGate(1);
    waitForRunEnd(window.get());
    // The bar starts from 0; the bare "4" is a value, the two-blank line is not.
    QCOMPARE(values(barSpy), QList<int>({0, 2, 100}));
    window.reset();
}

void TestMainWindow::errorLineKillsChild()
{
    flasher->setBody("printf 'Flash ID 1 10.0%% S1\\nError: CAN-Connection lost\\nFlash ID 1 11.0%% S1\\n'\n"
                     "exec sleep 60\n");
    auto window = windowWithValidFile();
    window->findChild<QPushButton *>("logButton")->click();
    start(window.get());
    waitForRunEnd(window.get());
    auto *statusBar = widget<QStatusBar>(window.get(), "statusBar");
    QCOMPARE(statusBar->currentMessage(), QStringLiteral("Error: CAN-Connection lost"));
    QCOMPARE(statusBar->styleSheet(), QStringLiteral("color: red"));
    QCOMPARE(widget<QLabel>(statusBar, "statusText")->text(), statusBar->currentMessage());
    QCOMPARE(widget<QProgressBar>(window.get(), "progressBar")->value(), 100);
    QCOMPARE(widget<QProgressBar>(window.get(), "progressBar")->styleSheet(), failedBar);
    QCOMPARE(widget<QProgressBar>(window.get(), "progressBar")->text(), QStringLiteral("1 of 1 not updated"));
    QVERIFY(!processAlive(flasher->pid()));
    verifyIdleControls(window.get());
    QCOMPARE(widget<QPlainTextEdit>(openLogWindow(), "plainTextEdit")->toPlainText(),
             QStringLiteral("Flash ID 1 10.0% S1\nError: CAN-Connection lost"));
    window.reset();
}

void TestMainWindow::unterminatedErrorWhileChildRuns()
{
    flasher->setBody("printf 'Flash ID 1 10.0%% S1\\nError: CAN-Connection lost BUSOFF'\n"
                     "exec sleep 60\n");
    auto window = windowWithValidFile();
    start(window.get());
    waitForRunEnd(window.get());
    QCOMPARE(widget<QStatusBar>(window.get(), "statusBar")->currentMessage(),
             QStringLiteral("Error: CAN-Connection lost BUSOFF"));
    QCOMPARE(widget<QStatusBar>(window.get(), "statusBar")->styleSheet(), QStringLiteral("color: red"));
    QVERIFY(!processAlive(flasher->pid()));
    verifyIdleControls(window.get());
}

void TestMainWindow::startDuringRunDoesNothing()
{
    flasher->setBody("printf 'Flash ID 1 10.0%% S1\\n'\n"
                     "gate 1\n"
                     "printf 'Finish: Update Process needed 0 seconds.'\n");
    auto window = windowWithValidFile();
    start(window.get());
    QTRY_COMPARE_WITH_TIMEOUT(widget<QProgressBar>(window.get(), "progressBar")->value(), 5, runTimeoutMs);
    const qint64 firstPid = flasher->pid();
    start(window.get());
    QMetaObject::invokeMethod(window.get(), "on_actionStart_firmware_flashing_triggered");
    QCOMPARE(widget<QStatusBar>(window.get(), "statusBar")->currentMessage(), QStringLiteral("flashing..."));
    flasher->openGate(1);
    waitForRunEnd(window.get());
    QCOMPARE(flasher->startCount(), 1);
    QCOMPARE(flasher->pid(), firstPid);
    verifyIdleControls(window.get());
}

void TestMainWindow::cannotStart()
{
    auto window = makeWindow(temp->filePath(QStringLiteral("no-such-folder/tarvCanFlash")));
    choose(window.get(), writeFile(QStringLiteral("K3B7_421.hex"), validFirmware));
    start(window.get());
    waitForRunEnd(window.get());
    auto *statusBar = widget<QStatusBar>(window.get(), "statusBar");
    QVERIFY2(statusBar->currentMessage().startsWith(QStringLiteral("Cannot start tarvCanFlash: ")),
             qPrintable(statusBar->currentMessage()));
    QVERIFY(statusBar->currentMessage().size() > QStringLiteral("Cannot start tarvCanFlash: ").size());
    QCOMPARE(statusBar->styleSheet(), QStringLiteral("color: red"));
    verifyIdleControls(window.get());

    // The window is not stuck: a later start tries again.
    start(window.get());
    waitForRunEnd(window.get());
    QVERIFY(statusBar->currentMessage().startsWith(QStringLiteral("Cannot start tarvCanFlash: ")));
    verifyIdleControls(window.get());
}

void TestMainWindow::secondRunStartsAfresh()
{
    flasher->setBody("printf 'Flash ID 1 100.0%% S1\\nError: GeneralProjectVersion \\n'\n");
    auto window = windowWithValidFile();
    auto *bar = widget<QProgressBar>(window.get(), "progressBar");
    start(window.get());
    waitForRunEnd(window.get());
    QCOMPARE(bar->value(), 100);
    QCOMPARE(bar->styleSheet(), failedBar);

    flasher->setBody("printf 'Flash ID 1 20.0%% S1\\n'\n"
                     "gate 1\n"
                     "printf 'Finish: Update Process needed 0 seconds.'\n");
    auto *statusBar = widget<QStatusBar>(window.get(), "statusBar");
    QSignalSpy statusSpy(statusBar, &QStatusBar::messageChanged);
    start(window.get());
    // Nothing of the failed run shows while the next one initialises.
    QCOMPARE(bar->value(), 0);
    QVERIFY(bar->styleSheet().isEmpty());
    QTRY_COMPARE_WITH_TIMEOUT(bar->value(), 10, runTimeoutMs);
    QCOMPARE(statusBar->currentMessage(), QStringLiteral("flashing..."));
    flasher->openGate(1);
    waitForRunEnd(window.get());
    QCOMPARE(messages(statusSpy),
             QStringList({"initialize CAN...", "flashing...", "Finish: Update Process needed 0 seconds."}));
}

void TestMainWindow::childEndsWithoutFinalLine_data()
{
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<QString>("message");
    QTest::addColumn<QString>("style");
    QTest::addColumn<QString>("verdict"); // the bar's text, on red

    QTest::newRow("cannot open file, exit 1") << QByteArray("printf \"Can not open file '%s'\\n\" \"$4\"\nexit 1")
                                              << "tarvCanFlash ended with exit code 1"
                                              << "color: red"
                                              << "run failed";
    QTest::newRow("exit 0 after post-flash") << QByteArray("printf 'PostFlash \\n'\nexit 0") << "postflashing..."
                                             << "color: green"
                                             << "run failed";
    QTest::newRow("killed from outside")
        << QByteArray("printf 'Flash ID 1 5.0%% S1\\n'\nkill -9 $$") << "tarvCanFlash stopped unexpectedly"
        << "color: red"
        << "1 of 1 not updated";
}

void TestMainWindow::childEndsWithoutFinalLine()
{
    QFETCH(QByteArray, body);
    flasher->setBody(body);
    auto window = windowWithValidFile();
    start(window.get());
    waitForRunEnd(window.get());
    QTEST(widget<QStatusBar>(window.get(), "statusBar")->currentMessage(), "message");
    QTEST(widget<QStatusBar>(window.get(), "statusBar")->styleSheet(), "style");
    auto *bar = widget<QProgressBar>(window.get(), "progressBar");
    QCOMPARE(bar->styleSheet(), failedBar);
    QCOMPARE(bar->value(), 100);
    QTEST(bar->text(), "verdict");
    verifyIdleControls(window.get());
}

void TestMainWindow::logCollectsFromRunStart()
{
    flasher->setBody("printf 'Programflash from hex file: x\\nFlash ID 1 10.0%% S1\\n'\n"
                     "gate 1\n"
                     "printf '  Flash ID 1 20.0%% S1\\r\\n\\nPostFlash \\n'\n"
                     "gate 2\n"
                     "printf 'Finish: Update Process needed 0 seconds.'\n");
    auto window = windowWithValidFile();
    window->show();
    start(window.get());
    QTRY_COMPARE_WITH_TIMEOUT(widget<QProgressBar>(window.get(), "progressBar")->value(), 5, runTimeoutMs);
    auto *button = widget<QPushButton>(window.get(), "logButton");
    button->click();
    button->click(); // hidden, still following
    LogWindow *log = openLogWindow();
    QVERIFY(log && log->isHidden());
    flasher->openGate(1);
    QTRY_COMPARE_WITH_TIMEOUT(widget<QStatusBar>(window.get(), "statusBar")->currentMessage(),
                              QStringLiteral("postflashing..."), runTimeoutMs);
    flasher->openGate(2);
    waitForRunEnd(window.get());
    QCOMPARE(logText(),
             QStringLiteral("Programflash from hex file: x\nFlash ID 1 10.0% S1\nFlash ID 1 20.0% S1\n\n"
                            "PostFlash\nFinish: Update Process needed 0 seconds."));
    window.reset();
}

void TestMainWindow::logSavedAfterErrorWithoutLogWindow()
{
    flasher->setBody("printf 'Programflash from hex file: K3B7_421.hex\\nFlash ID 208 10.0%% S1\\n'\n"
                     "printf 'Error: CAN-Connection lost\\n'\n"
                     "exec sleep 60\n");
    auto window = windowWithValidFile();
    start(window.get());
    waitForRunEnd(window.get());
    const QString expected = QStringLiteral(
        "Programflash from hex file: K3B7_421.hex\nFlash ID 208 10.0% S1\nError: CAN-Connection lost\n");

    widget<QPushButton>(window.get(), "logButton")->click();
    QCOMPARE(logText() + u'\n', expected);
    // An earlier, longer log at the chosen place is replaced whole.
    const QString path = writeFile(QStringLiteral("run.log"), QByteArray(1000, 'x'));
    saver.answers = {path};
    widget<QPushButton>(openLogWindow(), "saveButton")->click();
    QCOMPARE(saver.calls.size(), 1);
    QCOMPARE(fileContent(path), expected.toUtf8());
    auto *result = widget<QLabel>(openLogWindow(), "saveStatus");
    QCOMPARE(result->text(), QStringLiteral("Log saved to %1").arg(QDir::toNativeSeparators(path)));
    QVERIFY(result->styleSheet().isEmpty());
    window.reset();
}

void TestMainWindow::saveLogRefused_data()
{
    QTest::addColumn<QString>("kind");
    QTest::addColumn<QString>("message"); // %1: the chosen path

    QTest::newRow("link to a file") << "link"
                                    << "Log not saved: %1 is a symbolic link. Choose another file.";
    QTest::newRow("link to nowhere") << "dangling"
                                     << "Log not saved: %1 is a symbolic link. Choose another file.";
    QTest::newRow("folder") << "folder"
                            << "Log not saved: %1 is no regular file. Choose another file.";
    QTest::newRow("device") << "device"
                            << "Log not saved: %1 is no regular file. Choose another file.";
    QTest::newRow("missing folder") << "missing"
                                    << "Log not saved to %1: No such file or directory";
}

void TestMainWindow::saveLogRefused()
{
    QFETCH(QString, kind);
    QFETCH(QString, message);
    const QString victim = writeFile(QStringLiteral("victim.txt"), "keep me\n");
    const QString nowhere = temp->filePath(QStringLiteral("nowhere.log"));
    QString path = temp->filePath(QStringLiteral("chosen.log"));
    if (kind == QLatin1String("link"))
        QVERIFY(QFile::link(victim, path));
    else if (kind == QLatin1String("dangling"))
        QVERIFY(QFile::link(nowhere, path));
    else if (kind == QLatin1String("folder"))
        QVERIFY(QDir(temp->path()).mkdir(QStringLiteral("chosen.log")));
    else if (kind == QLatin1String("device"))
        path = QStringLiteral("/dev/null");
    else
        path = temp->filePath(QStringLiteral("no-such-folder/chosen.log"));

    auto window = makeWindow();
    widget<QPushButton>(window.get(), "logButton")->click();
    saver.answers = {path};
    widget<QPushButton>(openLogWindow(), "saveButton")->click();
    auto *result = widget<QLabel>(openLogWindow(), "saveStatus");
    QVERIFY(result->isVisibleTo(openLogWindow()));
    QCOMPARE(result->text(), message.arg(QDir::toNativeSeparators(path)));
    QCOMPARE(result->styleSheet(), QStringLiteral("color: red"));
    QCOMPARE(fileContent(victim), QByteArray("keep me\n"));
    QVERIFY(!QFile::exists(nowhere));
    window.reset();
}

void TestMainWindow::stopQuestionDuringRun_data()
{
    QTest::addColumn<bool>("viaQuit");
    QTest::addColumn<bool>("answer");
    QTest::addColumn<bool>("stopIgnored"); // then killed after the bounded wait

    QTest::newRow("close, no") << false << false << false;
    QTest::newRow("quit, no") << true << false << false;
    QTest::newRow("close, yes") << false << true << false;
    QTest::newRow("quit, yes") << true << true << false;
    QTest::newRow("close, yes, stop ignored") << false << true << true;
    QTest::newRow("quit, yes, stop ignored") << true << true << true;
}

void TestMainWindow::stopQuestionDuringRun()
{
    QFETCH(bool, viaQuit);
    QFETCH(bool, answer);
    QFETCH(bool, stopIgnored);
    if (stopIgnored)
        stopTimeoutMs = 300;
    // As the console program stops: its closing lines, then exit code 2.
    flasher->setBody(QByteArray(R"(printf 'Flash ID 208 10.0%% S1\n'
stopped() {
    printf '"" Module 208 not updated: the run was stopped \n' >&2
    printf 'Error: Modules not updated: 208\nFinish: Update Process needed 1 seconds.'
    exit 2
}
)") + (stopIgnored ? "trap term TERM\n" : "trap 'term; stopped' TERM\n")
                     + "gate 1\nprintf 'Finish: Update Process needed 0 seconds.'\n");
    auto window = windowWithValidFile();
    window->show();
    auto *bar = widget<QProgressBar>(window.get(), "progressBar");
    auto *statusBar = widget<QStatusBar>(window.get(), "statusBar");
    start(window.get());
    QTRY_COMPARE_WITH_TIMEOUT(bar->value(), 5, runTimeoutMs);

    stopQuestions.answers = {answer};
    // True when the window closed at once.
    const auto ask = [&] {
        if (!viaQuit)
            return window->close();
        widget<QAction>(window.get(), "actionQuit")->trigger();
        return false;
    };
    QVERIFY(!ask());
    QCOMPARE(stopQuestions.titles.size(), 1);
    QVERIFY(window->isVisible());
    QVERIFY(window->runInProgress());
    if (!answer) {
        flasher->openGate(1);
        waitForRunEnd(window.get());
        QCOMPARE(statusBar->currentMessage(), QStringLiteral("Finish: Update Process needed 0 seconds."));
        QVERIFY(flasher->signalsReceived().isEmpty());
        QVERIFY(window->isVisible());
        return;
    }

    QVERIFY(stopQuestions.texts.value(0).contains(QStringLiteral("module 208, the one in work")));
    QVERIFY(!ask()); // while the closing sequence runs: asked nothing, signalled nothing more
    QCOMPARE(stopQuestions.titles.size(), 1);
    waitForRunEnd(window.get());
    QCOMPARE(flasher->signalsReceived(), QStringList({"TERM"}));
    QVERIFY(!processAlive(flasher->pid()));
    // The window stays with the verdict until it is closed again, asked nothing then.
    QVERIFY(window->isVisible());
    QCOMPARE(statusBar->styleSheet(), QStringLiteral("color: red"));
    QCOMPARE(bar->styleSheet(), failedBar);
    QCOMPARE(QApplication::overrideCursor(), nullptr);
    if (!stopIgnored) {
        QCOMPARE(statusBar->currentMessage(), QStringLiteral("Run stopped: Error: Modules not updated: 208"));
        QCOMPARE(widget<QLabel>(window.get(), "verdict")->text(),
                 QStringLiteral("module 208: not updated: the run was stopped"));
    } else {
        QVERIFY(statusBar->currentMessage().startsWith(QStringLiteral("Run stopped: tarvCanFlash was ended")));
    }
    // Quit ends the event loop, which this test does not run; it writes nothing.
    QCOMPARE(ask(), !viaQuit);
    QCOMPARE(stopQuestions.titles.size(), 1);
    if (!stopIgnored) {
        widget<QPushButton>(window.get(), "logButton")->click();
        QVERIFY2(logText().endsWith(QStringLiteral("\"\" Module 208 not updated: the run was stopped\n"
                                                   "Error: Modules not updated: 208\n"
                                                   "Finish: Update Process needed 1 seconds.")),
                 qPrintable(logText()));
    }
    window.reset();
    QCOMPARE(QFile::exists(configFile()), !viaQuit);
}

void TestMainWindow::destroyingWindowStopsChildCleanly()
{
    flasher->setBody("printf 'Flash ID 1 10.0%% S1\\n'\ngate 1\n");
    auto window = windowWithValidFile();
    start(window.get());
    QTRY_COMPARE_WITH_TIMEOUT(widget<QProgressBar>(window.get(), "progressBar")->value(), 5, runTimeoutMs);
    const qint64 pid = flasher->pid();
    window.reset();
    QCOMPARE(flasher->signalsReceived(), QStringList({"TERM"}));
    QVERIFY(!processAlive(pid));
    QVERIFY(stopQuestions.titles.isEmpty());
    QCOMPARE(QApplication::overrideCursor(), nullptr);
}

QTEST_MAIN(TestMainWindow)
#include "mainwindow_test.moc"
