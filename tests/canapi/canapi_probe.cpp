// A process that uses libtarvcanapi the way a program does, reading the
// bench from the environment, for tests that need a fresh process.
//
//   canapi_probe list DRIVER        load DRIVER, print "HANDLE KIND NAME" per adapter
//   canapi_probe echo DRIVER LINE   open LINE, print "ready", answer every frame
//                                   with identifier + 1; a first data byte 0xFF ends
#include "canapi.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

namespace {

int list(const char *driver)
{
    std::printf("load %u\n", CanApi_LoadDriver(driver));
    for (int hw = 16; hw >= 1; --hw) {
        uint32_t kind = 0;
        char name[128] = {};
        if (CanApi_ReadHwParam(static_cast<uint8_t>(hw), API_HWPARAM_KIND, &kind, 4) != API_OK)
            continue;
        CanApi_ReadHwParam(static_cast<uint8_t>(hw), API_HWPARAM_NAME, name, sizeof name);
        std::printf("%d %u %s\n", hw, kind, name);
    }
    return 0;
}

uint8_t hardwareOfLine(int line)
{
    int seen = 0;
    for (int hw = 16; hw >= 1; --hw) {
        uint32_t v = 0;
        if (CanApi_ReadHwParam(static_cast<uint8_t>(hw), API_HWPARAM_PRESENT, &v, 4) == API_OK && seen++ == line)
            return static_cast<uint8_t>(hw);
    }
    return 0;
}

int echo(const char *driver, int line)
{
    if (CanApi_LoadDriver(driver) != API_OK)
        return 2;
    const uint8_t hw = hardwareOfLine(line);
    const std::string netName = "tarvnet" + std::to_string(line);
    uint8_t client = 0;
    uint8_t net = 0;
    const ApiRangeBound first{0, 1};
    const ApiRangeBound last{0x7FF, 1};
    const int event = eventfd(0, EFD_CLOEXEC);
    if (hw == 0 || CanApi_RegisterNet(1, netName.c_str(), hw, 0xC723) != API_OK
        || CanApi_RegisterClient("echo", 0, &client) != API_OK
        || CanApi_ConnectClient(client, netName.c_str(), &net) != API_OK
        || CanApi_RegisterMsgRange(client, net, &first, &last) != API_OK
        || CanApi_WriteClientParam(client, API_CLIENTPARAM_EVENT, static_cast<uint32_t>(event)) != API_OK)
        return 3;
    std::printf("ready\n");
    std::fflush(stdout);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (std::chrono::steady_clock::now() < deadline) {
        pollfd p{event, POLLIN, 0};
        if (poll(&p, 1, 1000) != 1)
            continue;
        uint64_t count = 0;
        [[maybe_unused]] const ssize_t n = read(event, &count, sizeof count);
        ApiFrame f{};
        uint8_t from = net;
        while ((CanApi_ReadFrame(client, &f, &from, nullptr) & API_ERR_RXMASK) == 0) {
            if (f.length > 0 && f.data[0] == 0xFF)
                return 0;
            f.id += 1;
            ApiTimeStamp ts{};
            CanApi_SendFrame(client, net, &f, &ts);
            from = net;
        }
    }
    return 4;
}

} // namespace

int main(int argc, char **argv)
{
    if (argc == 3 && std::strcmp(argv[1], "list") == 0)
        return list(argv[2]);
    if (argc == 4 && std::strcmp(argv[1], "echo") == 0)
        return echo(argv[2], std::atoi(argv[3]));
    std::fprintf(stderr, "usage: canapi_probe list DRIVER | echo DRIVER LINE\n");
    return 1;
}
