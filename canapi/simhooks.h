// Hooks into the simulated adapters of libtarvcanapi, for tests and the
// benchmark. Nothing here is part of the interface that tarvpcan3 calls.
#pragma once

#include "canapi.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

namespace canapi::sim {

// Replaces the whole bench (adapters and simulated modules) with the one the
// INI text describes and forgets every registration, loaded drivers included,
// as at the start of a process. False with a message naming the line when the
// text is bad; the bench then has no adapters. False with such a message too
// when a trace, statistics file or image cannot be written; that adapter is
// then listed but cannot be opened, and the others work. Relative paths are
// relative to the current folder.
TARVCANAPI_EXPORT bool configure(const std::string &iniText, std::string *error);
// Ends the bench: stops bus threads, writes the modules' images.
TARVCANAPI_EXPORT void shutdown();

struct BusStats
{
    uint64_t frames = 0;        // frames that completed their slot
    uint64_t bits = 0;          // bits on the wire, stuff bits included
    uint64_t busyNs = 0;        // sum of the frames' slot lengths
    uint64_t maxLatenessNs = 0; // worst delivery after the slot's deadline
    uint64_t sumLatenessNs = 0;
};
TARVCANAPI_EXPORT BusStats busStats(int adapterIndex);
TARVCANAPI_EXPORT void resetBusStats(int adapterIndex);

// The 16-bit word that the bus-status read reports for the adapter.
TARVCANAPI_EXPORT void setBusStatus(int adapterIndex, uint16_t statusWord);
// Bus off: reading frames answers API_ERR_BUSOFF, once the frames received
// before are read, until the hardware is reset.
// A controller that is bus off takes no frames from the bus, but each frame
// still signals the clients' events, so that a waiting reader finds out.
TARVCANAPI_EXPORT void setBusOff(int adapterIndex, bool off);
// The interface clock runs (1 + ppm / 1e6) times as fast as real time.
TARVCANAPI_EXPORT void setClockDriftPpm(double ppm);
// Removes a registration behind the library's back.
TARVCANAPI_EXPORT void dropClient(uint8_t client);
TARVCANAPI_EXPORT void dropNet(uint8_t net);

// Another node on an adapter's bus (a tester, an analyser): frames it sends
// reach every client on that bus; it sees every frame the clients send.
struct BusFrame
{
    uint32_t id = 0;
    bool extended = false;
    bool remote = false;
    uint8_t len = 0;
    uint8_t data[8] = {};
};
class Peer
{
public:
    virtual ~Peer() = default;
    virtual void send(const BusFrame &frame) = 0;
};
// onFrame runs on the bus thread; keep it short, and do not destroy the peer
// from inside it. No peer (nullptr) for an index the bench does not have.
TARVCANAPI_EXPORT std::unique_ptr<Peer> attachPeer(int adapterIndex,
                                                   std::function<void(const BusFrame &)> onFrame);

} // namespace canapi::sim
