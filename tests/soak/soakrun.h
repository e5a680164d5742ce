// One soak run as processes: tarvCanFlash against the case's simulated bench
// in a folder of its own, then tarvModuleSim --verify on each module's image.
#pragma once

#include "judge.h"
#include "soakcase.h"

#include <QElapsedTimer>
#include <QObject>
#include <QProcess>
#include <QTemporaryDir>
#include <QTimer>

#include <memory>

namespace soak {

struct Programs
{
    QString flasher;
    QString moduleSim;
    QString workFolder; // parent of the runs' folders
};

class SoakRun : public QObject
{
    Q_OBJECT

public:
    SoakRun(const Programs &programs, SoakCase soakCase, QObject *parent = nullptr);

    void start();
    const SoakCase &soakCase() const { return case_; }
    const RunResult &result() const { return result_; }
    // Keeps the folder after this object is gone; returns its path.
    QString keepFolder();

signals:
    void finished();

private:
    bool prepare();
    void onFlasherFinished();
    void onDeadline();
    void verifyNext();
    void onVerifyFinished();

    Programs programs_;
    SoakCase case_;
    std::unique_ptr<QTemporaryDir> folder_;
    QProcess flasher_;
    QProcess verify_;
    QTimer deadline_; // of the flasher, then of each check
    bool killed_ = false;
    QElapsedTimer clock_;
    size_t verifying_ = 0;
    RunResult result_;
};

} // namespace soak
