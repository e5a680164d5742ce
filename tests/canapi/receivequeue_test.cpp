// A client's receive queue as a reader of one net, or of all, sees it.
#include "receivequeue.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

using canapi::ReceiveQueue;

canapi::Received received(uint8_t net, uint32_t id)
{
    canapi::Received r;
    r.net = net;
    r.frame.id = id;
    r.frame.length = 1;
    return r;
}

struct Read
{
    uint8_t wanted;
    ApiResult result;
    uint32_t id; // when a frame was read
    uint8_t net;
};

void expectReads(ReceiveQueue &queue, const std::vector<Read> &reads, bool busOff = false)
{
    for (size_t i = 0; i < reads.size(); ++i) {
        ApiFrame frame{};
        uint8_t net = 0xFF;
        const ApiResult result = queue.read(reads[i].wanted, busOff, &frame, &net, nullptr);
        EXPECT_EQ(result, reads[i].result) << "read " << i;
        if (result == API_OK || result == API_MORE_QUEUED) {
            EXPECT_EQ(frame.id, reads[i].id) << "read " << i;
            EXPECT_EQ(net, reads[i].net) << "read " << i;
        }
    }
}

TEST(ReceiveQueue, ReadsTheOldestFrameOfTheWantedNet)
{
    ReceiveQueue queue;
    for (const auto &[net, id] : std::vector<std::pair<uint8_t, uint32_t>>{{1, 0x101}, {2, 0x201}, {1, 0x102}})
        ASSERT_TRUE(queue.push(received(net, id)));
    expectReads(queue, {{2, API_MORE_QUEUED, 0x201, 2},
                        {2, API_ERR_QRCVEMPTY, 0, 0},
                        {1, API_OK, 0x101, 1},
                        {0, API_MORE_QUEUED, 0x102, 1},
                        {0, API_ERR_QRCVEMPTY, 0, 0}});
}

// A client detached from a net must not read an answer that came over it.
TEST(ReceiveQueue, ForgottenNetLeavesNoFrameAndTheOthersInOrder)
{
    ReceiveQueue queue;
    for (const auto &[net, id] :
         std::vector<std::pair<uint8_t, uint32_t>>{{1, 0x101}, {2, 0x201}, {1, 0x102}, {2, 0x202}})
        ASSERT_TRUE(queue.push(received(net, id)));
    queue.forgetNet(1);
    EXPECT_FALSE(queue.holds(1));
    expectReads(queue, {{0, API_OK, 0x201, 2}, {0, API_MORE_QUEUED, 0x202, 2}, {0, API_ERR_QRCVEMPTY, 0, 0}});
}

// Frames from before the bus went off are read first, and the reader is
// told to read on until it meets the bus-off report.
TEST(ReceiveQueue, BusOffReadsTheQueueEmptyThenReportsIt)
{
    ReceiveQueue queue;
    ASSERT_TRUE(queue.push(received(1, 0x101)));
    expectReads(queue, {{1, API_OK, 0x101, 1}, {1, API_ERR_BUSOFF, 0, 0}}, true);
}

} // namespace
