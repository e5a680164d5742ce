// The one way the simulators open a file they write (module images, traces,
// bus statistics): the names come from bench files, which another user may
// have written, and the programs often run as root.
#pragma once

#include <cstdio>
#include <string>

namespace modsim {

// Opens path to be written from its start: creates it, or truncates the
// regular file that is there. A symbolic link at that place is not followed,
// and a FIFO, device or folder is refused without being opened for long (a
// FIFO without reader never blocks). nullptr with "PATH: reason" in error.
std::FILE *openOutputFile(const std::string &path, std::string *error);

// Whether openOutputFile could later write path, without creating or
// changing anything; the reason in error when not.
bool checkOutputPlace(const std::string &path, std::string *error);

// Closes a file from openOutputFile; false with "PATH: reason" when any
// write into it failed (a full disk, a file size limit).
bool closeOutputFile(std::FILE *file, const std::string &path, std::string *error);

} // namespace modsim
