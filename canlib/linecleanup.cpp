// Closing lines and clearing registrations that earlier runs, ours or other
// programs', left in the interface.
#include "tarvpcan3.h"

#include "apibinding.h"
#include "exportguard.h"
#include "lineaccess.h"

#include <cstring>
#include <optional>

using namespace tarvpcan3;

namespace {

constexpr std::size_t kParamTextSize = 128;
constexpr std::size_t kClientNameProbeSize = 40;
constexpr std::size_t kClientTableSize = 32;
constexpr uint32_t kMaxRemovableKind = 9;

bool hardwareAnswers(uint8_t hw)
{
    char name[kParamTextSize] = {};
    return api().readHwParam(hw, API_HWPARAM_NAME, name, sizeof name) == API_OK;
}

std::optional<uint32_t> hardwareValue(uint8_t hw, uint16_t param)
{
    uint32_t value = 0;
    if (api().readHwParam(hw, param, &value, sizeof value) != API_OK)
        return std::nullopt;
    return value;
}

bool netAnswers(uint8_t net)
{
    char name[kParamTextSize] = {};
    return api().readNetParam(net, API_NETPARAM_NAME, name, sizeof name) == API_OK;
}

// Whether the net sits on the hardware that serves the line.
bool netBelongsToLine(uint8_t net, unsigned line)
{
    uint8_t hardware = 0;
    if (api().readNetParam(net, API_NETPARAM_HW, &hardware, sizeof hardware) != API_OK)
        return false;
    const auto kind = hardwareValue(hardware, API_HWPARAM_KIND);
    return kind && hardwareBelongsToLine(hardware, *kind, line);
}

std::optional<bool> clientInUse(uint8_t client)
{
    uint8_t table[kClientTableSize] = {};
    if (api().readClientParam(client, API_CLIENTPARAM_NETS, table, sizeof table) != API_OK)
        return std::nullopt;
    return clientTableInUse(table, sizeof table);
}

// Hardware registrations without nets, of the kinds the library may remove.
void removeIdleHardware()
{
    for (int hw = 1; hw <= kHardwareHandles; ++hw) {
        const auto handle = static_cast<uint8_t>(hw);
        if (!hardwareAnswers(handle))
            continue;
        const auto nets = hardwareValue(handle, API_HWPARAM_NETS);
        if (!nets || *nets != 0)
            continue;
        const auto kind = hardwareValue(handle, API_HWPARAM_KIND);
        if (kind && *kind <= kMaxRemovableKind)
            api().removeHardware(handle);
    }
}

// Every net on the line's hardware, with its clients. All net handles are
// searched: a line's net may have been given any of them.
void removeLineNets(unsigned line)
{
    const auto &ops = api();
    for (int n = 1; n <= kNetHandles; ++n) {
        const auto net = static_cast<uint8_t>(n);
        if (!netAnswers(net) || !netBelongsToLine(net, line))
            continue;
        for (int c = 1; c <= kClientHandles; ++c) {
            const auto client = static_cast<uint8_t>(c);
            if (ops.detachClient(client, net) == API_OK)
                ops.removeClient(client);
        }
        ops.removeNet(net);
    }
}

// Clients connected to no net serve nobody.
void removeIdleClients()
{
    for (int c = 1; c <= kClientHandles; ++c) {
        const auto client = static_cast<uint8_t>(c);
        const auto inUse = clientInUse(client);
        if (inUse && !*inUse)
            api().removeClient(client);
    }
}

void removeClientsNamed(uint8_t net, unsigned line, const char *name)
{
    if (name == nullptr || !netAnswers(net) || !netBelongsToLine(net, line))
        return;
    for (int c = 1; c <= kClientHandles; ++c) {
        const auto client = static_cast<uint8_t>(c);
        char found[kClientNameProbeSize] = {};
        if (api().readClientParam(client, API_CLIENTPARAM_NAME, found, sizeof found) != API_OK)
            continue;
        found[sizeof found - 1] = '\0';
        if (std::strncmp(found, name, sizeof found) == 0)
            api().removeClient(client);
    }
}

} // namespace

extern "C" void ReInitCanSystem(uint16_t line)
{
    // What a failed clean-up leaves, the next one finds.
    guardExport(
        "ReInitCanSystem", [] {},
        [&] {
            std::lock_guard lifecycle(lifecycleLock());
            closeLine(line);
            removeIdleHardware();
            removeLineNets(line);
            removeIdleClients();
        });
}

extern "C" void ReInitCanClient(uint16_t line, const char *clientName)
{
    guardExport(
        "ReInitCanClient", [] {},
        [&] {
            std::lock_guard lifecycle(lifecycleLock());
            const auto record = closeLine(line);
            if (!record)
                return;
            removeClientsNamed(record->net(), line, clientName);
            if (clientInUse(record->client()).has_value())
                api().removeClient(record->client());
        });
}
