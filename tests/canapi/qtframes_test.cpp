// Frames to and from QtSerialBus, bus states, and which devices the
// automatic detection offers.
#include "autodetect.h"
#include "qtadapter.h"

#include <QCanBusDevice>
#include <QCanBusFrame>

#include <gtest/gtest.h>

namespace {

ApiFrame frame(uint32_t id, uint8_t type, std::initializer_list<uint8_t> data)
{
    ApiFrame f{};
    f.id = id;
    f.type = type;
    f.length = static_cast<uint8_t>(data.size());
    std::copy(data.begin(), data.end(), f.data);
    return f;
}

TEST(QtFrames, StandardFrameStaysStandardWhateverTheUpperBits)
{
    const QCanBusFrame qf = canapi::toQtFrame(frame(0x1205, 0, {0xD8, 0x01}));
    EXPECT_EQ(qf.frameId(), 0x205u);
    EXPECT_FALSE(qf.hasExtendedFrameFormat());
    EXPECT_EQ(qf.frameType(), QCanBusFrame::DataFrame);
    EXPECT_EQ(qf.payload(), QByteArray("\xD8\x01", 2));
}

TEST(QtFrames, ExtendedAndRemoteFrames)
{
    const QCanBusFrame ext = canapi::toQtFrame(frame(0x205, API_FRAME_EXT, {1}));
    EXPECT_TRUE(ext.hasExtendedFrameFormat());
    EXPECT_EQ(ext.frameId(), 0x205u);
    const QCanBusFrame rtr = canapi::toQtFrame(frame(0x7FF, API_FRAME_RTR, {0, 0}));
    EXPECT_EQ(rtr.frameType(), QCanBusFrame::RemoteRequestFrame);
    EXPECT_FALSE(rtr.hasExtendedFrameFormat());
    EXPECT_EQ(rtr.payload().size(), 2);
}

TEST(QtFrames, RoundTripKeepsTheFrame)
{
    for (const ApiFrame &f :
         {frame(0x205, 0, {0xD8, 0x03, 0x11}), frame(0x1ABCDEF, API_FRAME_EXT, {1, 2, 3, 4, 5, 6, 7, 8}),
          frame(0x123, API_FRAME_RTR, {}), frame(0x0, 0, {})}) {
        ApiFrame back{};
        ASSERT_TRUE(canapi::fromQtFrame(canapi::toQtFrame(f), &back));
        EXPECT_EQ(back.id, f.id);
        EXPECT_EQ(back.type, f.type);
        EXPECT_EQ(back.length, f.length);
        if ((f.type & API_FRAME_RTR) == 0) {
            EXPECT_EQ(0, std::memcmp(back.data, f.data, f.length));
        }
    }
}

TEST(QtFrames, ErrorsEchoesAndLongFramesAreNotPassedOn)
{
    ApiFrame out{};
    QCanBusFrame error(QCanBusFrame::ErrorFrame);
    EXPECT_FALSE(canapi::fromQtFrame(error, &out));
    QCanBusFrame echo(0x100, QByteArray(1, '\1'));
    echo.setLocalEcho(true);
    EXPECT_FALSE(canapi::fromQtFrame(echo, &out));
    QCanBusFrame fd(0x100, QByteArray(12, '\1'));
    fd.setFlexibleDataRateFormat(true);
    EXPECT_FALSE(canapi::fromQtFrame(fd, &out));
}

TEST(QtFrames, BusStatesReadAsStatusWords)
{
    using S = QCanBusDevice::CanBusStatus;
    EXPECT_EQ(canapi::statusWordOf(static_cast<int>(S::Good)), 0);
    EXPECT_EQ(canapi::statusWordOf(static_cast<int>(S::Unknown)), 0);
    EXPECT_EQ(canapi::statusWordOf(static_cast<int>(S::Warning)), 0x0004);
    EXPECT_EQ(canapi::statusWordOf(static_cast<int>(S::Error)), 0x0008);
    EXPECT_EQ(canapi::statusWordOf(static_cast<int>(S::BusOff)), 0x0010);
}

struct DetectCase
{
    const char *plugin;
    const char *name;
    const char *kernel;
    const char *driver;
};

class Detection : public ::testing::TestWithParam<DetectCase>
{};

TEST_P(Detection, ListsPeakAdaptersUnderTheirDriver)
{
    const DetectCase &c = GetParam();
    EXPECT_EQ(canapi::driverForDevice(QString::fromLatin1(c.plugin), QString::fromLatin1(c.name),
                                      QString::fromLatin1(c.kernel)),
              QString::fromLatin1(c.driver))
        << c.plugin << " " << c.name;
}

INSTANTIATE_TEST_SUITE_P(Devices, Detection,
                         ::testing::Values(DetectCase{"peakcan", "usb0", "", "pcan_usb"},
                                           DetectCase{"peakcan", "usb12", "", "pcan_usb"},
                                           DetectCase{"peakcan", "pci1", "", "pcan_pci"},
                                           DetectCase{"peakcan", "lan0", "", "peakcan"},
                                           DetectCase{"socketcan", "can0", "peak_usb", "pcan_usb"},
                                           DetectCase{"socketcan", "can1", "peak_pci", "pcan_pci"},
                                           DetectCase{"socketcan", "can2", "peak_pciefd", "pcan_pci"},
                                           DetectCase{"socketcan", "vcan0", "", ""},
                                           DetectCase{"socketcan", "can3", "gs_usb", ""},
                                           DetectCase{"virtualcan", "can0", "", ""}));

TEST(Detection, AFruitlessSearchNamesWhatItSawThatServesNot)
{
    const QString otherAdapter = canapi::noAdapterFound({{QStringLiteral("can0 (gs_usb)")}, QString()});
    EXPECT_TRUE(otherAdapter.contains(
        QLatin1String("PEAK driver (can0 (gs_usb): name it in a bench file), PCAN-Basic lists no adapter")))
        << otherAdapter.toStdString();
    const QString nothing = canapi::noAdapterFound({{}, QStringLiteral("Cannot load library pcanbasic")});
    EXPECT_TRUE(nothing.endsWith(QLatin1String("PEAK driver, no PCAN-Basic library"))) << nothing.toStdString();
}

} // namespace
