// The QtSerialBus adapter's transmit queue, against a device that refuses
// writes the way SocketCAN does when the kernel's transmit queue is full
// (ENOBUFS, EAGAIN) or when the interface is gone (ENETDOWN).
#include "qtadapter.h"

#include <QCanBusDevice>
#include <QCanBusFrame>
#include <QStringList>

#include <gtest/gtest.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <mutex>
#include <vector>

namespace {

using namespace std::chrono_literals;

// Answers a write with 0 (taken), an errno (refused with that error) or -1
// (refused without saying why).
using WritePolicy = std::function<int(const QCanBusFrame &frame, int attempt)>;

class FakeDevice final : public QCanBusDevice
{
public:
    explicit FakeDevice(WritePolicy policy)
        : policy_(std::move(policy))
    {}
    bool writeFrame(const QCanBusFrame &frame) override
    {
        const int error = policy_(frame, attempts_[frame.frameId()]++);
        if (error > 0)
            setError(qt_error_string(error), QCanBusDevice::WriteError);
        if (error != 0)
            return false;
        taken.push_back(frame.frameId());
        Q_EMIT framesWritten(1);
        return true;
    }
    QString interpretErrorFrame(const QCanBusFrame &) override { return {}; }

    std::vector<uint32_t> taken; // I/O thread only

protected:
    bool open() override
    {
        setState(ConnectedState);
        return true;
    }
    void close() override { setState(UnconnectedState); }

private:
    WritePolicy policy_;
    std::map<uint32_t, int> attempts_;
};

class Sink final : public canapi::AdapterSink
{
public:
    void onBusFrame(const canapi::Adapter &, const ApiFrame &frame, uint64_t, int64_t) override
    {
        std::lock_guard lock(mutex_);
        ids_.push_back(frame.id);
        changed_.notify_all();
    }
    void clear()
    {
        std::lock_guard lock(mutex_);
        ids_.clear();
    }
    std::vector<uint32_t> waitFor(size_t count)
    {
        std::unique_lock lock(mutex_);
        changed_.wait_for(lock, 20s, [&] { return ids_.size() >= count; });
        return ids_;
    }

private:
    std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<uint32_t> ids_;
};

// The adapter's warnings while it lives.
class WarningLog
{
public:
    WarningLog() { previous_ = qInstallMessageHandler(&WarningLog::keep); }
    ~WarningLog() { qInstallMessageHandler(previous_); }
    QStringList lines() const
    {
        std::lock_guard lock(mutex());
        return kept();
    }

private:
    static void keep(QtMsgType type, const QMessageLogContext &context, const QString &text)
    {
        if (type != QtWarningMsg || qstrcmp(context.category, "tarv.canapi.qt") != 0)
            return;
        std::lock_guard lock(mutex());
        kept().append(text);
    }
    static std::mutex &mutex()
    {
        static std::mutex m;
        return m;
    }
    static QStringList &kept()
    {
        static QStringList lines;
        return lines;
    }
    QtMessageHandler previous_;
};

class QtTransmit : public ::testing::Test
{
protected:
    // An adapter on a fake device that follows policy, opened at 125 kbit/s.
    void open(WritePolicy policy)
    {
        canapi::AdapterConfig config;
        config.plugin = QStringLiteral("fake");
        config.interface = QStringLiteral("fake0");
        adapter_ = std::make_shared<canapi::QtAdapter>(config, sink_, nullptr, io_, [this, policy](QString *) {
            device_ = new FakeDevice(policy);
            return device_;
        });
        std::string error;
        ASSERT_TRUE(adapter_->open(125000, &error)) << error;
    }
    // Frames with ids first, first + 1, ...; each must be taken.
    std::vector<uint32_t> send(uint32_t first, int count)
    {
        std::vector<uint32_t> ids;
        for (int i = 0; i < count; ++i) {
            ApiFrame frame{};
            frame.id = first + static_cast<uint32_t>(i);
            frame.length = 1;
            EXPECT_TRUE(adapter_->transmit(frame, 0, 0)) << "frame " << i;
            ids.push_back(frame.id);
        }
        return ids;
    }
    std::vector<uint32_t> takenByDevice()
    {
        std::vector<uint32_t> taken;
        io_.runBlocking([&] { taken = device_->taken; });
        return taken;
    }
    void TearDown() override
    {
        if (adapter_)
            adapter_->stop();
    }

    canapi::QtIoThread io_;
    Sink sink_;
    std::shared_ptr<canapi::QtAdapter> adapter_;
    FakeDevice *device_ = nullptr;
};

TEST_F(QtTransmit, FramesRefusedForWantOfRoomGoOutLaterInOrder)
{
    // Every frame is refused twice, alternately as a full queueing discipline
    // and a full socket buffer would refuse it, before the device takes it.
    open([](const QCanBusFrame &frame, int attempt) {
        return attempt >= 2 ? 0 : (frame.frameId() % 2 == 0 ? ENOBUFS : EAGAIN);
    });
    const std::vector<uint32_t> sent = send(0x100, 300);
    EXPECT_EQ(sink_.waitFor(sent.size()), sent);
    EXPECT_EQ(takenByDevice(), sent);
    EXPECT_EQ(adapter_->deviceStatus(), 0);
}

TEST_F(QtTransmit, AFrameLostForAnotherReasonShowsInTheBusStatus)
{
    const struct
    {
        const char *name;
        int error;
    } cases[] = {{"interface down", ENETDOWN}, {"refused without a reason", -1}};
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        sink_.clear();
        const int error = c.error;
        open([error](const QCanBusFrame &frame, int) { return frame.frameId() == 0x203 ? error : 0; });
        send(0x200, 6);
        const std::vector<uint32_t> expected{0x200, 0x201, 0x202, 0x204, 0x205};
        EXPECT_EQ(sink_.waitFor(expected.size()), expected);
        EXPECT_EQ(takenByDevice(), expected);
        EXPECT_EQ(adapter_->deviceStatus(), API_ERR_ILLHW);
        // Registered again, as the next run would: a clean status.
        std::string problem;
        ASSERT_TRUE(adapter_->open(125000, &problem)) << problem;
        EXPECT_EQ(adapter_->deviceStatus(), 0);
        adapter_->stop();
    }
}

TEST_F(QtTransmit, TheQueueIsBoundedAndLosesNothingItTook)
{
    auto room = std::make_shared<std::atomic<bool>>(false);
    open([room](const QCanBusFrame &, int) { return room->load() ? 0 : ENOBUFS; });
    const std::vector<uint32_t> sent = send(0x100, canapi::QtAdapter::kTransmitQueueFrames);
    const WarningLog log;
    ApiFrame oneTooMany{};
    oneTooMany.id = 0x7FF;
    for (int i = 0; i < 2000; ++i)
        ASSERT_FALSE(adapter_->transmit(oneTooMany, 0, 0));
    EXPECT_EQ(adapter_->deviceStatus(), API_ERR_QXMTFULL);
    *room = true;
    EXPECT_EQ(sink_.waitFor(sent.size()), sent);
    EXPECT_EQ(takenByDevice(), sent);
    EXPECT_TRUE(adapter_->transmit(oneTooMany, 0, 0));
    // The burst is told by its first refusal and a count.
    EXPECT_EQ(log.lines().join(QLatin1Char('\n')).toStdString(),
              "fake fake0: frame 7FF refused, 1024 frames wait for the bus already\n"
              "fake fake0: 1999 more frames refused, the queue being full");
}

TEST_F(QtTransmit, FramesStillWaitingWhenTheAdapterStopsGoOutFirst)
{
    // The device has room again 50 ms after the first refusal.
    auto since = std::make_shared<std::optional<std::chrono::steady_clock::time_point>>();
    open([since](const QCanBusFrame &, int) {
        if (!*since)
            *since = std::chrono::steady_clock::now();
        return std::chrono::steady_clock::now() - **since < 50ms ? ENOBUFS : 0;
    });
    const std::vector<uint32_t> sent = send(0x100, 20);
    adapter_->stop();
    EXPECT_EQ(sink_.waitFor(0), sent);
}

} // namespace
