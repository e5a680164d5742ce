#include "mainwindow.h"

#include "firmwarefile.h"
#include "flashcommand.h"
#include "frontendsettings.h"
#include "logplacement.h"
#include "ui_mainwindow.h"

#include <QApplication>
#include <QCloseEvent>
#include <QDir>
#include <QFileDialog>
#include <QHeaderView>
#include <QComboBox>
#include <QDateTime>
#include <QLabel>
#include <QLoggingCategory>
#include <QMessageBox>
#include <QScreen>
#include <QSettings>
#include <QStatusBar>

#include <algorithm>

Q_LOGGING_CATEGORY(lcConsole, "tarv.gui.console")

static MainWindowHooks withSystemDefaults(MainWindowHooks hooks)
{
    if (!hooks.chooseFile) {
        hooks.chooseFile = [](QWidget *parent, const QString &caption, const QString &dir, const QString &filter) {
            return QFileDialog::getOpenFileName(parent, caption, dir, filter);
        };
    }
    if (!hooks.runningPrograms)
        hooks.runningPrograms = systemProcessList;
    if (!hooks.confirmWarning) {
        hooks.confirmWarning = [](QWidget *parent, const QString &title, const QString &text) {
            return QMessageBox::warning(parent, title, text, QMessageBox::Ok | QMessageBox::Cancel)
                   == QMessageBox::Ok;
        };
    }
    if (!hooks.confirmStop) {
        hooks.confirmStop = [](QWidget *parent, const QString &title, const QString &text) {
            return QMessageBox::question(parent, title, text, QMessageBox::Yes | QMessageBox::No, QMessageBox::No)
                   == QMessageBox::Yes;
        };
    }
    if (!hooks.showAbout)
        hooks.showAbout = [](QWidget *parent, const QString &title, const QString &text) {
            QMessageBox::about(parent, title, text);
        };
    if (hooks.flasherProgram.isEmpty())
        hooks.flasherProgram = flasherProgramIn(QCoreApplication::applicationDirPath());
    return hooks;
}

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
    // In a main window a button only takes Enter when it is auto-default.
    for (QPushButton *button : {ui->pushBtnOpen, ui->pushButton_2, ui->pushBtnScan, ui->logButton})
        button->setAutoDefault(true);

    connect(process, &QProcess::readyRead, this, &MainWindow::readFromProcess);
    connect(process, &QProcess::finished, this, &MainWindow::on_ProcessFinish);
    connect(process, &QProcess::errorOccurred, this, &MainWindow::onProcessError);
    connect(&runLog, &RunLog::lineAppended, &runRecord, &RunRecord::append);
    connect(process, &FlasherProcess::quiet, this, &MainWindow::flushPendingLine);
    clockTimer.setInterval(1000);
    connect(&clockTimer, &QTimer::timeout, this, &MainWindow::showOverallProgress);
    // The status bar paints its message on one line and cuts it; a wrapping
    // label over its whole width shows the message instead, and the menus'
    // status tips, filtered out below, cannot replace a verdict.
    statusLabel = new QLabel(ui->statusBar);
    statusLabel->setObjectName(QStringLiteral("statusText"));
    statusLabel->setWordWrap(true);
    statusLabel->setTextInteractionFlags(Qt::TextSelectableByMouse);
    ui->statusBar->addPermanentWidget(statusLabel, 1);
    connect(ui->statusBar, &QStatusBar::messageChanged, statusLabel, &QLabel::setText);
    installEventFilter(this);

    settings = std::make_unique<QSettings>(QSettings::IniFormat, QSettings::UserScope,
                                           QString::fromLatin1(FrontEndSettings::organisation),
                                           QString::fromLatin1(FrontEndSettings::application));
    readSettings();
    restoreWindowSize();
    // A scan's boxes belong to the bus it scanned. On another adapter, bit
    // rate or line they stay as the technician left them, marked, and Start
    // refuses until the bus is scanned again or the choice goes back.
    for (QComboBox *choice : {ui->cmbBoxHwType, ui->cmbBoxBitRate, ui->cmbBoxChn}) {
        // A wheel turned over a box on the way to the table must not change the bus.
        choice->setFocusPolicy(Qt::StrongFocus);
        choice->installEventFilter(this);
        connect(choice, &QComboBox::currentIndexChanged, this, &MainWindow::showScanBus);
    }
    checkRunningPrograms();
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

void MainWindow::restoreWindowSize()
{
    const QSize stored = settings->value(QLatin1String(FrontEndSettings::windowSizeKey)).toSize();
    if (stored.isValid())
        resize(stored.expandedTo(minimumSize()));
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

void MainWindow::readSettings()
{
    using namespace FrontEndSettings;
    const QString fileName = settings->value(QLatin1String(fileKey)).toString();
    const QString hardware = settings->value(QLatin1String(hardwareKey)).toString();
    const QString bitRate = settings->value(QLatin1String(bitRateKey)).toString();
    const int channel = channelFromSetting(settings->value(QLatin1String(channelKey), 0));

    // Only the starting point of the next file dialog: Start waits for a checked choice.
    ui->lineEdit->setText(QDir::toNativeSeparators(fileName));
    const auto items = [](const QComboBox *box) {
        QStringList texts;
        for (int i = 0; i < box->count(); ++i)
            texts.append(box->itemText(i));
        return texts;
    };
    ui->cmbBoxHwType->setCurrentIndex(
        firstItemContaining(items(ui->cmbBoxHwType), hardware, ui->cmbBoxHwType->currentIndex()));
    ui->cmbBoxBitRate->setCurrentIndex(
        firstItemContaining(items(ui->cmbBoxBitRate), bitRate, ui->cmbBoxBitRate->currentIndex()));
    ui->cmbBoxChn->setCurrentIndex(channel);
}

void MainWindow::writeSettings()
{
    using namespace FrontEndSettings;
    settings->setValue(QLatin1String(hardwareKey), hardwareSetting(ui->cmbBoxHwType->currentText()));
    settings->setValue(QLatin1String(bitRateKey), ui->cmbBoxBitRate->currentText());
    settings->setValue(QLatin1String(channelKey), ui->cmbBoxChn->currentIndex());
    settings->setValue(QLatin1String(windowSizeKey), size());
    if (!acceptedFileName.isEmpty())
        settings->setValue(QLatin1String(fileKey), acceptedFileName);
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
    writeSettings();
    if (logWindow)
        logWindow->close();
    event->accept();
}

// What is installed: this window's version, and the console program's and
// its driver library's as the console program reports them.
void MainWindow::on_actionAbout_triggered()
{
    QProcess query;
    query.start(hooks.flasherProgram, {QStringLiteral("--version")});
    const bool answered = query.waitForFinished(10000) && query.exitStatus() == QProcess::NormalExit
                          && query.exitCode() == 0;
    if (query.state() != QProcess::NotRunning)
        query.kill();
    const QString console = answered ? QString::fromLocal8Bit(query.readAllStandardOutput()).trimmed()
                                     : tr("%1 --version gave no answer: %2")
                                           .arg(hooks.flasherProgram,
                                                query.error() == QProcess::UnknownError
                                                    ? QString::fromLocal8Bit(query.readAllStandardError()).trimmed()
                                                    : query.errorString());
    hooks.showAbout(this, tr("About tarv CAN Flash"),
                    tr("tarvCanFlashGui %1\n\n%2").arg(QStringLiteral(TARV_VERSION), console));
}

void MainWindow::on_actionOpen_triggered()
{
    const QString chosen =
        hooks.chooseFile(this, tr("Open firmware file"), ui->lineEdit->text(),
                         tr("S-record files (*.hex *.s19 *.s28 *.s37 *.srec *.mot);;Hex Files (*.hex);;All files (*)"));
    if (chosen.isEmpty())
        return;
    firmwareFileName = chosen;
    ui->lineEdit->setText(QDir::toNativeSeparators(chosen));

    switch (checkFirmwareFile(chosen)) {
    case FirmwareFileCheck::CannotOpen:
        ui->statusBar->setStyleSheet(QStringLiteral("color: red"));
        ui->statusBar->showMessage(tr("Cannot open file"), 5000);
        ui->lineEdit->setStyleSheet(QStringLiteral("background: red"));
        setFileAccepted(false);
        modules.setFirmwareFile({});
        break;
    case FirmwareFileCheck::Invalid:
        ui->statusBar->setStyleSheet(QStringLiteral("color: red"));
        ui->statusBar->showMessage(tr("invalid file: its first line is no S0 header record"), 5000);
        ui->lineEdit->setStyleSheet(QStringLiteral("background: red"));
        setFileAccepted(false);
        modules.setFirmwareFile({});
        break;
    case FirmwareFileCheck::Valid:
        ui->lineEdit->setStyleSheet(QStringLiteral("background: lightgreen"));
        acceptedFileName = chosen;
        setFileAccepted(true);
        modules.setFirmwareFile(chosen);
        break;
    }
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

// A run and a scan alike: no other file, run or scan, and the table's boxes
// fixed, until the child ends.
void MainWindow::beginChild(const StatusChange &status)
{
    ui->actionOpen->setEnabled(false);
    ui->pushBtnOpen->setEnabled(false);
    ui->actionStart_firmware_flashing->setEnabled(false);
    ui->pushButton_2->setEnabled(false);
    ui->pushBtnScan->setEnabled(false);
    // The child has its bus; the boxes must not show another one next to its result.
    setChoicesLocked(true);
    showStatus(status);
    monitor.startRun();
    modules.setChecksLocked(true);
    ui->overallProgress->clear();
    // Nothing of the last run's verdict shows while the next child starts.
    ui->progressBar->setValue(0);
    ui->progressBar->setStyleSheet(QString());
    ui->progressBar->setFormat(QString());
    ui->progressBar->setTextVisible(false);
}

void MainWindow::on_pushBtnScan_clicked()
{
    if (runState != RunState::Idle)
        return;
    scanning = true;
    scanError.reset();
    scannedBus = currentBus();
    modules.startScan();
    showScanBus();
    beginChild({tr("Scanning the bus..."), StatusColour::Black, false});
    runState = RunState::Running;
    QApplication::setOverrideCursor(Qt::WaitCursor);
    const FlashChoice choice = currentChoice();
    startChild(scanArguments(choice), scanNativeArguments(choice));
}

bool MainWindow::readyToLeave()
{
    // A stopped run shows its verdict; the window waits for the next close.
    if (runState == RunState::Stopping)
        return false;
    if (runState == RunState::Idle)
        return true;
    const bool stop = scanning ? hooks.confirmStop(this, tr("Stop the scan?"),
                                                   tr("A scan of the bus is going; no module is being "
                                                      "updated.\n\nStop the scan?"))
                               : hooks.confirmStop(this, tr("Stop the run?"), stopQuestion());
    // The run may have ended while the question was open.
    if (!stop || runState == RunState::Idle)
        return stop;
    stopRun();
    return false;
}

QString MainWindow::stopQuestion() const
{
    const std::optional<uint> inWork = modules.moduleInWork();
    if (!inWork)
        return tr("A run is going; no module has been named yet.\n\nStop the run?");
    return tr("A run is going. Stopping it leaves module %1, the one in work, in update mode; "
              "it must be updated again.\n\nStop the run?")
        .arg(*inWork, 0, 16);
}

void MainWindow::stopRun()
{
    runState = RunState::Stopping;
    stopError.reset();
    showStatus({tr("Stopping the run: tarvCanFlash sends its closing sequence..."), StatusColour::Black, true});
    process->askToStop();
}

void MainWindow::on_actionStart_firmware_flashing_triggered()
{
    if (runState != RunState::Idle || !fileAccepted)
        return;
    if (!scanFitsBus()) {
        showStatus({tr("The modules listed were scanned on another bus: scan the bus again, "
                       "or choose the bus of the scan"),
                    StatusColour::Red, false});
        return;
    }
    const std::optional<QString> canIds = canIdsArgument(modules.choices());
    if (!canIds) {
        showStatus({tr("No module checked: check the modules to update, or scan the bus again"),
                    StatusColour::Red, false});
        return;
    }
    modules.startRun();
    beginChild({tr("initialize CAN..."), StatusColour::Black, false});
    finalLineSeen = false;
    runClock.start();
    overall.start(0, modules.chosenIds());
    clockTimer.start();

    // The run counts as started before the child does: a start failure may be
    // reported from within start() itself and must find the cursor set.
    runState = RunState::Running;
    ui->progressBar->setEnabled(true);
    ui->progressBar->setFormat(tr("%p % of the run"));
    ui->progressBar->setTextVisible(true);
    QApplication::setOverrideCursor(Qt::WaitCursor);

    FlashChoice choice = currentChoice();
    choice.canIds = *canIds;
    startChild(flasherArguments(choice), flasherNativeArguments(choice));
}

FlashChoice MainWindow::currentChoice() const
{
    return {ui->cmbBoxHwType->currentIndex(), ui->cmbBoxBitRate->currentText(), ui->cmbBoxChn->currentText(),
            firmwareFileName, {}};
}

void MainWindow::startChild(const QStringList &arguments, const QString &nativeArguments)
{
#ifdef Q_OS_WIN
    runRecord.begin(QDateTime::currentDateTime(), commandLineText(hooks.flasherProgram, {}) + u' ' + nativeArguments);
#else
    runRecord.begin(QDateTime::currentDateTime(), commandLineText(hooks.flasherProgram, arguments));
#endif
    process->startFlasher(arguments, nativeArguments);
}

void MainWindow::readFromProcess()
{
    const QList<QByteArray> lines = process->readLines();
    for (const QByteArray &line : lines) {
        if (runState == RunState::Stopping) {
            handleClosingLine(line);
            continue;
        }
        if (runState != RunState::Running)
            return;
        handleLine(line);
    }
    process->watchPendingLine(runState == RunState::Running);
}

void MainWindow::flushPendingLine()
{
    if (runState == RunState::Running && process->hasPendingLine())
        handleLine(process->takePendingLine());
}

// A stopped run's last words name the modules left in update mode: they
// reach the table, but no line ends the run early, since the closing
// sequence is still going out.
void MainWindow::handleClosingLine(const QByteArray &line)
{
    runLog.appendLine(line);
    const LineReaction reaction = monitor.onLine(line);
    if (reaction.module && !scanning)
        modules.apply(*reaction.module);
    if (reaction.end == RunEnd::Error && !stopError)
        stopError = reaction.status->message;
}

void MainWindow::handleLine(const QByteArray &line)
{
    qCDebug(lcConsole).noquote() << statusText(line);
    runLog.appendLine(line);
    if (refusesFirmwareFile(line))
        ui->lineEdit->setStyleSheet(QStringLiteral("background: red"));

    const LineReaction reaction = monitor.onLine(line);
    if (scanning) {
        // The scan is left to end by itself: killed, it would leave the
        // modules it logged on without their closing sequence.
        if (reaction.module)
            modules.apply(*reaction.module);
        if (reaction.end == RunEnd::Error && !scanError)
            scanError = reaction.status->message;
        return;
    }
    if (reaction.module) {
        modules.apply(*reaction.module);
        overall.apply(*reaction.module, runClock.elapsed());
        if (const std::optional<int> percent = overall.percentOfRun())
            ui->progressBar->setValue(*percent);
    }
    showOverallProgress();
    if (reaction.end != RunEnd::None) {
        endRun(reaction.end, *reaction.status);
        return;
    }
    if (reaction.status)
        showStatus(*reaction.status);
}

void MainWindow::endRun(RunEnd end, const StatusChange &status)
{
    runState = RunState::Ending;
    finalLineSeen = end == RunEnd::Final;
    process->watchPendingLine(false);
    if (end == RunEnd::Error)
        process->kill();
    // Waits for the child's end; its finished signal is handled inside.
    process->close();
    finishRun();
    showStatus(status);
}

void MainWindow::on_ProcessFinish(int exitCode, QProcess::ExitStatus exitStatus)
{
    if (runState == RunState::Stopping) {
        for (const QByteArray &line : process->readLines())
            handleClosingLine(line);
        if (process->hasPendingLine())
            handleClosingLine(process->takePendingLine());
        endStoppedRun(exitCode, exitStatus);
        return;
    }
    if (runState == RunState::Running) {
        // What came with the child's end, and a last line without line feed.
        for (const QByteArray &line : process->readLines()) {
            if (runState == RunState::Running)
                handleLine(line);
        }
        if (runState == RunState::Running && process->hasPendingLine())
            handleLine(process->takePendingLine());
    }
    if (runState == RunState::Running && scanning) {
        endScan(exitCode, exitStatus);
        return;
    }
    if (runState == RunState::Running && (exitStatus == QProcess::CrashExit || exitCode != 0)) {
        // Without a final or error line the status would still read as if the run went on.
        const QString text = exitStatus == QProcess::CrashExit
                                 ? tr("tarvCanFlash stopped unexpectedly")
                                 : tr("tarvCanFlash ended with exit code %1").arg(exitCode);
        showStatus({text, StatusColour::Red, false});
    }
    finishRun();
}

void MainWindow::endStoppedRun(int exitCode, QProcess::ExitStatus exitStatus)
{
    const bool wasScan = scanning;
    finishRun();
    QString text = wasScan ? tr("Scan stopped") : tr("Run stopped");
    if (stopError)
        text += QStringLiteral(": ") + *stopError;
    else if (exitStatus == QProcess::CrashExit)
        text += tr(": tarvCanFlash was ended before its closing sequence");
    else
        text += tr(": tarvCanFlash ended with exit code %1").arg(exitCode);
    showStatus({text, StatusColour::Red, false});
}

void MainWindow::endScan(int exitCode, QProcess::ExitStatus exitStatus)
{
    finishRun();
    if (scanError)
        showStatus({*scanError, StatusColour::Red, false});
    else if (exitStatus == QProcess::CrashExit)
        showStatus({tr("tarvCanFlash stopped unexpectedly"), StatusColour::Red, false});
    else if (exitCode != 0)
        showStatus({tr("tarvCanFlash ended with exit code %1").arg(exitCode), StatusColour::Red, false});
    else
        showStatus({tr("Scan: %1 modules found").arg(modules.rowCount()), StatusColour::Green, false});
}

void MainWindow::onProcessError(QProcess::ProcessError error)
{
    if (error != QProcess::FailedToStart || runState == RunState::Idle)
        return;
    const QString reason = process->errorString();
    finishRun();
    showStatus({tr("Cannot start tarvCanFlash: ") + reason, StatusColour::Red, false});
    showProgressFailed(true);
}

void MainWindow::finishRun()
{
    if (runState == RunState::Idle)
        return;
    runRecord.end(runEndText(*process, runState != RunState::Running));
    runState = RunState::Idle;
    if (!scanning) {
        // Whatever ended the run, its verdict is the bar's end.
        modules.finishRun();
        const ModuleTableModel::Tally tally = modules.tally();
        const RunVerdict verdict = runVerdict(finalLineSeen, tally.updated, tally.notUpdated);
        ui->progressBar->setValue(100);
        ui->progressBar->setFormat(verdict.text);
        showProgressFailed(!verdict.passed);
    }
    scanning = false;
    modules.setChecksLocked(false);
    setChoicesLocked(false);
    process->watchPendingLine(false);
    clockTimer.stop();
    ui->actionStart_firmware_flashing->setEnabled(fileAccepted);
    ui->pushButton_2->setEnabled(fileAccepted);
    ui->pushBtnScan->setEnabled(true);
    ui->actionOpen->setEnabled(true);
    ui->pushBtnOpen->setEnabled(true);
    process->close();
    QApplication::restoreOverrideCursor();
}

void MainWindow::showOverallProgress()
{
    ui->overallProgress->setText(overallProgressText(overall.at(runClock.elapsed())));
}

void MainWindow::showStatus(const StatusChange &status)
{
    ui->statusBar->setStyleSheet(styleSheetFor(status.colour));
    ui->statusBar->showMessage(status.message);
    if (status.repaintNow)
        ui->statusBar->repaint();
}

void MainWindow::showProgressFailed(bool failed)
{
    // The status bar's colours: green for a run that updated every module chosen.
    ui->progressBar->setStyleSheet(failed ? QStringLiteral("QProgressBar::chunk { background-color: red; }")
                                          : QStringLiteral("QProgressBar::chunk { background-color: green; }"));
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
    ui->scanNote->setText(tr("These modules were scanned on %1, %2 kBit/s, channel %3. Start refuses them on "
                             "the bus chosen now: scan the bus again, or choose the scan's bus.")
                              .arg(ui->cmbBoxHwType->itemText(scannedBus.hardware), scannedBus.bitRate,
                                   scannedBus.channel));
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
