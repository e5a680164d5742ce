#include "mainwindow.h"

#include "firmwarefile.h"
#include "flashcommand.h"
#include "frontendsettings.h"
#include "logwindow.h"
#include "ui_mainwindow.h"

#include <QApplication>
#include <QCloseEvent>
#include <QDir>
#include <QFileDialog>
#include <QHeaderView>
#include <QLoggingCategory>
#include <QMessageBox>
#include <QSettings>

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
    if (hooks.flasherProgram.isEmpty())
        hooks.flasherProgram = flasherProgramIn(QCoreApplication::applicationDirPath());
    return hooks;
}

MainWindow::MainWindow(MainWindowHooks windowHooks, QWidget *parent)
    : QMainWindow(parent)
    , ui(std::make_unique<Ui::MainWindow>())
    , process(new QProcess(this))
    , hooks(withSystemDefaults(std::move(windowHooks)))
{
    ui->setupUi(this);
    fitToTexts();
    ui->actionStart_firmware_flashing->setEnabled(false);
    ui->moduleTable->setModel(&modules);
    ui->moduleTable->horizontalHeader()->setSectionResizeMode(QHeaderView::ResizeToContents);

    connect(process, &QProcess::readyRead, this, &MainWindow::readFromProcess);
    connect(process, &QProcess::finished, this, &MainWindow::on_ProcessFinish);
    connect(process, &QProcess::errorOccurred, this, &MainWindow::onProcessError);
    quietTimer.setSingleShot(true);
    quietTimer.setInterval(hooks.quietLineMs);
    connect(&quietTimer, &QTimer::timeout, this, &MainWindow::flushPendingLine);

    settings = std::make_unique<QSettings>(QSettings::IniFormat, QSettings::UserScope,
                                           QString::fromLatin1(FrontEndSettings::organisation),
                                           QString::fromLatin1(FrontEndSettings::application));
    readSettings();
    checkRunningPrograms();
}

MainWindow::~MainWindow()
{
    // The child's last signals must not reach a window that is half gone.
    process->disconnect(this);
    if (process->state() != QProcess::NotRunning) {
        process->kill();
        process->waitForFinished();
    }
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
    // window then starts, and stays at least, as large as its texts need;
    // the height stays fixed all the same.
    ensurePolished();
    const QSize needed = minimumSizeHint().expandedTo(minimumSize());
    if (needed == minimumSize())
        return;
    setMinimumSize(needed);
    setMaximumSize(maximumSize().expandedTo(needed));
    resize(needed);
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
    for (const QString &name : findConflictingPrograms(*running)) {
        if (!hooks.confirmWarning(this, tr("%1 is running").arg(name),
                                  tr("Warning: %1 is running and can cause update problems!").arg(name))) {
            stopRequested = true;
            return;
        }
    }
}

void MainWindow::closeEvent(QCloseEvent *event)
{
    writeSettings();
    if (logWindow)
        logWindow->close();
    event->accept();
}

void MainWindow::on_actionOpen_triggered()
{
    const QString chosen =
        hooks.chooseFile(this, tr("Open firmware file"), ui->lineEdit->text(), tr("Hex Files (*.hex)"));
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
        break;
    case FirmwareFileCheck::Invalid:
        ui->statusBar->showMessage(tr("invalid file"), 5000);
        ui->lineEdit->setStyleSheet(QStringLiteral("background: red"));
        setFileAccepted(false);
        break;
    case FirmwareFileCheck::Valid:
        ui->lineEdit->setStyleSheet(QStringLiteral("background: lightgreen"));
        acceptedFileName = chosen;
        setFileAccepted(true);
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

void MainWindow::on_actionStart_firmware_flashing_triggered()
{
    if (runState != RunState::Idle || !fileAccepted)
        return;
    ui->actionOpen->setEnabled(false);
    ui->actionStart_firmware_flashing->setEnabled(false);
    showStatus({tr("initialize CAN..."), StatusColour::Black, false});
    monitor.startRun();
    splitter.clear();
    modules.reset();
    runClock.start();
    overall.start(0);
    ui->overallProgress->clear();

    // The run counts as started before the child does: a start failure may be
    // reported from within start() itself and must find the cursor set.
    runState = RunState::Running;
    ui->progressBar->setEnabled(true);
    QApplication::setOverrideCursor(Qt::WaitCursor);

    const FlashChoice choice{ui->cmbBoxHwType->currentIndex(), ui->cmbBoxBitRate->currentText(),
                             ui->cmbBoxChn->currentText(), firmwareFileName};
    process->setProcessChannelMode(QProcess::MergedChannels);
#ifdef Q_OS_WIN
    process->setNativeArguments(flasherNativeArguments(choice));
    process->start(hooks.flasherProgram, {}, QIODevice::ReadWrite);
#else
    process->start(hooks.flasherProgram, flasherArguments(choice), QIODevice::ReadWrite);
#endif
}

void MainWindow::readFromProcess()
{
    const QList<QByteArray> lines = splitter.feed(process->readAll());
    for (const QByteArray &line : lines) {
        if (runState != RunState::Running)
            return;
        handleLine(line);
    }
    if (runState == RunState::Running && splitter.hasPending())
        quietTimer.start();
    else
        quietTimer.stop();
}

void MainWindow::flushPendingLine()
{
    if (runState == RunState::Running && splitter.hasPending())
        handleLine(splitter.takePending());
}

void MainWindow::handleLine(const QByteArray &line)
{
    qCDebug(lcConsole).noquote() << statusText(line);
    if (logWindow)
        logWindow->appendLine(line);

    const LineReaction reaction = monitor.onLine(line);
    if (reaction.module) {
        modules.apply(*reaction.module);
        overall.apply(*reaction.module, runClock.elapsed());
    }
    ui->overallProgress->setText(overallProgressText(overall.at(runClock.elapsed())));
    if (reaction.end != RunEnd::None) {
        endRun(reaction.end, *reaction.status);
        return;
    }
    if (reaction.status)
        showStatus(*reaction.status);
    if (reaction.progress)
        ui->progressBar->setValue(*reaction.progress);
}

void MainWindow::endRun(RunEnd end, const StatusChange &status)
{
    runState = RunState::Ending;
    quietTimer.stop();
    if (end == RunEnd::Error)
        process->kill();
    // Waits for the child's end; its finished signal is handled inside.
    process->close();
    finishRun();
    showStatus(status);
}

void MainWindow::on_ProcessFinish(int exitCode, QProcess::ExitStatus exitStatus)
{
    if (runState == RunState::Running) {
        // What came with the child's end, and a last line without line feed.
        for (const QByteArray &line : splitter.feed(process->readAll())) {
            if (runState == RunState::Running)
                handleLine(line);
        }
        if (runState == RunState::Running && splitter.hasPending())
            handleLine(splitter.takePending());
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

void MainWindow::onProcessError(QProcess::ProcessError error)
{
    if (error != QProcess::FailedToStart || runState == RunState::Idle)
        return;
    const QString reason = process->errorString();
    finishRun();
    showStatus({tr("Cannot start tarvCanFlash: ") + reason, StatusColour::Red, false});
}

void MainWindow::finishRun()
{
    if (runState == RunState::Idle)
        return;
    runState = RunState::Idle;
    quietTimer.stop();
    splitter.clear();
    ui->actionStart_firmware_flashing->setEnabled(fileAccepted);
    ui->actionOpen->setEnabled(true);
    process->close();
    QApplication::restoreOverrideCursor();
}

void MainWindow::showStatus(const StatusChange &status)
{
    ui->statusBar->setStyleSheet(styleSheetFor(status.colour));
    ui->statusBar->showMessage(status.message);
    if (status.repaintNow)
        ui->statusBar->repaint();
}

void MainWindow::on_logButton_clicked()
{
    if (!logWindow) {
        logWindow = std::make_unique<LogWindow>();
        const QRect inner = geometry();
        // 20 pixels after the main window's right-most pixel column, same top and height.
        logWindow->setGeometry(inner.x() + inner.width() + 19, inner.y(), 260, inner.height());
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
    // Ends the event loop without a close request: nothing is written.
    QCoreApplication::exit(0);
}
