// The modules of the standalone program's command line.
#pragma once

#include "moduleconfig.h"

#include <QString>

namespace modsim {

// One --module value: key=value pairs separated by commas. A piece without '='
// continues the previous value, so lists read naturally:
// "address=2,checksum_error_lines=3,7,name=K3B7". Relative paths are taken
// relative to baseDir. False with a message on a bad key, value or
// combination.
bool parseModuleOption(const QString &text, const QString &baseDir, ModuleConfig *config, QString *error);

} // namespace modsim

#include <vector>

namespace modsim {

// Modules that share one bus must differ in their address. False with a message.
bool checkModuleSet(const std::vector<ModuleConfig> &modules, QString *error);

} // namespace modsim
