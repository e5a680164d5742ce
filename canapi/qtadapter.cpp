#include "qtadapter.h"

#include "apiclock.h"
#include "bustiming.h"

#include <QCanBus>
#include <QCanBusDevice>
#include <QCanBusFrame>
#include <QLoggingCategory>
#include <QTimer>
#include <QVariant>

#include <atomic>
#include <clocale>
#include <future>

Q_LOGGING_CATEGORY(lcQtAdapter, "tarv.canapi.qt")

namespace canapi {

namespace {

QCoreApplication *applicationIfNone()
{
    if (QCoreApplication::instance() != nullptr)
        return nullptr;
    static int argc = 1;
    static char name[] = "tarvcanapi";
    static char *argv[] = {name, nullptr};
    // The application object sets the C locale from the environment; the
    // host did not ask for that.
    const std::string locale = std::setlocale(LC_ALL, nullptr);
    auto *application = new QCoreApplication(argc, argv);
    std::setlocale(LC_ALL, locale.c_str());
    return application;
}

} // namespace

QtIoThread::QtIoThread()
    : application_(applicationIfNone())
    , context_(new QObject)
{
    thread_.setObjectName(QStringLiteral("tarvcanapi-io"));
    context_->moveToThread(&thread_);
    thread_.start();
}

QtIoThread::~QtIoThread()
{
    thread_.quit();
    thread_.wait();
    // The thread has ended, so its objects may go from here.
    delete context_;
}

void QtIoThread::runBlocking(const std::function<void()> &fn)
{
    if (QThread::currentThread() == &thread_) {
        fn();
        return;
    }
    QMetaObject::invokeMethod(context_, fn, Qt::BlockingQueuedConnection);
}

uint16_t statusWordOf(int canBusStatus)
{
    switch (static_cast<QCanBusDevice::CanBusStatus>(canBusStatus)) {
    case QCanBusDevice::CanBusStatus::Warning:
        return 0x0004;
    case QCanBusDevice::CanBusStatus::Error:
        return 0x0008;
    case QCanBusDevice::CanBusStatus::BusOff:
        return static_cast<uint16_t>(API_ERR_BUSOFF);
    case QCanBusDevice::CanBusStatus::Good:
    case QCanBusDevice::CanBusStatus::Unknown:
        break;
    }
    return 0;
}

QCanBusFrame toQtFrame(const ApiFrame &frame)
{
    const bool remote = (frame.type & API_FRAME_RTR) != 0;
    const int length = std::min<int>(frame.length, 8);
    QCanBusFrame qf(remote ? QCanBusFrame::RemoteRequestFrame : QCanBusFrame::DataFrame);
    qf.setFrameId(wireId(frame));
    qf.setExtendedFrameFormat((frame.type & API_FRAME_EXT) != 0);
    if (remote)
        qf.setPayload(QByteArray(length, '\0'));
    else
        qf.setPayload(QByteArray(reinterpret_cast<const char *>(frame.data), length));
    return qf;
}

bool fromQtFrame(const QCanBusFrame &qf, ApiFrame *out)
{
    const auto type = qf.frameType();
    if (type != QCanBusFrame::DataFrame && type != QCanBusFrame::RemoteRequestFrame)
        return false;
    if (qf.hasFlexibleDataRateFormat() || qf.hasLocalEcho() || qf.payload().size() > 8)
        return false;
    ApiFrame f{};
    f.type = static_cast<uint8_t>((qf.hasExtendedFrameFormat() ? API_FRAME_EXT : 0u)
                                  | (type == QCanBusFrame::RemoteRequestFrame ? API_FRAME_RTR : 0u));
    f.id = qf.frameId() & (qf.hasExtendedFrameFormat() ? 0x1FFFFFFFu : 0x7FFu);
    const QByteArray payload = qf.payload();
    f.length = static_cast<uint8_t>(payload.size());
    std::copy(payload.begin(), payload.end(), reinterpret_cast<char *>(f.data));
    *out = f;
    return true;
}

QtAdapter::QtAdapter(const AdapterConfig &config, AdapterSink &sink, std::shared_ptr<TraceFile> trace, QtIoThread &io)
    : Adapter(config, sink, std::move(trace))
    , io_(io)
{
}

QtAdapter::~QtAdapter()
{
    stop();
}

bool QtAdapter::takesBitRate() const
{
    // Qt's virtual bus has no bit rate; a vcan interface ignores it as well,
    // and socketcan only warns where it cannot set it.
    return config().plugin != QLatin1String("virtualcan");
}

QCanBusDevice *QtAdapter::createDevice(uint32_t bitRate, QString *error)
{
    QCanBusDevice *device = QCanBus::instance()->createDevice(config().plugin, config().interface, error);
    if (device == nullptr)
        return nullptr;
    if (takesBitRate())
        device->setConfigurationParameter(QCanBusDevice::BitRateKey, QVariant::fromValue(bitRate));
    QObject::connect(device, &QCanBusDevice::framesReceived, device, [this, device] { drain(device); });
    QObject::connect(device, &QCanBusDevice::errorOccurred, device, [device](QCanBusDevice::CanBusError) {
        qCWarning(lcQtAdapter) << device->errorString();
    });
    return device;
}

QCanBusDevice *QtAdapter::startConnecting(uint32_t bitRate, const std::function<void(const QString &)> &settle)
{
    QString problem;
    QCanBusDevice *device = createDevice(bitRate, &problem);
    if (device == nullptr) {
        settle(problem.isEmpty() ? QStringLiteral("no such device") : problem);
        return nullptr;
    }
    QObject::connect(device, &QCanBusDevice::stateChanged, device, [device, settle](QCanBusDevice::CanBusDeviceState state) {
        if (state == QCanBusDevice::ConnectedState)
            settle(QString());
        else if (state == QCanBusDevice::UnconnectedState)
            settle(device->errorString().isEmpty() ? QStringLiteral("connection refused") : device->errorString());
    });
    if (!device->connectDevice())
        settle(device->errorString().isEmpty() ? QStringLiteral("cannot connect") : device->errorString());
    else if (device->state() == QCanBusDevice::ConnectedState)
        settle(QString());
    return device;
}

bool QtAdapter::open(uint32_t bitRate, std::string *error)
{
    bool connected = false;
    io_.runBlocking([&] {
        std::lock_guard lock(mutex_);
        connected = device_ != nullptr && bitRate == bitRate_ && device_->state() == QCanBusDevice::ConnectedState;
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

    auto outcome = std::make_shared<std::promise<QString>>();
    auto settled = std::make_shared<std::atomic<bool>>(false);
    std::future<QString> result = outcome->get_future();
    QCanBusDevice *device = nullptr;
    io_.runBlocking([&] {
        device = startConnecting(bitRate, [outcome, settled](const QString &problem) {
            if (!settled->exchange(true))
                outcome->set_value(problem);
        });
    });

    QString problem = result.wait_for(kConnectTimeout) == std::future_status::ready
        ? result.get()
        : QStringLiteral("not connected after %1 s").arg(kConnectTimeout.count());
    if (problem.isEmpty()) {
        std::lock_guard lock(mutex_);
        if (!stopped_) {
            device_ = device;
            bitRate_ = bitRate;
            return true;
        }
        problem = QStringLiteral("the adapter is stopped");
    }
    if (device != nullptr)
        io_.runBlocking([device] { delete device; });
    *error = QStringLiteral("%1 %2: %3").arg(config().plugin, config().interface, problem).toStdString();
    return false;
}

void QtAdapter::closeDevice()
{
    QCanBusDevice *device = nullptr;
    {
        std::lock_guard lock(mutex_);
        std::swap(device, device_);
        bitRate_ = 0;
    }
    if (device == nullptr)
        return;
    io_.runBlocking([device] {
        device->disconnectDevice();
        delete device;
    });
}

bool QtAdapter::transmit(const ApiFrame &frame, uint64_t origin, int64_t atNs)
{
    std::lock_guard lock(mutex_);
    QCanBusDevice *device = device_;
    if (device == nullptr)
        return false;
    const QCanBusFrame qf = toQtFrame(frame);
    auto write = [this, device, qf, frame, origin] {
        if (device->writeFrame(qf))
            publish(frame, origin, monotonicNs());
    };
    const int64_t delayNs = atNs - monotonicNs();
    // The device is the context: what is still queued for it goes with it.
    if (atNs == 0 || delayNs <= 0) {
        QMetaObject::invokeMethod(device, write, Qt::QueuedConnection);
    } else {
        const int delayMs = static_cast<int>((delayNs + 999999) / 1000000);
        QMetaObject::invokeMethod(device, [device, delayMs, write] {
            QTimer::singleShot(delayMs, device, write);
        }, Qt::QueuedConnection);
    }
    return true;
}

void QtAdapter::drain(QCanBusDevice *device)
{
    while (device->framesAvailable() > 0) {
        ApiFrame frame{};
        if (fromQtFrame(device->readFrame(), &frame))
            publish(frame, 0, monotonicNs());
    }
}

std::optional<uint16_t> QtAdapter::deviceStatus()
{
    uint16_t word = 0;
    io_.runBlocking([&] {
        QCanBusDevice *device = nullptr;
        {
            std::lock_guard lock(mutex_);
            device = device_;
        }
        if (device == nullptr)
            return;
        // A device that lost its connection is hardware that is gone, not a
        // good bus; one without a status (Qt's virtual bus) counts as good.
        if (device->state() != QCanBusDevice::ConnectedState)
            word = static_cast<uint16_t>(API_ERR_ILLHW);
        else if (device->hasBusStatus())
            word = statusWordOf(static_cast<int>(device->busStatus()));
    });
    return word;
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
