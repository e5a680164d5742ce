// Whole runs in virtual time: each scenario passes the wire judge, repeats
// byte for byte, and says on the wire and on the console what the same
// scenario says when the real program runs it in real time.
#include "moduleconfig.h"
#include "testbench.h"
#include "virtualrun.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QRegularExpression>

#include <algorithm>

#include <gtest/gtest.h>

namespace {

struct Scenario
{
    const char *name;
    QList<QPair<int, testkit::Keys>> modules;
    int exitCode;
    uint64_t busOffAfterFrames = 0;
    QString mustShow; // a line of standard error the run must write
};

const QList<Scenario> &scenarios()
{
    static const QList<Scenario> all{
        {"CleanUpdateOfTwo",
         {{5, {{"logon_delay_ms", "0"}}}, {2, {{"logon_delay_ms", "400"}, {"seed", "7"}}}},
         0,
         0,
         "2  of  2 completed. "},
        {"NameDoesNotFit",
         {{1, {{"name", "X9"}}}},
         2,
         0,
         "Error: No module fits the file and the selection, no module updated"},
        {"ChecksumErrorOnce", {{1, {{"checksum_error_lines", "3"}}}}, 0, 0, "1  of  1 completed. "},
        {"NeverReady",
         {{1, {{"never_ready", "true"}}}},
         2,
         0,
         "\"\" Module 208 not updated: no ready report within 10 seconds "},
        {"BusOff", {{1, {}}, {2, {}}}, 2, 400, "Error: CAN-Connection lost BUSOFF"},
        // Gone while the flasher asks the module for its name: the silence
        // is the bus's, not the module's.
        {"BusOffWhileAskingForTheName", {{1, {}}}, 2, 150, "Error: CAN-Connection lost BUSOFF"},
    };
    return all;
}

// The scenario's bench with its firmware file, for either world.
struct ScenarioBench
{
    testkit::Bench bench;
    testkit::VirtualSpec spec;
};

void prepare(const Scenario &scenario, ScenarioBench &setup)
{
    setup.bench.writeFirmware();
    setup.bench.addAdapter(
        0, scenario.busOffAfterFrames
               ? testkit::Keys{{"bus_off_after_frames", QString::number(scenario.busOffAfterFrames)}}
               : testkit::Keys{});
    for (const auto &[address, keys] : scenario.modules)
        setup.bench.addModule(address, keys);
    setup.bench.writeConfig();
    QString error;
    setup.spec.modules = testkit::benchModules(setup.bench.ini(), 0, &error);
    ASSERT_TRUE(error.isEmpty()) << error.toStdString();
    ASSERT_EQ(setup.spec.modules.size(), size_t(scenario.modules.size()));
    setup.spec.firmwarePath = setup.bench.firmwarePath();
    setup.spec.bitRateKbit = 1000;
    setup.spec.busOffAfterFrames = scenario.busOffAfterFrames;
}

QStringList lines(const QByteArray &text)
{
    return QString::fromUtf8(text).split(u'\n', Qt::SkipEmptyParts);
}

class VirtualRun : public testing::TestWithParam<Scenario>
{};

TEST_P(VirtualRun, PassesTheJudgeAndRepeatsExactly)
{
    const Scenario scenario = GetParam();
    ScenarioBench setup;
    prepare(scenario, setup);
    QElapsedTimer wall;
    wall.start();
    const testkit::VirtualResult first = testkit::runVirtual(setup.spec);
    const qint64 wallMs = wall.elapsed();
    EXPECT_FALSE(first.overran) << first.describe().toStdString();
    EXPECT_TRUE(first.wire.ok()) << first.describe().toStdString();
    EXPECT_EQ(first.wire.answeredTimeouts, 0) << first.describe().toStdString();
    EXPECT_EQ(first.exitCode, scenario.exitCode) << first.describe().toStdString();
    EXPECT_TRUE(lines(first.err).contains(scenario.mustShow)) << first.describe().toStdString();
    EXPECT_LT(wallMs, 5000) << "virtual time should cost little wall time";
    std::printf("%s: %lld us virtual in %lld ms\n", scenario.name, static_cast<long long>(first.virtualUs),
                static_cast<long long>(wallMs));

    const testkit::VirtualResult again = testkit::runVirtual(setup.spec);
    EXPECT_EQ(again.trace, first.trace);
    EXPECT_EQ(again.out, first.out);
    EXPECT_EQ(again.err, first.err);
}

INSTANTIATE_TEST_SUITE_P(Scenarios, VirtualRun, testing::ValuesIn(scenarios()),
                         [](const testing::TestParamInfo<Scenario> &info) { return info.param.name; });

// What only the real program writes: the driver library's binding and
// version, and the wall-clock seconds of its last line.
QStringList comparable(const QByteArray &text)
{
    static const QRegularExpression seconds(QStringLiteral("needed \\d+ seconds"));
    static const QRegularExpression binding(
        QStringLiteral("^(tarvpcan3\\.dll version|\".*tarvpcan3.*\" loaded|(0x[0-9a-f]+ )+$)"));
    QStringList kept;
    for (QString line : lines(text)) {
        if (!binding.match(line).hasMatch())
            kept.append(line.replace(seconds, QStringLiteral("needed N seconds")));
    }
    return kept;
}

// Modules that answer a log-on request at once: with a random delay, whether
// the answer to the window's last request comes before the window closes is
// a race the real program's pass overhead decides.
const QList<Scenario> &agreeingScenarios()
{
    static const QList<Scenario> all{
        {"CleanUpdateOfTwo",
         {{5, {{"logon_delay_ms", "0"}}}, {2, {{"logon_delay_ms", "0"}, {"seed", "7"}}}},
         0,
         0,
         "2  of  2 completed. "},
        {"NameDoesNotFit",
         {{1, {{"name", "X9"}, {"logon_delay_ms", "0"}}}},
         2,
         0,
         "Error: No module fits the file and the selection, no module updated"},
        {"ChecksumErrorOnce",
         {{1, {{"checksum_error_lines", "3"}, {"logon_delay_ms", "0"}}}},
         0,
         0,
         "1  of  1 completed. "},
    };
    return all;
}

// Where two lists part, with what each holds there, for a failure message.
std::string firstDifference(const QStringList &real, const QStringList &virtualRun)
{
    qsizetype i = 0;
    while (i < real.size() && i < virtualRun.size() && real[i] == virtualRun[i])
        ++i;
    if (i == real.size() && i == virtualRun.size())
        return "equal";
    const auto at = [i](const QStringList &list) {
        return i < list.size() ? list.mid(i, 3).join(QStringLiteral(" | ")).toStdString() : std::string("(end)");
    };
    return "item " + std::to_string(i) + ": real " + at(real) + "; virtual " + at(virtualRun);
}

// The frames with the log-on window folded: before the opening sequence
// only which frames went out counts, not how often. The window's last
// request is due the moment its passes end, and in real time the program's
// pass overhead and the request's slip decide which comes first.
QStringList foldLogOnWindow(const QStringList &frames)
{
    const qsizetype opening = frames.indexOf(QRegularExpression(QStringLiteral("004#F4.*")));
    if (opening < 0)
        return frames;
    QStringList window = frames.first(opening);
    window.sort();
    window.removeDuplicates();
    return window + QStringList{QStringLiteral("--")} + frames.mid(opening);
}

// Each sender's frames in their order. Which of two senders' frames meet
// the bus first depends, in real time, on how soon the program's thread
// hands over its next frame (a query's three requests against the module's
// first answers); the judge checks that order in each run on its own.
QStringList perIdentifier(QStringList frames)
{
    std::stable_sort(frames.begin(), frames.end(), [](const QString &a, const QString &b) {
        return a.section(u'#', 0, 0) < b.section(u'#', 0, 0);
    });
    return frames;
}

class Agreement : public testing::TestWithParam<Scenario>
{};

TEST_P(Agreement, VirtualAndRealRunSayTheSame)
{
    const Scenario scenario = GetParam();
    ScenarioBench setup;
    prepare(scenario, setup);
    const testkit::VirtualResult virtualRun = testkit::runVirtual(setup.spec);
    ASSERT_TRUE(virtualRun.wire.ok()) << virtualRun.describe().toStdString();
    const testkit::RunResult realRun = setup.bench.run(setup.bench.autoArgs());
    ASSERT_TRUE(realRun.wireOk()) << realRun.describe().toStdString();
    EXPECT_EQ(realRun.exitCode, virtualRun.exitCode);
    testkit::VirtualResult realFrames;
    realFrames.trace = realRun.trace;
    EXPECT_EQ(firstDifference(perIdentifier(foldLogOnWindow(realFrames.frames())),
                              perIdentifier(foldLogOnWindow(virtualRun.frames()))),
              "equal");
    EXPECT_EQ(firstDifference(comparable(realRun.out), comparable(virtualRun.out)), "equal");
    EXPECT_EQ(firstDifference(comparable(realRun.err), comparable(virtualRun.err)), "equal");
}

INSTANTIATE_TEST_SUITE_P(Scenarios, Agreement, testing::ValuesIn(agreeingScenarios()),
                         [](const testing::TestParamInfo<Scenario> &info) { return info.param.name; });

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
