// The trace of a simulated bus as can-utils read it.
#include "apitestsupport.h"
#include "processsupport.h"

#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTemporaryDir>

namespace {

using namespace canapitest;

TEST(TraceFile, HoldsEveryFrameOfTheBusAndLog2ascReadsIt)
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("run.log"));
    configure(simAdapter("usb0", 0, "pcan_usb", "trace = " + path.toStdString()));
    ASSERT_EQ(CanApi_LoadDriver("pcan_usb"), API_OK);
    Line line;
    openLine(line, 0);
    Seen onBus;
    auto peer = canapi::sim::attachPeer(0, onBus.callback());
    ASSERT_EQ(line.send(frame(0x1205, {0xD8, 0x03, 0x11})), API_OK);
    ASSERT_EQ(onBus.waitFor(1).size(), 1u);
    peer->send(busFrame(0x20D, {0xD8, 0x01}));
    ASSERT_EQ(line.receive(1).size(), 1u);
    ASSERT_EQ(line.send(frame(0x12345, {0x0A}, API_FRAME_EXT)), API_OK);
    ASSERT_EQ(line.send(frame(0x7FF, {}, API_FRAME_RTR)), API_OK);
    ASSERT_EQ(onBus.waitFor(3).size(), 3u);
    peer.reset();
    canapi::sim::shutdown();

    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const QStringList lines = QString::fromLatin1(file.readAll()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    const QStringList frames = {QStringLiteral("205#D80311"), QStringLiteral("20D#D801"),
                                QStringLiteral("00012345#0A"), QStringLiteral("7FF#R")};
    ASSERT_EQ(lines.size(), frames.size()) << file.fileName().toStdString();
    static const QRegularExpression form(QStringLiteral("^\\((\\d{10})\\.(\\d{6})\\) can0 (\\S+)$"));
    double previous = 0;
    for (qsizetype i = 0; i < lines.size(); ++i) {
        const auto m = form.match(lines.at(i));
        ASSERT_TRUE(m.hasMatch()) << lines.at(i).toStdString();
        EXPECT_EQ(m.captured(3), frames.at(i));
        const double t = (m.captured(1) + QLatin1Char('.') + m.captured(2)).toDouble();
        EXPECT_GE(t, previous) << "time runs forward";
        previous = t;
    }

    const QString log2asc = QStandardPaths::findExecutable(QStringLiteral("log2asc"));
    if (log2asc.isEmpty())
        GTEST_SKIP() << "log2asc (can-utils) is not installed; the trace was checked, not converted";
    const ProcessResult r = runProcess(log2asc, {QStringLiteral("-I"), path, QStringLiteral("can0")},
                                       QProcessEnvironment::systemEnvironment());
    ASSERT_EQ(r.exitCode, 0) << r.err.toStdString();
    EXPECT_EQ(r.out.count(QStringLiteral(" Rx ")), frames.size()) << r.out.toStdString();
    EXPECT_TRUE(r.out.contains(QStringLiteral(" 205 "))) << r.out.toStdString();
    EXPECT_TRUE(r.out.contains(QStringLiteral("d 3 D8 03 11"))) << r.out.toStdString();
    EXPECT_TRUE(r.out.contains(QStringLiteral("12345x"))) << r.out.toStdString();
}

// Each bench built is a run of its own: a trace naming the run's time is a
// new file for it, however quickly the runs follow each other, and both
// adapters naming it write into that one file.
TEST(TraceFile, PlaceNamingTheRunsTimeIsANewFileForEachRun)
{
    QTemporaryDir dir;
    const std::string trace = "trace = " + dir.filePath(QStringLiteral("t-%t.log")).toStdString();
    const std::string bench = simAdapter("usb0", 0, "pcan_usb", trace + "\ntrace_name = a")
                              + simAdapter("usb1", 1, "pcan_usb", trace + "\ntrace_name = b");
    QStringList files;
    for (int run = 0; run < 2; ++run) {
        configure(bench);
        ASSERT_EQ(CanApi_LoadDriver("pcan_usb"), API_OK);
        Line line0, line1;
        openLine(line0, 0);
        openLine(line1, 1);
        ASSERT_EQ(line0.send(frame(0x100 + run, {1})), API_OK);
        ASSERT_EQ(line1.send(frame(0x110 + run, {2})), API_OK);
        canapi::sim::shutdown();
        files = QDir(dir.path()).entryList(QDir::Files, QDir::Name);
        ASSERT_EQ(files.size(), run + 1) << files.join(QLatin1Char(' ')).toStdString();
    }
    static const QRegularExpression name(QStringLiteral("^t-\\d{8}-\\d{6}(-2)?\\.log$"));
    QStringList texts;
    for (const QString &file : std::as_const(files)) {
        EXPECT_TRUE(name.match(file).hasMatch()) << file.toStdString();
        QFile in(dir.filePath(file));
        ASSERT_TRUE(in.open(QIODevice::ReadOnly));
        texts.append(QString::fromLatin1(in.readAll()));
    }
    // The names need not sort in the order of the runs ("-2.log" before ".log").
    const int firstRun = texts.at(0).contains(QStringLiteral(" a 100#01")) ? 0 : 1;
    for (int run = 0; run < 2; ++run) {
        const QString &text = texts.at(run == 0 ? firstRun : 1 - firstRun);
        EXPECT_EQ(text.count(QLatin1Char('\n')), 2) << text.toStdString();
        EXPECT_TRUE(text.contains(QStringLiteral(" a %1#01").arg(0x100 + run, 0, 16))) << text.toStdString();
        EXPECT_TRUE(text.contains(QStringLiteral(" b %1#02").arg(0x110 + run, 0, 16))) << text.toStdString();
    }
}

} // namespace
