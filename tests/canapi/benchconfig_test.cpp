// The bench configuration file: grammar, defaults and the errors that name
// file and line.
#include "benchconfig.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <string_view>

namespace {

using namespace std::string_view_literals;
using canapi::AdapterConfig;
using canapi::BenchConfig;

std::string str(const QString &s)
{
    return s.toStdString();
}

// A view, so that a text may hold a NUL byte.
bool parse(std::string_view text, BenchConfig *config, QString *error)
{
    return canapi::parseBenchConfig(QString::fromUtf8(text.data(), qsizetype(text.size())),
                                    QStringLiteral("bench.ini"), QStringLiteral("/srv/bench"), config, error);
}

TEST(BenchConfig, FullBench)
{
    const char *text = "; two adapters and a module\r\n"
                       "[adapter.vbus]\r\n"
                       "index = 4\r\n"
                       "driver = pcan_usb\r\n"
                       "backend = qt\r\n"
                       "plugin = virtualcan          ; Qt's virtual bus\r\n"
                       "interface = tcp://127.0.0.1:35468/can0\r\n"
                       "\n"
                       "[adapter.usb0]\n"
                       "index = 1\n"
                       "driver = pcan_usb ; USB\n"
                       "backend = sim\n"
                       "trace = logs/run.log\n"
                       "bus_status = 0x0008\n"
                       "clock_drift_ppm = -25.5\n"
                       "\n"
                       "# a module on usb0\n"
                       "[module.a]\n"
                       "adapter = 1\n"
                       "address = 3\n"
                       "name = \"K3B7\"\n"
                       "image = module-a.s3\n";
    BenchConfig config;
    QString error;
    ASSERT_TRUE(parse(text, &config, &error)) << str(error);
    ASSERT_EQ(config.adapters.size(), 2);
    const AdapterConfig &usb = config.adapters.at(0);
    EXPECT_EQ(usb.index, 1); // ordered by index, not by place in the file
    EXPECT_EQ(str(usb.name), "usb0");
    EXPECT_EQ(usb.line, 9);
    EXPECT_EQ(str(usb.driver), "pcan_usb");
    EXPECT_EQ(usb.backend, AdapterConfig::Backend::Sim);
    EXPECT_EQ(str(usb.tracePath), "/srv/bench/logs/run.log");
    EXPECT_EQ(str(usb.traceName), "can1");
    EXPECT_EQ(usb.busStatus, 0x0008);
    EXPECT_DOUBLE_EQ(config.clockDriftPpm, -25.5);

    const AdapterConfig &vbus = config.adapters.at(1);
    EXPECT_EQ(vbus.index, 4);
    EXPECT_EQ(vbus.backend, AdapterConfig::Backend::Qt);
    EXPECT_EQ(str(vbus.plugin), "virtualcan");
    EXPECT_EQ(str(vbus.interface), "tcp://127.0.0.1:35468/can0");
    EXPECT_TRUE(vbus.tracePath.isEmpty());

    ASSERT_EQ(config.modules.size(), 1);
    EXPECT_EQ(config.modules.at(0).adapterIndex, 1);
    EXPECT_EQ(config.modules.at(0).config.address, 3);
    EXPECT_EQ(config.modules.at(0).config.name, "K3B7");
    EXPECT_EQ(config.modules.at(0).config.imagePath, "/srv/bench/module-a.s3");
    EXPECT_EQ(config.modulesOn(1).size(), 1);
    EXPECT_TRUE(config.modulesOn(4).isEmpty());
    EXPECT_EQ(config.adapter(4), &config.adapters.at(1));
    EXPECT_EQ(config.adapter(2), nullptr);
}

TEST(BenchConfig, BusOffAfterFramesIsReadAndNeverByDefault)
{
    BenchConfig config;
    QString error;
    ASSERT_TRUE(
        parse("[adapter.a]\nindex = 0\ndriver = pcan_usb\nbackend = sim\nbus_off_after_frames = "
              "0x1F4\nbus_off_for_good = true\n[adapter.b]\nindex = 1\ndriver = pcan_usb\nbackend = sim\n",
              &config, &error))
        << str(error);
    ASSERT_EQ(config.adapters.size(), 2);
    EXPECT_EQ(config.adapters.at(0).busOffAfterFrames, 500u);
    EXPECT_EQ(config.adapters.at(1).busOffAfterFrames, 0u);
    EXPECT_TRUE(config.adapters.at(0).busOffForGood);
    EXPECT_FALSE(config.adapters.at(1).busOffForGood);
}

TEST(BenchConfig, SpinMarginIsReadAndZeroByDefault)
{
    BenchConfig config;
    QString error;
    ASSERT_TRUE(parse("[adapter.a]\nindex = 0\ndriver = pcan_usb\nbackend = sim\nspin_us = "
                      "1000\n[adapter.b]\nindex = 1\ndriver = pcan_usb\nbackend = sim\n",
                      &config, &error))
        << str(error);
    ASSERT_EQ(config.adapters.size(), 2);
    EXPECT_EQ(config.adapters.at(0).spinUs, 1000u);
    EXPECT_EQ(config.adapters.at(1).spinUs, 0u);
}

TEST(BenchConfig, EmptyTextIsABenchWithoutAdapters)
{
    BenchConfig config;
    QString error;
    ASSERT_TRUE(parse("; nothing\n\n", &config, &error));
    EXPECT_TRUE(config.adapters.isEmpty());
}

TEST(BenchConfig, ValueMayContainASemicolonWithoutBlankOrInQuotes)
{
    BenchConfig config;
    QString error;
    ASSERT_TRUE(parse("[adapter.a]\nindex=0\ndriver=peakcan\nbackend=qt\nplugin=socketcan\ninterface=can;0 ; c\n"
                      "trace=\"a ;b.log\" ; c\n",
                      &config, &error))
        << str(error);
    EXPECT_EQ(str(config.adapters.at(0).interface), "can;0");
    EXPECT_EQ(str(config.adapters.at(0).tracePath), "/srv/bench/a ;b.log");
}

struct ErrorCase
{
    const char *what;
    std::string_view text;
    int line;
    const char *message;
};

class BenchConfigError : public ::testing::TestWithParam<ErrorCase>
{};

TEST_P(BenchConfigError, NamesFileAndLine)
{
    const ErrorCase &c = GetParam();
    BenchConfig config;
    QString error;
    ASSERT_FALSE(parse(c.text, &config, &error)) << c.what;
    const std::string expected = "bench.ini:" + std::to_string(c.line) + ": ";
    EXPECT_EQ(str(error).rfind(expected, 0), 0u) << c.what << ": " << str(error);
    EXPECT_NE(str(error).find(c.message), std::string::npos) << c.what << ": " << str(error);
}

#define SIM_ADAPTER "[adapter.a]\nindex = 0\ndriver = pcan_usb\nbackend = sim\n"

INSTANTIATE_TEST_SUITE_P(
    Cases, BenchConfigError,
    ::testing::Values(
        ErrorCase{"key outside a section", "index = 0\n", 1, "outside of a section"},
        ErrorCase{"unknown section", "\n[bus.a]\n", 2, "unknown section"},
        ErrorCase{"section without name", "[adapter.]\n", 1, "unknown section"},
        ErrorCase{"line without equals", SIM_ADAPTER "oops\n", 5, "key = value"},
        ErrorCase{"twice the same section", SIM_ADAPTER "[adapter.a]\n", 5, "appears twice"},
        ErrorCase{"twice the same key", SIM_ADAPTER "driver = pcan_pci\n", 5, "appears twice"},
        ErrorCase{"unknown adapter key", SIM_ADAPTER "speed = 125\n", 5, "unknown key speed"},
        ErrorCase{"bad index", "[adapter.a]\nindex = one\n", 2, "index must be"},
        ErrorCase{"index too large", "[adapter.a]\nindex = 256\n", 2, "index must be"},
        ErrorCase{"index used twice", SIM_ADAPTER "[adapter.b]\nindex = 0\n", 6, "already used by [adapter.a]"},
        ErrorCase{"bad driver", "[adapter.a]\ndriver = pcan_isa\n", 2, "driver must be"},
        ErrorCase{"bad backend", "[adapter.a]\nbackend = vcan\n", 2, "backend must be"},
        ErrorCase{"bad plugin", "[adapter.a]\nplugin = tinycan\n", 2, "plugin must be"},
        ErrorCase{"missing index", "[adapter.a]\ndriver = pcan_usb\nbackend = sim\n", 1, "has no index"},
        ErrorCase{"missing driver", "\n[adapter.a]\nindex = 0\nbackend = sim\n", 2, "has no driver"},
        ErrorCase{"missing backend", "[adapter.a]\nindex = 0\ndriver = pcan_usb\n", 1, "has no backend"},
        ErrorCase{"qt without plugin",
                  "[adapter.a]\nindex = 0\ndriver = pcan_usb\nbackend = qt\ninterface = can0\n", 1, "no plugin"},
        ErrorCase{"qt without interface",
                  "[adapter.a]\nindex = 0\ndriver = pcan_usb\nbackend = qt\nplugin = socketcan\n", 1,
                  "no interface"},
        ErrorCase{"plugin on sim", SIM_ADAPTER "plugin = socketcan\n", 1, "only a backend = qt"},
        ErrorCase{"bus_status on qt",
                  "[adapter.a]\nindex = 0\ndriver = pcan_usb\nbackend = qt\nplugin = socketcan\ninterface = "
                  "can0\nbus_status = 8\n",
                  1, "only a backend = sim"},
        ErrorCase{"bad bus_status", SIM_ADAPTER "bus_status = 0x10000\n", 5, "bus_status must be"},
        ErrorCase{"bad bus off count", SIM_ADAPTER "bus_off_after_frames = -1\n", 5,
                  "bus_off_after_frames must be"},
        ErrorCase{"bus off count on qt",
                  "[adapter.a]\nindex = 0\ndriver = pcan_usb\nbackend = qt\nplugin = socketcan\ninterface = "
                  "can0\nbus_off_after_frames = 8\n",
                  1, "only a backend = sim"},
        ErrorCase{"spin beyond a millisecond", SIM_ADAPTER "spin_us = 1001\n", 5,
                  "spin_us must be a number from 0 to 1000"},
        ErrorCase{"negative spin", SIM_ADAPTER "spin_us = -5\n", 5, "spin_us must be"},
        ErrorCase{"spin on qt",
                  "[adapter.a]\nindex = 0\ndriver = pcan_usb\nbackend = qt\nplugin = socketcan\ninterface = "
                  "can0\nspin_us = 60\n",
                  1, "only a backend = sim"},
        ErrorCase{"bad bus off for good", SIM_ADAPTER "bus_off_for_good = yes\n", 5, "bus_off_for_good must be"},
        ErrorCase{"bad drift", SIM_ADAPTER "clock_drift_ppm = fast\n", 5, "clock_drift_ppm must be"},
        ErrorCase{"two clock drifts",
                  SIM_ADAPTER "clock_drift_ppm = 5\n[adapter.b]\nindex = 1\ndriver = pcan_usb\nbackend = "
                              "sim\nclock_drift_ppm = 6\n",
                  6, "one clock"},
        ErrorCase{"open quote", SIM_ADAPTER "trace = \"run.log\n", 5, "missing closing quote"},
        ErrorCase{"bad trace name", SIM_ADAPTER "trace_name = can 0\n", 5, "trace_name must be"},
        ErrorCase{"unknown placeholder in a trace", SIM_ADAPTER "trace = run-%d.log\n", 5,
                  "trace: unknown placeholder %d"},
        ErrorCase{"unknown placeholder in stats", SIM_ADAPTER "stats = %T.json\n", 5,
                  "stats: unknown placeholder %T"},
        ErrorCase{"module on no adapter", SIM_ADAPTER "[module.m]\naddress = 1\nadapter = 3\n", 7,
                  "no adapter has index 3"},
        ErrorCase{"module without adapter", SIM_ADAPTER "[module.m]\naddress = 1\n", 5, "has no adapter"},
        ErrorCase{"bad module key", SIM_ADAPTER "[module.m]\nadapter = 0\ncolour = red\n", 7, "colour"},
        ErrorCase{"module fails its own check", SIM_ADAPTER "[module.m]\nadapter = 0\naddress = 64\n", 7, "64"},
        ErrorCase{"NUL in a number", "[adapter.a]\nindex = 0\0junk\n"sv, 2, "NUL byte"},
        ErrorCase{"NUL in a path", SIM_ADAPTER "trace = run.log\0/etc/passwd\n"sv, 5, "NUL byte"},
        ErrorCase{"two modules, one address",
                  SIM_ADAPTER "[module.m]\nadapter = 0\naddress = 1\n"
                              "[module.n]\nadapter = 0\naddress = 1\n",
                  8, "has the address of [module.m]"}));

TEST(BenchConfig, SeventeenAdaptersAreTooMany)
{
    std::string text;
    for (int i = 0; i < 17; ++i)
        text += "[adapter.a" + std::to_string(i) + "]\nindex = " + std::to_string(i)
                + "\ndriver = pcan_usb\nbackend = sim\n";
    BenchConfig config;
    QString error;
    ASSERT_FALSE(parse(text.c_str(), &config, &error));
    EXPECT_EQ(str(error).rfind("bench.ini:65: more than 16 adapters", 0), 0u) << str(error);
}

TEST(BenchConfig, FileIsReadWithPathsRelativeToItsFolder)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString path = dir.filePath(QStringLiteral("bench.ini"));
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(SIM_ADAPTER "trace = run.log\n");
    file.close();
    BenchConfig config;
    QString error;
    ASSERT_TRUE(canapi::loadBenchConfig(path, &config, &error)) << str(error);
    EXPECT_EQ(str(config.adapters.at(0).tracePath), str(QDir(dir.path()).filePath(QStringLiteral("run.log"))));
}

TEST(BenchConfig, ErrorInAFileNamesThatFile)
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("bad.ini"));
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write("[adapter.a]\nindex = x\n");
    file.close();
    BenchConfig config;
    QString error;
    ASSERT_FALSE(canapi::loadBenchConfig(path, &config, &error));
    EXPECT_EQ(str(error).rfind(str(path) + ":2: ", 0), 0u) << str(error);
}

TEST(BenchConfig, MissingFileIsReportedWithItsName)
{
    BenchConfig config;
    QString error;
    ASSERT_FALSE(canapi::loadBenchConfig(QStringLiteral("/nonexistent/tarvcan.ini"), &config, &error));
    EXPECT_EQ(str(error).rfind("/nonexistent/tarvcan.ini: cannot be read", 0), 0u) << str(error);
}

// The variable wins even when its file is missing (that is then reported,
// never passed over); among the places the first that holds a file.
TEST(BenchConfig, FileIsLookedForInOrder)
{
    QTemporaryDir dir;
    const QString present = dir.filePath(QStringLiteral("present.ini"));
    QFile(present).open(QIODevice::WriteOnly);
    const QString missing = dir.filePath(QStringLiteral("missing.ini"));
    EXPECT_EQ(canapi::benchFilePath(missing, {present}), missing);
    EXPECT_EQ(canapi::benchFilePath(QString(), {QString(), missing, present}), present);
    EXPECT_EQ(canapi::benchFilePath(QString(), {missing}), QString());
}

} // namespace
