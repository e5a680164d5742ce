#include "mainwindow.h"

#include "firmwarefile.h"
#include "statustexts.h"
#include "ui_mainwindow.h"

#include <QApplication>
#include <QDateTime>
#include <QLoggingCategory>

// The window's side of a run and of a scan: starting the console program,
// its lines as they come, a stop, and how the child ended.

Q_LOGGING_CATEGORY(lcConsole, "tarv.gui.console")

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
    bars->showStatus(status);
    monitor.startRun();
    modules.setChecksLocked(true);
    ui->overallProgress->clear();
    // Nothing of the last run's verdict shows while the next child starts.
    bars->clearProgress();
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
    const bool stop = scanning
                          ? hooks.confirmStop(this, tr("Stop the scan?"),
                                              tr("A scan of the bus is going; no module is being "
                                                 "updated.\n\nStop the scan?"))
                          : hooks.confirmStop(this, tr("Stop the run?"), stopRunQuestion(modules.moduleInWork()));
    // The run may have ended while the question was open.
    if (!stop || runState == RunState::Idle)
        return stop;
    stopRun();
    return false;
}

void MainWindow::stopRun()
{
    runState = RunState::Stopping;
    stopError.reset();
    bars->showStatus(
        {tr("Stopping the run: tarvCanFlash sends its closing sequence..."), StatusColour::Black, true});
    process->askToStop();
}

void MainWindow::on_actionStart_firmware_flashing_triggered()
{
    if (runState != RunState::Idle || !fileAccepted)
        return;
    if (!scanFitsBus()) {
        bars->showStatus({tr("The modules listed were scanned on another bus: scan the bus again, "
                             "or choose the bus of the scan"),
                          StatusColour::Red, false});
        return;
    }
    const std::optional<QString> canIds = canIdsArgument(modules.choices());
    if (!canIds) {
        bars->showStatus({tr("No module checked: check the modules to update, or scan the bus again"),
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
    bars->startRunProgress();
    QApplication::setOverrideCursor(Qt::WaitCursor);

    FlashChoice choice = currentChoice();
    choice.canIds = *canIds;
    startChild(flasherArguments(choice), flasherNativeArguments(choice));
}

void MainWindow::startChild(const QStringList &arguments, const QString &nativeArguments)
{
#ifdef Q_OS_WIN
    runRecord.begin(QDateTime::currentDateTime(),
                    commandLineText(hooks.flasherProgram, {}) + u' ' + nativeArguments);
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
            bars->showPercent(*percent);
    }
    showOverallProgress();
    if (reaction.end != RunEnd::None) {
        endRun(reaction.end, *reaction.status);
        return;
    }
    if (reaction.status)
        bars->showStatus(*reaction.status);
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
    bars->showStatus(status);
}

void MainWindow::on_ProcessFinish(int exitCode, QProcess::ExitStatus exitStatus)
{
    if (runState == RunState::Stopping) {
        takeClosingLines();
        endStoppedRun(exitCode, exitStatus);
        return;
    }
    if (runState == RunState::Running)
        takeLastLines();
    if (runState == RunState::Running && scanning) {
        endScan(exitCode, exitStatus);
        return;
    }
    if (runState == RunState::Running) {
        // Without a final or error line the status would still read as if the run went on.
        if (const std::optional<StatusChange> failed =
                unexpectedEndStatus(exitStatus == QProcess::CrashExit, exitCode))
            bars->showStatus(*failed);
    }
    finishRun();
}

void MainWindow::takeClosingLines()
{
    for (const QByteArray &line : process->readLines())
        handleClosingLine(line);
    if (process->hasPendingLine())
        handleClosingLine(process->takePendingLine());
}

// What came with the child's end, and a last line without line feed.
void MainWindow::takeLastLines()
{
    for (const QByteArray &line : process->readLines()) {
        if (runState == RunState::Running)
            handleLine(line);
    }
    if (runState == RunState::Running && process->hasPendingLine())
        handleLine(process->takePendingLine());
}

void MainWindow::endStoppedRun(int exitCode, QProcess::ExitStatus exitStatus)
{
    const bool wasScan = scanning;
    finishRun();
    bars->showStatus(stoppedStatus(wasScan, stopError, exitStatus == QProcess::CrashExit, exitCode));
}

void MainWindow::endScan(int exitCode, QProcess::ExitStatus exitStatus)
{
    finishRun();
    bars->showStatus(scanEndStatus(scanError, exitStatus == QProcess::CrashExit, exitCode, modules.rowCount()));
}

void MainWindow::onProcessError(QProcess::ProcessError error)
{
    if (error != QProcess::FailedToStart || runState == RunState::Idle)
        return;
    const QString reason = process->errorString();
    finishRun();
    bars->showStatus({tr("Cannot start tarvCanFlash: ") + reason, StatusColour::Red, false});
    bars->showFailed(true);
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
        bars->showVerdict(runVerdict(finalLineSeen, tally.updated, tally.notUpdated));
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
