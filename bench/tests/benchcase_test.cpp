#include "benchcase.h"

#include "benchconfig.h"

#include <gtest/gtest.h>

#include <QDir>

#include <set>

namespace {

using bench::Case;

TEST(ParseCase, TakesFourNumbers)
{
    std::string error;
    const std::optional<Case> c = bench::parseCase("64:32:250:4", &error);
    ASSERT_TRUE(c) << error;
    EXPECT_EQ(*c, (Case{64, 32, 250, 4, bench::Bus::Simulated}));
    EXPECT_EQ(c->name(), "64KiB-32B-250k-4m");
}

TEST(ParseCase, TakesTheVirtualBus)
{
    std::string error;
    const std::optional<Case> c = bench::parseCase("1024:32:1000:1:vcan", &error);
    ASSERT_TRUE(c) << error;
    EXPECT_EQ(*c, (Case{1024, 32, 1000, 1, bench::Bus::VirtualCan}));
    EXPECT_EQ(c->name(), "1024KiB-32B-1000k-1m-vcan");
}

class BadCase : public testing::TestWithParam<const char *>
{};

TEST_P(BadCase, IsRefusedWithAReason)
{
    std::string error;
    EXPECT_FALSE(bench::parseCase(GetParam(), &error));
    EXPECT_FALSE(error.empty());
}

INSTANTIATE_TEST_SUITE_P(Texts, BadCase,
                         testing::Values("", "64:32:250", "64:32:250:4:1", "64:32:250:4x", "64,32,250,4", ":vcan",
                                         "64:32:250:vcan", "64:32:250:4:sim", "64:32:250:4vcan", "a:b:c:d",
                                         "64:32:300:4", "0:16:125:1", "64:0:125:1", "64:252:125:1", "64:16:125:0",
                                         "64:16:125:64", "-1:16:125:1"));

TEST(CaseSets, FullModeCoversTheWholeMatrixAndTheMemoryCase)
{
    const std::vector<Case> cases = bench::fullCases();
    std::set<std::string> names;
    for (const Case &c : cases)
        names.insert(c.name());
    EXPECT_EQ(names.size(), cases.size()) << "no case twice";
    for (int size : {16, 64, 256})
        for (int record : {16, 32})
            for (int rate : {125, 250, 1000})
                for (int modules : {1, 4})
                    EXPECT_TRUE(names.count(Case{size, record, rate, modules}.name()))
                        << Case{size, record, rate, modules}.name();
    // The memory case runs with the modules outside the flasher's process.
    EXPECT_TRUE(std::any_of(cases.begin(), cases.end(),
                            [](const Case &c) { return c.dataKiB == 1024 && c.bus == bench::Bus::VirtualCan; }));
    EXPECT_EQ(cases.size(), 37u);
}

TEST(CaseSets, ShortModeStaysSmallAndCoversSlowAndFastBuses)
{
    int kibModules = 0;
    std::set<int> rates;
    for (const Case &c : bench::shortCases()) {
        kibModules += c.dataKiB * c.modules;
        rates.insert(c.bitRateK);
    }
    EXPECT_LE(kibModules, 96) << "the short mode must stay well under two minutes";
    EXPECT_GE(rates.size(), 2u);
}

TEST(ModuleNames, FollowTheAddresses)
{
    EXPECT_EQ(bench::moduleId(0), 0x208);
    EXPECT_EQ(bench::moduleId(3), 0x220);
}

TEST(BenchIni, IsABenchTheInterfaceAccepts)
{
    const Case c{16, 16, 1000, 4};
    const QString base = QStringLiteral("/tmp/case dir");
    canapi::BenchConfig config;
    QString error;
    ASSERT_TRUE(canapi::parseBenchConfig(bench::benchIni(c, "/tmp/x y/stats.jsonl").text(),
                                         QStringLiteral("bench.ini"), base, &config, &error))
        << error.toStdString();
    ASSERT_EQ(config.adapters.size(), 1);
    EXPECT_EQ(config.adapters[0].backend, canapi::AdapterConfig::Backend::Sim);
    EXPECT_EQ(config.adapters[0].statsPath, QStringLiteral("/tmp/x y/stats.jsonl"));
    EXPECT_TRUE(config.adapters[0].realtime);
    // Frames must end on time, not a timer wake-up later.
    EXPECT_GT(config.adapters[0].spinUs, 0u);
    ASSERT_EQ(config.modules.size(), 4);
    for (int i = 0; i < 4; ++i) {
        const modsim::ModuleConfig &m = config.modules[i].config;
        EXPECT_EQ(m.id(), bench::moduleId(i));
        EXPECT_EQ(m.name, "K3B7");
        EXPECT_EQ(QString::fromStdString(m.imagePath), base + "/module-" + QString::number(1 + i) + ".s3");
        // The modules answer at once: what is measured is the flasher's side.
        EXPECT_EQ(m.readyDelayMs, 0);
        EXPECT_EQ(m.eraseDelayMs, 0);
        EXPECT_EQ(m.answerDelayUs, 0);
        EXPECT_EQ(m.logonDelayMs, 0);
        EXPECT_EQ(m.restartMs, 0);
        EXPECT_TRUE(m.loseAckFrames.empty());
        EXPECT_EQ(m.checksumErrorProb, 0.0);
    }
}

TEST(BenchIni, OnTheVirtualBusHasOneQtAdapterAndNoModules)
{
    const Case c{1024, 32, 1000, 2, bench::Bus::VirtualCan};
    canapi::BenchConfig config;
    QString error;
    ASSERT_TRUE(
        canapi::parseBenchConfig(bench::benchIni(c, "/tmp/stats.jsonl", "tcp://127.0.0.1:4711/can0").text(),
                                 QStringLiteral("bench.ini"), QDir::tempPath(), &config, &error))
        << error.toStdString();
    ASSERT_EQ(config.adapters.size(), 1);
    EXPECT_EQ(config.adapters[0].backend, canapi::AdapterConfig::Backend::Qt);
    EXPECT_EQ(config.adapters[0].plugin, QStringLiteral("virtualcan"));
    EXPECT_EQ(config.adapters[0].interface, QStringLiteral("tcp://127.0.0.1:4711/can0"));
    EXPECT_TRUE(config.modules.isEmpty());
}

} // namespace
