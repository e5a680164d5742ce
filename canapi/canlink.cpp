#include "canlink.h"

#include "canapi.h"

#include <QByteArrayView>

#include <linux/can/netlink.h>
#include <linux/if_link.h>
#include <linux/netlink.h>
#include <linux/rtnetlink.h>
#include <linux/sock_diag.h>
#include <net/if.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cerrno>
#include <cstring>

namespace canapi {

namespace {

constexpr qsizetype kAnswerBuffer = 32768;
const QString kCutShort = QStringLiteral("the kernel's answer about the interface was cut short");

struct LinkRequest
{
    nlmsghdr header;
    ifinfomsg info;
};

LinkRequest linkRequest(uint16_t type, uint16_t flags, unsigned index)
{
    static std::atomic<uint32_t> lastSequence{0};
    LinkRequest request{};
    request.header.nlmsg_len = sizeof request;
    request.header.nlmsg_type = type;
    request.header.nlmsg_flags = flags;
    request.header.nlmsg_seq = ++lastSequence;
    request.info.ifi_family = AF_UNSPEC;
    request.info.ifi_index = static_cast<int>(index);
    return request;
}

// The first datagram that comes back; MSG_TRUNC makes recvfrom tell the
// datagram's whole length, so that a cut one is seen as such.
bool receiveAnswer(int fd, NetlinkAnswer *answer)
{
    answer->bytes.resize(kAnswerBuffer);
    sockaddr_nl from{};
    socklen_t fromLength = sizeof from;
    const ssize_t n = ::recvfrom(fd, answer->bytes.data(), static_cast<size_t>(kAnswerBuffer), MSG_TRUNC,
                                 reinterpret_cast<sockaddr *>(&from), &fromLength);
    answer->bytes.resize(n > 0 ? std::min<qsizetype>(n, kAnswerBuffer) : 0);
    answer->truncated = n > kAnswerBuffer;
    answer->sender = from.nl_pid;
    return n > 0;
}

// One request to the kernel and its answer; query gets this socket's port
// id, which the kernel sets in the answer, and the request's sequence number.
bool exchange(const LinkRequest &request, NetlinkAnswer *answer, LinkQuery *query, QString *error)
{
    const int fd = ::socket(AF_NETLINK, SOCK_RAW | SOCK_CLOEXEC, NETLINK_ROUTE);
    if (fd < 0) {
        *error = qt_error_string(errno);
        return false;
    }
    sockaddr_nl kernel{};
    kernel.nl_family = AF_NETLINK;
    sockaddr_nl self{};
    socklen_t selfLength = sizeof self;
    const bool done =
        ::sendto(fd, &request, sizeof request, 0, reinterpret_cast<const sockaddr *>(&kernel), sizeof kernel)
            == static_cast<ssize_t>(sizeof request)
        && ::getsockname(fd, reinterpret_cast<sockaddr *>(&self), &selfLength) == 0 && receiveAnswer(fd, answer);
    if (!done)
        *error = qt_error_string(errno);
    ::close(fd);
    *query = LinkQuery{self.nl_pid, request.header.nlmsg_seq, request.info.ifi_index};
    return done;
}

// Why the answer is not the kernel's whole answer to the query; empty when it is.
QString foreignAnswer(const NetlinkAnswer &answer, const LinkQuery &query)
{
    nlmsghdr header{};
    if (answer.truncated || answer.bytes.size() < static_cast<qsizetype>(sizeof header))
        return kCutShort;
    std::memcpy(&header, answer.bytes.constData(), sizeof header);
    if (header.nlmsg_len < sizeof header || header.nlmsg_len > static_cast<size_t>(answer.bytes.size()))
        return kCutShort;
    if (answer.sender != 0 || header.nlmsg_pid != query.port || header.nlmsg_seq != query.sequence)
        return QStringLiteral("an answer to another request came back for the interface");
    return QString();
}

// The error code of an NLMSG_ERROR answer (0 acknowledges); empty for any other answer.
std::optional<int> answerError(const QByteArray &answer)
{
    nlmsghdr header{};
    nlmsgerr body{};
    if (static_cast<size_t>(answer.size()) < NLMSG_HDRLEN + sizeof body)
        return std::nullopt;
    // Byte by byte: the compiler cannot tell that the size check rules out
    // the one-byte buffer of an empty array.
    std::copy_n(answer.cbegin(), sizeof header, reinterpret_cast<char *>(&header));
    if (header.nlmsg_type != NLMSG_ERROR)
        return std::nullopt;
    std::copy_n(answer.cbegin() + NLMSG_HDRLEN, sizeof body, reinterpret_cast<char *>(&body));
    return -body.error;
}

// Calls fn(type, payload) for each netlink attribute: a 16-bit length that
// counts the 4-byte head, a 16-bit type, the payload padded to 4 bytes. False
// when an attribute runs past the end: the rest of the answer is missing.
template <typename Fn>
bool forEachAttribute(QByteArrayView bytes, Fn fn)
{
    qsizetype at = 0;
    while (at < bytes.size()) {
        uint16_t length = 0;
        uint16_t type = 0;
        if (at + 4 > bytes.size())
            return false;
        std::memcpy(&length, bytes.data() + at, sizeof length);
        std::memcpy(&type, bytes.data() + at + 2, sizeof type);
        if (length < 4 || at + length > bytes.size())
            return false;
        if (!fn(static_cast<uint16_t>(type & NLA_TYPE_MASK), bytes.sliced(at + 4, length - 4)))
            return false;
        at += (length + 3) & ~3;
    }
    return true;
}

std::optional<uint32_t> u32Of(QByteArrayView payload)
{
    uint32_t value = 0;
    if (payload.size() < static_cast<qsizetype>(sizeof value))
        return std::nullopt;
    std::memcpy(&value, payload.data(), sizeof value);
    return value;
}

bool readCanData(QByteArrayView data, CanLink *link)
{
    return forEachAttribute(data, [link](uint16_t type, QByteArrayView payload) {
        // struct can_bittiming begins with the bit rate.
        if (type == IFLA_CAN_BITTIMING)
            link->bitRate = u32Of(payload).value_or(0);
        else if (type == IFLA_CAN_STATE)
            link->state = u32Of(payload);
        return true;
    });
}

bool readLinkInfo(QByteArrayView info, CanLink *link)
{
    QByteArrayView data;
    const bool whole = forEachAttribute(info, [&](uint16_t type, QByteArrayView payload) {
        if (type == IFLA_INFO_KIND)
            link->kind = QString::fromLatin1(payload.data(),
                                             static_cast<qsizetype>(qstrnlen(payload.data(), payload.size())));
        else if (type == IFLA_INFO_DATA)
            data = payload;
        return true;
    });
    return whole && (link->kind != QLatin1String("can") || readCanData(data, link));
}

// The link and the index of its interface.
std::optional<CanLink> parseLink(const QByteArray &message, int *index)
{
    constexpr qsizetype attributesAt = NLMSG_HDRLEN + NLMSG_ALIGN(sizeof(ifinfomsg));
    nlmsghdr header{};
    if (message.size() < attributesAt)
        return std::nullopt;
    std::memcpy(&header, message.constData(), sizeof header);
    if (header.nlmsg_type != RTM_NEWLINK || header.nlmsg_len < attributesAt
        || header.nlmsg_len > static_cast<size_t>(message.size()))
        return std::nullopt;
    ifinfomsg info{};
    std::memcpy(&info, message.constData() + NLMSG_HDRLEN, sizeof info);
    CanLink link;
    link.up = (info.ifi_flags & IFF_UP) != 0;
    *index = info.ifi_index;
    const QByteArrayView attributes =
        QByteArrayView(message).sliced(attributesAt, header.nlmsg_len - attributesAt);
    const bool whole = forEachAttribute(attributes, [&link](uint16_t type, QByteArrayView payload) {
        return type != IFLA_LINKINFO || readLinkInfo(payload, &link);
    });
    return whole ? std::optional<CanLink>(link) : std::nullopt;
}

} // namespace

std::optional<CanLink> parseLinkMessage(const QByteArray &message)
{
    int index = 0;
    return parseLink(message, &index);
}

std::optional<CanLink> parseLinkAnswer(const NetlinkAnswer &answer, const LinkQuery &query, QString *error)
{
    *error = foreignAnswer(answer, query);
    if (!error->isEmpty())
        return std::nullopt;
    if (const auto code = answerError(answer.bytes); code && *code != 0) {
        *error = qt_error_string(*code);
        return std::nullopt;
    }
    int index = 0;
    const auto link = parseLink(answer.bytes, &index);
    if (!link)
        *error = QStringLiteral("the kernel's answer describes no link, or is cut short inside");
    else if (index != query.index)
        *error = QStringLiteral("the kernel answered about interface %1, not %2").arg(index).arg(query.index);
    return error->isEmpty() ? link : std::nullopt;
}

std::optional<CanLink> readCanLink(const QString &name, QString *error)
{
    const unsigned index = ::if_nametoindex(name.toLocal8Bit().constData());
    if (index == 0) {
        *error = QStringLiteral("no such interface");
        return std::nullopt;
    }
    NetlinkAnswer answer;
    LinkQuery query;
    if (!exchange(linkRequest(RTM_GETLINK, NLM_F_REQUEST, index), &answer, &query, error))
        return std::nullopt;
    return parseLinkAnswer(answer, query, error);
}

bool bringLinkUp(const QString &name, QString *error)
{
    const unsigned index = ::if_nametoindex(name.toLocal8Bit().constData());
    if (index == 0) {
        *error = QStringLiteral("no such interface");
        return false;
    }
    LinkRequest request = linkRequest(RTM_NEWLINK, NLM_F_REQUEST | NLM_F_ACK, index);
    request.info.ifi_flags = IFF_UP;
    request.info.ifi_change = IFF_UP;
    NetlinkAnswer answer;
    LinkQuery query;
    if (!exchange(request, &answer, &query, error))
        return false;
    *error = foreignAnswer(answer, query);
    if (!error->isEmpty())
        return false;
    const auto code = answerError(answer.bytes);
    if (code == 0)
        return true;
    *error = code ? qt_error_string(*code) : QStringLiteral("the kernel did not acknowledge");
    return false;
}

uint16_t statusWordOfLink(const CanLink &link)
{
    if (!link.up)
        return static_cast<uint16_t>(API_ERR_ILLHW);
    switch (link.state.value_or(CAN_STATE_ERROR_ACTIVE)) {
    case CAN_STATE_ERROR_ACTIVE:
        return 0;
    case CAN_STATE_ERROR_WARNING:
        return 0x0004;
    case CAN_STATE_ERROR_PASSIVE:
        return 0x0008;
    case CAN_STATE_BUS_OFF:
        return static_cast<uint16_t>(API_ERR_BUSOFF);
    default: // stopped or sleeping: the controller takes no part in the bus
        return static_cast<uint16_t>(API_ERR_ILLHW);
    }
}

bool bitRateWanted(const CanLink &link, uint32_t bitRate)
{
    return link.kind == QLatin1String("can") && !link.up && link.bitRate != bitRate;
}

QString linkProblem(const QString &name, const CanLink &link, uint32_t bitRate)
{
    if (link.kind != QLatin1String("can"))
        return link.up ? QString()
                       : QStringLiteral("the interface is down; as root: ip link set %1 up").arg(name);
    const QString rate =
        link.bitRate == 0 ? QStringLiteral("no bit rate set") : QStringLiteral("%1 bit/s").arg(link.bitRate);
    if (!link.up) {
        return QStringLiteral("the interface is down (%2), this run at %3 bit/s; "
                              "as root: ip link set %1 up type can bitrate %3")
            .arg(name, rate)
            .arg(bitRate);
    }
    if (link.bitRate != 0 && link.bitRate != bitRate) {
        return QStringLiteral("the interface runs at %2, this run at %3 bit/s; "
                              "as root: ip link set %1 down && ip link set %1 up type can bitrate %3")
            .arg(name, rate)
            .arg(bitRate);
    }
    return QString();
}

std::optional<uint32_t> receiveDrops(int socket)
{
    std::array<uint32_t, SK_MEMINFO_VARS> meminfo{};
    socklen_t length = sizeof meminfo;
    if (::getsockopt(socket, SOL_SOCKET, SO_MEMINFO, meminfo.data(), &length) != 0
        || length <= SK_MEMINFO_DROPS * sizeof(uint32_t))
        return std::nullopt;
    return meminfo[SK_MEMINFO_DROPS];
}

} // namespace canapi
