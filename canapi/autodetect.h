// Finds the real adapters of the machine when no bench file exists.
#pragma once

#include "benchconfig.h"

#include <QStringList>

namespace canapi {

// The driver that lists a device found by a QtSerialBus plugin: PEAK's USB
// adapters (peakcan usbN, socketcan on peak_usb) under pcan_usb, its PCI
// cards under pcan_pci, other PEAK channels under peakcan; empty for devices
// that are no PEAK adapter.
QString driverForDevice(const QString &plugin, const QString &name, const QString &kernelDriver);

// Kernel driver of a network interface, from sysfs; empty when unknown.
QString kernelDriverOf(const QString &interfaceName);

// What a search that found no adapter saw on the way.
struct FruitlessSearch
{
    QStringList otherInterfaces; // SocketCAN interfaces of no PEAK driver, "can0 (gs_usb)"
    QString peakcanProblem;      // why PCAN-Basic listed nothing; empty when it answered
};
// The line that says where adapters were looked for and not found.
QString noAdapterFound(const FruitlessSearch &search);

// The adapters found; with none, says so on standard error.
BenchConfig detectBench();

} // namespace canapi
