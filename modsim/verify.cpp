#include "verify.h"

#include "image.h"

#include <cstdio>

namespace modsim {

namespace {

std::string byteText(const std::optional<uint8_t> &byte)
{
    if (!byte)
        return "nothing";
    char text[8];
    std::snprintf(text, sizeof text, "0x%02X", *byte);
    return text;
}

} // namespace

VerifyOutcome verifyImage(const std::string &firmwarePath, const std::string &imagePath)
{
    Image firmware;
    Image image;
    std::string error;
    if (!loadSRecordFile(firmwarePath, &firmware, &error) || !loadSRecordFile(imagePath, &image, &error))
        return {VerifyUnreadable, "cannot verify: " + error};
    const auto diff = firstDifference(firmware, image);
    if (!diff) {
        return {VerifyEqual, imagePath + " holds exactly the data of " + firmwarePath + " ("
                                 + std::to_string(firmware.size()) + " bytes)"};
    }
    char address[16];
    std::snprintf(address, sizeof address, "0x%08X", *diff);
    return {VerifyDiffers, imagePath + " differs from " + firmwarePath + " at address " + address
                               + ": image holds " + byteText(image.at(*diff)) + ", file holds "
                               + byteText(firmware.at(*diff))};
}

} // namespace modsim
