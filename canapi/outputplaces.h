// The places an adapter of the bench writes to: its trace, its statistics
// and its modules' images. Each must be writable, and none may be one of the
// run's inputs (InputFiles), which an output written over would destroy.
#pragma once

#include "benchconfig.h"
#include "inputfiles.h"
#include "runplaces.h"
#include "trace.h"

#include <QString>

#include <memory>

namespace canapi {

// Fills in the run's placeholders of the adapter's trace and statistics
// places, creating those that name the run's time. The first that fails, as
// "FILE:LINE: ..."; empty when all are fine.
QString resolveRunPlaces(const BenchConfig &bench, RunPlaces &places, AdapterConfig *a);

// Opens the adapter's trace (shared with adapters naming the same file) and
// checks its other output places. The first that fails, as "FILE:LINE: ..."
// naming the key, the adapter or module and the file; empty when all are
// fine.
QString openOutputs(const BenchConfig &bench, const InputFiles &inputs, const AdapterConfig &a, TraceFiles &files,
                    std::shared_ptr<TraceFile> *trace);

} // namespace canapi
