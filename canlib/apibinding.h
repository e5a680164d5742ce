// The one place that knows where the CAN programming interface comes from.
#pragma once

#include "canapi.h"

namespace tarvpcan3 {

// Bound on first use; every entry is callable (a missing one answers
// API_ERR_NODRIVER).
const CanApiOps &api();

// For tests: the calling thread uses ops instead of the interface until it
// passes null; every other thread keeps the interface.
void useApiOnThisThread(const CanApiOps *ops);

} // namespace tarvpcan3
