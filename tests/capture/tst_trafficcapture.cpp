#include "trafficcapture.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <string>
#include <vector>

namespace {

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
