// Where the bench of this process comes from, and the note that tells the
// caller which place of the bench file its failure goes back to.
#pragma once

#include "benchconfig.h"

#include <QString>

namespace canapi {

// The bench of this process: the file named by TARVCAN_CONFIG, else
// tarvcan.ini beside the library (a build folder), else the machine's in
// /etc, else the adapters found on the machine. A bad file is reported and
// gives no adapters at all.
BenchConfig environmentBench();

// Where the bench file describes the adapters, for the caller's own error
// line after a failed set-up: the interface's set-up texts are too short for
// a path, and the caller runs in this process. "FILE:LINE: ..." in the
// application object's property "tarvcanapi.bench", set only on the thread
// that owns that object, where the caller sets up its line.
void noteBenchPlace(const QString &text);

} // namespace canapi
