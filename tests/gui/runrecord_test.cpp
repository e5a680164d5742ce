#include "logplacement.h"
#include "runrecord.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <gtest/gtest.h>

QT_BEGIN_NAMESPACE
// A readable rectangle instead of a byte dump.
inline void PrintTo(const QRect &r, std::ostream *out)
{
    *out << "QRect(" << r.x() << ", " << r.y() << ", " << r.width() << ", " << r.height() << ')';
}
QT_END_NAMESPACE

namespace {

struct PlaceCase
{
    const char *name;
    QRect available;
    int expectedX;
};

// A main window on columns 300..619 with a 4-pixel frame, a log 400 pixels
// wide: on the right from 639, on the left up to 280.
TEST(PlaceBeside, RightThenLeftThenScreenEdge)
{
    const QRect inner(300, 100, 320, 430);
    const QRect frame = inner.adjusted(-4, -24, 4, 4);
    const PlaceCase cases[] = {
        {"right fits", QRect(0, 0, 1920, 1080), 639},
        {"right fits to the pixel, left would too", QRect(-200, 0, 1243, 1080), 639},
        {"right one pixel short, left fits", QRect(-200, 0, 1242, 1080), -119},
        {"neither, at the right edge", QRect(50, 0, 900, 1080), 546},
        {"neither, screen narrower than the log", QRect(50, 0, 300, 1080), 54},
    };
    for (const PlaceCase &c : cases) {
        EXPECT_EQ(placeBeside(inner, frame, 400, c.available), QRect(c.expectedX, 100, 400, 430)) << c.name;
    }
}

TEST(RecordsToRemove, OldestBeyondTheKept)
{
    const QStringList three = {"run-20261209-093012-500.log", "run-20251231-235959-999.log",
                               "run-20261209-093012-123.log"};
    EXPECT_EQ(recordsToRemove(three, 3), QStringList());
    EXPECT_EQ(recordsToRemove(three, 5), QStringList());
    EXPECT_EQ(recordsToRemove(three, 1),
              QStringList({"run-20251231-235959-999.log", "run-20261209-093012-123.log"}));
    EXPECT_EQ(recordsToRemove(three + QStringList({"notes.txt", "run-x.log.bak", "my-run-1.log"}), 2),
              QStringList({"run-20251231-235959-999.log"}));
}

TEST(RunRecord, NeverWritesThroughALink)
{
    QTemporaryDir temp;
    ASSERT_TRUE(temp.isValid());
    const QString victim = temp.filePath("victim.txt");
    QFile keep(victim);
    ASSERT_TRUE(keep.open(QIODevice::WriteOnly) && keep.write("keep me\n") == 8);
    keep.close();
    const QDir runs(temp.filePath("runs"));
    ASSERT_TRUE(runs.mkpath("."));
    const QDateTime start(QDate(2026, 12, 9), QTime(9, 30, 12, 123), Qt::OffsetFromUTC, 3600);
    ASSERT_TRUE(QFile::link(victim, runs.filePath("run-20261209-093012-123.log")));

    RunRecord record(runs.path());
    ASSERT_TRUE(record.begin(start, "tarvCanFlash --scan"));
    record.append("a line");
    record.end("Ended: exit code 0");
    EXPECT_EQ(record.path(), runs.filePath("run-20261209-093012-123-2.log"));
    EXPECT_TRUE(record.error().isEmpty());
    ASSERT_TRUE(keep.open(QIODevice::ReadOnly));
    EXPECT_EQ(keep.readAll(), QByteArray("keep me\n"));
    QFile written(record.path());
    ASSERT_TRUE(written.open(QIODevice::ReadOnly));
    EXPECT_EQ(written.readAll(), QByteArray("Started: 2026-12-09T09:30:12.123+01:00\nCommand: "
                                            "tarvCanFlash --scan\n"
                                            "a line\nEnded: exit code 0\n"));
}

TEST(RunRecord, KeepsTheLastHundredRecordFiles)
{
    QTemporaryDir temp;
    ASSERT_TRUE(temp.isValid());
    const QDir runs(temp.path());
    const auto name = [](int second) {
        return QStringLiteral("run-20260101-1000%1-000.log").arg(second, 2, 10, QLatin1Char('0'));
    };
    for (int second = 0; second < 100; ++second)
        ASSERT_TRUE(QFile(runs.filePath(name(second))).open(QIODevice::NewOnly));
    // A link is no record of ours: neither counted nor removed.
    const QString link = runs.filePath("run-20250101-000000-000.log");
    ASSERT_TRUE(QFile::link(runs.filePath(name(50)), link));

    RunRecord record(runs.path());
    ASSERT_TRUE(record.begin(QDateTime(QDate(2026, 12, 9), QTime(9, 30)), "tarvCanFlash --scan"));
    const QStringList left = runs.entryList({"run-*.log"}, QDir::Files | QDir::NoSymLinks, QDir::Name);
    EXPECT_EQ(left.size(), 100);
    EXPECT_EQ(left.first(), name(1));
    EXPECT_TRUE(QFileInfo(link).isSymLink());
}
} // namespace
