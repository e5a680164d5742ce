#include "timetext.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <sys/mman.h>
#include <unistd.h>

using namespace tarvpcan3;

namespace {

std::string format(int64_t elapsedMs, WallTime base, std::size_t size = 13)
{
    char text[32];
    std::memset(text, '#', sizeof text);
    FormatTimeText(elapsedMs, base, text, size);
    return std::string(text);
}

struct FormatCase
{
    const char *name;
    WallTime base;
    int64_t elapsedMs;
    const char *expected;
};

class FormatTimeTextCases : public ::testing::TestWithParam<FormatCase>
{};

TEST_P(FormatTimeTextCases, GivesWallClockText)
{
    const FormatCase &c = GetParam();
    EXPECT_EQ(format(c.elapsedMs, c.base), c.expected);
}

constexpr uint32_t kHour = 3600000;

INSTANTIATE_TEST_SUITE_P(
    TimeText, FormatTimeTextCases,
    ::testing::Values(FormatCase{"zero", {0, 0, 0, 0}, 0, "00:00:00.000"},
                      FormatCase{"leadingZeros", {9, 5, 7, 0}, 42, "09:05:07.042"},
                      FormatCase{"midnight", {23, 59, 59, 900}, 250, "00:00:00.150"},
                      FormatCase{"millisecondCarry", {12, 0, 0, 999}, 1, "12:00:01.000"},
                      FormatCase{"secondCarry", {12, 0, 59, 500}, 600, "12:01:00.100"},
                      FormatCase{"minuteCarry", {12, 59, 30, 0}, 45000, "13:00:15.000"},
                      FormatCase{"fortyNineHours", {10, 0, 0, 0}, 49 * kHour, "11:00:00.000"},
                      FormatCase{
                          "elapsedParts", {1, 2, 3, 4}, 2 * kHour + 3 * 60000 + 4 * 1000 + 5, "03:05:07.009"},
                      FormatCase{"largestElapsed", {0, 0, 0, 0}, 0xFFFFFFFFu, "17:02:47.295"},
                      FormatCase{"beforeTheBase", {8, 0, 0, 0}, -1000, "07:59:59.000"},
                      FormatCase{"beforeMidnight", {0, 0, 0, 100}, -250, "23:59:59.850"},
                      FormatCase{"daysBefore", {10, 0, 0, 0}, -49 * int64_t{kHour}, "09:00:00.000"}),
    [](const auto &info) { return std::string(info.param.name); });

TEST(TimeText, FormatKeepsToTheStatedSize)
{
    char text[16];
    std::memset(text, '#', sizeof text);
    FormatTimeText(1234, {1, 2, 3, 4}, text, 6);
    EXPECT_STREQ(text, "01:02");
    EXPECT_EQ(text[6], '#');
}

TEST(TimeText, FormatClampsAnInvalidBase)
{
    EXPECT_EQ(format(0, {99, 99, 99, 9999}), "23:59:59.999");
}

struct ParseCase
{
    const char *text;
    uint32_t expected;
};

class ParseTimeTextCases : public ::testing::TestWithParam<ParseCase>
{};

TEST_P(ParseTimeTextCases, ReadsOnlyTheFullForm)
{
    const ParseCase &c = GetParam();
    EXPECT_EQ(ParseTimeText(c.text, 16), c.expected) << '"' << c.text << '"';
}

INSTANTIATE_TEST_SUITE_P(TimeText, ParseTimeTextCases,
                         ::testing::Values(ParseCase{"00:00:01.500", 1500}, ParseCase{"00:00:00.000", 0},
                                           ParseCase{"01:02:03.004", ((1 * 60 + 2) * 60 + 3) * 1000 + 4},
                                           ParseCase{"99:59:59.999", ((99u * 60 + 59) * 60 + 59) * 1000 + 999},
                                           ParseCase{"", 0}, ParseCase{"1500", 0}, ParseCase{"00:01.500", 0},
                                           ParseCase{"0:00:01.500", 0}, ParseCase{"00:00:01.5", 0},
                                           ParseCase{"00:00:01.50", 0}, ParseCase{"00-00-01.500", 0},
                                           ParseCase{"00:00:01,500", 0}, ParseCase{"00:0a:01.500", 0},
                                           ParseCase{"00:00:01.500x", 0}, ParseCase{" 00:00:01.500", 0},
                                           ParseCase{"00:00:01.5000", 0}));

TEST(TimeText, ParseOfNullIsZero)
{
    EXPECT_EQ(ParseTimeText(nullptr, 16), 0u);
}

TEST(TimeText, ParseHonoursTheLengthLimit)
{
    EXPECT_EQ(ParseTimeText("00:00:01.500", 11), 0u);
    EXPECT_EQ(ParseTimeText("00:00:01.500", 12), 1500u);
}

// The text ends right before a page that must not be touched: reading one byte
// past the given limit faults.
class GuardedText
{
public:
    GuardedText()
    {
        pageSize_ = static_cast<std::size_t>(sysconf(_SC_PAGESIZE));
        void *map = mmap(nullptr, 2 * pageSize_, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        base_ = map == MAP_FAILED ? nullptr : static_cast<char *>(map);
        if (base_ != nullptr && mprotect(base_ + pageSize_, pageSize_, PROT_NONE) != 0) {
            munmap(base_, 2 * pageSize_);
            base_ = nullptr;
        }
    }
    ~GuardedText()
    {
        if (base_ != nullptr)
            munmap(base_, 2 * pageSize_);
    }
    // Places the bytes (without NUL) flush against the guard page.
    const char *place(const std::string &bytes)
    {
        char *start = base_ + pageSize_ - bytes.size();
        std::memcpy(start, bytes.data(), bytes.size());
        return start;
    }
    bool ready() const { return base_ != nullptr; }

private:
    std::size_t pageSize_ = 0;
    char *base_ = nullptr;
};

TEST(TimeText, ParseReadsNothingBeyondTheText)
{
    GuardedText guard;
    ASSERT_TRUE(guard.ready());
    const std::string unterminated[] = {"0", "00:", "00:00:0", "00:00:01.50", "00:00:01.500"};
    for (const std::string &bytes : unterminated) {
        const char *text = guard.place(bytes);
        const uint32_t expected = bytes.size() == 12 ? 1500u : 0u;
        EXPECT_EQ(ParseTimeText(text, bytes.size()), expected) << bytes;
    }
}

// From a midnight base, formatting then parsing gives the elapsed time of day.
TEST(TimeText, FormatAndParseAgree)
{
    uint32_t elapsed = 1;
    for (int i = 0; i < 10000; ++i) {
        elapsed = elapsed * 1664525u + 1013904223u;
        char text[13];
        FormatTimeText(elapsed, {}, text, sizeof text);
        ASSERT_EQ(ParseTimeText(text, sizeof text), elapsed % (24 * kHour)) << text;
    }
}

} // namespace
