// The example benches stay valid and mean what their comments say.
#include "benchconfig.h"

#include <gtest/gtest.h>

namespace {

canapi::BenchConfig load(const char *name)
{
    canapi::BenchConfig bench;
    QString error;
    EXPECT_TRUE(canapi::loadBenchConfig(QStringLiteral(CANAPI_EXAMPLES_DIR "/%1").arg(QLatin1String(name)),
                                        &bench, &error))
        << error.toStdString();
    return bench;
}

TEST(ExampleBenches, SimulatedBench)
{
    const canapi::BenchConfig bench = load("bench-sim.ini");
    ASSERT_EQ(bench.adapters.size(), 3);
    for (const canapi::AdapterConfig &a : bench.adapters)
        EXPECT_EQ(a.backend, canapi::AdapterConfig::Backend::Sim) << a.name.toStdString();
    EXPECT_EQ(bench.modulesOn(0).size(), 2);
    EXPECT_EQ(bench.modulesOn(1).size(), 1);
    EXPECT_EQ(bench.modulesOn(2).size(), 1);
    EXPECT_EQ(bench.adapter(0)->traceName.toStdString(), "can0");
}

TEST(ExampleBenches, VirtualBench)
{
    const canapi::BenchConfig bench = load("bench-virtualcan.ini");
    ASSERT_EQ(bench.adapters.size(), 1);
    EXPECT_EQ(bench.adapters[0].plugin.toStdString(), "virtualcan");
    EXPECT_EQ(bench.modulesOn(0).size(), 2);
}

TEST(ExampleBenches, HardwareBench)
{
    const canapi::BenchConfig bench = load("bench-hardware.ini");
    ASSERT_EQ(bench.adapters.size(), 2);
    EXPECT_EQ(bench.adapters[0].driver.toStdString(), "pcan_usb");
    EXPECT_EQ(bench.adapters[1].driver.toStdString(), "pcan_pci");
}

} // namespace
