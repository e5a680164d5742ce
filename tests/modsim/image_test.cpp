#include "image.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>

using namespace modsim;

namespace {

struct ParseCase
{
    const char *line;
    bool ok;
    int type;
    uint32_t address;
    std::vector<uint8_t> data;
};

std::ostream &operator<<(std::ostream &os, const ParseCase &c)
{
    return os << '"' << c.line << '"';
}

class ParseSRecord : public testing::TestWithParam<ParseCase>
{};

TEST_P(ParseSRecord, DecodesOrRejects)
{
    const ParseCase &c = GetParam();
    SRecord record;
    std::string error;
    ASSERT_EQ(parseSRecord(c.line, &record, &error), c.ok) << c.line << ": " << error;
    if (!c.ok) {
        EXPECT_FALSE(error.empty());
        return;
    }
    EXPECT_EQ(record.type, c.type);
    EXPECT_EQ(record.address, c.address);
    EXPECT_EQ(record.data, c.data);
}

INSTANTIATE_TEST_SUITE_P(
    Records, ParseSRecord,
    testing::Values(
        // Header with its text "HDR".
        ParseCase{"S00600004844521B", true, 0, 0x0000, {0x48, 0x44, 0x52}},
        ParseCase{"S1061000010203E3", true, 1, 0x1000, {0x01, 0x02, 0x03}},
        ParseCase{"S2060100000102F5", true, 2, 0x010000, {0x01, 0x02}},
        ParseCase{"S30800200000AABBCCA6", true, 3, 0x00200000, {0xAA, 0xBB, 0xCC}},
        ParseCase{"S30800200000AABBCC4C", false, 0, 0, {}}, // checksum of another record
        // Lower-case hex digits are as good as upper case.
        ParseCase{"s1061000010203e3", false, 0, 0, {}},
        ParseCase{"S1061000010203e3", true, 1, 0x1000, {0x01, 0x02, 0x03}},
        ParseCase{"S1061000010203E4", false, 0, 0, {}}, // checksum off by one
        ParseCase{"S1071000010203E3", false, 0, 0, {}}, // count one too high
        ParseCase{"S1061000010203E", false, 0, 0, {}},  // odd number of digits
        ParseCase{"S10610000102G3E3", false, 0, 0, {}}, // not a hex digit
        ParseCase{"S406100001020300", false, 0, 0, {}}, // reserved type
        ParseCase{"SA061000010203E3", false, 0, 0, {}}, // type not a digit
        ParseCase{"S1021000ED", false, 0, 0, {}},       // count too small for the address
        ParseCase{"X1061000010203E3", false, 0, 0, {}}, ParseCase{"S1", false, 0, 0, {}},
        ParseCase{"", false, 0, 0, {}}, ParseCase{"S1 061000010203E3", false, 0, 0, {}}, // inner space
        ParseCase{"S5030003F9", true, 5, 0x0003, {}}, ParseCase{"S6040000030000", false, 0, 0, {}},
        ParseCase{"S604000003F8", true, 6, 0x000003, {}}, ParseCase{"S70500001000EA", true, 7, 0x00001000, {}},
        ParseCase{"S804001000EB", true, 8, 0x001000, {}}, ParseCase{"S9031000EC", true, 9, 0x1000, {}}));

TEST(SRecordText, BuildsImageAcrossRecordsAndGaps)
{
    const std::string text = "S00600004844521B\r\n"
                             "S1061000010203E3\r\n"
                             "\r\n"
                             "   \t\r\n"
                             "S10510030405DE\n"
                             "S2060100000102F5\r\n"
                             "S9031000EC";
    Image image;
    std::string error;
    ASSERT_TRUE(imageFromSRecordText(text, &image, &error)) << error;
    EXPECT_EQ(image.size(), 7u);
    for (uint32_t i = 0; i < 5; ++i)
        EXPECT_EQ(image.at(0x1000 + i), i + 1) << i;
    EXPECT_FALSE(image.at(0x1005).has_value());
    EXPECT_EQ(image.at(0x010000), 1);
    EXPECT_EQ(image.at(0x010001), 2);
    EXPECT_FALSE(image.at(0x0000).has_value()) << "the header's bytes are no data";
}

TEST(SRecordText, NamesTheBadLine)
{
    Image image;
    image.write(7, {7});
    std::string error;
    EXPECT_FALSE(imageFromSRecordText("S1061000010203E3\nS1061000010203E4\n", &image, &error));
    EXPECT_NE(error.find("line 2"), std::string::npos) << error;
    EXPECT_EQ(image.at(7), 7) << "a failed parse leaves the image alone";
}

TEST(SRecordText, LaterRecordOverwritesEarlierBytes)
{
    Image image;
    std::string error;
    ASSERT_TRUE(imageFromSRecordText("S1061000010203E3\nS1041001AA40\n", &image, &error)) << error;
    EXPECT_EQ(image.at(0x1000), 0x01);
    EXPECT_EQ(image.at(0x1001), 0xAA);
    EXPECT_EQ(image.at(0x1002), 0x03);
}

TEST(S3Text, SplitsAtGapsAndSixteenBytes)
{
    Image image;
    std::vector<uint8_t> run(20);
    for (size_t i = 0; i < run.size(); ++i)
        run[i] = static_cast<uint8_t>(i);
    image.write(0x100, run);
    image.write(0x200, {0xFF});
    const std::string text = toS3Text(image);

    std::vector<SRecord> records;
    size_t pos = 0;
    while (pos < text.size()) {
        const size_t end = text.find('\n', pos);
        ASSERT_NE(end, std::string::npos) << "every record ends in a line feed";
        SRecord r;
        std::string error;
        ASSERT_TRUE(parseSRecord(text.substr(pos, end - pos), &r, &error)) << error;
        records.push_back(r);
        pos = end + 1;
    }
    ASSERT_EQ(records.size(), 4u);
    EXPECT_EQ(records[0].type, 3);
    EXPECT_EQ(records[0].address, 0x100u);
    EXPECT_EQ(records[0].data.size(), 16u);
    EXPECT_EQ(records[1].address, 0x110u);
    EXPECT_EQ(records[1].data.size(), 4u);
    EXPECT_EQ(records[2].address, 0x200u);
    EXPECT_EQ(records[2].data, std::vector<uint8_t>{0xFF});
    EXPECT_EQ(records[3].type, 7);
}

TEST(S3Text, RoundTripsHighAddresses)
{
    Image image;
    image.write(0xFFFFFFF0, {1, 2, 3});
    image.write(0x00000000, {9});
    image.write(0x7FFF0000, {4, 5});
    Image back;
    std::string error;
    ASSERT_TRUE(imageFromSRecordText(toS3Text(image), &back, &error)) << error;
    EXPECT_EQ(back, image);
}

TEST(S3Text, EmptyImageIsOnlyTheEndRecord)
{
    Image back;
    back.write(1, {1});
    std::string error;
    const std::string text = toS3Text(Image{});
    EXPECT_EQ(text.rfind("S7", 0), 0u);
    ASSERT_TRUE(imageFromSRecordText(text, &back, &error)) << error;
    EXPECT_TRUE(back.empty());
}

TEST(ImageFile, SavesAndLoads)
{
    const auto dir = std::filesystem::temp_directory_path() / ("modsim-image-" + std::to_string(::getpid()));
    std::filesystem::create_directories(dir);
    const std::string path = (dir / "m.s3").string();
    Image image;
    image.write(0x4000, {0xDE, 0xAD, 0xBE, 0xEF});
    std::string error;
    ASSERT_TRUE(saveS3File(image, path, &error)) << error;
    EXPECT_FALSE(std::filesystem::exists(path + ".part"));
    Image back;
    ASSERT_TRUE(loadSRecordFile(path, &back, &error)) << error;
    EXPECT_EQ(back, image);

    EXPECT_FALSE(loadSRecordFile((dir / "missing.s3").string(), &back, &error));
    EXPECT_NE(error.find("missing.s3"), std::string::npos);
    EXPECT_FALSE(saveS3File(image, (dir / "no-such-dir" / "m.s3").string(), &error));
    std::filesystem::remove_all(dir);
}

struct DiffCase
{
    const char *name;
    std::map<uint32_t, uint8_t> a;
    std::map<uint32_t, uint8_t> b;
    std::optional<uint32_t> expected;
};

std::ostream &operator<<(std::ostream &os, const DiffCase &c)
{
    return os << c.name;
}

class FirstDifference : public testing::TestWithParam<DiffCase>
{};

TEST_P(FirstDifference, FindsLowestDifferingAddress)
{
    const DiffCase &c = GetParam();
    Image a, b;
    for (auto [addr, v] : c.a)
        a.write(addr, {v});
    for (auto [addr, v] : c.b)
        b.write(addr, {v});
    EXPECT_EQ(firstDifference(a, b), c.expected);
    EXPECT_EQ(firstDifference(b, a), c.expected) << "symmetric";
}

INSTANTIATE_TEST_SUITE_P(
    Images, FirstDifference,
    testing::Values(DiffCase{"both empty", {}, {}, std::nullopt},
                    DiffCase{"equal", {{1, 1}, {5, 5}}, {{1, 1}, {5, 5}}, std::nullopt},
                    DiffCase{"value", {{1, 1}, {5, 5}}, {{1, 1}, {5, 6}}, 5},
                    DiffCase{"extra byte at end", {{1, 1}}, {{1, 1}, {9, 0}}, 9},
                    DiffCase{"missing in the middle", {{1, 1}, {2, 2}, {3, 3}}, {{1, 1}, {3, 3}}, 2},
                    DiffCase{"shifted", {{1, 1}, {4, 4}}, {{1, 1}, {3, 4}}, 3},
                    DiffCase{"one empty", {}, {{0xFFFFFFFF, 0}}, 0xFFFFFFFF}),
    [](const auto &info) {
        std::string n = info.param.name;
        for (char &ch : n)
            if (!isalnum(static_cast<unsigned char>(ch)))
                ch = '_';
        return n;
    });

TEST(ExampleFirmware, IsAValidFileWithGaps)
{
    Image image;
    std::string error;
    ASSERT_TRUE(loadSRecordFile(TARV_EXAMPLES_DIR "/K3B7_421.hex", &image, &error)) << error;
    EXPECT_GT(image.size(), 300u);
    // At least one gap between data blocks.
    uint32_t gaps = 0;
    uint32_t prev = image.bytes().begin()->first;
    for (const auto &[addr, v] : image.bytes()) {
        (void)v;
        gaps += addr > prev + 1 ? 1 : 0;
        prev = addr;
    }
    EXPECT_GE(gaps, 2u);
}

} // namespace
