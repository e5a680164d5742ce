// Hosts simulated modules on a QtSerialBus device: hands them the bus's frames,
// runs their timers and puts their answers on the bus.
#pragma once

#include "module.h"

#include <QCanBusDevice>
#include <QCanBusFrame>
#include <QElapsedTimer>
#include <QObject>
#include <QTimer>

#include <memory>
#include <optional>
#include <vector>

class QTextStream;

namespace modsim {

// A classic 11-bit data frame as a module sees it; nothing for extended,
// remote, error and CAN FD frames.
std::optional<Frame> moduleFrameOf(const QCanBusFrame &frame);
QCanBusFrame busFrameOf(const Frame &frame);

class ModuleHost : public QObject
{
    Q_OBJECT
public:
    // The host takes the device; lines go to out.
    ModuleHost(std::unique_ptr<QCanBusDevice> device, const QString &deviceText,
               std::vector<ModuleConfig> modules, QTextStream &out, QObject *parent = nullptr);
    ~ModuleHost() override;

    // Connects the device; false (with a line) when that fails at once.
    bool start();
    // Writes every image and disconnects. True when all images were written.
    bool stop();

    const std::vector<Module> &modules() const { return modules_; }

signals:
    void ready();
    void failed();

private:
    void onFramesReceived();
    void onStateChanged(QCanBusDevice::CanBusDeviceState state);
    void onErrorOccurred(QCanBusDevice::CanBusError error);
    void deliver(const Frame &frame, size_t fromModule);
    void flush();
    void armTimer();
    int64_t nowUs() const;
    void print(const QString &line);

    std::unique_ptr<QCanBusDevice> device_;
    QString deviceText_;
    std::vector<Module> modules_;
    QTextStream &out_;
    QElapsedTimer clock_;
    QTimer timer_;
    bool connected_ = false;
};

} // namespace modsim
