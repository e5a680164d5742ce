// The statistics file that the simulated bus writes for the benchmark, driven
// through a module's flash and compare passes by a node on the bus.
#include "busstats.h"

#include "benchconfig.h"
#include "simhooks.h"

#include <gtest/gtest.h>

#include <QFile>
#include <QTemporaryDir>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <vector>

namespace {

using namespace std::chrono_literals;

constexpr uint16_t kModule = 0x208;
constexpr uint16_t kModuleSends = kModule + 5;

canapi::sim::BusFrame frame(uint32_t id, std::initializer_list<uint8_t> data)
{
    canapi::sim::BusFrame f;
    f.id = id;
    f.len = static_cast<uint8_t>(data.size());
    std::copy(data.begin(), data.end(), f.data);
    return f;
}

// A tester on the bus: sends frames and counts what the module answers.
class Tester
{
public:
    explicit Tester(int adapter)
        : peer_(canapi::sim::attachPeer(adapter, [this](const canapi::sim::BusFrame &f) { onFrame(f); }))
    {}
    bool attached() const { return peer_ != nullptr; }
    void send(const canapi::sim::BusFrame &f)
    {
        {
            std::lock_guard lock(mutex_);
            ++sent_;
        }
        peer_->send(f);
    }
    // Until the module has sent `count` frames of the form 15 code.
    bool waitFor(uint8_t code, int count)
    {
        std::unique_lock lock(mutex_);
        return seen_.wait_for(lock, 5s, [&] { return answers_[code] >= count; });
    }
    bool waitForLogOn()
    {
        std::unique_lock lock(mutex_);
        return seen_.wait_for(lock, 5s, [&] { return logOns_ > 0; });
    }
    uint64_t framesOnBus()
    {
        std::lock_guard lock(mutex_);
        return sent_ + received_;
    }
    void detach() { peer_.reset(); }

private:
    void onFrame(const canapi::sim::BusFrame &f)
    {
        std::lock_guard lock(mutex_);
        ++received_;
        if (f.id == kModuleSends && f.len >= 2 && f.data[0] == 0x15)
            ++answers_[f.data[1]];
        if (f.id == kModuleSends && f.len >= 1 && f.data[0] == 0xD8)
            ++logOns_;
        seen_.notify_all();
    }
    std::unique_ptr<canapi::sim::Peer> peer_;
    std::mutex mutex_;
    std::condition_variable seen_;
    int answers_[256] = {};
    int logOns_ = 0;
    uint64_t sent_ = 0;
    uint64_t received_ = 0;
};

// Sends one line as flash data frames and waits for the acknowledgements and
// the line's acceptance.
void sendLine(Tester &tester, const std::string &line, int &acks, int &accepted)
{
    const std::string text = line + "\r\n";
    for (size_t at = 0; at < text.size(); at += 6) {
        canapi::sim::BusFrame f = frame(kModule | 1, {0x15, 0x00});
        const size_t n = std::min<size_t>(6, text.size() - at);
        std::copy(text.begin() + static_cast<long>(at), text.begin() + static_cast<long>(at + n), f.data + 2);
        f.len = static_cast<uint8_t>(2 + n);
        tester.send(f);
        ASSERT_TRUE(tester.waitFor(0x00, ++acks));
    }
    ASSERT_TRUE(tester.waitFor(0x81, ++accepted));
}

QByteArray readAll(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// One module updated with a file of two lines, flashed, compared and
// restarted, with the bus statistics going to statsPath; the frames the
// tester saw on the bus.
void updateOneModule(const QString &statsPath, uint64_t *framesSeen)
{
    const std::string ini = "[adapter.a]\nindex = 0\ndriver = pcan_usb\nbackend = sim\nstats = "
                            + statsPath.toStdString()
                            // Delays of 1 ms let every phase show on its own.
                            + "\n[module.m]\nadapter = 0\naddress = 1\nready_delay_ms = 1\n"
                              "erase_delay_ms = 0\nrestart_ms = 1\n";
    std::string error;
    ASSERT_TRUE(canapi::sim::configure(ini, &error)) << error;
    Tester tester(0);
    ASSERT_TRUE(tester.attached());

    int acks = 0;
    int accepted = 0;
    tester.send(frame(kModule, {0x15, 0x00}));
    ASSERT_TRUE(tester.waitFor(0x81, ++accepted)) << "ready report";
    tester.send(frame(kModule, {0x15, 0x03}));
    sendLine(tester, "S00600004844521B", acks, accepted);
    sendLine(tester, "S1130000285F245F2212226A000424290008237C2A", acks, accepted);
    tester.send(frame(kModule, {0x15, 0x05}));
    sendLine(tester, "S00600004844521B", acks, accepted);
    sendLine(tester, "S1130000285F245F2212226A000424290008237C2A", acks, accepted);
    tester.send(frame(kModule, {0x15, 0x06}));
    ASSERT_TRUE(tester.waitForLogOn()) << "restarted";
    tester.detach();
    *framesSeen = tester.framesOnBus();
    canapi::sim::shutdown();
}

TEST(BusStatsFile, RecordsEveryPassOfAModuleAndTheBusTotals)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString statsPath = dir.filePath(QStringLiteral("stats.jsonl"));
    uint64_t framesSeen = 0;
    ASSERT_NO_FATAL_FAILURE(updateOneModule(statsPath, &framesSeen));

    QString parseError;
    const std::optional<bench::BusStatsFile> stats = bench::parseBusStats(readAll(statsPath), &parseError);
    ASSERT_TRUE(stats) << parseError.toStdString();
    std::vector<std::string> phases;
    for (const bench::PhaseMark &mark : stats->marks) {
        EXPECT_EQ(mark.module, kModule);
        phases.push_back(mark.phase.toStdString());
    }
    const std::vector<std::string> expected{"preparing", "update", "flash", "compare", "restarting", "idle"};
    EXPECT_EQ(phases, expected);

    const std::vector<bench::Pass> passes = bench::passesOf(*stats);
    ASSERT_EQ(passes.size(), 2u);
    // Each pass: two lines of 3 and 8 frames, each acknowledged, and two
    // acceptances; then the update command that ends it.
    for (const bench::Pass &pass : passes) {
        EXPECT_EQ(pass.frames, 2u * (3 + 8) + 2 + 1);
        EXPECT_GT(pass.busyNs, 0u);
        EXPECT_GE(pass.wallNs(), static_cast<int64_t>(pass.busyNs));
    }
    EXPECT_EQ(passes[0].kind, bench::PassKind::Flash);
    EXPECT_EQ(passes[1].kind, bench::PassKind::Compare);
    EXPECT_EQ(passes[0].endNs, passes[1].startNs);
    // At the default 125 kbit/s a frame takes at least 47 bit times of 8 us.
    EXPECT_EQ(stats->end.frames, framesSeen);
    EXPECT_GE(stats->end.busyNs, stats->end.frames * 47 * 8000);
    EXPECT_GE(stats->end.bits, stats->end.frames * 47);
    EXPECT_GT(stats->threadCpuNs, 0);
}

TEST(BusStatsFile, TheRealtimeKeyIsATruthValue)
{
    canapi::BenchConfig config;
    QString error;
    const QString head = QStringLiteral("[adapter.s]\nindex = 0\ndriver = pcan_usb\nbackend = sim\n");
    ASSERT_TRUE(canapi::parseBenchConfig(head + "realtime = true\n", QStringLiteral("b.ini"),
                                         QStringLiteral("/tmp"), &config, &error))
        << error.toStdString();
    EXPECT_TRUE(config.adapters[0].realtime);
    ASSERT_TRUE(canapi::parseBenchConfig(head, QStringLiteral("b.ini"), QStringLiteral("/tmp"), &config, &error));
    EXPECT_FALSE(config.adapters[0].realtime) << "ordinary unless asked for";
    EXPECT_FALSE(canapi::parseBenchConfig(head + "realtime = 1\n", QStringLiteral("b.ini"),
                                          QStringLiteral("/tmp"), &config, &error));
    EXPECT_FALSE(canapi::parseBenchConfig(
        QStringLiteral("[adapter.q]\nindex = 0\ndriver = pcan_usb\nbackend = qt\nplugin = virtualcan\n"
                       "interface = can0\nrealtime = true\n"),
        QStringLiteral("b.ini"), QStringLiteral("/tmp"), &config, &error));
}

TEST(BusStatsFile, OnlyASimulatedBusTakesTheKey)
{
    canapi::BenchConfig config;
    QString error;
    EXPECT_FALSE(canapi::parseBenchConfig(
        QStringLiteral("[adapter.q]\nindex = 0\ndriver = pcan_usb\nbackend = qt\nplugin = virtualcan\n"
                       "interface = can0\nstats = s.jsonl\n"),
        QStringLiteral("b.ini"), QStringLiteral("/tmp"), &config, &error));
    EXPECT_TRUE(error.contains(QLatin1String("stats"))) << error.toStdString();
    EXPECT_FALSE(canapi::parseBenchConfig(
        QStringLiteral("[adapter.s]\nindex = 0\ndriver = pcan_usb\nbackend = sim\nstats =\n"),
        QStringLiteral("b.ini"), QStringLiteral("/tmp"), &config, &error));
}

} // namespace
