// Files the simulators write at places a bench file names: only a regular
// file is written, a link is never followed, a write error is reported.
#include "image.h"
#include "outputfile.h"

#include <gtest/gtest.h>

#include <csignal>
#include <filesystem>
#include <fstream>
#include <sstream>

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace modsim;
namespace fs = std::filesystem;

namespace {

std::string contentOf(const fs::path &path)
{
    std::ifstream in(path);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

class Place : public testing::Test
{
protected:
    void SetUp() override
    {
        dir_ = fs::temp_directory_path() / ("tarv-outputfile-" + std::to_string(getpid()));
        fs::create_directories(dir_);
        std::ofstream(victim()) << "keep";
    }
    void TearDown() override { fs::remove_all(dir_); }
    fs::path victim() const { return dir_ / "victim.txt"; }
    fs::path target() const { return dir_ / "out.s3"; }

    fs::path dir_;
};

struct Hostile
{
    const char *what;
    void (*make)(const fs::path &target, const fs::path &victim);
    const char *reason;
};

std::ostream &operator<<(std::ostream &os, const Hostile &h)
{
    return os << h.what;
}

class HostilePlace : public Place, public testing::WithParamInterface<Hostile>
{};

// Every writer goes through these two: a plain file and the image's
// write-beside-and-rename.
TEST_P(HostilePlace, IsRefusedAndLeftAsItWas)
{
    GetParam().make(target(), victim());
    const auto before = fs::symlink_status(target()).type();
    std::string error;
    EXPECT_EQ(openOutputFile(target().string(), &error), nullptr);
    EXPECT_NE(error.find(target().string() + ": " + GetParam().reason), std::string::npos) << error;
    error.clear();
    Image image;
    image.write(0x100, {1, 2, 3});
    EXPECT_FALSE(saveS3File(image, target().string(), &error));
    EXPECT_NE(error.find(GetParam().reason), std::string::npos) << error;
    EXPECT_EQ(fs::symlink_status(target()).type(), before);
    EXPECT_EQ(contentOf(victim()), "keep");
}

INSTANTIATE_TEST_SUITE_P(
    Places, HostilePlace,
    testing::Values(
        Hostile{"link to a file", [](const fs::path &t, const fs::path &v) { fs::create_symlink(v, t); },
                "is a symbolic link"},
        Hostile{"dangling link",
                [](const fs::path &t, const fs::path &v) { fs::create_symlink(v.string() + ".new", t); },
                "is a symbolic link"},
        Hostile{"named pipe", [](const fs::path &t, const fs::path &) { ASSERT_EQ(mkfifo(t.c_str(), 0600), 0); },
                "is not a regular file"},
        Hostile{"folder", [](const fs::path &t, const fs::path &) { fs::create_directory(t); },
                "is not a regular file"},
        Hostile{"link to a device",
                [](const fs::path &t, const fs::path &) { fs::create_symlink("/dev/null", t); },
                "is a symbolic link"}),
    [](const testing::TestParamInfo<Hostile> &info) {
        std::string name = info.param.what;
        std::replace(name.begin(), name.end(), ' ', '_');
        return name;
    });

TEST_F(Place, PipeWithAReaderIsRefusedWithoutBlocking)
{
    ASSERT_EQ(mkfifo(target().c_str(), 0600), 0);
    const int reader = open(target().c_str(), O_RDONLY | O_NONBLOCK);
    ASSERT_GE(reader, 0);
    std::string error;
    EXPECT_EQ(openOutputFile(target().string(), &error), nullptr);
    EXPECT_NE(error.find("not a regular file"), std::string::npos) << error;
    close(reader);
}

TEST_F(Place, DeviceIsRefused)
{
    std::string error;
    EXPECT_EQ(openOutputFile("/dev/null", &error), nullptr);
    EXPECT_NE(error.find("/dev/null: is not a regular file"), std::string::npos) << error;
}

// Truncated, not overwritten in place: no tail of an older, longer file stays.
TEST_F(Place, RegularFileIsReplaced)
{
    std::ofstream(target()) << "an older and much longer content";
    std::string error;
    std::FILE *file = openOutputFile(target().string(), &error);
    ASSERT_NE(file, nullptr) << error;
    std::fputs("new", file);
    EXPECT_TRUE(closeOutputFile(file, target().string(), &error)) << error;
    EXPECT_EQ(contentOf(target()), "new");
}

// A full disk, played by a file size limit: the image is not reported as
// written, and no half image is left in its place.
TEST_F(Place, ImageThatDoesNotFitIsAnError)
{
    Image image;
    for (uint32_t a = 0; a < 4096; ++a)
        image.write(a, {uint8_t(a)});
    std::ofstream(target()) << "old image";
    const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
    rlimit old{};
    getrlimit(RLIMIT_FSIZE, &old);
    rlimit small = old;
    small.rlim_cur = 1024;
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
    std::string error;
    const bool saved = saveS3File(image, target().string(), &error);
    setrlimit(RLIMIT_FSIZE, &old);
    std::signal(SIGXFSZ, oldHandler);
    EXPECT_FALSE(saved);
    EXPECT_NE(error.find("cannot be written"), std::string::npos) << error;
    EXPECT_EQ(contentOf(target()), "old image");
    EXPECT_FALSE(fs::exists(target().string() + ".part"));
}

} // namespace
