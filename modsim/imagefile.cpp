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
                         && std::isdigit(static_cast<unsigned char>(r[2])) && std::isdigit(static_cast<unsigned char>(r[3]));
    if (!release)
        return std::nullopt;
    return state;
}

ImageFileRead readImageFile(const std::string &path, Image *image, std::optional<ImageState> *state,
                            std::string *error)
{
    const int fd = ::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) {
        const int err = errno;
        if (err == ENOENT)
            return ImageFileRead::Missing;
        return failed(error, path, err == ELOOP ? "is a symbolic link, which is not followed" : cannotRead(err));
    }
    struct stat st {};
    std::string text;
    std::string reason;
    if (fstat(fd, &st) != 0)
        reason = cannotRead(errno);
    else if (!S_ISREG(st.st_mode))
        reason = "is not a regular file";
    else if (!readAll(fd, &text))
        reason = cannotRead(errno);
    ::close(fd);
    if (!reason.empty())
        return failed(error, path, reason);
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
