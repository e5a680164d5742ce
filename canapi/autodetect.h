// Finds the real adapters of the machine when no bench file exists.
#pragma once

#include "benchconfig.h"

namespace canapi {

// The driver that lists a device found by a QtSerialBus plugin: PEAK's USB
// adapters (peakcan usbN, socketcan on peak_usb) under pcan_usb, its PCI
// cards under pcan_pci, other PEAK channels under peakcan; empty for devices
// that are no PEAK adapter.
QString driverForDevice(const QString &plugin, const QString &name, const QString &kernelDriver);

// Kernel driver of a network interface, from sysfs; empty when unknown.
QString kernelDriverOf(const QString &interfaceName);

BenchConfig detectBench();

} // namespace canapi
