// Bus status with the client and net checks, and reset.
#include "tarvpcan3.h"

#include "apibinding.h"
#include "exportguard.h"
#include "lineaccess.h"

#include <cstdio>
#include <cstring>

using namespace tarvpcan3;

namespace {

constexpr std::size_t kParamTextSize = 128;

// The interface may keep a longer name than the one stored for the line.
bool clientStillRegistered(const LineRecord &record)
{
    char name[kParamTextSize] = {};
    if (api().readClientParam(record.client(), API_CLIENTPARAM_NAME, name, sizeof name) != API_OK)
        return false;
    name[sizeof name - 1] = '\0';
    const std::string &stored = record.clientName();
    return std::strncmp(name, stored.c_str(), stored.size()) == 0;
}

bool netStillRegistered(const LineRecord &record)
{
    char name[kParamTextSize] = {};
    if (api().readNetParam(record.net(), API_NETPARAM_NAME, name, sizeof name) != API_OK)
        return false;
    name[sizeof name - 1] = '\0';
    return netNameFor(record.line()) == name;
}

void writeStatus(char *text, const char *status)
{
    std::snprintf(text, TARVPCAN3_STATUS_TEXT_SIZE, "%s", status);
}

char *readStatus(uint8_t line, char *text)
{
    const auto record = openRecord(line);
    if (!record) {
        if (text != nullptr)
            writeStatus(text, "NOLINE");
        return nullptr;
    }
    if (text == nullptr)
        return nullptr;
    const auto status = static_cast<uint16_t>(api().readBusStatus(record->hardware()));
    busStatusText(status, text, TARVPCAN3_STATUS_TEXT_SIZE);
    if (status != 0)
        return text;
    if (!clientStillRegistered(*record))
        writeStatus(text, "NOCLIENT");
    if (!netStillRegistered(*record))
        writeStatus(text, "NONET");
    return text;
}

} // namespace

extern "C" char *GetCanStatus(uint8_t line, char *text)
{
    // A status that could not be read is none: an empty text reads as no "OK".
    return guardExport(
        "GetCanStatus",
        [text]() -> char * {
            if (text != nullptr)
                writeStatus(text, "");
            return nullptr;
        },
        [&] { return readStatus(line, text); });
}

extern "C" void ResetCan(uint8_t line)
{
    guardExport(
        "ResetCan", [] {},
        [&] {
            const auto record = openRecord(line);
            if (!record)
                return;
            api().resetHardware(record->hardware());
            api().resetClient(record->client());
        });
}
