// The one check of a module image against a firmware file.
#pragma once

#include <string>

namespace modsim {

enum VerifyExit { VerifyEqual = 0, VerifyDiffers = 1, VerifyUnreadable = 2 };

struct VerifyOutcome
{
    VerifyExit exitCode = VerifyUnreadable;
    std::string message; // one line, no line end
};

// Whether the image file holds exactly the data bytes of the firmware file:
// every byte at its address and no byte more.
VerifyOutcome verifyImage(const std::string &firmwarePath, const std::string &imagePath);

} // namespace modsim
