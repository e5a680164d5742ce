// A module's image file between processes: the next module on that file
// starts where the last one ended, and a file it cannot read stops it.
#include "imagefile.h"
#include "modulebench.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>

#include <sys/stat.h>
#include <unistd.h>

using namespace modsim;
using namespace modsim::test;

namespace {

namespace fs = std::filesystem;

const std::vector<std::string> kFile = {"S00600004844521B", "S1061000010203E3", "S9031000EC"};

class ModuleImageFile : public testing::Test
{
protected:
    void SetUp() override
    {
        dir = fs::temp_directory_path() / ("modsim-imagefile-" + std::to_string(::getpid()));
        fs::create_directories(dir);
        config = quickConfig();
        config.release = "4.20";
        config.newRelease = "4.21";
        config.imagePath = (dir / "m.s3").string();
    }
    void TearDown() override { fs::remove_all(dir); }

    static void flash(ModuleBench &b)
    {
        ASSERT_TRUE(b.enterUpdateMode());
        b.startPass(3);
        for (const std::string &line : kFile)
            ASSERT_EQ(b.lineAnswer(line), 0x81);
        b.toModule({0x15, 0x06});
        b.runFor(600'000);
        b.take();
    }
    static std::string release(ModuleBench &b)
    {
        b.request({0x12, 0x00});
        const auto frames = b.take();
        return frames.size() == 1 ? decodeReleaseText(frames[0].frame) : "no answer";
    }
    std::string fileText() const
    {
        std::ifstream in(config.imagePath);
        std::ostringstream text;
        text << in.rdbuf();
        return text.str();
    }

    fs::path dir;
    ModuleConfig config;
};

TEST_F(ModuleImageFile, NextProcessStartsFromTheFlashedImageAndItsRelease)
{
    Image flashed;
    {
        ModuleBench first(config);
        ASSERT_TRUE(first.module.restoreImage(nullptr)) << "no file yet: the bench file's state";
        EXPECT_EQ(release(first), "4.20");
        flash(first);
        flashed = first.module.image();
    }
    ModuleBench next(config);
    std::string error;
    ASSERT_TRUE(next.module.restoreImage(&error)) << error;
    EXPECT_EQ(release(next), "4.21");
    EXPECT_EQ(next.module.image(), flashed);
    ASSERT_FALSE(flashed.empty());
    // A scan's end writes the image back: the flashed data stays.
    ASSERT_TRUE(next.module.saveImage(&error)) << error;
    Image back;
    ASSERT_TRUE(loadSRecordFile(config.imagePath, &back, &error)) << error;
    EXPECT_EQ(back, flashed);
}

TEST_F(ModuleImageFile, ReupdateStateLastsUntilAFlashEndsIt)
{
    config.reupdate = true;
    {
        ModuleBench loaderOnly(config);
        ASSERT_TRUE(loaderOnly.module.saveImage(nullptr));
    }
    {
        ModuleBench again(config);
        ASSERT_TRUE(again.module.restoreImage(nullptr));
        EXPECT_TRUE(again.module.inReupdateState());
        flash(again);
    }
    ModuleBench flashed(config);
    ASSERT_TRUE(flashed.module.restoreImage(nullptr));
    EXPECT_FALSE(flashed.module.inReupdateState()) << fileText();
    EXPECT_EQ(release(flashed), "4.21");
}

TEST_F(ModuleImageFile, FileWithoutHeaderGivesItsDataAndKeepsTheBenchRelease)
{
    std::ofstream(config.imagePath) << "S1061000010203E3\nS9031000EC\n";
    ModuleBench b(config);
    ASSERT_TRUE(b.module.restoreImage(nullptr));
    EXPECT_EQ(release(b), "4.20");
    EXPECT_EQ(b.module.image().size(), 3u);
}

TEST_F(ModuleImageFile, UnreadableFileStopsTheModuleAndIsLeftAsItIs)
{
    const auto damaged = [this] { std::ofstream(config.imagePath) << "S1061000010203E3\nnot a record\n"; };
    const auto badHeader = [this] {
        std::ofstream(config.imagePath) << toS3Text(Image{}, "tarvModuleSim release=4.2x");
    };
    const auto folder = [this] { fs::create_directory(config.imagePath); };
    const auto fifo = [this] { ASSERT_EQ(mkfifo(config.imagePath.c_str(), 0600), 0); };
    const auto link = [this] {
        std::ofstream(dir / "elsewhere.s3") << "S9031000EC\n";
        fs::create_symlink(dir / "elsewhere.s3", config.imagePath);
    };
    const std::pair<std::function<void()>, const char *> cases[] = {{damaged, "is no image (S-records): line 2"},
                                                                    {badHeader, "has a damaged header record"},
                                                                    {folder, "is not a regular file"},
                                                                    {fifo, "is not a regular file"},
                                                                    {link, "is a symbolic link"}};
    for (const auto &[make, reason] : cases) {
        fs::remove_all(dir);
        fs::create_directories(dir);
        make();
        const std::string before = fs::is_regular_file(config.imagePath) ? fileText() : std::string();
        ModuleBench b(config);
        std::string error;
        EXPECT_FALSE(b.module.restoreImage(&error)) << reason;
        EXPECT_EQ(error.rfind(config.imagePath + ": ", 0), 0u) << error;
        EXPECT_NE(error.find(reason), std::string::npos) << error;
        EXPECT_EQ(b.module.phase(), Module::Phase::Dead) << reason;
        b.send(0x7FF, {0xD8, 0x01});
        b.runFor(100'000);
        EXPECT_TRUE(b.take().empty()) << reason << ": it answered";
        EXPECT_FALSE(b.module.saveImage(nullptr)) << reason << ": written over";
        if (!before.empty()) {
            EXPECT_EQ(fileText(), before) << reason;
        }
    }
}

} // namespace
