// A simulated module's image file, which outlives the process: the next
// tarvModuleSim or simulated bench starts the module from it, so a scan after
// an update sees the release it was flashed with, and a run that only looks
// at a module does not wipe what an earlier run flashed. Its S0 header record
// says what the module runs:
//
//   tarvModuleSim release=4.21             its firmware, that release
//   tarvModuleSim release=4.20 reupdate    only its loader (re-update state)
//
// A file without such a header (a firmware file copied into place) gives the
// module its data and leaves the release and state the bench file says.
#pragma once

#include "image.h"

#include <optional>
#include <string>

namespace modsim {

struct ImageState
{
    std::string release;
    bool reupdate = false;

    bool operator==(const ImageState &) const = default;
};

std::string imageHeader(const ImageState &state);
std::optional<ImageState> parseImageHeader(const std::string &header);

enum class ImageFileRead {
    Missing, // nothing at the place: the module starts as its bench file says
    Read,
    Failed, // "PATH: reason": not a regular file, unreadable or not S-records
};

// Reads without following a link and without blocking on a FIFO.
ImageFileRead readImageFile(const std::string &path, Image *image, std::optional<ImageState> *state,
                            std::string *error);

} // namespace modsim
