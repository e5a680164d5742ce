// What the kernel says about a SocketCAN interface: whether it is up, its
// kind, the controller's bit rate and state. Read over rtnetlink, which needs
// neither rights nor a library; bringing a link up needs CAP_NET_ADMIN. And
// how many frames the kernel dropped at a socket.
#pragma once

#include <QByteArray>
#include <QString>

#include <cstdint>
#include <optional>

namespace canapi {

struct CanLink
{
    bool up = false;               // administratively up (IFF_UP)
    QString kind;                  // "can" for a controller; "vcan", "vxcan", ...; empty when not told
    uint32_t bitRate = 0;          // bit/s; 0: none set (virtual interfaces have none)
    std::optional<uint32_t> state; // the controller's CAN_STATE_*
};

// One RTM_NEWLINK message, its netlink header included; empty when it is none
// or its attributes run past its end.
std::optional<CanLink> parseLinkMessage(const QByteArray &message);

// What the kernel's answer must match: this socket's port id, the request's
// sequence number and the interface asked about.
struct LinkQuery
{
    uint32_t port = 0;
    uint32_t sequence = 0;
    int index = 0;
};
// One datagram as received: its sender's port id (0: the kernel), and
// whether it was longer than the buffer.
struct NetlinkAnswer
{
    QByteArray bytes;
    uint32_t sender = 0;
    bool truncated = false;
};
// The link of the kernel's answer to a link request; empty, with the reason,
// for an error answer and for any answer that is cut short, answers another
// request or describes another interface.
std::optional<CanLink> parseLinkAnswer(const NetlinkAnswer &answer, const LinkQuery &query, QString *error);
// Asks the kernel about the interface; empty, with the reason, when it does
// not exist or the kernel does not answer.
std::optional<CanLink> readCanLink(const QString &name, QString *error);
bool bringLinkUp(const QString &name, QString *error);

// The status word of the adapter interface that the link reads as.
uint16_t statusWordOfLink(const CanLink &link);
// Whether the plugin should be asked to set the bit rate: the kernel takes a
// new rate only from a controller that is down.
bool bitRateWanted(const CanLink &link, uint32_t bitRate);
// Why the link cannot carry a run at bitRate (what to do included); empty
// when it can. A link without a bit rate of its own carries any rate.
QString linkProblem(const QString &name, const CanLink &link, uint32_t bitRate);

// Frames the kernel dropped at the socket because its receive buffer was
// full, since it was opened; empty where the kernel does not tell.
std::optional<uint32_t> receiveDrops(int socket);

} // namespace canapi
