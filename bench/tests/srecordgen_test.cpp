#include "srecordgen.h"

#include "image.h"

#include <gtest/gtest.h>

#include <QTemporaryDir>

#include <filesystem>
#include <fstream>
#include <set>

namespace {

using bench::FirmwareFacts;
using bench::FirmwareShape;

TEST(SRecordLine, MatchesPublishedRecords)
{
    // A data record and a header as they appear in S-record references.
    EXPECT_EQ(bench::srecordLine(1, 0x0000, {0x28, 0x5F, 0x24, 0x5F, 0x22, 0x12, 0x22, 0x6A, 0x00,
                                             0x04, 0x24, 0x29, 0x00, 0x08, 0x23, 0x7C}),
              "S1130000285F245F2212226A000424290008237C2A");
    EXPECT_EQ(bench::srecordLine(0, 0x0000, {'H', 'D', 'R'}), "S00600004844521B");
}

TEST(SRecordLine, AddressWidthFollowsTheType)
{
    EXPECT_EQ(bench::srecordLine(2, 0x123456, {}).substr(2, 8), "04123456");
    EXPECT_EQ(bench::srecordLine(3, 0x12345678, {}).substr(2, 10), "0512345678");
    EXPECT_EQ(bench::srecordLine(8, 0, {}), "S804000000FB");
}

TEST(DataBytes, VaryFromAddressToAddress)
{
    std::set<uint8_t> seen;
    int repeats = 0;
    for (uint32_t a = 0; a < 4096; ++a) {
        seen.insert(bench::dataByteAt(a));
        repeats += a > 0 && bench::dataByteAt(a) == bench::dataByteAt(a - 1);
    }
    EXPECT_GT(seen.size(), 250u);
    EXPECT_LT(repeats, 64);
}

struct ShapeCase {
    uint32_t dataBytes;
    uint32_t perRecord;
};

class FirmwareFile : public testing::TestWithParam<ShapeCase> {};

TEST_P(FirmwareFile, HoldsEveryDataByteOnceInValidRecords)
{
    const ShapeCase shape = GetParam();
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const std::string path = dir.filePath("K3B7.hex").toStdString();
    FirmwareFacts facts;
    std::string error;
    ASSERT_TRUE(bench::writeFirmwareFile(path, FirmwareShape{shape.dataBytes, shape.perRecord}, &facts, &error))
        << error;

    const int dataRecords = static_cast<int>((shape.dataBytes + shape.perRecord - 1) / shape.perRecord);
    EXPECT_EQ(facts.lines, dataRecords + 2);
    EXPECT_EQ(facts.fileBytes, static_cast<int64_t>(std::filesystem::file_size(path)));

    std::ifstream in(path, std::ios::binary);
    std::string line;
    std::vector<int> types;
    uint32_t nextAddress = 0;
    while (std::getline(in, line)) {
        ASSERT_FALSE(line.empty());
        ASSERT_EQ(line.back(), '\r') << "lines end in CR LF";
        line.pop_back();
        modsim::SRecord record;
        ASSERT_TRUE(modsim::parseSRecord(line, &record, &error)) << line << ": " << error;
        types.push_back(record.type);
        if (!record.isData())
            continue;
        EXPECT_EQ(record.address, nextAddress);
        EXPECT_LE(record.data.size(), shape.perRecord);
        for (size_t i = 0; i < record.data.size(); ++i)
            ASSERT_EQ(record.data[i], bench::dataByteAt(record.address + static_cast<uint32_t>(i)));
        nextAddress += static_cast<uint32_t>(record.data.size());
    }
    EXPECT_EQ(nextAddress, shape.dataBytes);
    ASSERT_EQ(static_cast<int>(types.size()), facts.lines);
    EXPECT_EQ(types.front(), 0);
    EXPECT_EQ(types.back(), 8);

    modsim::Image image;
    ASSERT_TRUE(modsim::loadSRecordFile(path, &image, &error)) << error;
    EXPECT_EQ(image.size(), shape.dataBytes);
}

INSTANTIATE_TEST_SUITE_P(Shapes, FirmwareFile,
                         testing::Values(ShapeCase{16 * 1024, 16}, ShapeCase{16 * 1024, 32},
                                         ShapeCase{100, 16}, ShapeCase{1, 32}, ShapeCase{0, 16},
                                         ShapeCase{1000, 251}));

TEST(FirmwareFileRefusal, ShapesS2RecordsCannotHold)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const std::string path = dir.filePath("K3B7.hex").toStdString();
    for (const FirmwareShape shape : {FirmwareShape{1024, 0}, FirmwareShape{1024, 252},
                                      FirmwareShape{bench::kLargestS2Address + 2, 16}}) {
        FirmwareFacts facts;
        std::string error;
        EXPECT_FALSE(bench::writeFirmwareFile(path, shape, &facts, &error));
        EXPECT_FALSE(error.empty());
    }
}

TEST(FirmwareFileRefusal, UnwritablePathIsReported)
{
    FirmwareFacts facts;
    std::string error;
    EXPECT_FALSE(bench::writeFirmwareFile("/nonexistent-folder/K3B7.hex", FirmwareShape{64, 16}, &facts, &error));
    EXPECT_NE(error.find("/nonexistent-folder/K3B7.hex"), std::string::npos);
}

} // namespace
