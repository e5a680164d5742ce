#include "flasherprocess.h"

#include <algorithm>

FlasherProcess::FlasherProcess(const QString &program, int quietLineMs, int stopTimeout, QObject *parent)
    : QProcess(parent)
    , programPath(program)
    , stopTimeoutMs(stopTimeout)
{
    quietTimer.setSingleShot(true);
    quietTimer.setInterval(quietLineMs);
    connect(&quietTimer, &QTimer::timeout, this, &FlasherProcess::quiet);
    stopTimer.setSingleShot(true);
    connect(&stopTimer, &QTimer::timeout, this, &QProcess::kill);
    connect(this, &QProcess::finished, &stopTimer, &QTimer::stop);
}

FlasherProcess::~FlasherProcess()
{
    endBeforeLeaving();
}

void FlasherProcess::startFlasher(const QStringList &arguments, const QString &nativeArguments)
{
    splitter.clear();
    quietTimer.stop();
    stopAsked = false;
    setProcessChannelMode(QProcess::MergedChannels);
#ifdef Q_OS_WIN
    Q_UNUSED(arguments);
    setNativeArguments(nativeArguments);
    start(programPath, {}, QIODevice::ReadWrite);
#else
    Q_UNUSED(nativeArguments);
    start(programPath, arguments, QIODevice::ReadWrite);
#endif
}

QList<QByteArray> FlasherProcess::readLines()
{
    return splitter.feed(readAll());
}

void FlasherProcess::watchPendingLine(bool watch)
{
    if (watch && splitter.hasPending())
        quietTimer.start();
    else
        quietTimer.stop();
}

// The closing sequence leaves the module in work in update mode, ready to
// be updated again; a kill would leave it wherever it was.
bool FlasherProcess::requestStop()
{
#ifdef Q_OS_WIN
    // terminate() posts WM_CLOSE, which a console program without a window
    // never sees.
    return false;
#else
    terminate();
    return true;
#endif
}

void FlasherProcess::askToStop()
{
    quietTimer.stop();
    stopAsked = true;
    if (requestStop())
        stopTimer.start(stopTimeoutMs);
    else
        kill();
}

void FlasherProcess::endBeforeLeaving()
{
    if (state() == QProcess::NotRunning)
        return;
    // A stop already asked for is not asked again: a second signal ends the
    // console program without its closing sequence.
    const bool asked = stopAsked || requestStop();
    const int waitMs = stopAsked ? stopTimer.remainingTime() : stopTimeoutMs;
    if (!asked || !waitForFinished(std::max(waitMs, 0))) {
        kill();
        waitForFinished();
    }
}
