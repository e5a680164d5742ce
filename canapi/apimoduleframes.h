// How frames of the interface read in the module core's terms and back.
#pragma once

#include "canapi.h"
#include "moduleframes.h"

namespace canapi {

// A module sees the identifier as it travels and never more than 8 data
// bytes, whatever the caller put into the frame.
modsim::Frame toModuleFrame(const ApiFrame &frame);
// Modules send 11-bit data frames only.
ApiFrame fromModuleFrame(const modsim::Frame &frame);

} // namespace canapi
