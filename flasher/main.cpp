// tarvCanFlash PEAK-CAN-Interface BitRate CanLine FileName [Close] [CanIds]
//
// Exit codes: 0 every selected module whose name fits the file was updated;
// 1 the arguments, the firmware file or the CAN line were refused before the
// run; 2 the run ended without updating every such module.
#include "candriverfunctions.h"
#include "commandline.h"
#include "console.h"
#include "firmwareupdatethread.h"
#include "stopsignal.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QSocketNotifier>
#include <QTextStream>
#include <QTimer>

#include <cstdio>
#include <memory>

#ifdef Q_OS_WIN
#include <windows.h>
#endif

namespace {

QString tr(const char *text)
{
    return QCoreApplication::translate("main", text);
}

int refuseArguments(const CommandLine &commandLine, Console &console)
{
    switch (commandLine.check) {
    case CommandLine::Check::TooFewArguments:
        console.outNoNewline(QStringLiteral("\n"));
        console.out(tr("Error: To less parameters!"));
        for (const QString &line : usageLines())
            console.out(line);
        break;
    case CommandLine::Check::BadInterface:
        console.err(tr("Error: Parameter 1: %1 not valid! Please use PCAN_PCI or PCAN_USB")
                        .arg(QString::fromLocal8Bit(commandLine.interfaceName)));
        break;
    case CommandLine::Check::BadBitRate:
        console.err(tr("Error: Parameter 2: %1 not valid! Please use 125 or 250")
                        .arg(QString::fromLocal8Bit(commandLine.bitRateText)));
        break;
    case CommandLine::Check::BadCanLine:
        console.err(tr("Error: Parameter 3: %1 not valid! Please use 0, 1, .. 15")
                        .arg(QString::fromLocal8Bit(commandLine.canLineText)));
        break;
    case CommandLine::Check::BadCanIds:
        console.err(tr("Error: Parameter %1: %2 not valid! Please use CAN-Ids as comma separated "
                       "dec. numbers or 0x hex numbers, 0 .. 2047")
                        .arg(commandLine.canIdsPosition)
                        .arg(*commandLine.canIds));
        break;
    case CommandLine::Check::Accepted:
        return 0;
    }
    return 1;
}

// --help and --version, for a technician checking what is installed; -1 for
// any other command line.
int answerQuery(const QList<QByteArray> &args, Console &console)
{
    if (args == QList<QByteArray>{"--help"}) {
        for (const QString &line : usageLines())
            console.out(line);
        return 0;
    }
    if (args != QList<QByteArray>{"--version"})
        return -1;
    CanDriverFunctions driver;
    if (!bindDriverLibrary(driver, driverLibraryPath(), console) || !driver.GetDLLVer) {
        console.err(tr("Error: the driver library tarvpcan3 cannot be loaded"));
        return 1;
    }
    const char *version = driver.GetDLLVer();
    console.out(tr("tarvpcan3 %1").arg(QString::fromLatin1(version ? version : "")));
    return 0;
}

void setConsoleTitle(const QString &fileName)
{
#ifdef Q_OS_WIN
    const QString title = tr("tarv CAN Flash flashing %1").arg(fileName);
    SetConsoleTitleW(reinterpret_cast<LPCWSTR>(title.utf16()));
#else
    Q_UNUSED(fileName)
#endif
}

QList<QByteArray> argumentsOf(int argc, char *argv[])
{
    QList<QByteArray> args;
    for (int i = 1; i < argc; ++i)
        args.append(QByteArray(argv[i]));
    return args;
}

void announceFile(const CommandLine &commandLine, Console &console)
{
    if (commandLine.scan)
        return;
    console.out(tr("Programflash from hex file: ") + commandLine.fileName);
    setConsoleTitle(commandLine.fileName);
}

std::unique_ptr<FirmwareUpdateThread> makeUpdateThread(const CommandLine &commandLine, Console &console,
                                                       QCoreApplication &app)
{
    auto thread = std::make_unique<FirmwareUpdateThread>(console);
    if (commandLine.canIds)
        thread->setCanIds(*commandLine.canIds);
    // Set before the run starts: the run reads it only at its end.
    thread->setCloseAuto(closeAutomatically(QCoreApplication::arguments()));
    // Queued, so that a run ending before exec() still ends the event loop.
    QObject::connect(thread.get(), &QThread::finished, &app, &QCoreApplication::quit, Qt::QueuedConnection);
    return thread;
}

// The signal handler only sets a flag and wakes this loop; stopNow() cuts
// the run's current wait short. The watch must live as long as the run.
std::unique_ptr<QObject> watchStopSignal(FirmwareUpdateThread *thread)
{
#ifdef Q_OS_WIN
    auto stopWatch = std::make_unique<QTimer>();
    QObject::connect(stopWatch.get(), &QTimer::timeout, thread, [thread] {
        if (stopsignal::requested())
            thread->stopNow();
    });
    stopWatch->start(50);
    return stopWatch;
#else
    auto stopWatch = std::make_unique<QSocketNotifier>(stopsignal::wakeDescriptor(), QSocketNotifier::Read);
    // The descriptor stays readable, so that the ENTER prompt sees it too.
    QObject::connect(stopWatch.get(), &QSocketNotifier::activated, thread, [thread, notifier = stopWatch.get()] {
        notifier->setEnabled(false);
        thread->stopNow();
    });
    return stopWatch;
#endif
}

bool startRun(FirmwareUpdateThread &thread, const CommandLine &commandLine)
{
    if (commandLine.scan)
        return thread.startScan(commandLine.interfaceName.constData(), commandLine.bitRate, commandLine.canLine);
    return thread.startUpdate(commandLine.interfaceName.constData(), commandLine.bitRate, commandLine.canLine,
                              commandLine.fileName);
}

int runToEnd(QCoreApplication &app, const CommandLine &commandLine, Console &console, const QElapsedTimer &timer)
{
    auto thread = makeUpdateThread(commandLine, console, app);
    const std::unique_ptr<QObject> stopWatch = watchStopSignal(thread.get());
    if (!startRun(*thread, commandLine))
        return 1;
    app.exec();
    thread->wait();

    console.outNoNewline(tr("Finish: Update Process needed %1 seconds.").arg(timer.elapsed() / 1000));
    const bool succeeded = thread->runSucceeded();
    thread.reset();
    return succeeded ? 0 : 2;
}

} // namespace

int main(int argc, char *argv[])
{
    stopsignal::install();
    QCoreApplication app(argc, argv);
    QTextStream out(stdout);
    QTextStream err(stderr);
    QElapsedTimer timer;
    timer.start();
    Console console(out, err);
    console.out(bannerLine());

    const QList<QByteArray> args = argumentsOf(argc, argv);
    if (const int answered = answerQuery(args, console); answered >= 0)
        return answered;
    const CommandLine commandLine = parseCommandLine(args);
    if (commandLine.check != CommandLine::Check::Accepted)
        return refuseArguments(commandLine, console);
    announceFile(commandLine, console);
    return runToEnd(app, commandLine, console, timer);
}
