// What the kernel tells of a SocketCAN interface: rtnetlink answers as the
// kernel writes them, the verdict on a link for a run's bit rate, and the
// round trip to this machine's kernel (which need not know CAN for it).
#include "canlink.h"

#include <linux/can/netlink.h>
#include <linux/if_link.h>
#include <linux/netlink.h>
#include <linux/rtnetlink.h>
#include <net/if.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstring>

namespace {

using canapi::CanLink;

template <typename T>
QByteArray bytesOf(const T &value)
{
    return QByteArray(reinterpret_cast<const char *>(&value), sizeof value);
}

QByteArray attribute(uint16_t type, const QByteArray &payload)
{
    const auto length = static_cast<uint16_t>(4 + payload.size());
    QByteArray a = bytesOf(length) + bytesOf(type) + payload;
    return a + QByteArray((4 - a.size() % 4) % 4, '\0');
}

QByteArray nested(uint16_t type, const QByteArray &attributes)
{
    return attribute(type | NLA_F_NESTED, attributes);
}

QByteArray linkMessage(unsigned flags, const QByteArray &attributes, uint16_t type = RTM_NEWLINK)
{
    ifinfomsg info{};
    info.ifi_flags = flags;
    QByteArray message = bytesOf(nlmsghdr{}) + bytesOf(info) + attributes;
    nlmsghdr header{};
    header.nlmsg_len = static_cast<uint32_t>(message.size());
    header.nlmsg_type = type;
    std::memcpy(message.data(), &header, sizeof header);
    return message;
}

// The attributes of a controller as the kernel sends them: name, then the
// link's kind and data among others.
QByteArray controller(uint32_t bitRate, uint32_t state)
{
    can_bittiming timing{};
    timing.bitrate = bitRate;
    timing.sample_point = 875;
    QByteArray data = attribute(IFLA_CAN_STATE, bytesOf(state));
    if (bitRate != 0)
        data = attribute(IFLA_CAN_BITTIMING, bytesOf(timing)) + data;
    return attribute(IFLA_IFNAME, QByteArray("can0", 5)) + attribute(IFLA_MTU, bytesOf(uint32_t{16}))
           + nested(IFLA_LINKINFO,
                    attribute(IFLA_INFO_KIND, QByteArray("can", 4)) + nested(IFLA_INFO_DATA, data));
}

TEST(CanLink, ReadsTheKernelsAnswer)
{
    const struct
    {
        const char *name;
        QByteArray message;
        CanLink expected;
    } cases[] = {
        {"controller up",
         linkMessage(IFF_UP | IFF_RUNNING, controller(125000, CAN_STATE_ERROR_ACTIVE)),
         {true, "can", 125000, CAN_STATE_ERROR_ACTIVE}},
        {"controller down, no rate set",
         linkMessage(0, controller(0, CAN_STATE_STOPPED)),
         {false, "can", 0, CAN_STATE_STOPPED}},
        {"virtual bus",
         linkMessage(IFF_UP, nested(IFLA_LINKINFO, attribute(IFLA_INFO_KIND, QByteArray("vcan", 5)))),
         {true, "vcan", 0, std::nullopt}},
        {"link without kind",
         linkMessage(IFF_UP, attribute(IFLA_IFNAME, QByteArray("lo", 3))),
         {true, "", 0, std::nullopt}},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        const auto link = canapi::parseLinkMessage(c.message);
        ASSERT_TRUE(link.has_value());
        EXPECT_EQ(link->up, c.expected.up);
        EXPECT_EQ(link->kind, c.expected.kind);
        EXPECT_EQ(link->bitRate, c.expected.bitRate);
        EXPECT_EQ(link->state, c.expected.state);
    }
}

TEST(CanLink, WhatIsNoLinkMessageIsNoLink)
{
    const QByteArray good = linkMessage(IFF_UP, controller(125000, CAN_STATE_ERROR_ACTIVE));
    EXPECT_FALSE(canapi::parseLinkMessage(good.left(good.size() - 4)).has_value()) << "cut short";
    EXPECT_FALSE(canapi::parseLinkMessage(good.left(20)).has_value()) << "no room for the link's head";
    EXPECT_FALSE(canapi::parseLinkMessage(linkMessage(IFF_UP, {}, RTM_NEWADDR)).has_value()) << "another message";
}

// The message as the kernel sends it to port 4242 for request 7 about interface 3.
QByteArray answerTo(QByteArray message, uint32_t port = 4242, uint32_t sequence = 7, int index = 3)
{
    nlmsghdr header{};
    std::memcpy(&header, message.constData(), sizeof header);
    header.nlmsg_pid = port;
    header.nlmsg_seq = sequence;
    std::memcpy(message.data(), &header, sizeof header);
    if (header.nlmsg_type == RTM_NEWLINK)
        std::memcpy(message.data() + NLMSG_HDRLEN + offsetof(ifinfomsg, ifi_index), &index, sizeof index);
    return message;
}

TEST(CanLink, AnAnswerThatIsNotTheWholeAnswerToTheRequestIsAnError)
{
    const canapi::LinkQuery query{4242, 7, 3};
    const QByteArray can = linkMessage(IFF_UP, controller(125000, CAN_STATE_ERROR_ACTIVE));
    const QByteArray good = answerTo(can);
    QString error;
    ASSERT_TRUE(canapi::parseLinkAnswer({good, 0, false}, query, &error).has_value()) << error.toStdString();

    nlmsgerr refusal{};
    refusal.error = -ENODEV;
    const QByteArray noDevice = answerTo(linkMessage(0, {}, NLMSG_ERROR).left(NLMSG_HDRLEN) + bytesOf(refusal));
    const QByteArray innerCut =
        nested(IFLA_LINKINFO, attribute(IFLA_INFO_KIND, QByteArray("can", 4)) + bytesOf(uint16_t{40})
                                  + bytesOf(uint16_t{IFLA_INFO_DATA}));
    const struct
    {
        const char *name;
        canapi::NetlinkAnswer answer;
        const char *error; // a part of it
    } cases[] = {
        {"longer than the buffer", {good, 0, true}, "cut short"},
        {"shorter than its length", {good.left(good.size() - 8), 0, false}, "cut short"},
        {"attribute longer than the message",
         {answerTo(linkMessage(IFF_UP, bytesOf(uint16_t{400}) + bytesOf(uint16_t{IFLA_LINKINFO}))), 0, false},
         "cut short inside"},
        {"nested attribute longer than its nest",
         {answerTo(linkMessage(IFF_UP, innerCut)), 0, false},
         "cut short inside"},
        {"from another sender", {good, 99, false}, "another request"},
        {"for another port", {answerTo(can, 4243), 0, false}, "another request"},
        {"for another request", {answerTo(can, 4242, 6), 0, false}, "another request"},
        {"about another interface", {answerTo(can, 4242, 7, 4), 0, false}, "interface 4, not 3"},
        {"a refusal", {noDevice, 0, false}, "No such device"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_FALSE(canapi::parseLinkAnswer(c.answer, query, &error).has_value());
        EXPECT_TRUE(error.contains(QLatin1String(c.error))) << error.toStdString();
    }
}

TEST(CanLink, TheLinkForARun)
{
    const auto can = [](bool up, uint32_t rate) { return CanLink{up, "can", rate, std::nullopt}; };
    const CanLink vcanUp{true, "vcan", 0, std::nullopt};
    const CanLink vcanDown{false, "vcan", 0, std::nullopt};
    const struct
    {
        const char *name;
        CanLink link;
        uint32_t runRate;
        const char *problem; // a part of the problem; nullptr: none
        bool rateWanted;
    } cases[] = {
        {"controller at the run's rate", can(true, 125000), 125000, nullptr, false},
        {"controller at another rate", can(true, 250000), 125000,
         "the interface runs at 250000 bit/s, this run at 125000 bit/s; as root: ip link set can0 down && "
         "ip link set can0 up type can bitrate 125000",
         false},
        {"controller down at another rate", can(false, 250000), 1000000,
         "the interface is down (250000 bit/s), this run at 1000000 bit/s; as root: ip link set can0 up type can "
         "bitrate 1000000",
         true},
        {"controller down at the run's rate", can(false, 250000), 250000, "the interface is down (250000 bit/s)",
         false},
        {"controller down without a rate", can(false, 0), 125000, "is down (no bit rate set)", true},
        {"controller that names no rate", can(true, 0), 125000, nullptr, false},
        {"virtual bus up", vcanUp, 125000, nullptr, false},
        {"virtual bus down", vcanDown, 125000, "the interface is down; as root: ip link set can0 up", false},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        const QString problem = canapi::linkProblem(QStringLiteral("can0"), c.link, c.runRate);
        if (c.problem == nullptr)
            EXPECT_TRUE(problem.isEmpty()) << problem.toStdString();
        else
            EXPECT_TRUE(problem.contains(QLatin1String(c.problem))) << problem.toStdString();
        EXPECT_EQ(canapi::bitRateWanted(c.link, c.runRate), c.rateWanted);
    }
}

TEST(CanLink, AsksThisMachinesKernel)
{
    QString error;
    const auto loopback = canapi::readCanLink(QStringLiteral("lo"), &error);
    ASSERT_TRUE(loopback.has_value()) << error.toStdString();
    EXPECT_TRUE(loopback->up);
    EXPECT_EQ(loopback->bitRate, 0u);
    EXPECT_EQ(canapi::statusWordOfLink(*loopback), 0);

    EXPECT_FALSE(canapi::readCanLink(QStringLiteral("nosuchcan9"), &error).has_value());
    EXPECT_EQ(error, QStringLiteral("no such interface"));
}

TEST(CanLink, CountsWhatTheKernelDroppedAtASocket)
{
    const int receiver = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    const int sender = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    ASSERT_GE(receiver, 0);
    ASSERT_GE(sender, 0);
    const int small = 1; // the kernel's least
    ::setsockopt(receiver, SOL_SOCKET, SO_RCVBUF, &small, sizeof small);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    ASSERT_EQ(::bind(receiver, reinterpret_cast<sockaddr *>(&address), length), 0);
    ASSERT_EQ(::getsockname(receiver, reinterpret_cast<sockaddr *>(&address), &length), 0);
    EXPECT_EQ(canapi::receiveDrops(receiver), 0u);

    const char datagram[64] = {};
    for (int i = 0; i < 200; ++i)
        ::sendto(sender, datagram, sizeof datagram, 0, reinterpret_cast<sockaddr *>(&address), length);
    const auto drops = canapi::receiveDrops(receiver);
    ASSERT_TRUE(drops.has_value());
    EXPECT_GT(*drops, 100u);
    ::close(sender);
    ::close(receiver);
}

} // namespace
