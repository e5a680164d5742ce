#include "modulehost.h"

#include <QTextStream>

#include <climits>

namespace modsim {

std::optional<Frame> moduleFrameOf(const QCanBusFrame &frame)
{
    if (!frame.isValid() || frame.frameType() != QCanBusFrame::DataFrame || frame.hasExtendedFrameFormat()
        || frame.hasFlexibleDataRateFormat() || frame.frameId() > 0x7FF || frame.payload().size() > 8)
        return std::nullopt;
    Frame f;
    f.id = static_cast<uint16_t>(frame.frameId());
    const QByteArray payload = frame.payload();
    f.len = static_cast<uint8_t>(payload.size());
    for (qsizetype i = 0; i < payload.size(); ++i)
        f.data[static_cast<size_t>(i)] = static_cast<uint8_t>(payload[i]);
    return f;
}

QCanBusFrame busFrameOf(const Frame &frame)
{
    const QByteArray payload(reinterpret_cast<const char *>(frame.data.data()), std::min<int>(frame.len, 8));
    QCanBusFrame out(frame.id & 0x7FF, payload);
    // The constructor picks the format from the identifier's value; the
    // modules speak 11-bit frames only.
    out.setExtendedFrameFormat(false);
    return out;
}

ModuleHost::ModuleHost(std::unique_ptr<QCanBusDevice> device, const QString &deviceText,
                       std::vector<ModuleConfig> modules, QTextStream &out, QObject *parent)
    : QObject(parent)
    , device_(std::move(device))
    , deviceText_(deviceText)
    , out_(out)
{
    modules_.reserve(modules.size());
    for (ModuleConfig &c : modules)
        modules_.emplace_back(std::move(c));
    clock_.start();
    timer_.setSingleShot(true);
    timer_.setTimerType(Qt::PreciseTimer);
    connect(&timer_, &QTimer::timeout, this, [this] {
        const int64_t now = nowUs();
        for (Module &m : modules_)
            m.advance(now);
        flush();
    });
    connect(device_.get(), &QCanBusDevice::framesReceived, this, &ModuleHost::onFramesReceived);
    connect(device_.get(), &QCanBusDevice::stateChanged, this, &ModuleHost::onStateChanged);
    connect(device_.get(), &QCanBusDevice::errorOccurred, this, &ModuleHost::onErrorOccurred);
}

ModuleHost::~ModuleHost()
{
    if (device_)
        device_->disconnect(this);
}

bool ModuleHost::start()
{
    for (Module &m : modules_) {
        std::string error;
        if (!m.restoreImage(&error)) {
            print(QStringLiteral("tarvModuleSim: image of module %1 not read: %2")
                      .arg(m.config().id(), 3, 16, QLatin1Char('0'))
                      .arg(QString::fromStdString(error)));
            return false;
        }
    }
    if (!device_->connectDevice()) {
        print(QStringLiteral("tarvModuleSim: cannot connect %1: %2").arg(deviceText_, device_->errorString()));
        return false;
    }
    return true;
}

bool ModuleHost::stop()
{
    timer_.stop();
    bool ok = true;
    for (const Module &m : modules_) {
        std::string error;
        if (!m.saveImage(&error)) {
            print(QStringLiteral("tarvModuleSim: image of module %1 not written: %2")
                      .arg(m.config().id(), 3, 16, QLatin1Char('0'))
                      .arg(QString::fromStdString(error)));
            ok = false;
        } else if (!m.config().imagePath.empty()) {
            print(QStringLiteral("module %1: image written to %2")
                      .arg(m.config().id(), 3, 16, QLatin1Char('0'))
                      .arg(QString::fromStdString(m.config().imagePath)));
        }
    }
    if (device_->state() != QCanBusDevice::UnconnectedState)
        device_->disconnectDevice();
    return ok;
}

void ModuleHost::onStateChanged(QCanBusDevice::CanBusDeviceState state)
{
    if (state == QCanBusDevice::ConnectedState && !connected_) {
        connected_ = true;
        // Untimed, so a caller can wait for a line that starts with these words.
        out_
            << QStringLiteral("tarvModuleSim ready on %1 with %2 module(s)").arg(deviceText_).arg(modules_.size())
            << Qt::endl;
        emit ready();
    } else if (state == QCanBusDevice::UnconnectedState && !connected_) {
        emit failed();
    }
}

void ModuleHost::onErrorOccurred(QCanBusDevice::CanBusError error)
{
    print(QStringLiteral("tarvModuleSim: device error %1: %2").arg(int(error)).arg(device_->errorString()));
    if (!connected_ && error == QCanBusDevice::ConnectionError)
        emit failed();
}

void ModuleHost::onFramesReceived()
{
    const int64_t now = nowUs();
    for (const QCanBusFrame &qf : device_->readAllFrames()) {
        if (const auto frame = moduleFrameOf(qf)) {
            for (Module &m : modules_)
                m.receive(*frame, now);
        }
    }
    flush();
}

// Frames of one module reach the others as on a real bus; the device does not
// echo them back.
void ModuleHost::deliver(const Frame &frame, size_t fromModule)
{
    const int64_t now = nowUs();
    for (size_t i = 0; i < modules_.size(); ++i) {
        if (i != fromModule)
            modules_[i].receive(frame, now);
    }
}

void ModuleHost::flush()
{
    bool more = true;
    while (more) {
        more = false;
        for (size_t i = 0; i < modules_.size(); ++i) {
            for (const std::string &event : modules_[i].takeEvents())
                print(QString::fromStdString(event));
            for (const Frame &f : modules_[i].takeOutgoing()) {
                if (!device_->writeFrame(busFrameOf(f)))
                    print(QStringLiteral("tarvModuleSim: frame not sent: %1").arg(device_->errorString()));
                deliver(f, i);
                more = true;
            }
        }
    }
    armTimer();
}

void ModuleHost::armTimer()
{
    int64_t next = INT64_MAX;
    for (const Module &m : modules_)
        next = std::min(next, m.nextDeadlineUs());
    if (next == INT64_MAX) {
        timer_.stop();
        return;
    }
    // Rounded up: a timer that fires early would find nothing due and re-arm.
    const int64_t waitMs = std::max<int64_t>(0, (next - nowUs() + 999) / 1000);
    timer_.start(static_cast<int>(std::min<int64_t>(waitMs, INT_MAX)));
}

int64_t ModuleHost::nowUs() const
{
    return clock_.nsecsElapsed() / 1000;
}

void ModuleHost::print(const QString &line)
{
    out_ << QString::number(double(nowUs()) / 1e6, 'f', 3) << ' ' << line << Qt::endl;
}

} // namespace modsim
