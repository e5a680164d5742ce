#pragma once

#include "outputparser.h"
#include "runprogress.h"

class QLabel;
class QProgressBar;
class QStatusBar;

// What the bars under the table show: the status bar's message in its
// colour, and the progress bar's share of the run and, at its end, the
// run's verdict in the status bar's colours.
class RunBars
{
public:
    RunBars(QStatusBar *statusBar, QProgressBar *progressBar);

    void showStatus(const StatusChange &status);
    // A message that goes after timeoutMs, in red.
    void showBriefProblem(const QString &message, int timeoutMs);
    // Nothing of the last run's verdict shows while the next child starts.
    void clearProgress();
    void startRunProgress();
    void showPercent(int percent);
    void showVerdict(const RunVerdict &verdict);
    void showFailed(bool failed);

private:
    QStatusBar *statusBar;
    QProgressBar *progressBar;
};
