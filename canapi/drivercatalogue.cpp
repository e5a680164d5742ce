#include "drivercatalogue.h"

#include <cstring>

namespace canapi {

namespace {

// Above 9, so that a clean-up pass never takes a plugged adapter for a stale
// registration, and outside 1..3, so that it expects line n on handle 16 - n,
// which is where the driver lists it.
constexpr uint32_t kKindUsb = 11;
constexpr uint32_t kKindPci = 12;
constexpr uint32_t kKindOther = 13;

const char *const kDrivers[] = {"pcan_usb", "pcan_pci", "peakcan"};

} // namespace

bool knownDriver(const char *name)
{
    if (name == nullptr)
        return false;
    for (const char *d : kDrivers) {
        if (std::strcmp(d, name) == 0)
            return true;
    }
    return false;
}

std::string productName(const AdapterConfig &a)
{
    const char *product = a.driver == QLatin1String("pcan_usb")   ? "PCAN-USB"
                          : a.driver == QLatin1String("pcan_pci") ? "PCAN-PCI"
                                                                  : "PCAN";
    return std::string(product) + " (" + a.name.toStdString() + ")";
}

bool driverLists(const std::string &loadedDriver, const QString &adapterDriver)
{
    return loadedDriver == "peakcan" || adapterDriver.toStdString() == loadedDriver;
}

uint32_t hardwareKind(const QString &adapterDriver)
{
    if (adapterDriver == QLatin1String("pcan_usb"))
        return kKindUsb;
    if (adapterDriver == QLatin1String("pcan_pci"))
        return kKindPci;
    return kKindOther;
}

} // namespace canapi
