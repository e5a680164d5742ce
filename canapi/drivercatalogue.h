// The drivers the interface knows, and what it says of the adapters each one
// lists: product name and hardware kind.
#pragma once

#include "benchconfig.h"

#include <QString>

#include <cstdint>
#include <string>

namespace canapi {

bool knownDriver(const char *name);
// Which drivers list an adapter configured with driver name `driver`.
bool driverLists(const std::string &loadedDriver, const QString &adapterDriver);
// Kind value (hardware parameter 2) and product name of an adapter.
uint32_t hardwareKind(const QString &adapterDriver);
std::string productName(const AdapterConfig &a);

} // namespace canapi
