#include "runbars.h"

#include <QCoreApplication>
#include <QLabel>
#include <QObject>
#include <QProgressBar>
#include <QStatusBar>

RunBars::RunBars(QStatusBar *statusBar, QProgressBar *progressBar)
    : statusBar(statusBar)
    , progressBar(progressBar)
{
    // The status bar paints its message on one line and cuts it; a wrapping
    // label over its whole width shows the message instead, and the menus'
    // status tips, filtered out by the window, cannot replace a verdict.
    auto *statusLabel = new QLabel(statusBar);
    statusLabel->setObjectName(QStringLiteral("statusText"));
    statusLabel->setWordWrap(true);
    statusLabel->setTextInteractionFlags(Qt::TextSelectableByMouse);
    statusBar->addPermanentWidget(statusLabel, 1);
    QObject::connect(statusBar, &QStatusBar::messageChanged, statusLabel, &QLabel::setText);
}

void RunBars::showStatus(const StatusChange &status)
{
    statusBar->setStyleSheet(styleSheetFor(status.colour));
    statusBar->showMessage(status.message);
    if (status.repaintNow)
        statusBar->repaint();
}

void RunBars::showBriefProblem(const QString &message, int timeoutMs)
{
    statusBar->setStyleSheet(QStringLiteral("color: red"));
    statusBar->showMessage(message, timeoutMs);
}

void RunBars::clearProgress()
{
    progressBar->setValue(0);
    progressBar->setStyleSheet(QString());
    progressBar->setFormat(QString());
    progressBar->setTextVisible(false);
}

void RunBars::startRunProgress()
{
    progressBar->setEnabled(true);
    progressBar->setFormat(QCoreApplication::translate("MainWindow", "%p % of the run"));
    progressBar->setTextVisible(true);
}

void RunBars::showPercent(int percent)
{
    progressBar->setValue(percent);
}

void RunBars::showVerdict(const RunVerdict &verdict)
{
    progressBar->setValue(100);
    progressBar->setFormat(verdict.text);
    showFailed(!verdict.passed);
}

void RunBars::showFailed(bool failed)
{
    // The status bar's colours: green for a run that updated every module chosen.
    progressBar->setStyleSheet(failed ? QStringLiteral("QProgressBar::chunk { background-color: red; }")
                                      : QStringLiteral("QProgressBar::chunk { background-color: green; }"));
}
