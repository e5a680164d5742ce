#include "qtadapter.h"

#include "apiclock.h"
#include "bustiming.h"
#include "canlink.h"
#include "qttransmitter.h"

#include <QCanBus>
#include <QCanBusDevice>
#include <QCanBusFrame>
#include <QLoggingCategory>
#include <QSocketNotifier>
#include <QTimer>
#include <QVariant>

#include <atomic>
#include <future>

Q_LOGGING_CATEGORY(lcQtAdapter, "tarv.canapi.qt")

namespace canapi {

QtAdapter::QtAdapter(const AdapterConfig &config, AdapterSink &sink, std::shared_ptr<TraceFile> trace,
                     QtIoThread &io, DeviceFactory factory)
    : Adapter(config, sink, std::move(trace))
    , io_(io)
    , factory_(std::move(factory))
{
    if (!factory_) {
        factory_ = [plugin = config.plugin, interface = config.interface](QString *error) {
            return QCanBus::instance()->createDevice(plugin, interface, error);
        };
    }
}

QtAdapter::~QtAdapter()
{
    stop();
}

bool QtAdapter::isSocketCan() const
{
    return config().plugin == QLatin1String("socketcan");
}

QCanBusDevice *QtAdapter::createDevice(bool setBitRate, uint32_t bitRate, QString *error)
{
    QCanBusDevice *device = factory_(error);
    if (device == nullptr)
        return nullptr;
    // The socketcan plugin keeps a rate of its own (500 kbit/s) and, with
    // libsocketcan, applies it on connecting unless told otherwise.
    device->setConfigurationParameter(QCanBusDevice::BitRateKey,
                                      setBitRate ? QVariant::fromValue(bitRate) : QVariant());
    QObject::connect(device, &QCanBusDevice::framesReceived, device, [this, device] { drain(device); });
    // Write errors are the transmitter's: a full queue is no news, and a
    // lost frame is reported with the frame.
    QObject::connect(device, &QCanBusDevice::errorOccurred, device, [device](QCanBusDevice::CanBusError error) {
        if (error != QCanBusDevice::WriteError)
            qCWarning(lcQtAdapter) << device->errorString();
    });
    return device;
}

QCanBusDevice *QtAdapter::startConnecting(bool setBitRate, uint32_t bitRate,
                                          const std::function<void(const QString &)> &settle)
{
    QString problem;
    QCanBusDevice *device = createDevice(setBitRate, bitRate, &problem);
    if (device == nullptr) {
        settle(problem.isEmpty() ? QStringLiteral("no such device") : problem);
        return nullptr;
    }
    QObject::connect(device, &QCanBusDevice::stateChanged, device,
                     [device, settle](QCanBusDevice::CanBusDeviceState state) {
                         if (state == QCanBusDevice::ConnectedState)
                             settle(QString());
                         else if (state == QCanBusDevice::UnconnectedState)
                             settle(device->errorString().isEmpty() ? QStringLiteral("connection refused")
                                                                    : device->errorString());
                     });
    if (!device->connectDevice())
        settle(device->errorString().isEmpty() ? QStringLiteral("cannot connect") : device->errorString());
    else if (device->state() == QCanBusDevice::ConnectedState)
        settle(QString());
    return device;
}

QString QtAdapter::connectDevice(bool setBitRate, uint32_t bitRate, QCanBusDevice **device)
{
    auto outcome = std::make_shared<std::promise<QString>>();
    auto settled = std::make_shared<std::atomic<bool>>(false);
    std::future<QString> result = outcome->get_future();
    io_.runBlocking([&] {
        *device = startConnecting(setBitRate, bitRate, [outcome, settled](const QString &problem) {
            if (!settled->exchange(true))
                outcome->set_value(problem);
        });
    });
    return result.wait_for(kConnectTimeout) == std::future_status::ready
               ? result.get()
               : QStringLiteral("not connected after %1 s").arg(kConnectTimeout.count());
}

QString QtAdapter::linkProblemAfterConnect(uint32_t bitRate) const
{
    // The plugin has had its chance to set the bit rate. A link left down at
    // the run's rate comes up where this process has the right to do so.
    QString error;
    auto link = readCanLink(config().interface, &error);
    if (link && !link->up && !bitRateWanted(*link, bitRate) && bringLinkUp(config().interface, &error))
        link = readCanLink(config().interface, &error);
    return link ? linkProblem(config().interface, *link, bitRate) : error;
}

bool QtAdapter::open(uint32_t bitRate, std::string *error)
{
    // A new registration starts from a clean status.
    latched_ = 0;
    bool connected = false;
    io_.runBlocking([&] {
        std::lock_guard lock(mutex_);
        connected =
            device_ != nullptr && bitRate == bitRate_ && device_->state() == QCanBusDevice::ConnectedState;
    });
    if (connected)
        return true;
    {
        std::lock_guard lock(mutex_);
        if (stopped_) {
            *error = "the adapter is stopped";
            return false;
        }
    }
    closeDevice();
    const QString problem = openDevice(bitRate);
    if (problem.isEmpty())
        return true;
    *error = QStringLiteral("%1 %2: %3").arg(config().plugin, config().interface, problem).toStdString();
    return false;
}

QString QtAdapter::openDevice(uint32_t bitRate)
{
    QString problem;
    // Qt's virtual bus has no bit rate, and the kernel takes a new one only
    // from a controller that is down; elsewhere the plugin would merely warn.
    bool setBitRate = config().plugin != QLatin1String("virtualcan");
    if (isSocketCan()) {
        const auto link = readCanLink(config().interface, &problem);
        setBitRate = link && bitRateWanted(*link, bitRate);
    }
    QCanBusDevice *device = nullptr;
    if (problem.isEmpty())
        problem = connectDevice(setBitRate, bitRate, &device);
    if (problem.isEmpty() && isSocketCan())
        problem = linkProblemAfterConnect(bitRate);
    if (problem.isEmpty() && install(device, bitRate))
        return QString();
    if (problem.isEmpty())
        problem = QStringLiteral("the adapter is stopped");
    if (device != nullptr)
        io_.runBlocking([device] { delete device; });
    return problem;
}

bool QtAdapter::install(QCanBusDevice *device, uint32_t bitRate)
{
    QtTransmitter *transmitter = nullptr;
    io_.runBlocking([&] { transmitter = attachTransmitter(device); });
    std::lock_guard lock(mutex_);
    if (stopped_)
        return false;
    device_ = device;
    transmitter_ = transmitter;
    bitRate_ = bitRate;
    return true;
}

QtTransmitter *QtAdapter::attachTransmitter(QCanBusDevice *device)
{
    QtTransmitter::Hooks hooks;
    hooks.written = [this](const QtTransmitter::Entry &entry) {
        publish(entry.frame, entry.origin, monotonicNs());
        leave();
    };
    hooks.failed = [this](const QtTransmitter::Entry *entry, const QString &reason) {
        if (entry != nullptr)
            leave();
        latch(static_cast<uint16_t>(API_ERR_ILLHW));
        const QString frame = entry != nullptr
                                  ? QStringLiteral("frame %1").arg(wireId(entry->frame), 3, 16, QLatin1Char('0'))
                                  : QStringLiteral("a frame");
        qCWarning(lcQtAdapter, "%s %s: %s lost: %s", qPrintable(config().plugin), qPrintable(config().interface),
                  qPrintable(frame), qPrintable(reason));
    };
    // Qt keeps the socket to itself; its read notifier is the one handle on it.
    const auto *notifier = isSocketCan() ? device->findChild<QSocketNotifier *>() : nullptr;
    receiveSocket_ = notifier != nullptr ? static_cast<int>(notifier->socket()) : -1;
    receiveDrops_ = 0;
    return new QtTransmitter(device, std::move(hooks));
}

void QtAdapter::closeDevice()
{
    // Frames still waiting get the time the bus needs for a full queue;
    // whatever is left then is lost, and said so.
    {
        std::unique_lock lock(drainMutex_);
        drained_.wait_for(lock, kDrainTimeout, [this] { return waiting_.load() == 0; });
    }
    if (const int left = waiting_.load(); left > 0) {
        qCWarning(lcQtAdapter, "%s %s: %d frames lost, not sent when the adapter closed",
                  qPrintable(config().plugin), qPrintable(config().interface), left);
    }
    QCanBusDevice *device = nullptr;
    {
        std::lock_guard lock(mutex_);
        std::swap(device, device_);
        endRefusalBurstLocked();
        transmitter_ = nullptr;
        bitRate_ = 0;
    }
    if (device == nullptr)
        return;
    io_.runBlocking([device] {
        device->disconnectDevice();
        delete device;
    });
    // What the device had not written went with it.
    waiting_ = 0;
}

void QtAdapter::leave()
{
    if (--waiting_ == 0) {
        std::lock_guard lock(drainMutex_);
        drained_.notify_all();
    }
}

void QtAdapter::latch(uint16_t word)
{
    uint16_t none = 0;
    latched_.compare_exchange_strong(none, word);
}

bool QtAdapter::transmit(const ApiFrame &frame, uint64_t origin, int64_t atNs)
{
    std::lock_guard lock(mutex_);
    QtTransmitter *transmitter = transmitter_;
    if (transmitter == nullptr)
        return false;
    if (waiting_.load() >= kTransmitQueueFrames) {
        latch(static_cast<uint16_t>(API_ERR_QXMTFULL));
        if (refusals_.refuse()) {
            qCWarning(lcQtAdapter, "%s %s: frame %03X refused, %d frames wait for the bus already",
                      qPrintable(config().plugin), qPrintable(config().interface),
                      static_cast<unsigned>(wireId(frame)), kTransmitQueueFrames);
        }
        return false;
    }
    endRefusalBurstLocked();
    ++waiting_;
    auto push = [transmitter, entry = QtTransmitter::Entry{toQtFrame(frame), frame, origin}] {
        transmitter->push(entry);
    };
    const int64_t delayNs = atNs - monotonicNs();
    // The transmitter is the context: what is still queued for it goes with
    // its device.
    if (atNs == 0 || delayNs <= 0) {
        QMetaObject::invokeMethod(transmitter, push, Qt::QueuedConnection);
    } else {
        const int delayMs = static_cast<int>((delayNs + 999999) / 1000000);
        QMetaObject::invokeMethod(
            transmitter, [transmitter, delayMs, push] { QTimer::singleShot(delayMs, transmitter, push); },
            Qt::QueuedConnection);
    }
    return true;
}

void QtAdapter::endRefusalBurstLocked()
{
    if (const int untold = refusals_.end(); untold > 0) {
        qCWarning(lcQtAdapter, "%s %s: %d more frames refused, the queue being full", qPrintable(config().plugin),
                  qPrintable(config().interface), untold);
    }
}

void QtAdapter::drain(QCanBusDevice *device)
{
    while (device->framesAvailable() > 0) {
        ApiFrame frame{};
        if (fromQtFrame(device->readFrame(), &frame))
            publish(frame, 0, monotonicNs());
    }
    countReceiveDrops();
}

void QtAdapter::countReceiveDrops()
{
    if (receiveSocket_ < 0)
        return;
    const auto drops = receiveDrops(receiveSocket_);
    if (!drops || *drops == receiveDrops_)
        return;
    qCWarning(lcQtAdapter,
              "%s %s: the kernel dropped %u received frames, the socket's buffer being full (%u in all)",
              qPrintable(config().plugin), qPrintable(config().interface), *drops - receiveDrops_, *drops);
    receiveDrops_ = *drops;
}

uint16_t QtAdapter::liveStatusWord()
{
    bool present = false;
    bool connected = false;
    uint16_t word = 0;
    io_.runBlocking([&] {
        QCanBusDevice *device = nullptr;
        {
            std::lock_guard lock(mutex_);
            device = device_;
        }
        present = device != nullptr;
        connected = present && device->state() == QCanBusDevice::ConnectedState;
        if (connected && !isSocketCan() && device->hasBusStatus())
            word = statusWordOf(static_cast<int>(device->busStatus()));
    });
    // A device that lost its connection is hardware that is gone, not a good
    // bus; one without a status (Qt's virtual bus) counts as good.
    if (!present)
        return 0;
    if (!connected)
        return static_cast<uint16_t>(API_ERR_ILLHW);
    if (!isSocketCan())
        return word;
    // The kernel knows the controller's state with or without libsocketcan;
    // an interface that vanished is an adapter unplugged.
    QString error;
    const auto link = readCanLink(config().interface, &error);
    return link ? statusWordOfLink(*link) : static_cast<uint16_t>(API_ERR_ILLHW);
}

std::optional<uint16_t> QtAdapter::deviceStatus()
{
    const uint16_t live = liveStatusWord();
    return live != 0 ? live : latched_.load();
}

void QtAdapter::stop()
{
    {
        std::lock_guard lock(mutex_);
        if (stopped_)
            return;
        stopped_ = true;
    }
    closeDevice();
}

} // namespace canapi
