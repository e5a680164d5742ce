// The placeholders of trace and statistics places, and the new file a place
// naming the run's time gets in each run.
#include "runplaces.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

namespace {

using canapi::RunPlaces;
using canapi::RunStamp;

RunStamp stamp()
{
    return RunStamp{QDateTime(QDate(2026, 1, 2), QTime(3, 4, 5)), QStringLiteral("anna")};
}

struct ExpandCase
{
    const char *place;
    int sequence;
    const char *expanded; // nullptr: refused
};

class ExpandPlace : public ::testing::TestWithParam<ExpandCase>
{};

TEST_P(ExpandPlace, FillsInTheRun)
{
    const ExpandCase &c = GetParam();
    QString problem;
    const QString out = canapi::expandPlace(QString::fromUtf8(c.place), stamp(), c.sequence, &problem);
    if (c.expanded == nullptr) {
        EXPECT_TRUE(out.isEmpty()) << out.toStdString();
        EXPECT_TRUE(problem.startsWith(QStringLiteral("unknown placeholder %"))) << problem.toStdString();
        return;
    }
    EXPECT_EQ(out.toStdString(), c.expanded);
}

INSTANTIATE_TEST_SUITE_P(Places, ExpandPlace,
                         ::testing::Values(ExpandCase{"/t/run.log", 1, "/t/run.log"},
                                           ExpandCase{"/t/run-%t.log", 1, "/t/run-20260102-030405.log"},
                                           ExpandCase{"/t/run-%t.log", 2, "/t/run-20260102-030405-2.log"},
                                           ExpandCase{"/t/%u/%u-%t", 1, "/t/anna/anna-20260102-030405"},
                                           ExpandCase{"/t/100%%-%%t.log", 3, "/t/100%-%t.log"},
                                           ExpandCase{"/t/run-%d.log", 1, nullptr},
                                           ExpandCase{"/t/run-%T.log", 1, nullptr},
                                           ExpandCase{"/t/run%", 1, nullptr}));

TEST(RunPlaces, UserNameCannotLeaveTheFolder)
{
    const std::pair<const char *, const char *> cases[] = {
        {"anna", "anna"}, {"a/b", "a_b"},          {"..", "__"},      {".", "_"},
        {"", "_"},        {"dom\\x y", "dom_x_y"}, {"j.-_9", "j.-_9"}};
    for (const auto &[user, name] : cases)
        EXPECT_EQ(canapi::fileNameOfUser(QString::fromUtf8(user)).toStdString(), name) << user;
}

TEST(RunPlaces, RunsOfOneSecondGetFilesOfTheirOwnAndAdaptersOfOneRunShare)
{
    QTemporaryDir dir;
    const QString place = dir.filePath(QStringLiteral("t-%t.log"));
    const QString first = dir.filePath(QStringLiteral("t-20260102-030405.log"));
    const QString second = dir.filePath(QStringLiteral("t-20260102-030405-2.log"));
    // A link planted where the second run's file would be is passed over.
    const QString target = dir.filePath(QStringLiteral("target"));
    ASSERT_TRUE(QFile::link(target, second));
    QString problem;
    RunPlaces one(stamp());
    EXPECT_EQ(one.resolve(place, &problem).toStdString(), first.toStdString()) << problem.toStdString();
    EXPECT_EQ(one.resolve(place, &problem).toStdString(), first.toStdString())
        << "the adapters of one run share the file";
    RunPlaces two(stamp());
    EXPECT_EQ(two.resolve(place, &problem).toStdString(),
              dir.filePath(QStringLiteral("t-20260102-030405-3.log")).toStdString());
    EXPECT_FALSE(QFile::exists(target));
    EXPECT_TRUE(QFileInfo(first).isFile());

    const QString fixed = dir.filePath(QStringLiteral("fixed-%u.log"));
    EXPECT_EQ(two.resolve(fixed, &problem).toStdString(),
              dir.filePath(QStringLiteral("fixed-anna.log")).toStdString());
    EXPECT_FALSE(QFile::exists(dir.filePath(QStringLiteral("fixed-anna.log")))) << "opened only when written";
    EXPECT_TRUE(two.resolve(dir.filePath(QStringLiteral("no-such/%t")), &problem).isEmpty());
    EXPECT_TRUE(
        problem.endsWith(QStringLiteral("no-such/20260102-030405: cannot be written: No such file or directory")))
        << problem.toStdString();
}

} // namespace
