// One open CAN line: its registrations in the interface, its reader thread and
// its receive queue.
//
// While a caller waits in waitForFrame, that caller takes the reader's part:
// it waits on the interface's event itself and fills the queue, so a frame
// reaches it with one thread wake-up instead of two. The reader stands aside
// until no caller has waited for a while (kHandBack in the source) and then
// fills the queue again for callers that only poll.
#pragma once

#include "linerules.h"
#include "readerplatform.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <mutex>
#include <string>
#include <thread>

namespace tarvpcan3 {

// The send type of a line opened for 29-bit frames; 0 sends standard frames.
constexpr uint8_t kExtendedSendType = 2;

struct LineSetup
{
    uint16_t line = 0;
    std::string clientName;
    uint8_t hardware = 0;
    uint8_t client = 0;
    uint8_t net = 0;
    uint8_t sendType = 0;
};

class LineRecord
{
public:
    explicit LineRecord(LineSetup setup);
    ~LineRecord();
    LineRecord(const LineRecord &) = delete;
    LineRecord &operator=(const LineRecord &) = delete;

    // Registers the receive event with the client and starts the reader; the
    // record is complete by then, so the reader never sees it half made.
    // False when the event or the thread cannot be had; nothing is left behind.
    bool start();
    // stopLine: releases waiters, ends the reader, discards the queue. A
    // stopped record stays valid for callers that still hold it.
    void stop();

    // Oldest frame; false when the queue is empty or the line is stopped.
    bool take(RxRecord &out);
    // Until the queue holds a frame (true), the timeout passes or the line
    // stops (false).
    bool waitForFrame(std::chrono::milliseconds timeout);
    bool isOpen() const;
    bool readerRunning() const;
    std::size_t queued() const;

    uint16_t line() const { return setup_.line; }
    const std::string &clientName() const { return setup_.clientName; }
    uint8_t hardware() const { return setup_.hardware; }
    uint8_t net() const { return setup_.net; }
    uint8_t sendType() const { return setup_.sendType; }
    uint8_t client() const { return client_.load(); }
    uint8_t previousClient() const { return previousClient_.load(); }
    // A further client takes over reading and sending; the event stays with
    // the first client.
    void useClient(uint8_t client);

private:
    enum class Woken { Event, Kick, Failed };

    using TimePoint = std::chrono::steady_clock::time_point;

    void LineReader();
    void parkWhileCallersWait();
    Woken waitForEvent(const TimePoint *deadline, RxEvent &other);
    void lead(std::unique_lock<std::mutex> &lock, TimePoint deadline);
    bool drainInterface();
    bool append(const RxRecord &record);
    void closeEvents();
    void unregisterEvent();

    const LineSetup setup_; // its client is the one the event is registered with
    std::atomic<uint8_t> client_;
    std::atomic<uint8_t> previousClient_{0};
    RxEvent event_;
    RxEvent readerKick_;       // takes the reader out of its wait on the event
    RxEvent leaderKick_;       // tells the leading caller that the reader queued frames
    std::mutex drainLock_;     // one drain at a time keeps the frames in order
    ApiTimeStamp lastStamp_{}; // under drainLock_
    std::atomic<bool> stopRequest_{false};
    std::atomic<bool> readerActive_{false};

    mutable std::mutex queueLock_;
    std::condition_variable frameQueued_;
    std::deque<RxRecord> queue_;
    bool started_ = false; // under queueLock_
    bool stopped_ = false; // under queueLock_
    // The caller that waits on the event itself; further callers wait on
    // frameQueued_. Under queueLock_, as are the two below.
    bool leader_ = false;
    int followers_ = 0;
    bool readerWaiting_ = false; // the reader is in its wait on the event
    TimePoint leaderLeft_{};
    std::condition_variable readerResume_; // only stop() wakes the parked reader
    std::condition_variable leaderGone_;   // stop() waits for the leader to leave

    std::mutex stopLock_;
    std::thread reader_;
};

} // namespace tarvpcan3
