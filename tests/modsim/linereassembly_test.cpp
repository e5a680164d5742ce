#include "linereassembly.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using namespace modsim;

namespace {

// Lines shown as their text, or "<too long>".
std::vector<std::string> linesOf(LineReassembly &lines, const std::string &stream)
{
    std::vector<std::string> out;
    for (const char c : stream) {
        if (const std::optional<ReceivedLine> line = lines.push(static_cast<uint8_t>(c)))
            out.push_back(line->tooLong ? "<too long>" : line->text);
    }
    return out;
}

struct StreamCase
{
    const char *name;
    std::string stream;
    std::vector<std::string> lines;
};

TEST(LineReassembly, JoinsLinesAndBoundsTheirLength)
{
    const std::string longest(LineReassembly::kMaxLine - 1, 'S');
    const std::vector<StreamCase> cases = {
        {"lone CR or LF stays in the line", "a\rb\nc\r\n", {"a\rb\nc"}},
        {"blank line", "\r\n", {""}},
        {"unended line is held back", "S1\r\nS2", {"S1"}},
        {"longest line that fits", longest + "\r\n", {longest}},
        {"one more is too long", longest + "S\r\n", {"<too long>"}},
        {"the line after a too long one is whole", longest + "SS\r\nS1\r\n", {"<too long>", "S1"}},
    };
    for (const StreamCase &c : cases) {
        LineReassembly lines;
        EXPECT_EQ(linesOf(lines, c.stream), c.lines) << c.name;
    }
}

TEST(LineReassembly, DiscardDropsTheBegunLineOnly)
{
    LineReassembly lines;
    EXPECT_TRUE(linesOf(lines, "S1\r").empty());
    lines.discardPartialLine();
    EXPECT_EQ(linesOf(lines, "\nS2\r\n"), (std::vector<std::string>{"", "S2"}));
}

} // namespace
