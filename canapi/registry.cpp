#include "registry.h"

#include "apiparams.h"
#include "bustiming.h"

#include <algorithm>
#include <atomic>
#include <cstring>

namespace canapi {

namespace {

bool validName(const char *name)
{
    return name != nullptr && std::strlen(name) <= kMaxNameLength;
}

// A failed read must still carry a "no frame" bit: callers take any result
// without those bits as a delivered frame.
constexpr ApiResult readFailure(ApiResult reason)
{
    return reason | API_ERR_QRCVEMPTY;
}

} // namespace

uint64_t newOriginId()
{
    static std::atomic<uint64_t> next{1};
    return next.fetch_add(1);
}

Registry::Registry(EventSink &events)
    : events_(events)
{}

void Registry::clear()
{
    hardware_ = {};
    nets_ = {};
    clients_ = {};
}

void Registry::plugHardware(uint8_t hw, const HardwareInfo &info)
{
    if (hw < 1 || hw > kMaxHardware)
        return;
    hardware_[hw].present = true;
    hardware_[hw].info = info;
}

const Registry::Hardware *Registry::hardware(uint8_t hw) const
{
    if (hw < 1 || hw > kMaxHardware || !hardware_[hw].present)
        return nullptr;
    return &hardware_[hw];
}

const Registry::Net *Registry::net(uint8_t n) const
{
    if (n < 1 || n > kMaxNets || !nets_[n].used)
        return nullptr;
    return &nets_[n];
}

Registry::Client *Registry::client(uint8_t c)
{
    if (c < 1 || c > kMaxClients || !clients_[c].used)
        return nullptr;
    return &clients_[c];
}

const Registry::Client *Registry::client(uint8_t c) const
{
    return const_cast<Registry *>(this)->client(c);
}

bool Registry::isPresent(uint8_t hw) const
{
    return hardware(hw) != nullptr;
}

int Registry::slotOf(uint8_t hw) const
{
    const Hardware *h = hardware(hw);
    return h ? h->info.slot : -1;
}

uint8_t Registry::handleOfSlot(int slot) const
{
    for (int hw = 1; hw <= kMaxHardware; ++hw) {
        if (hardware_[hw].present && hardware_[hw].info.slot == slot)
            return static_cast<uint8_t>(hw);
    }
    return 0;
}

uint8_t Registry::freeHardwareFromTop() const
{
    for (int hw = kMaxHardware; hw >= 1; --hw) {
        if (!hardware_[hw].present)
            return static_cast<uint8_t>(hw);
    }
    return 0;
}

ApiResult Registry::readHwParam(uint8_t hw, uint16_t param, void *buf, uint16_t len) const
{
    const Hardware *h = hardware(hw);
    if (h == nullptr)
        return API_ERR_ILLHW;
    const auto nets =
        std::count_if(nets_.begin(), nets_.end(), [hw](const Net &n) { return n.used && n.hw == hw; });
    return readHardwareParam({h->info.kind, h->info.name, static_cast<uint32_t>(nets)}, param, buf, len);
}

ApiResult Registry::readNetParam(uint8_t n, uint16_t param, void *buf, uint16_t len) const
{
    const Net *nt = net(n);
    if (nt == nullptr)
        return API_ERR_ILLNET;
    return canapi::readNetParam(nt->name, nt->hw, param, buf, len);
}

ApiResult Registry::readClientParam(uint8_t c, uint16_t param, void *buf, uint16_t len) const
{
    const Client *cl = client(c);
    if (cl == nullptr)
        return API_ERR_ILLCLIENT;
    return canapi::readClientParam({cl->name, cl->connected, cl->event, cl->param27}, param, buf, len);
}

ApiResult Registry::writeClientParam(uint8_t c, uint16_t param, uint32_t value)
{
    Client *cl = client(c);
    if (cl == nullptr)
        return API_ERR_ILLCLIENT;
    switch (param) {
    case API_CLIENTPARAM_EVENT:
        // Signalling writes to the descriptor: anything but an event object
        // (a file, a socket) would be corrupted, so it is refused here.
        if (value != 0 && !events_.isEvent(value))
            return API_ERR_ILLPARAM;
        cl->event = value;
        return API_OK;
    case API_CLIENTPARAM_27:
        cl->param27 = value;
        return API_OK;
    default:
        return API_ERR_ILLPARAM;
    }
}

ApiResult Registry::registerNet(uint8_t n, const char *name, uint8_t hw, uint16_t btr0btr1, uint32_t bitRate)
{
    if (n < 1 || n > kMaxNets || nets_[n].used)
        return API_ERR_ILLNET;
    if (!validName(name) || name[0] == '\0' || bitRate == 0)
        return API_ERR_ILLPARAM;
    if (hardware(hw) == nullptr)
        return API_ERR_ILLHW;
    for (const Net &other : nets_) {
        if (!other.used)
            continue;
        if (other.name == name)
            return API_ERR_ILLPARAM;
        // One controller, one bit rate.
        if (other.hw == hw && other.bitRate != bitRate)
            return API_ERR_ILLPARAM;
    }
    nets_[n] = Net{true, name, hw, btr0btr1, bitRate};
    return API_OK;
}

ApiResult Registry::registerClient(const char *name, uint32_t notify, uint8_t *out)
{
    if (!validName(name) || out == nullptr)
        return API_ERR_ILLPARAM;
    for (int c = 1; c <= kMaxClients; ++c) {
        if (clients_[c].used)
            continue;
        clients_[c] = Client{};
        clients_[c].used = true;
        clients_[c].name = name;
        clients_[c].notify = notify;
        clients_[c].origin = newOriginId();
        *out = static_cast<uint8_t>(c);
        return API_OK;
    }
    return API_ERR_RESOURCE;
}

ApiResult Registry::connectClient(uint8_t c, const char *netName, uint8_t *out)
{
    Client *cl = client(c);
    if (cl == nullptr)
        return API_ERR_ILLCLIENT;
    if (netName == nullptr || out == nullptr)
        return API_ERR_ILLPARAM;
    for (int n = 1; n <= kMaxNets; ++n) {
        if (nets_[n].used && nets_[n].name == netName) {
            cl->connected[static_cast<size_t>(n)] = true;
            *out = static_cast<uint8_t>(n);
            return API_OK;
        }
    }
    return API_ERR_ILLNET;
}

ApiResult Registry::registerMsgRange(uint8_t c, uint8_t n, const ApiRangeBound *first, const ApiRangeBound *last)
{
    Client *cl = client(c);
    if (cl == nullptr)
        return API_ERR_ILLCLIENT;
    if (net(n) == nullptr || !cl->connected[n])
        return API_ERR_ILLNET;
    if (first == nullptr || last == nullptr || first->id > last->id)
        return API_ERR_ILLPARAM;
    if (cl->ranges.size() >= kMaxRangesPerClient)
        return API_ERR_RESOURCE;
    const bool extended = ((first->type | last->type) & API_FRAME_EXT) != 0;
    cl->ranges.push_back(MessageRange{n, first->id, last->id, extended});
    return API_OK;
}

ApiResult Registry::resetClient(uint8_t c)
{
    Client *cl = client(c);
    if (cl == nullptr)
        return API_ERR_ILLCLIENT;
    cl->queue.clear();
    return API_OK;
}

ApiResult Registry::resetHardware(uint8_t hw)
{
    if (hardware(hw) == nullptr)
        return API_ERR_ILLHW;
    hardware_[hw].info.busOff = false;
    return API_OK;
}

ApiResult Registry::removeClient(uint8_t c)
{
    if (client(c) == nullptr)
        return API_ERR_ILLCLIENT;
    // The event number goes with the client: it may belong to someone else
    // by the next frame.
    clients_[c] = Client{};
    return API_OK;
}

void Registry::detach(Client &cl, uint8_t n)
{
    cl.connected[n] = false;
    std::erase_if(cl.ranges, [n](const MessageRange &r) { return r.net == n; });
    cl.queue.forgetNet(n);
}

ApiResult Registry::detachClient(uint8_t c, uint8_t n)
{
    Client *cl = client(c);
    if (cl == nullptr)
        return API_ERR_ILLCLIENT;
    if (n < 1 || n > kMaxNets || !cl->connected[n])
        return API_ERR_ILLNET;
    detach(*cl, n);
    return API_OK;
}

ApiResult Registry::removeNet(uint8_t n)
{
    if (net(n) == nullptr)
        return API_ERR_ILLNET;
    for (Client &cl : clients_) {
        if (cl.used && cl.connected[n])
            detach(cl, n);
    }
    nets_[n] = Net{};
    return API_OK;
}

ApiResult Registry::removeHardware(uint8_t hw)
{
    // Every handle stands for an adapter that is plugged in: its driver would
    // list it again at once, so the registration stays.
    return hardware(hw) == nullptr ? API_ERR_ILLHW : API_OK;
}

bool Registry::clientBusOff(const Client &cl, uint8_t wanted) const
{
    for (int n = 1; n <= kMaxNets; ++n) {
        if (!cl.connected[static_cast<size_t>(n)] || (wanted != 0 && n != wanted))
            continue;
        const Hardware *h = hardware(nets_[static_cast<size_t>(n)].hw);
        if (h != nullptr && h->info.busOff)
            return true;
    }
    return false;
}

ApiResult Registry::readFrame(uint8_t c, ApiFrame *frame, uint8_t *netInOut, ApiTimeStamp *ts)
{
    Client *cl = client(c);
    if (cl == nullptr)
        return readFailure(API_ERR_ILLCLIENT);
    if (frame == nullptr)
        return readFailure(API_ERR_ILLPARAM);
    const uint8_t wanted = (netInOut != nullptr && *netInOut <= kMaxNets) ? *netInOut : 0;
    // Frames received before the bus went off are read first: held back until
    // after the reset, an old acknowledgement would pass for a new one.
    return cl->queue.read(wanted, clientBusOff(*cl, wanted), frame, netInOut, ts);
}

ApiResult Registry::checkSend(uint8_t c, uint8_t n, const ApiFrame *frame, uint8_t *hw, uint64_t *origin) const
{
    const Client *cl = client(c);
    if (cl == nullptr)
        return API_ERR_ILLCLIENT;
    if (net(n) == nullptr || !cl->connected[n])
        return API_ERR_ILLNET;
    if (frame == nullptr || frame->length > 8)
        return API_ERR_ILLPARAM;
    *hw = nets_[n].hw;
    *origin = cl->origin;
    return hardware_[*hw].info.busOff ? API_ERR_BUSOFF : API_OK;
}

void Registry::deliver(uint8_t hw, const ApiFrame &frame, uint64_t origin, const ApiTimeStamp &ts)
{
    const Hardware *h = hardware(hw);
    if (h == nullptr)
        return;
    ApiFrame wire = frame;
    wire.id = wireId(frame);
    for (Client &cl : clients_) {
        if (!cl.used || cl.origin == origin)
            continue;
        bool reached = false;
        for (int n = 1; n <= kMaxNets; ++n) {
            const auto un = static_cast<uint8_t>(n);
            if (!cl.connected[un] || nets_[un].hw != hw || !acceptedBy(cl.ranges, un, wire))
                continue;
            reached = true;
            // A controller that is bus off takes nothing from the bus; the
            // event still tells the reader to look, and it finds bus off.
            if (h->info.busOff)
                continue;
            cl.queue.push(Received{wire, un, ts});
        }
        if (reached && cl.event != 0)
            events_.signal(cl.event);
    }
}

uint16_t Registry::busStatus(uint8_t hw) const
{
    const Hardware *h = hardware(hw);
    if (h == nullptr)
        return static_cast<uint16_t>(API_ERR_ILLHW);
    return h->info.busOff ? static_cast<uint16_t>(API_ERR_BUSOFF) : h->info.statusWord;
}

void Registry::setStatusWord(uint8_t hw, uint16_t word)
{
    if (hardware(hw) != nullptr)
        hardware_[hw].info.statusWord = word;
}

void Registry::setBusOff(uint8_t hw, bool off)
{
    if (hardware(hw) != nullptr)
        hardware_[hw].info.busOff = off;
}

uint32_t Registry::bitRateOf(uint8_t hw) const
{
    for (const Net &n : nets_) {
        if (n.used && n.hw == hw)
            return n.bitRate;
    }
    return 0;
}

size_t Registry::droppedFrames(uint8_t c) const
{
    const Client *cl = client(c);
    return cl ? cl->queue.dropped() : 0;
}

} // namespace canapi
