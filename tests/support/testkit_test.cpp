// The kit's own parts: records and firmware files as the module simulator
// reads them, bench files as the interface stand-in reads them, and runs of a
// stand-in program that ends in every way a run can end.
#include "benchconfig.h"
#include "flasherrun.h"
#include "image.h"
#include "srecord.h"
#include "testbench.h"

#include <QCoreApplication>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace {

TEST(SRecord, MatchesPublishedRecords)
{
    EXPECT_EQ(testkit::sRecord(1, 0x0000, QByteArray::fromHex("285F245F2212226A000424290008237C")),
              "S1130000285F245F2212226A000424290008237C2A");
    EXPECT_EQ(testkit::sRecord(0, 0x0000, "HDR"), "S00600004844521B");
    EXPECT_EQ(testkit::sRecord(9, 0, {}), "S9030000FC");
}

TEST(SRecord, AddressBytesFollowTheType)
{
    const int widths[] = {2, 2, 3, 4, 2, 2, 3, 4, 3, 2};
    for (int type = 0; type <= 9; ++type) {
        const QByteArray record = testkit::sRecord(type, 0x12345678, {});
        EXPECT_EQ(record.mid(2, 2).toInt(nullptr, 16), widths[type] + 1) << record.constData();
        EXPECT_EQ(record.mid(4, 2 * widths[type]), QByteArray("12345678").right(2 * widths[type]))
            << record.constData();
    }
}

struct ShapeCase
{
    int64_t dataBytes;
    int perRecord;
    int addressBytes;
    uint32_t base;
};

class FirmwareFile : public testing::TestWithParam<ShapeCase>
{};

TEST_P(FirmwareFile, HoldsEveryDataByteOnceInValidRecords)
{
    const ShapeCase shape = GetParam();
    const testkit::FirmwareShape firmware{.dataBytes = shape.dataBytes,
                                          .bytesPerRecord = shape.perRecord,
                                          .addressBytes = shape.addressBytes,
                                          .base = shape.base,
                                          .seed = 7};
    QTemporaryDir dir;
    const QString path = dir.filePath("K3B7.hex");
    QString error;
    const int lines = testkit::writeFirmwareFile(path, firmware, &error, "\n");
    ASSERT_GT(lines, 0) << error.toStdString();
    EXPECT_EQ(lines, (shape.dataBytes + shape.perRecord - 1) / shape.perRecord + 2);

    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const QList<QByteArray> records = file.readAll().split('\n');
    ASSERT_EQ(records.size(), lines + 1) << "every line ends in the line end given";
    EXPECT_EQ(records, testkit::firmwareRecords(firmware) << QByteArray());
    uint32_t next = shape.base;
    for (const QByteArray &line : records.mid(1, lines - 2)) {
        modsim::SRecord record;
        std::string why;
        ASSERT_TRUE(modsim::parseSRecord(line.toStdString(), &record, &why)) << line.constData() << ": " << why;
        EXPECT_EQ(record.type, shape.addressBytes - 1);
        EXPECT_EQ(record.address, next);
        for (size_t i = 0; i < record.data.size(); ++i)
            ASSERT_EQ(record.data[i], testkit::dataByteAt(next + uint32_t(i), 7));
        next += uint32_t(record.data.size());
    }
    EXPECT_EQ(next, shape.base + shape.dataBytes);
    EXPECT_EQ(records[lines - 1].left(2), "S" + QByteArray::number(11 - shape.addressBytes));
    modsim::Image image;
    std::string why;
    ASSERT_TRUE(modsim::loadSRecordFile(path.toStdString(), &image, &why)) << why;
    EXPECT_EQ(int64_t(image.size()), shape.dataBytes);
}

INSTANTIATE_TEST_SUITE_P(Shapes, FirmwareFile,
                         testing::Values(ShapeCase{16 * 1024, 16, 3, 0}, ShapeCase{100, 32, 2, 0x7000},
                                         ShapeCase{1000, 250, 4, 0xFFFF0000}, ShapeCase{1000, 251, 3, 0},
                                         ShapeCase{1, 16, 3, 0}, ShapeCase{0, 16, 3, 0}));

TEST(FirmwareFile, DataDiffersFromSeedToSeed)
{
    const auto records = [](uint64_t seed) { return testkit::firmwareRecords({.seed = seed}); };
    EXPECT_EQ(records(1), records(1));
    EXPECT_NE(records(1).mid(1, 12), records(2).mid(1, 12));
}

TEST(FirmwareFile, ShapesTheRecordsCannotHoldAreRefused)
{
    QTemporaryDir dir;
    for (const testkit::FirmwareShape &shape :
         {testkit::FirmwareShape{.bytesPerRecord = 0}, testkit::FirmwareShape{.bytesPerRecord = 252},
          testkit::FirmwareShape{.bytesPerRecord = 251, .addressBytes = 4},
          testkit::FirmwareShape{.dataBytes = 0x1000001, .base = 0}, testkit::FirmwareShape{.addressBytes = 5}}) {
        QString error;
        EXPECT_EQ(testkit::writeFirmwareFile(dir.filePath("K3B7.hex"), shape, &error), -1);
        EXPECT_FALSE(error.isEmpty());
    }
    QString error;
    EXPECT_EQ(testkit::writeFirmwareFile("/nonexistent-folder/K3B7.hex", {}, &error), -1);
    EXPECT_TRUE(error.contains("/nonexistent-folder/K3B7.hex")) << error.toStdString();
}

TEST(BenchIni, IsReadByTheInterfaceWithKeysReplacingTheDefaults)
{
    testkit::BenchIni ini;
    ini.addAdapter(3, {{"bus_status", "0x10"}});
    ini.addQtAdapter(1, "virtualcan", "tcp://127.0.0.1:4711/can0");
    ini.addModule(5, {{"name", "X9"}, {"adapter", "3"}, {"checksum_error_lines", "3,7"}});
    canapi::BenchConfig config;
    QString error;
    ASSERT_TRUE(canapi::parseBenchConfig(ini.text(), "bench.ini", "/tmp/a b;c", &config, &error))
        << error.toStdString();
    ASSERT_EQ(config.adapters.size(), 2);
    EXPECT_EQ(config.adapters[0].index, 1);
    EXPECT_EQ(config.adapters[0].tracePath, "/tmp/a b;c/trace1.log");
    EXPECT_EQ(config.adapters[1].busStatus, 0x10);
    EXPECT_EQ(config.adapters[1].tracePath, "/tmp/a b;c/trace3.log");
    ASSERT_EQ(config.modules.size(), 1);
    EXPECT_EQ(config.modules[0].adapterIndex, 3);
    EXPECT_EQ(config.modules[0].config.name, "X9");
    EXPECT_EQ(config.modules[0].config.imagePath, "/tmp/a b;c/module-5.s3");
    EXPECT_EQ(ini.adapterOfLine(0), 1);
    EXPECT_EQ(ini.adapterOfLine(1), 3);
    EXPECT_EQ(ini.adapterOfLine(2), -1);
}

TEST(BenchIni, ModuleOptionGivesTheSameModuleAsTheFile)
{
    const testkit::Keys keys{{"serial", "4711"}, {"restart_ms", "0"}};
    testkit::BenchIni ini;
    ini.addAdapter(0);
    ini.addModule(2, keys);
    canapi::BenchConfig config;
    ASSERT_TRUE(canapi::parseBenchConfig(ini.text(), "bench.ini", "/tmp/case", &config, nullptr));
    modsim::ModuleConfig fromOption;
    for (const QString &pair : testkit::BenchIni::moduleOption(2, keys, "/tmp/case").split(u',')) {
        std::string error;
        ASSERT_TRUE(modsim::applyModuleKey(fromOption, pair.section(u'=', 0, 0).toStdString(),
                                           pair.section(u'=', 1).toStdString(), "/", &error))
            << error;
    }
    EXPECT_EQ(config.modules[0].config, fromOption);
}

TEST(CanIds, AsTheConsoleProgramTakesThem)
{
    const QStringList four{"PCAN_USB", "125", "0", "f.hex"};
    EXPECT_EQ(testkit::canIdsArgument(four), QString());
    EXPECT_EQ(testkit::canIdsArgument(four + QStringList{"CLOSE_AUTO"}), QString());
    EXPECT_EQ(testkit::canIdsArgument(four + QStringList{"520"}), "520");
    EXPECT_EQ(testkit::canIdsArgument(four + QStringList{"NO", "520,0x210"}), "520,0x210");
}

// A stand-in for tarvCanFlash: a script that gets its arguments.
class Run : public testing::Test
{
protected:
    void SetUp() override
    {
        bench.writeFirmware();
        bench.addAdapter(0);
        bench.addModule(1);
        bench.addModule(2);
        bench.writeConfig();
    }

    testkit::RunResult run(const QByteArray &script, int deadlineMs = 60000)
    {
        QFile file(bench.path("flasher.sh"));
        EXPECT_TRUE(file.open(QIODevice::WriteOnly));
        file.write("#!/bin/sh\n" + script);
        file.close();
        file.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        testkit::RunSpec spec = bench.spec(bench.autoArgs());
        spec.program = file.fileName();
        spec.deadlineMs = deadlineMs;
        return testkit::runFlasher(spec);
    }
    testkit::Bench bench;
};

TEST_F(Run, OutputAndExitCodeComeBack)
{
    const testkit::RunResult r = run("printf 'one\\r\\ntwo' ; printf 'e1\\ne2\\n' >&2; exit 3\n");
    EXPECT_TRUE(r.ended);
    EXPECT_FALSE(r.crashed);
    EXPECT_EQ(r.exitCode, 3);
    EXPECT_EQ(r.out, "one\r\ntwo");
    EXPECT_EQ(r.outLines, QStringList({"one", "two"}));
    EXPECT_EQ(r.errLines, QStringList({"e1", "e2"}));
    EXPECT_FALSE(r.wire.has_value()) << "no trace, no verdict";
    EXPECT_TRUE(r.describe().contains("exit code 3")) << r.describe().toStdString();
}

TEST_F(Run, ACrashAndAHangAreToldApart)
{
    const testkit::RunResult crash = run("kill -SEGV $$\n");
    EXPECT_TRUE(crash.ended && crash.crashed);
    EXPECT_EQ(crash.exitCode, -1);
    const testkit::RunResult hang = run("exec sleep 60\n", 300);
    EXPECT_FALSE(hang.ended);
    EXPECT_EQ(hang.exitCode, -1);
    EXPECT_LT(hang.seconds, 30.0);
}

TEST_F(Run, AMissingProgramIsNotStarted)
{
    testkit::RunSpec spec = bench.spec(bench.autoArgs());
    spec.program = bench.path("nothing-here");
    const testkit::RunResult r = testkit::runFlasher(spec);
    EXPECT_FALSE(r.started);
    EXPECT_FALSE(r.ended);
}

// The images are checked against the file as the run found it, which the
// run may have changed; a trace brings a wire verdict.
TEST_F(Run, ImagesAreCheckedAgainstTheFileAsItWas)
{
    const testkit::RunResult r = run("cp \"$4\" module-1.s3; echo S804000000FB > module-2.s3; : > \"$4\"\n"
                                     "echo '(1.000000) can0 004#F415E6' > trace0.log\n");
    ASSERT_EQ(r.images.size(), 2);
    EXPECT_TRUE(r.imageEqual(1)) << r.describe().toStdString();
    EXPECT_FALSE(r.imageEqual(2));
    EXPECT_FALSE(r.imageEqual(3)) << "no such module";
    EXPECT_EQ(r.trace, "(1.000000) can0 004#F415E6\n");
    EXPECT_TRUE(r.wire.has_value());
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
