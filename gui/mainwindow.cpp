#include "mainwindow.h"

#include "aboutbox.h"
#include "firmwarefile.h"
#include "logplacement.h"
#include "statustexts.h"
#include "ui_mainwindow.h"

#include <QApplication>
#include <QCloseEvent>
#include <QComboBox>
#include <QDir>
#include <QHeaderView>
#include <QScreen>
#include <QStatusBar>

#include <algorithm>

// The window itself: its set-up, the choices of file and bus and their
// locks, the menus and the log window. A run's and a scan's life is in
// mainwindowrun.cpp.

MainWindow::MainWindow(MainWindowHooks windowHooks, QWidget *parent)
    : QMainWindow(parent)
    , ui(std::make_unique<Ui::MainWindow>())
    , hooks(withSystemDefaults(std::move(windowHooks)))
    , runRecord(hooks.runRecordsDir)
{
    process = new FlasherProcess(hooks.flasherProgram, hooks.quietLineMs, hooks.stopTimeoutMs, this);
    ui->setupUi(this);
    fitToTexts();
    ui->actionStart_firmware_flashing->setEnabled(false);
    setUpModuleTable();
    // In a main window a button only takes Enter when it is auto-default.
    for (QPushButton *button : {ui->pushBtnOpen, ui->pushButton_2, ui->pushBtnScan, ui->logButton})
        button->setAutoDefault(true);
    connectChild();
    clockTimer.setInterval(1000);
    connect(&clockTimer, &QTimer::timeout, this, &MainWindow::showOverallProgress);
    bars = std::make_unique<RunBars>(ui->statusBar, ui->progressBar);
    installEventFilter(this);

    settings = std::make_unique<WindowSettings>();
    settings->restoreChoices(choiceWidgets());
    settings->restoreSize(this);
    setUpChoices();
    checkRunningPrograms();
}

void MainWindow::setUpModuleTable()
{
    ui->moduleTable->setModel(&modules);
    QHeaderView *header = ui->moduleTable->horizontalHeader();
    header->setSectionResizeMode(QHeaderView::ResizeToContents);
    // The state, with a failure's reason, takes the width the others leave;
    // the short repeats column goes before it so that it never scrolls off.
    header->moveSection(ModuleTableModel::RepeatsColumn, ModuleTableModel::StateColumn);
    header->setSectionResizeMode(ModuleTableModel::StateColumn, QHeaderView::Stretch);
    connect(&modules, &QAbstractItemModel::dataChanged, this, &MainWindow::keepInWorkInView);
    connect(&modules, &QAbstractItemModel::dataChanged, this, &MainWindow::showVerdict);
    connect(&modules, &QAbstractItemModel::modelReset, this, &MainWindow::showVerdict);
}

void MainWindow::connectChild()
{
    connect(process, &QProcess::readyRead, this, &MainWindow::readFromProcess);
    connect(process, &QProcess::finished, this, &MainWindow::on_ProcessFinish);
    connect(process, &QProcess::errorOccurred, this, &MainWindow::onProcessError);
    connect(&runLog, &RunLog::lineAppended, &runRecord, &RunRecord::append);
    connect(process, &FlasherProcess::quiet, this, &MainWindow::flushPendingLine);
}

void MainWindow::setUpChoices()
{
    // A scan's boxes belong to the bus it scanned. On another adapter, bit
    // rate or line they stay as the technician left them, marked, and Start
    // refuses until the bus is scanned again or the choice goes back.
    for (QComboBox *choice : {ui->cmbBoxHwType, ui->cmbBoxBitRate, ui->cmbBoxChn}) {
        // A wheel turned over a box on the way to the table must not change the bus.
        choice->setFocusPolicy(Qt::StrongFocus);
        choice->installEventFilter(this);
        connect(choice, &QComboBox::currentIndexChanged, this, &MainWindow::showScanBus);
    }
}

ChoiceWidgets MainWindow::choiceWidgets() const
{
    return {ui->lineEdit, ui->cmbBoxHwType, ui->cmbBoxBitRate, ui->cmbBoxChn};
}

MainWindow::~MainWindow()
{
    // The child's last signals must not reach a window that is half gone.
    process->disconnect(this);
    process->endBeforeLeaving();
    if (runState != RunState::Idle)
        QApplication::restoreOverrideCursor();
    settings.reset();
    ui.reset();
    logWindow.reset();
}

void MainWindow::fitToTexts()
{
    // The form's 320 x 430 pixels were drawn for small desktop fonts; with
    // larger ones the labels and the longest adapter name would be cut. The
    // window then stays at least as large as its texts need.
    ensurePolished();
    const QSize needed = minimumSizeHint().expandedTo(minimumSize());
    setMinimumSize(needed);
    resize(needed);
}

bool MainWindow::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == this && event->type() == QEvent::StatusTip)
        return true;
    if (event->type() == QEvent::Wheel) {
        auto *box = qobject_cast<QComboBox *>(watched);
        if (box && !box->hasFocus()) {
            event->ignore();
            return true;
        }
    }
    return QMainWindow::eventFilter(watched, event);
}

void MainWindow::checkRunningPrograms()
{
    const std::optional<QStringList> running = hooks.runningPrograms(QDeadlineTimer(processListTimeoutMs));
    if (!running) {
        ui->statusBar->showMessage(tr("Cannot run system program 'tasklist'!"));
        return;
    }
#ifdef Q_OS_WIN
    constexpr bool windows = true;
#else
    constexpr bool windows = false;
#endif
    for (const QString &listed : findConflictingPrograms(*running)) {
        const QString name = shownProgramName(listed, windows);
        if (!hooks.confirmWarning(this, tr("%1 is running").arg(name),
                                  tr("Warning: %1 is running and can cause update problems!").arg(name))) {
            stopRequested = true;
            return;
        }
    }
}

void MainWindow::closeEvent(QCloseEvent *event)
{
    if (!readyToLeave()) {
        event->ignore();
        return;
    }
    settings->save(choiceWidgets(), size(), acceptedFileName);
    if (logWindow)
        logWindow->close();
    event->accept();
}

// What is installed: this window's version, and the console program's and
// its driver library's as the console program reports them.
void MainWindow::on_actionAbout_triggered()
{
    hooks.showAbout(this, tr("About tarv CAN Flash"), aboutText(hooks.flasherProgram));
}

void MainWindow::on_actionOpen_triggered()
{
    const QString chosen = hooks.chooseFile(
        this, tr("Open firmware file"), ui->lineEdit->text(),
        tr("S-record files (*.hex *.s19 *.s28 *.s37 *.srec *.mot);;Hex Files (*.hex);;All files (*)"));
    if (chosen.isEmpty())
        return;
    firmwareFileName = chosen;
    ui->lineEdit->setText(QDir::toNativeSeparators(chosen));

    switch (checkFirmwareFile(chosen)) {
    case FirmwareFileCheck::CannotOpen:
        refuseFile(tr("Cannot open file"));
        break;
    case FirmwareFileCheck::Invalid:
        refuseFile(tr("invalid file: its first line is no S0 header record"));
        break;
    case FirmwareFileCheck::Valid:
        ui->lineEdit->setStyleSheet(QStringLiteral("background: lightgreen"));
        acceptedFileName = chosen;
        setFileAccepted(true);
        modules.setFirmwareFile(chosen);
        break;
    }
}

void MainWindow::refuseFile(const QString &problem)
{
    bars->showBriefProblem(problem, 5000);
    ui->lineEdit->setStyleSheet(QStringLiteral("background: red"));
    setFileAccepted(false);
    modules.setFirmwareFile({});
}

void MainWindow::setFileAccepted(bool accepted)
{
    fileAccepted = accepted;
    ui->pushButton_2->setEnabled(accepted);
    ui->actionStart_firmware_flashing->setEnabled(accepted && runState == RunState::Idle);
}

void MainWindow::on_pushBtnOpen_clicked()
{
    on_actionOpen_triggered();
}

void MainWindow::on_pushButton_2_clicked()
{
    on_actionStart_firmware_flashing_triggered();
}

FlashChoice MainWindow::currentChoice() const
{
    return {ui->cmbBoxHwType->currentIndex(),
            ui->cmbBoxBitRate->currentText(),
            ui->cmbBoxChn->currentText(),
            firmwareFileName,
            {}};
}

void MainWindow::showOverallProgress()
{
    ui->overallProgress->setText(overallProgressText(overall.at(runClock.elapsed())));
}

void MainWindow::on_logButton_clicked()
{
    if (!logWindow) {
        logWindow = std::make_unique<LogWindow>(&runLog, hooks.chooseSaveFile, hooks.confirmClear, &runRecord);
        connect(logWindow.get(), &LogWindow::hidden, this, [this] { ui->logButton->setText(tr("show log >>")); });
        // Wide enough that a progress line does not wrap.
        logWindow->setGeometry(placeBeside(geometry(), frameGeometry(), std::max(260, logWindow->fittingWidth()),
                                           screen()->availableGeometry()));
        logWindow->show();
        ui->logButton->setText(tr("<< hide log"));
    } else if (logWindow->isHidden()) {
        logWindow->show();
        ui->logButton->setText(tr("<< hide log"));
    } else {
        logWindow->hide();
        ui->logButton->setText(tr("show log >>"));
    }
}

void MainWindow::on_actionQuit_triggered()
{
    if (!readyToLeave())
        return;
    // Ends the event loop without a close request: nothing is written.
    QCoreApplication::exit(0);
}

void MainWindow::setChoicesLocked(bool locked)
{
    for (QWidget *choice : {static_cast<QWidget *>(ui->cmbBoxHwType), static_cast<QWidget *>(ui->cmbBoxBitRate),
                            static_cast<QWidget *>(ui->cmbBoxChn)})
        choice->setEnabled(!locked);
}

MainWindow::Bus MainWindow::currentBus() const
{
    return {ui->cmbBoxHwType->currentIndex(), ui->cmbBoxBitRate->currentText(), ui->cmbBoxChn->currentText()};
}

bool MainWindow::scanFitsBus() const
{
    return !modules.scanned() || scannedBus == currentBus();
}

void MainWindow::showScanBus()
{
    const bool fits = scanFitsBus();
    ui->scanNote->setVisible(!fits);
    ui->moduleTable->setEnabled(fits);
    if (fits)
        return;
    ui->scanNote->setText(
        scanNoteText(ui->cmbBoxHwType->itemText(scannedBus.hardware), scannedBus.bitRate, scannedBus.channel));
}

void MainWindow::showVerdict()
{
    const QStringList failures = modules.failures();
    ui->verdict->setVisible(!failures.isEmpty());
    ui->verdict->setText(failures.join(u'\n'));
}

void MainWindow::keepInWorkInView()
{
    const std::optional<uint> inWork = modules.moduleInWork();
    if (runState != RunState::Idle && inWork)
        ui->moduleTable->scrollTo(modules.index(modules.rowOf(*inWork), ModuleTableModel::StateColumn));
}
