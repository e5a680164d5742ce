#include "imagefile.h"

#include <cctype>
#include <cerrno>
#include <cstring>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace modsim {

namespace {

const std::string kPrefix = "tarvModuleSim release=";
const std::string kReupdate = " reupdate";

ImageFileRead failed(std::string *error, const std::string &path, const std::string &reason)
{
    if (error)
        *error = path + ": " + reason;
    return ImageFileRead::Failed;
}

std::string cannotRead(int err)
{
    return std::string("cannot be read: ") + std::strerror(err);
}

bool readAll(int fd, std::string *text)
{
    char buf[65536];
    for (;;) {
        const ssize_t n = ::read(fd, buf, sizeof buf);
        if (n == 0)
            return true;
        if (n < 0 && errno != EINTR)
            return false;
        if (n > 0)
            text->append(buf, static_cast<size_t>(n));
    }
}

} // namespace

std::string imageHeader(const ImageState &state)
{
    return kPrefix + state.release + (state.reupdate ? kReupdate : std::string());
}

std::optional<ImageState> parseImageHeader(const std::string &header)
{
    if (header.rfind(kPrefix, 0) != 0)
        return std::nullopt;
    ImageState state;
    state.release = header.substr(kPrefix.size());
    if (state.release.size() > kReupdate.size()
        && state.release.compare(state.release.size() - kReupdate.size(), kReupdate.size(), kReupdate) == 0) {
        state.release.resize(state.release.size() - kReupdate.size());
        state.reupdate = true;
    }
    const std::string &r = state.release;
    const bool release = r.size() == 4 && std::isdigit(static_cast<unsigned char>(r[0])) && r[1] == '.'
                         && std::isdigit(static_cast<unsigned char>(r[2]))
                         && std::isdigit(static_cast<unsigned char>(r[3]));
    if (!release)
        return std::nullopt;
    return state;
}

namespace {

// The bytes of a regular file. Opened without blocking, so that a FIFO or a
// device is refused instead of waiting for a writer for ever. ENOENT stays in
// *err for the caller to tell a missing file from a bad one.
bool readRegularFile(const std::string &path, bool followLinks, std::string *text, std::string *reason, int *err)
{
    const int fd =
        ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC | (followLinks ? 0 : O_NOFOLLOW));
    if (fd < 0) {
        *err = errno;
        *reason = *err == ELOOP && !followLinks ? "is a symbolic link, which is not followed" : cannotRead(*err);
        return false;
    }
    struct stat st
    {};
    if (fstat(fd, &st) != 0)
        *reason = cannotRead(errno);
    else if (!S_ISREG(st.st_mode))
        *reason = "is not a regular file";
    else if (!readAll(fd, text))
        *reason = cannotRead(errno);
    ::close(fd);
    return reason->empty();
}

} // namespace

bool loadSRecordFile(const std::string &path, Image *image, std::string *error)
{
    std::string text;
    std::string reason;
    int err = 0;
    if (!readRegularFile(path, true, &text, &reason, &err) || !imageFromSRecordText(text, image, &reason)) {
        if (error)
            *error = path + ": " + reason;
        return false;
    }
    return true;
}

ImageFileRead readImageFile(const std::string &path, Image *image, std::optional<ImageState> *state,
                            std::string *error)
{
    std::string text;
    std::string reason;
    int err = 0;
    if (!readRegularFile(path, false, &text, &reason, &err))
        return err == ENOENT ? ImageFileRead::Missing : failed(error, path, reason);
    std::string header;
    std::string why;
    if (!imageFromSRecordText(text, image, &why, &header))
        return failed(error, path, "is no image (S-records): " + why);
    *state = parseImageHeader(header);
    if (!*state && header.rfind("tarvModuleSim ", 0) == 0)
        return failed(error, path, "has a damaged header record: \"" + header + "\"");
    return ImageFileRead::Read;
}

} // namespace modsim
