#pragma once

#include "flashcommand.h"
#include "flasherprocess.h"
#include "logwindow.h"
#include "mainwindowhooks.h"
#include "moduletablemodel.h"
#include "outputparser.h"
#include "processcheck.h"
#include "runbars.h"
#include "runlog.h"
#include "runprogress.h"
#include "runrecord.h"
#include "windowsettings.h"

#include <QElapsedTimer>
#include <QMainWindow>
#include <QProcess>
#include <QString>
#include <QTimer>

#include <memory>
#include <optional>

namespace Ui {
class MainWindow;
}

class MainWindow : public QMainWindow
{
    Q_OBJECT

public:
    explicit MainWindow(MainWindowHooks hooks = {}, QWidget *parent = nullptr);
    ~MainWindow() override;

    // False when the user chose to stop at the warning about a disturbing program.
    bool startAccepted() const { return !stopRequested; }
    bool runInProgress() const { return runState != RunState::Idle; }

protected:
    void closeEvent(QCloseEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private slots:
    void on_actionOpen_triggered();
    void on_actionAbout_triggered();
    void on_actionStart_firmware_flashing_triggered();
    void on_pushBtnOpen_clicked();
    void on_pushButton_2_clicked();
    void on_pushBtnScan_clicked();
    void readFromProcess();
    void on_logButton_clicked();
    void on_actionQuit_triggered();

private:
    // Stopping: asked to stop, the console program sends its closing
    // sequence; its lines are only logged until it ends.
    enum class RunState { Idle, Running, Stopping, Ending };
    // The bus a scan listed: its boxes mean nothing on another one.
    struct Bus
    {
        int hardware = 0;
        QString bitRate, channel;
        bool operator==(const Bus &) const = default;
    };

    void setUpModuleTable();
    void connectChild();
    void setUpChoices();
    void fitToTexts();
    ChoiceWidgets choiceWidgets() const;
    void checkRunningPrograms();
    void refuseFile(const QString &problem);
    void setFileAccepted(bool accepted);
    FlashChoice currentChoice() const;
    void showOverallProgress();
    void setChoicesLocked(bool locked);
    Bus currentBus() const;
    bool scanFitsBus() const;
    void showScanBus();
    void showVerdict();
    void keepInWorkInView();

    // A run's and a scan's life (mainwindowrun.cpp).
    // The child's start shared by a run and a scan.
    void beginChild(const StatusChange &status);
    void startChild(const QStringList &arguments, const QString &nativeArguments);
    void handleLine(const QByteArray &line);
    void flushPendingLine();
    void handleClosingLine(const QByteArray &line);
    void endRun(RunEnd end, const StatusChange &status);
    // False while a run goes on; asks whether to stop it, and stops it on yes.
    bool readyToLeave();
    void stopRun();
    void on_ProcessFinish(int exitCode, QProcess::ExitStatus exitStatus);
    void onProcessError(QProcess::ProcessError error);
    void takeLastLines();
    void takeClosingLines();
    void endStoppedRun(int exitCode, QProcess::ExitStatus exitStatus);
    void endScan(int exitCode, QProcess::ExitStatus exitStatus);
    void finishRun();

    std::unique_ptr<Ui::MainWindow> ui;
    FlasherProcess *process = nullptr;
    QString firmwareFileName;
    std::unique_ptr<WindowSettings> settings;
    RunLog runLog;
    std::unique_ptr<LogWindow> logWindow;

    MainWindowHooks hooks;
    QString acceptedFileName; // the last choice that passed the check
    bool fileAccepted = false;
    bool stopRequested = false;
    RunState runState = RunState::Idle;
    bool scanning = false;            // the child is tarvCanFlash --scan
    std::optional<QString> scanError; // the scan's Error: line
    std::optional<QString> stopError; // an Error: line of a stopped run's closing
    Bus scannedBus;
    bool finalLineSeen = false; // the run ended with the console program's Finish: line
    RunMonitor monitor;
    QTimer clockTimer; // the elapsed time goes on through the pauses of a run
    std::unique_ptr<RunBars> bars;
    ModuleTableModel modules;
    RunProgress overall;
    QElapsedTimer runClock;
    RunRecord runRecord;
};
