#pragma once

#include "flashcommand.h"
#include "flasherprocess.h"
#include "logwindow.h"
#include "moduletablemodel.h"
#include "outputparser.h"
#include "processcheck.h"
#include "runlog.h"
#include "runprogress.h"
#include "runrecord.h"

#include <QElapsedTimer>
#include <QMainWindow>
#include <QProcess>
#include <QString>
#include <QTimer>

#include <functional>
#include <memory>

class QLabel;
class QSettings;

namespace Ui {
class MainWindow;
}

// What the window takes from its surroundings. Empty members get the
// system's own: the file dialogs, the process list, the message boxes and
// the console program beside this program.
struct MainWindowHooks
{
    // The chosen file, or an empty text when the user cancelled.
    std::function<QString(QWidget *parent, const QString &caption, const QString &dir, const QString &filter)>
        chooseFile;
    ProcessListSource runningPrograms;
    // True when the user goes on in spite of the warning.
    std::function<bool(QWidget *parent, const QString &title, const QString &text)> confirmWarning;
    // True when the user stops the run in spite of the question.
    std::function<bool(QWidget *parent, const QString &title, const QString &text)> confirmStop;
    SaveFileChooser chooseSaveFile;
    ClearConfirmer confirmClear;
    // Where every run's record goes; empty is the user's data folder.
    QString runRecordsDir;
    std::function<void(QWidget *parent, const QString &title, const QString &text)> showAbout;
    QString flasherProgram;
    // A line of the console program normally arrives whole; a tail without
    // line feed that stays alone this long is a line of its own (the final
    // line has no line feed, and the child may go on running after it).
    int quietLineMs = 1000;
    // How long a stopped console program may take for its closing sequence
    // before it is killed.
    int stopTimeoutMs = 30000;
};

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

    void on_ProcessFinish(int exitCode, QProcess::ExitStatus exitStatus);
    void onProcessError(QProcess::ProcessError error);
    void fitToTexts();
    void readSettings();
    void writeSettings();
    void checkRunningPrograms();

    void handleLine(const QByteArray &line);
    void flushPendingLine();
    void endRun(RunEnd end, const StatusChange &status);
    void finishRun();
    void showStatus(const StatusChange &status);
    void setFileAccepted(bool accepted);
    // False while a run goes on; asks whether to stop it, and stops it on yes.
    bool readyToLeave();
    void stopRun();
    QString stopQuestion() const;
    void endStoppedRun(int exitCode, QProcess::ExitStatus exitStatus);
    void handleClosingLine(const QByteArray &line);
    void showProgressFailed(bool failed);
    // The child's start shared by a run and a scan.
    void beginChild(const StatusChange &status);
    void startChild(const QStringList &arguments, const QString &nativeArguments);
    FlashChoice currentChoice() const;
    void endScan(int exitCode, QProcess::ExitStatus exitStatus);
    void showOverallProgress();
    void setChoicesLocked(bool locked);
    Bus currentBus() const;
    bool scanFitsBus() const;
    void showScanBus();
    void showVerdict();
    void keepInWorkInView();
    void restoreWindowSize();

    std::unique_ptr<Ui::MainWindow> ui;
    FlasherProcess *process = nullptr;
    QString firmwareFileName;
    std::unique_ptr<QSettings> settings;
    RunLog runLog;
    std::unique_ptr<LogWindow> logWindow;

    MainWindowHooks hooks;
    QString acceptedFileName; // the last choice that passed the check
    bool fileAccepted = false;
    bool stopRequested = false;
    RunState runState = RunState::Idle;
    bool scanning = false; // the child is tarvCanFlash --scan
    std::optional<QString> scanError; // the scan's Error: line
    std::optional<QString> stopError; // an Error: line of a stopped run's closing
    Bus scannedBus;
    bool finalLineSeen = false; // the run ended with the console program's Finish: line
    RunMonitor monitor;
    QTimer clockTimer; // the elapsed time goes on through the pauses of a run
    QLabel *statusLabel = nullptr; // the status bar's text, wrapped, never cut
    ModuleTableModel modules;
    RunProgress overall;
    QElapsedTimer runClock;
    RunRecord runRecord;
};
