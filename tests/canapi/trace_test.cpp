// candump log lines of the trace.
#include "trace.h"

#include <gtest/gtest.h>

#include <csignal>
#include <cstring>
#include <fstream>
#include <sstream>
#include <sys/resource.h>
#include <unistd.h>

namespace {

ApiFrame frame(uint32_t id, std::initializer_list<uint8_t> data, uint8_t type = 0)
{
    ApiFrame f{};
    f.id = id;
    f.type = type;
    f.length = static_cast<uint8_t>(data.size());
    std::copy(data.begin(), data.end(), f.data);
    return f;
}

struct TextCase
{
    ApiFrame frame;
    const char *text;
};

class CandumpFrame : public ::testing::TestWithParam<TextCase>
{};

TEST_P(CandumpFrame, WritesIdentifierAndData)
{
    EXPECT_EQ(canapi::candumpFrame(GetParam().frame), GetParam().text);
}

INSTANTIATE_TEST_SUITE_P(Frames, CandumpFrame,
                         ::testing::Values(TextCase{frame(0x205, {0xD8, 0x03, 0x11}), "205#D80311"},
                                           TextCase{frame(0x1205, {0xD8}), "205#D8"},
                                           TextCase{frame(0x7, {}), "007#"},
                                           TextCase{frame(0x12345, {0x0A, 0xBC}, API_FRAME_EXT), "00012345#0ABC"},
                                           TextCase{frame(0x7FF, {}, API_FRAME_RTR), "7FF#R"},
                                           TextCase{frame(0x100, {0, 0, 0}, API_FRAME_RTR), "100#R3"},
                                           TextCase{frame(0x1FFFFFFF, {1, 2, 3, 4, 5, 6, 7, 8}, API_FRAME_EXT),
                                                    "1FFFFFFF#0102030405060708"}));

TEST(Candump, LineCarriesSecondsAndMicroseconds)
{
    EXPECT_EQ(canapi::candumpLine(1'700'000'000'123'456'789, "can0", frame(0x205, {0xD8, 0x03, 0x11})),
              "(1700000000.123456) can0 205#D80311\n");
    EXPECT_EQ(canapi::candumpLine(1'700'000'000'000'001'000, "usb", frame(0x1, {})),
              "(1700000000.000001) usb 001#\n");
}

TEST(Candump, AdaptersNamingOneFileShareItsWriter)
{
    char path[] = "/tmp/canapi-trace-XXXXXX";
    const int fd = mkstemp(path);
    ASSERT_GE(fd, 0);
    close(fd);
    {
        canapi::TraceFiles files;
        std::string error;
        auto a = files.open(path, &error);
        auto b = files.open(path, &error);
        ASSERT_TRUE(a);
        EXPECT_EQ(a, b);
        a->write(1'000'000'000, "can0", frame(0x1, {0x11}));
        b->write(2'000'000'000, "can1", frame(0x2, {0x22}));
    }
    std::ifstream in(path);
    std::stringstream text;
    text << in.rdbuf();
    EXPECT_EQ(text.str(), "(1.000000) can0 001#11\n(2.000000) can1 002#22\n");
    unlink(path);
}

// A full disk, played by a file size limit: said once, not once per frame.
TEST(Candump, TraceThatStopsFittingIsReportedOnce)
{
    char path[] = "/tmp/canapi-trace-XXXXXX";
    const int fd = mkstemp(path);
    ASSERT_GE(fd, 0);
    close(fd);
    const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
    rlimit old{};
    getrlimit(RLIMIT_FSIZE, &old);
    rlimit small = old;
    small.rlim_cur = 1024;
    auto trace = canapi::TraceFile::create(path, nullptr);
    ASSERT_TRUE(trace);
    testing::internal::CaptureStderr();
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
    for (int i = 0; i < 100; ++i)
        trace->write(1'000'000'000, "can0", frame(0x208, {0x55, 0x55, 0x55, 0x55, 0x55, 0x55, 0x55, 0x55}));
    setrlimit(RLIMIT_FSIZE, &old);
    std::signal(SIGXFSZ, oldHandler);
    trace.reset();
    const std::string err = testing::internal::GetCapturedStderr();
    unlink(path);
    const std::string said = std::string("trace incomplete: ") + path + ": cannot be written: File too large\n";
    EXPECT_NE(err.find(said), std::string::npos) << err;
    EXPECT_EQ(err.find(said), err.rfind("trace incomplete")) << err;
}

TEST(Candump, UnwritableFileIsReportedWithItsPath)
{
    std::string error;
    EXPECT_FALSE(canapi::TraceFile::create("/nonexistent-dir/trace.log", &error));
    EXPECT_NE(error.find("/nonexistent-dir/trace.log"), std::string::npos) << error;
}

} // namespace
