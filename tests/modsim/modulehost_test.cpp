#include "modulehost.h"
#include "moduleoption.h"

#include <gtest/gtest.h>

using namespace modsim;

namespace {

TEST(BusFrames, StandardFrameStaysStandardAtAnyIdentifier)
{
    Frame f;
    f.id = 0x20D;
    f.len = 3;
    f.data = {0xD8, 0x03, 0x11};
    const QCanBusFrame q = busFrameOf(f);
    EXPECT_FALSE(q.hasExtendedFrameFormat());
    EXPECT_EQ(q.frameId(), 0x20Du);
    EXPECT_EQ(q.payload(), QByteArray::fromHex("d80311"));
    const auto back = moduleFrameOf(q);
    ASSERT_TRUE(back.has_value());
    EXPECT_EQ(back->id, f.id);
    EXPECT_EQ(back->len, 3);
    EXPECT_EQ(back->data, f.data);
}

TEST(BusFrames, EmptyPayloadRoundTrips)
{
    Frame f;
    f.id = 0x7FF;
    const auto back = moduleFrameOf(busFrameOf(f));
    ASSERT_TRUE(back.has_value());
    EXPECT_EQ(back->len, 0);
}

TEST(BusFrames, ModulesSeeOnlyClassicStandardDataFrames)
{
    QCanBusFrame extended(0x209, QByteArray::fromHex("1200"));
    extended.setExtendedFrameFormat(true);
    EXPECT_FALSE(moduleFrameOf(extended).has_value());

    QCanBusFrame remote(0x209, QByteArray());
    remote.setFrameType(QCanBusFrame::RemoteRequestFrame);
    EXPECT_FALSE(moduleFrameOf(remote).has_value());

    QCanBusFrame error(QCanBusFrame::ErrorFrame);
    EXPECT_FALSE(moduleFrameOf(error).has_value());

    QCanBusFrame fd(0x209, QByteArray(12, 'x'));
    fd.setFlexibleDataRateFormat(true);
    EXPECT_FALSE(moduleFrameOf(fd).has_value());
}

struct OptionCase
{
    const char *text;
    bool ok;
    const char *errorPart;
};

std::ostream &operator<<(std::ostream &os, const OptionCase &c)
{
    return os << c.text;
}

class ModuleOption : public testing::TestWithParam<OptionCase>
{};

TEST_P(ModuleOption, ParsesOrNamesTheProblem)
{
    ModuleConfig c;
    QString error;
    EXPECT_EQ(parseModuleOption(QString::fromLatin1(GetParam().text), QStringLiteral("/base"), &c, &error),
              GetParam().ok)
        << error.toStdString();
    if (!GetParam().ok) {
        EXPECT_TRUE(error.contains(QLatin1String(GetParam().errorPart))) << error.toStdString();
    }
}

INSTANTIATE_TEST_SUITE_P(Texts, ModuleOption,
                         testing::Values(OptionCase{"address=1", true, ""},
                                         OptionCase{"address=1,name=K3B7,serial=42", true, ""},
                                         OptionCase{"address=1,checksum_error_lines=3,7,name=K3B7", true, ""},
                                         OptionCase{"1,address=2", false, "key=value"},
                                         OptionCase{"address=1,bogus=2", false, "bogus"},
                                         OptionCase{"address=1,name=K3B7,99", false, "name"},
                                         OptionCase{"address=99", false, "address"},
                                         OptionCase{"adapter=0", false, "adapter"}));

TEST(ModuleOption, ListsContinueAcrossCommasAndPathsAreResolved)
{
    ModuleConfig c;
    QString error;
    ASSERT_TRUE(parseModuleOption(QStringLiteral("address=4,lose_answer_lines=2,5,9,image=out.s3,seed=3"),
                                  QStringLiteral("/work/bench"), &c, &error))
        << error.toStdString();
    EXPECT_EQ(c.address, 4);
    EXPECT_EQ(c.loseAnswerLines, (std::set<int>{2, 5, 9}));
    EXPECT_EQ(c.imagePath, "/work/bench/out.s3");
    EXPECT_EQ(c.seed, 3u);
}

TEST(ModuleSet, AddressesMustDiffer)
{
    QString error;
    ModuleConfig a, b;
    a.address = 1;
    b.address = 2;
    EXPECT_TRUE(checkModuleSet({a, b}, &error));
    b.address = 1;
    EXPECT_FALSE(checkModuleSet({a, b}, &error));
    EXPECT_TRUE(error.contains(QLatin1String("1")));
    EXPECT_FALSE(checkModuleSet({}, &error));
}

} // namespace
