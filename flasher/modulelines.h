// The console's lines about one module: what it said about itself when it was
// queried, and its result at the end of the run. The id carries the line bits,
// as in the notices.
#pragma once

#include "modulerecord.h"

#include <QString>

#include <cstdint>

// "Module 208: name K3B7, serial 123456, release 4.20, channel 1"; what the
// module did not say shows as "(none)". A module in re-update state adds
// ", in re-update state: takes any firmware file".
QString identityLine(uint16_t id, const ModuleRecord &record);
// "Module 208: updated", "Module 208: not updated: REASON" or
// "Module 208: skipped: REASON"; a module the run never reached is not updated.
QString resultLine(uint16_t id, const ModuleRecord &record);
