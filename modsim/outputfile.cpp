#include "outputfile.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace modsim {

namespace {

bool fail(std::string *error, const std::string &path, const std::string &reason)
{
    if (error)
        *error = path + ": " + reason;
    return false;
}

std::string cannotWrite(int err)
{
    return std::string("cannot be written: ") + std::strerror(err);
}

const char *const kLink = "is a symbolic link, which is not followed for writing";
const char *const kNotRegular = "is not a regular file";

std::string folderOf(const std::string &path)
{
    const size_t slash = path.rfind('/');
    if (slash == std::string::npos)
        return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

// Why open() refused: O_NOFOLLOW says ELOOP for a link, a FIFO without a
// reader says ENXIO, a folder EISDIR.
std::string openProblem(const std::string &path, int err)
{
    struct stat st
    {};
    if (lstat(path.c_str(), &st) == 0 && S_ISLNK(st.st_mode))
        return kLink;
    if (err == ENXIO || err == EISDIR)
        return kNotRegular;
    return cannotWrite(err);
}

} // namespace

std::FILE *openOutputFile(const std::string &path, std::string *error)
{
    const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC, 0666);
    if (fd < 0) {
        fail(error, path, openProblem(path, errno));
        return nullptr;
    }
    struct stat st
    {};
    std::string reason;
    if (fstat(fd, &st) != 0)
        reason = cannotWrite(errno);
    else if (!S_ISREG(st.st_mode))
        reason = kNotRegular;
    // Truncated only now that it is known to be a regular file.
    else if (ftruncate(fd, 0) != 0 || fcntl(fd, F_SETFL, 0) != 0)
        reason = cannotWrite(errno);
    std::FILE *file = reason.empty() ? fdopen(fd, "w") : nullptr;
    if (file == nullptr) {
        if (reason.empty())
            reason = cannotWrite(errno);
        close(fd);
        fail(error, path, reason);
    }
    return file;
}

bool checkOutputPlace(const std::string &path, std::string *error)
{
    struct stat st
    {};
    if (lstat(path.c_str(), &st) == 0) {
        if (S_ISLNK(st.st_mode))
            return fail(error, path, kLink);
        if (!S_ISREG(st.st_mode))
            return fail(error, path, kNotRegular);
        return access(path.c_str(), W_OK) == 0 || fail(error, path, cannotWrite(errno));
    }
    if (errno != ENOENT)
        return fail(error, path, cannotWrite(errno));
    const std::string folder = folderOf(path);
    return access(folder.c_str(), W_OK | X_OK) == 0 || fail(error, path, cannotWrite(errno));
}

bool closeOutputFile(std::FILE *file, const std::string &path, std::string *error)
{
    // A write error sticks to the stream; fclose reports one that only the
    // last flush met.
    const bool failedBefore = std::ferror(file) != 0;
    if (std::fclose(file) != 0)
        return fail(error, path, cannotWrite(errno));
    return !failedBefore || fail(error, path, "cannot be written in full");
}

} // namespace modsim
