// Adapters on Qt's virtual CAN bus: two devices of one process, and a device
// in another process, on a private port each.
#include "apitestsupport.h"
#include "processsupport.h"

#include <QFile>
#include <QTemporaryDir>

#include <thread>

namespace {

using namespace canapitest;

// Qt's server of a process stays on the first port it listens on, so every
// test of this process uses that one; under CTest each test has a process
// and so a port of its own.
int processPort()
{
    static const int port = freePort();
    return port;
}

std::string qtAdapter(const std::string &name, int index, int port, const std::string &extra = "")
{
    return "[adapter." + name + "]\nindex = " + std::to_string(index)
           + "\ndriver = pcan_usb\nbackend = qt\nplugin = virtualcan\ninterface = tcp://127.0.0.1:"
           + std::to_string(port) + "/can0\n" + extra + "\n";
}

// Qt's server takes a device into the bus a moment after it connected, so
// the first frames may pass it by: send until the other side has one.
std::vector<ApiFrame> sendUntilReceived(Line &from, Line &to, const ApiFrame &f)
{
    const auto deadline = std::chrono::steady_clock::now() + kWait;
    while (std::chrono::steady_clock::now() < deadline) {
        EXPECT_EQ(from.send(f), API_OK);
        auto got = to.receive(1, 100ms);
        if (!got.empty())
            return got;
    }
    return {};
}

class VirtualCan : public ::testing::Test
{
protected:
    void TearDown() override { canapi::sim::shutdown(); }
};

TEST_F(VirtualCan, RoundTripBetweenTwoDevices)
{
    QTemporaryDir dir;
    const int port = processPort();
    ASSERT_NE(port, 0);
    const std::string trace = dir.filePath(QStringLiteral("b.log")).toStdString();
    configure(qtAdapter("a", 0, port) + qtAdapter("b", 1, port, "trace = " + trace + "\ntrace_name = vb"));
    ASSERT_EQ(CanApi_LoadDriver("pcan_usb"), API_OK);
    Line a, b;
    openLine(a, 0);
    openLine(b, 1);
    EXPECT_EQ(CanApi_ReadBusStatus(a.hw), 0u) << "a virtual bus without status reads as OK";

    const auto atB = sendUntilReceived(a, b, frame(0x1205, {0xD8, 0x03, 0x11}));
    ASSERT_FALSE(atB.empty());
    EXPECT_EQ(atB[0].id, 0x205u);
    EXPECT_EQ(atB[0].type, 0);
    EXPECT_EQ(atB[0].length, 3);
    EXPECT_EQ(atB[0].data[2], 0x11);

    ASSERT_EQ(b.send(frame(0x20D, {0xD8, 0x01})), API_OK);
    const auto atA = a.receive(1);
    ASSERT_EQ(atA.size(), 1u);
    EXPECT_EQ(atA[0].id, 0x20Du);
    EXPECT_EQ(atA[0].data[1], 0x01);

    canapi::sim::shutdown();
    QFile log(QString::fromStdString(trace));
    ASSERT_TRUE(log.open(QIODevice::ReadOnly));
    const QByteArray text = log.readAll();
    EXPECT_TRUE(text.contains(" vb 205#D80311\n")) << text.toStdString();
    EXPECT_TRUE(text.contains(" vb 20D#D801\n")) << text.toStdString();
}

TEST_F(VirtualCan, ClientsOfOneDeviceSeeEachOther)
{
    const int port = processPort();
    configure(qtAdapter("a", 0, port));
    ASSERT_EQ(CanApi_LoadDriver("pcan_usb"), API_OK);
    Line first, second;
    openLine(first, 0, 0xC723, "first");
    openLine(second, 0, 0xC723, "second");
    ASSERT_EQ(first.send(frame(0x123, {9})), API_OK);
    const auto got = second.receive(1);
    ASSERT_EQ(got.size(), 1u);
    EXPECT_EQ(got[0].id, 0x123u);
    EXPECT_TRUE(first.receive(1, 200ms).empty());
}

TEST_F(VirtualCan, RoundTripWithADeviceInAnotherProcess)
{
    const int port = processPort();
    QTemporaryDir dir;
    // This process opens its device first, so it hosts Qt's server, which
    // must outlive the other side.
    configure(qtAdapter("here", 0, port));
    ASSERT_EQ(CanApi_LoadDriver("pcan_usb"), API_OK);
    Line here;
    openLine(here, 0);

    const QString ini = dir.filePath(QStringLiteral("echo.ini"));
    QFile file(ini);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(qtAdapter("there", 0, port).c_str());
    file.close();
    QProcess echo;
    echo.setProcessEnvironment(environmentWith(ini));
    echo.start(QStringLiteral(CANAPI_PROBE),
               {QStringLiteral("echo"), QStringLiteral("pcan_usb"), QStringLiteral("0")});
    ASSERT_TRUE(echo.waitForReadyRead(10000)) << echo.readAllStandardError().toStdString();
    ASSERT_EQ(echo.readLine().trimmed(), QByteArray("ready"));

    std::vector<ApiFrame> back;
    const auto deadline = std::chrono::steady_clock::now() + kWait;
    while (back.empty() && std::chrono::steady_clock::now() < deadline) {
        ASSERT_EQ(here.send(frame(0x1205, {0xD8, 0x03, 0x11})), API_OK);
        back = here.receive(1, 100ms);
    }
    ASSERT_FALSE(back.empty());
    EXPECT_EQ(back[0].id, 0x206u); // 0x205 on the wire, answered with identifier + 1
    EXPECT_EQ(back[0].data[0], 0xD8);

    ASSERT_EQ(here.send(frame(0x100, {0xFF})), API_OK);
    ASSERT_TRUE(echo.waitForFinished(10000));
    EXPECT_EQ(echo.exitCode(), 0) << echo.readAllStandardError().toStdString();
}

TEST_F(VirtualCan, DeviceThatLostItsBusDoesNotReadAsGood)
{
    // The other process opens first and so hosts Qt's server; when it ends,
    // the bus is gone for this one.
    const int port = freePort();
    QTemporaryDir dir;
    const QString ini = dir.filePath(QStringLiteral("host.ini"));
    QFile file(ini);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(qtAdapter("host", 0, port).c_str());
    file.close();
    QProcess host;
    host.setProcessEnvironment(environmentWith(ini));
    host.start(QStringLiteral(CANAPI_PROBE),
               {QStringLiteral("echo"), QStringLiteral("pcan_usb"), QStringLiteral("0")});
    ASSERT_TRUE(host.waitForReadyRead(10000)) << host.readAllStandardError().toStdString();

    configure(qtAdapter("guest", 0, port));
    ASSERT_EQ(CanApi_LoadDriver("pcan_usb"), API_OK);
    Line guest;
    openLine(guest, 0);
    std::vector<ApiFrame> back;
    const auto deadline = std::chrono::steady_clock::now() + kWait;
    while (back.empty() && std::chrono::steady_clock::now() < deadline) {
        ASSERT_EQ(guest.send(frame(0x300, {1})), API_OK);
        back = guest.receive(1, 100ms);
    }
    ASSERT_FALSE(back.empty()) << "the host process never answered";
    EXPECT_EQ(CanApi_ReadBusStatus(guest.hw), 0u);

    ASSERT_EQ(guest.send(frame(0x300, {0xFF})), API_OK);
    ASSERT_TRUE(host.waitForFinished(10000));
    ApiResult status = 0;
    const auto until = std::chrono::steady_clock::now() + kWait;
    while (status == 0 && std::chrono::steady_clock::now() < until) {
        status = CanApi_ReadBusStatus(guest.hw);
        std::this_thread::sleep_for(10ms); // polls the status, the check is below
    }
    EXPECT_EQ(status, API_ERR_ILLHW);
}

TEST_F(VirtualCan, RegistrationGivesUpWhenTheDeviceNeverConnects)
{
    // A port on which nothing listens and no server can start: not loopback.
    configure("[adapter.far]\nindex = 0\ndriver = pcan_usb\nbackend = qt\nplugin = virtualcan\n"
              "interface = tcp://192.0.2.1:9/can0\n");
    ASSERT_EQ(CanApi_LoadDriver("pcan_usb"), API_OK);
    const auto begin = std::chrono::steady_clock::now();
    EXPECT_EQ(CanApi_RegisterNet(1, "tarvnet0", 16, 0xC723), API_ERR_ILLHW);
    EXPECT_LT(std::chrono::steady_clock::now() - begin, 30s);
    uint8_t hw = 0;
    EXPECT_EQ(CanApi_ReadNetParam(1, API_NETPARAM_HW, &hw, 1), API_ERR_ILLNET) << "no half-made net is left";
}

} // namespace
