// The manager's side of the line itself: the driver library that opens and
// closes it, the receive thread that reads it, and the greeting every run
// opens with, whoever opened the line.
#include "managecancommunication.h"

#include "console.h"
#include "debugline.h"
#include "receivethread.h"
#include "runlimits.h"
#include "steadyrunclock.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QThread>
#include <QTimer>
#include <QVariant>

#include <algorithm>
#include <array>
#include <cstring>

namespace {

class DriverPort : public BusPort
{
public:
    DriverPort(const CanDriverFunctions &driver, const uint16_t &canLine)
        : driver_(driver)
        , canLine_(canLine)
    {}
    void send(const CanMessage &message) override
    {
        const CanMessage::DriverBuffer buffer = message.toDriverBuffer();
        std::array<char, 20> sendTime{};
        driver_.Write2Can(static_cast<uint16_t>(message.address()), buffer.data(), sendTime.data());
    }
    QByteArray readStatus() override
    {
        std::array<char, 128> text{};
        driver_.GetCanStatus(static_cast<uint8_t>(canLine_), text.data());
        text.back() = '\0';
        return QByteArray(text.data());
    }

private:
    const CanDriverFunctions &driver_;
    const uint16_t &canLine_;
};

} // namespace

ManageCanCommunication::ManageCanCommunication(Console &console, QObject *parent)
    : QObject(parent)
    , console_(console)
    , driverPort_(std::make_unique<DriverPort>(driver_, canLine_))
    , port_(driverPort_.get())
    , steadyClock_(std::make_unique<SteadyRunClock>(modules_))
    , clock_(steadyClock_.get())
    , transfer_(*clock_)
{
    driverBound_ = bindDriverLibrary(driver_, driverLibraryPath(), console_);
    reportVersion();
}

ManageCanCommunication::ManageCanCommunication(const CanDriverFunctions &driver, Console &console,
                                               QObject *parent)
    : QObject(parent)
    , console_(console)
    , driver_(driver)
    , driverPort_(std::make_unique<DriverPort>(driver_, canLine_))
    , port_(driverPort_.get())
    , driverBound_(driver.complete())
    , steadyClock_(std::make_unique<SteadyRunClock>(modules_))
    , clock_(steadyClock_.get())
    , transfer_(*clock_)
{
    reportVersion();
}

ManageCanCommunication::ManageCanCommunication(BusPort &port, RunClock &clock, Console &console, QObject *parent)
    : QObject(parent)
    , console_(console)
    , port_(&port)
    , clock_(&clock)
    , transfer_(clock)
{}

ManageCanCommunication::~ManageCanCommunication()
{
    stopReceiving();
}

void ManageCanCommunication::reportVersion()
{
    if (!driver_.GetDLLVer)
        return;
    std::array<char, 12> version{};
    if (const char *text = driver_.GetDLLVer())
        std::strncpy(version.data(), text, version.size() - 1);
    console_.debug(DebugLine() << "tarvpcan3.dll version" << version.data());
}

// The one line the front end shows of a failed set-up: without an adapter it
// says what to do, after the words scripts look for. Where a bench file
// describes the adapters, the interface stand-in leaves the place in it that
// explains the failure on the application object; that place is then named
// instead of the advice to name a bench file.
void ManageCanCommunication::reportFailedSetUp(const char *interfaceName, const char *libraryText)
{
    DebugLine line;
    line << "Error: failed to initialize CAN-Interface" << interfaceName;
    const QString bench = qApp ? qApp->property("tarvcanapi.bench").toString() : QString();
    const bool noAdapter = std::strcmp(libraryText, "Error while registering hardware !") == 0;
    if (!bench.isEmpty()) {
        line.plain(noAdapter ? tr("- no adapter serves CAN line %1: %2").arg(canLine_).arg(bench)
                             : QStringLiteral("- ") + bench);
    } else if (noAdapter) {
#ifdef Q_OS_WIN
        line.plain(tr("- no adapter serves CAN line %1: connect it and install its driver").arg(canLine_));
#else
        line.plain(tr("- no adapter serves CAN line %1: set one up for SocketCAN as the README says, "
                      "or name one in a bench file (TARVCAN_CONFIG)")
                       .arg(canLine_));
#endif
    }
    console_.debug(line);
}

bool ManageCanCommunication::initCanInterface(const char *interfaceName, uint16_t bitRate, uint16_t canLine)
{
    canLine_ = canLine;
    bitRate_ = bitRate;
    if (!driverBound_) {
        console_.debug(DebugLine() << "Error: failed to initialize CAN-Interface" << interfaceName);
        return false;
    }
    std::array<char, 64> clientName{};
    std::strcpy(clientName.data(), "tarvCanFLash");
    driver_.ConnectCANHw2Driver(std::strcmp(interfaceName, "PCAN_USB") == 0 ? TARVPCAN3_KIND_USB
                                                                            : TARVPCAN3_KIND_PCI);
    driver_.ReInitCanSystem(canLine_);
    if (!driver_.ExtendedInitCan(canLine_, bitRate_, 0, 0, clientName.data())) {
        // Whatever the failed set-up left registered goes with the line.
        driver_.ReInitCanSystem(canLine_);
        reportFailedSetUp(interfaceName, clientName.data());
        return false;
    }
    canLineOpen_ = true;
    // The main thread settles in its event loop, where stop signals arrive.
    const bool greeted = greetLine([] {
        QEventLoop settle;
        QTimer::singleShot(runlimits::StartupSettle, &settle, &QEventLoop::quit);
        settle.exec();
    });
    if (greeted)
        startReceiving();
    return greeted;
}

bool ManageCanCommunication::openLine(uint16_t canLine)
{
    canLine_ = canLine;
    canLineOpen_ = true;
    return greetLine([this] { clock_->sleepUntil(clock_->in(runlimits::StartupSettle)); });
}

bool ManageCanCommunication::greetLine(const std::function<void()> &settle)
{
    sendPatternFrame();
    sendLogOffAll();
    settle();
    evalCanStatus();
    if (canStatus_ != StatusOk) {
        console_.err(tr("Error: CAN-Bus not OK: %1").arg(QString::fromLatin1(canStatusText_)));
        closeLine();
        return false;
    }
    return true;
}

// The frames are handled on the receive thread, in arrival order: the update
// thread waits for them, and a hop through the main thread's event loop would
// slow every frame of a flash down.
void ManageCanCommunication::startReceiving()
{
    auto *thread = new ReceiveThread(this, &driver_, canLine_);
    connect(thread, &ReceiveThread::frameRead, this, &ManageCanCommunication::receiveFrame, Qt::DirectConnection);
    receiveThread_ = thread;
    receiveThread_->start(QThread::currentThread()->priority());
}

bool ManageCanCommunication::stopReceiving()
{
    if (receiveThread_) {
        receiveThread_->requestStop();
        receiveThread_->wait();
        receiveThread_->deleteLater();
        receiveThread_ = nullptr;
    }
    closeLine();
    return true;
}

void ManageCanCommunication::closeLine()
{
    if (canLineOpen_) {
        if (driver_.ReInitCanSystem)
            driver_.ReInitCanSystem(canLine_);
        canLineOpen_ = false;
    }
}

QByteArray ManageCanCommunication::readCanStatus()
{
    return port_->readStatus();
}

// Our frames take the bus one after another: a burst handed over at once
// (the log-off sweeps) keeps it busy for a while after the last one.
void ManageCanCommunication::sendMessage(const CanMessage &message)
{
    // A standard data frame at its most stuffed: 47 bits, 8 per data byte,
    // one stuff bit per four of the 34 + 8n bits that may be stuffed.
    const int bytes = static_cast<int>(message.data().size());
    const int bits = 47 + 8 * bytes + (33 + 8 * bytes) / 4;
    const auto onWire = std::chrono::microseconds(bits * 1000 / std::max<int>(bitRate_, 1));
    {
        std::lock_guard lock(busFreeMutex_);
        busFreeBy_ = std::max(clock_->now(), busFreeBy_) + onWire;
    }
    port_->send(message);
}
