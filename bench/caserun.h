// One benchmark case from start to end: the firmware file and bench
// configuration in a folder of their own, a complete run of the console
// program on the simulated bus, the check of every module's image, and the
// case's figures.
#pragma once

#include "casemetrics.h"

#include <string>

namespace bench {

struct Programs
{
    std::string flasher;   // tarvCanFlash, with libtarvpcan3 and libtarvcanapi beside it
    std::string moduleSim; // tarvModuleSim, for the virtual bus
};

// workDir must exist and be empty; everything of the case goes there.
CaseResult runCase(const Case &c, const Programs &programs, const std::string &workDir);

} // namespace bench
