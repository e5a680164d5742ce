// Opening lines: hardware, net and client registration.
#include "tarvpcan3.h"

#include "apibinding.h"
#include "clockbase.h"
#include "exportguard.h"
#include "lineaccess.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <optional>
#include <string>

using namespace tarvpcan3;

namespace {

constexpr char kNoHardware[] = "Error while registering hardware !";
constexpr char kNoFreeNet[] = "Error while registering net !";
constexpr char kNetRefused[] = "Error while registering net!";
constexpr char kClientRefused[] = "Error while registering client";
constexpr char kConnectRefused[] = "Error while connecting to net";
constexpr char kRangeRefused[] = "Error while registering message";
constexpr char kNoDriver[] = "No driver!";
constexpr char kInternalFailure[] = "Error inside the driver library";

constexpr uint32_t kLastStandardId = 0x7FF;
constexpr uint8_t kOpenRangeType = 1;
constexpr uint8_t kClientRangeType = 3;

void writeMessage(char *text, const char *message)
{
    std::snprintf(text, TARVPCAN3_SETUP_TEXT_MIN, "%s", message);
}

std::string clientNameOf(const char *text)
{
    return std::string(text, strnlen(text, TARVPCAN3_CLIENT_NAME_MAX));
}

// Line n is served by the (n + 1)-th adapter found from handle 16 downwards.
std::optional<uint8_t> findHardware(unsigned line)
{
    unsigned present = 0;
    for (int hw = kHardwareHandles; hw >= 1; --hw) {
        uint32_t value = 0;
        if (api().readHwParam(static_cast<uint8_t>(hw), API_HWPARAM_PRESENT, &value, sizeof value) != API_OK)
            continue;
        if (present++ == line)
            return static_cast<uint8_t>(hw);
    }
    return std::nullopt;
}

std::optional<uint8_t> findFreeNet()
{
    for (int net = 1; net <= kNetHandles; ++net) {
        uint8_t hardware = 0;
        if (api().readNetParam(static_cast<uint8_t>(net), API_NETPARAM_HW, &hardware, sizeof hardware)
            == API_ERR_ILLNET)
            return static_cast<uint8_t>(net);
    }
    return std::nullopt;
}

ApiResult registerRange(uint8_t client, uint8_t net, uint8_t type)
{
    const ApiRangeBound first{0, type};
    const ApiRangeBound last{kLastStandardId, type};
    return api().registerMsgRange(client, net, &first, &last);
}

// Registers the line's net and client in the interface; the failure message,
// or null with the handles filled in.
const char *registerLine(unsigned line, unsigned bitRateKbit, uint32_t notify, LineSetup &setup)
{
    const auto &ops = api();
    const auto hardware = findHardware(line);
    if (!hardware)
        return kNoHardware;
    const auto net = findFreeNet();
    if (!net)
        return kNoFreeNet;
    const std::string netName = netNameFor(line);
    const auto timing = busTimingFor(bitRateKbit);
    if (!timing || ops.registerNet(*net, netName.c_str(), *hardware, *timing) != API_OK)
        return kNetRefused;
    if (ops.registerClient(setup.clientName.c_str(), notify, &setup.client) != API_OK)
        return kClientRefused;
    if (ops.connectClient(setup.client, netName.c_str(), &setup.net) != API_OK)
        return kConnectRefused;
    setup.hardware = *hardware;
    ops.resetHardware(setup.hardware);
    ops.resetClient(setup.client);
    if (registerRange(setup.client, setup.net, kOpenRangeType) != API_OK)
        return kRangeRefused;
    return nullptr;
}

// The net of the line's name; nothing when the driver is missing.
bool probeLineNet(const std::string &netName)
{
    for (int net = 1; net <= kNetHandles; ++net) {
        char name[128] = {};
        const ApiResult result =
            api().readNetParam(static_cast<uint8_t>(net), API_NETPARAM_NAME, name, sizeof name);
        name[sizeof name - 1] = '\0';
        if (result == API_ERR_NODRIVER)
            return false;
        if (result == API_OK && netName == name)
            break;
    }
    return true;
}

uint8_t openLineLocked(uint16_t line, uint16_t bitRateKbit, uint32_t notify, uint8_t extended, char *text)
{
    LineSetup setup;
    setup.line = line;
    setup.clientName = clientNameOf(text);
    setup.sendType = extended != 0 ? kExtendedSendType : 0;
    if (const char *failure = registerLine(line, bitRateKbit, notify, setup)) {
        writeMessage(text, failure);
        return 0;
    }
    takeClockBase();
    const std::string clientName = setup.clientName;
    if (!openLine(line, std::make_shared<LineRecord>(std::move(setup)))) {
        writeMessage(text, kClientRefused);
        return 0;
    }
    const std::size_t size = std::max<std::size_t>(TARVPCAN3_SETUP_TEXT_MIN, clientName.size() + 8);
    std::snprintf(text, size, "Client %s", clientName.c_str());
    return 1;
}

uint8_t connectClientLocked(uint16_t line, uint32_t notify, char *text)
{
    const auto &ops = api();
    const std::string netName = netNameFor(line);
    if (!probeLineNet(netName)) {
        writeMessage(text, kNoDriver);
        return 0;
    }
    const std::string clientName = clientNameOf(text);
    uint8_t client = 0;
    if (ops.registerClient(clientName.c_str(), notify, &client) != API_OK) {
        writeMessage(text, kClientRefused);
        return 0;
    }
    uint8_t net = 0;
    if (ops.connectClient(client, netName.c_str(), &net) != API_OK) {
        writeMessage(text, kConnectRefused);
        return 0;
    }
    ops.resetClient(client);
    const auto record = openRecord(line);
    if (!record)
        return 0;
    record->useClient(client);
    if (registerRange(client, net, kClientRangeType) != API_OK) {
        writeMessage(text, kRangeRefused);
        return 0;
    }
    return 1;
}

// A set-up call that threw says so in the caller's text.
auto setUpFailure(char *text)
{
    return [text] {
        writeMessage(text, kInternalFailure);
        return uint8_t{0};
    };
}

} // namespace

extern "C" uint8_t ExtendedInitCan(uint16_t line, uint16_t bitRateKbit, uint32_t notifyHandle, uint8_t extended,
                                   char *text)
{
    if (text == nullptr)
        return 0;
    return guardExport("ExtendedInitCan", setUpFailure(text), [&] {
        std::lock_guard lifecycle(lifecycleLock());
        return openLineLocked(line, bitRateKbit, notifyHandle, extended, text);
    });
}

extern "C" uint8_t InitCan(uint16_t line, uint8_t bitRateKbit, uint32_t notifyHandle, char *text)
{
    return guardExport("InitCan", uint8_t{0},
                       [&] { return ExtendedInitCan(line, bitRateKbit, notifyHandle, 0, text); });
}

extern "C" uint8_t InitCanClient(uint16_t line, uint32_t notifyHandle, char *text)
{
    if (text == nullptr)
        return 0;
    return guardExport("InitCanClient", setUpFailure(text), [&] {
        std::lock_guard lifecycle(lifecycleLock());
        return connectClientLocked(line, notifyHandle, text);
    });
}
