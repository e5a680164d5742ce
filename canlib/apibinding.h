// The one place that knows where the CAN programming interface comes from.
#pragma once

#include "canapi.h"

namespace tarvpcan3 {

// Bound on first use; every entry is callable (a missing one answers
// API_ERR_NODRIVER).
const CanApiOps &api();

} // namespace tarvpcan3
