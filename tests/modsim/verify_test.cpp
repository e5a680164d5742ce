#include "verify.h"

#include "image.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

using namespace modsim;

namespace {

class Verify : public testing::Test
{
protected:
    void SetUp() override
    {
        dir = std::filesystem::temp_directory_path()
              / ("modsim-verify-" + std::to_string(::getpid()) + "-"
                 + testing::UnitTest::GetInstance()->current_test_info()->name());
        std::filesystem::create_directories(dir);
        firmware = write("fw.hex", "S00600004844521B\r\nS1061000010203E3\r\nS2060100000102F5\r\nS9031000EC\r\n");
    }
    void TearDown() override { std::filesystem::remove_all(dir); }

    std::string write(const std::string &name, const std::string &text)
    {
        const auto path = dir / name;
        std::ofstream(path, std::ios::binary) << text;
        return path.string();
    }
    std::string imageFile(const std::map<uint32_t, uint8_t> &bytes)
    {
        Image image;
        for (auto [a, v] : bytes)
            image.write(a, {v});
        return write("image.s3", toS3Text(image));
    }

    std::filesystem::path dir;
    std::string firmware;
};

TEST_F(Verify, ExactImagePasses)
{
    const auto outcome =
        verifyImage(firmware, imageFile({{0x1000, 1}, {0x1001, 2}, {0x1002, 3}, {0x10000, 1}, {0x10001, 2}}));
    EXPECT_EQ(outcome.exitCode, VerifyEqual) << outcome.message;
    EXPECT_NE(outcome.message.find("holds exactly"), std::string::npos);
    EXPECT_NE(outcome.message.find("5 bytes"), std::string::npos);
}

struct Mismatch
{
    const char *name;
    std::map<uint32_t, uint8_t> image;
    const char *address;
};

std::ostream &operator<<(std::ostream &os, const Mismatch &c)
{
    return os << c.name;
}

class VerifyMismatch : public Verify, public testing::WithParamInterface<Mismatch>
{};

TEST_P(VerifyMismatch, NamesTheFirstDifferingAddress)
{
    const auto outcome = verifyImage(firmware, imageFile(GetParam().image));
    EXPECT_EQ(outcome.exitCode, VerifyDiffers) << outcome.message;
    EXPECT_NE(outcome.message.find(GetParam().address), std::string::npos) << outcome.message;
}

INSTANTIATE_TEST_SUITE_P(
    Images, VerifyMismatch,
    testing::Values(
        Mismatch{"wrong_byte", {{0x1000, 1}, {0x1001, 9}, {0x1002, 3}, {0x10000, 1}, {0x10001, 2}}, "0x00001001"},
        Mismatch{"missing_byte", {{0x1000, 1}, {0x1001, 2}, {0x1002, 3}, {0x10000, 1}}, "0x00010001"},
        Mismatch{"extra_byte",
                 {{0x0FFF, 0}, {0x1000, 1}, {0x1001, 2}, {0x1002, 3}, {0x10000, 1}, {0x10001, 2}},
                 "0x00000FFF"},
        Mismatch{"empty_image", {}, "0x00001000"}),
    [](const auto &info) { return std::string(info.param.name); });

TEST_F(Verify, UnreadableInputIsNotADifference)
{
    const std::string good = imageFile({{0x1000, 1}});
    EXPECT_EQ(verifyImage((dir / "none.hex").string(), good).exitCode, VerifyUnreadable);
    EXPECT_EQ(verifyImage(firmware, (dir / "none.s3").string()).exitCode, VerifyUnreadable);
    const auto outcome = verifyImage(firmware, write("bad.s3", "S1061000010203E4\n"));
    EXPECT_EQ(outcome.exitCode, VerifyUnreadable);
    EXPECT_NE(outcome.message.find("bad.s3"), std::string::npos) << outcome.message;
}

} // namespace
