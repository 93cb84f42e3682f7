#include "portholder.h"
#include "trafficcapture.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <fstream>
#include <string>
#include <vector>

namespace {

const char* const kUdpTable =
    "   sl  local_address rem_address   st tx_queue rx_queue tr tm->when retrnsmt   uid  "
    "timeout inode ref pointer drops\n"
    "  312: 0100007F:1388 00000000:0000 07 00000000:00000000 00:00000000 00000000  1000        0 "
    "4711 2 0000000000000000 0\n"
    "  313: 00000000:1389 00000000:0000 07 00000000:00000000 00:00000000 00000000     0        0 "
    "4712 2 0000000000000000 0\n"
    "  314: 00000000:1388 00000000:0000 07 00000000:00000000 00:00000000 00000000     0        0 "
    "0 2 0000000000000000 0\n"
    "  315: 00000000:1388 00000000:0000 07 00000000\n"
    "  316: 00000000:XYZ 00000000:0000 07 00000000:00000000 00:00000000 00000000     0        0 "
    "4713 2 0000000000000000 0";
const char* const kUdp6Table =
    "  sl  local_address                         remote_address                        st "
    "tx_queue rx_queue tr tm->when retrnsmt   uid  timeout inode ref pointer drops\n"
    "   80: 00000000000000000000000000000000:1388 00000000000000000000000000000000:0000 07 "
    "00000000:00000000 00:00000000 00000000   123        0 9001 2 0000000000000000 0\n";

TEST(PortHolder, ParsesTheSocketTables)
{
    std::vector<PortHolder> holders;
    parseUdpTable(kUdpTable, 5000, false, holders);
    parseUdpTable(kUdp6Table, 5000, true, holders);
    // The header, another port, inode 0, a cut line and a bad port are passed over.
    ASSERT_EQ(holders.size(), 2u);
    EXPECT_EQ(holders[0].inode, 4711u);
    EXPECT_EQ(holders[0].uid, 1000u);
    EXPECT_FALSE(holders[0].ipv6);
    EXPECT_EQ(holders[1].inode, 9001u);
    EXPECT_EQ(holders[1].uid, 123u);
    EXPECT_TRUE(holders[1].ipv6);
    EXPECT_EQ(holders[1].pid, 0);
}

TEST(PortHolder, FindsThisProcessOnItsOwnSocket)
{
    if (access("/proc/net/udp", R_OK) != 0 || access("/proc/self/fd", R_OK) != 0)
        GTEST_SKIP() << "/proc is not readable here";
    const int fd = socket(AF_INET, SOCK_DGRAM, 0);
    ASSERT_GE(fd, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    ASSERT_EQ(bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    ASSERT_EQ(getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length), 0);

    const PortHolders found = findPortHolders(ntohs(address.sin_port));
    close(fd);
    EXPECT_TRUE(found.tableReadable);
    ASSERT_EQ(found.holders.size(), 1u);
    EXPECT_EQ(found.holders[0].pid, int(getpid()));
    std::ifstream comm("/proc/self/comm");
    std::string name;
    std::getline(comm, name);
    EXPECT_EQ(found.holders[0].program, name);
    EXPECT_FALSE(found.someHidden());
}

// A packet as the "any" device delivers it: a cooked header (packet type,
// protocol), then IPv4 or IPv6 and UDP.
std::vector<uint8_t> cooked(uint16_t packetType, bool ipv6, uint16_t port,
                            const std::string& payload, uint16_t fragment = 0)
{
    const size_t udpLength = 8 + payload.size();
    std::vector<uint8_t> p = {0, uint8_t(packetType), 3, 4, 0, 6, 0, 0, 0, 0, 0, 0, 0, 0};
    p.push_back(ipv6 ? 0x86 : 0x08);
    p.push_back(ipv6 ? 0xDD : 0x00);
    if (ipv6) {
        const uint8_t header[8] = {0x60, 0, 0, 0, uint8_t(udpLength >> 8), uint8_t(udpLength),
                                   17,   64};
        p.insert(p.end(), header, header + 8);
        p.insert(p.end(), 15, 0); // source ::1
        p.push_back(1);
        p.insert(p.end(), 15, 0); // destination ::1
        p.push_back(1);
    } else {
        const size_t total = 20 + udpLength;
        const uint8_t header[20] = {0x45,
                                    0,
                                    uint8_t(total >> 8),
                                    uint8_t(total),
                                    0,
                                    0,
                                    uint8_t(fragment >> 8),
                                    uint8_t(fragment),
                                    64,
                                    17,
                                    0,
                                    0,
                                    10,
                                    0,
                                    0,
                                    9,
                                    10,
                                    0,
                                    0,
                                    1};
        p.insert(p.end(), header, header + 20);
    }
    const uint8_t udp[8] = {
        0x9c, 0x40, uint8_t(port >> 8), uint8_t(port), uint8_t(udpLength >> 8), uint8_t(udpLength),
        0,    0};
    p.insert(p.end(), udp, udp + 8);
    p.insert(p.end(), payload.begin(), payload.end());
    return p;
}

TEST(TrafficCapture, CountsFramesForThisComputerBySenderAndPort)
{
    const std::string frame = "fr 7\n6df2 1 0\n";
    const std::vector<uint8_t> packets[] = {
        cooked(0, false, 5001, frame),                // counted
        cooked(0, false, 5001, frame),                // counted
        cooked(1, true, 5002, frame),                 // broadcast, IPv6: counted
        cooked(0, false, 5003, "GET / HTTP/1.1\r\n"), // UDP, but not a frame
        cooked(4, false, 5004, frame),                // our own outgoing copy
        cooked(0, false, 5005, frame, 0x2000),        // a fragment
    };
    TrafficCapture capture;
    for (const std::vector<uint8_t>& p : packets) {
        capture.handlePacket(113, p.data(), p.size());
        for (size_t cut = 0; cut < 44; ++cut) // every cut header is refused
            capture.handlePacket(113, p.data(), cut);
    }
    capture.handlePacket(1, packets[0].data(), packets[0].size()); // an unknown link type
    const CaptureReport& r = capture.report();
    EXPECT_EQ(r.udpDatagrams, 4u);
    ASSERT_EQ(r.streams.size(), 2u);
    EXPECT_EQ(r.streams[0].port, 5001);
    EXPECT_EQ(r.streams[0].sender, "10.0.0.9:40000");
    EXPECT_EQ(r.streams[0].datagrams, 2u);
    EXPECT_EQ(r.streams[1].sender, "[::1]:40000");
}

TEST(TrafficCapture, SeesAFrameSentToAnotherLocalPort)
{
    TrafficCapture capture;
    if (!capture.open()) {
        ASSERT_NE(capture.report().status, CaptureStatus::Done);
        GTEST_SKIP() << "no capture here: " << capture.report().error;
    }
    const int receiver = socket(AF_INET, SOCK_DGRAM, 0);
    const int sender = socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    ASSERT_EQ(bind(receiver, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    ASSERT_EQ(getsockname(receiver, reinterpret_cast<sockaddr*>(&address), &length), 0);
    const std::string frame = "fr 1\nts 0.5\n";
    ASSERT_EQ(sendto(sender, frame.data(), frame.size(), 0, reinterpret_cast<sockaddr*>(&address),
                     sizeof address),
              ssize_t(frame.size()));

    // Other tests may send frames at the same time: look for this one.
    const CapturedStream* seen = nullptr;
    for (int i = 0; i < 50 && !seen; ++i) {
        for (const CapturedStream& s : capture.run(0.1, 1).streams)
            seen = s.port == ntohs(address.sin_port) ? &s : seen;
    }
    close(sender);
    close(receiver);
    EXPECT_EQ(capture.report().status, CaptureStatus::Done);
    ASSERT_NE(seen, nullptr);
    EXPECT_EQ(seen->datagrams, 1u);
    EXPECT_EQ(seen->sender.rfind("127.0.0.1:", 0), 0u);
}

} // namespace
