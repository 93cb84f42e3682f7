#pragma once

// The one parser of captured packets: from a link-layer header (as libpcap
// names it, DLT_*) through IPv4 or IPv6 to a UDP datagram. A free function
// over a buffer, so that the capture file reader, the live traffic capture,
// the tests and a fuzz target all run the same code.

#include <pcap/dlt.h>

#include <cstddef>
#include <cstdint>

// Older libpcap headers lack the newer link types.
#ifndef DLT_LINUX_SLL2
#define DLT_LINUX_SLL2 276
#endif
#ifndef DLT_IPV4
#define DLT_IPV4 228
#endif

// What a captured packet turned out to be. Only Udp carries a whole payload.
enum class PacketStatus
{
    Udp,             // a complete, unfragmented UDP datagram over IPv4 or IPv6
    UnsupportedLink, // a link type this parser does not know
    NotIp,           // another network protocol (ARP, ...)
    NotUdp,          // IP but not UDP (IPv6: UDP not right after the fixed header)
    Fragment,        // one piece of a fragmented datagram
    Truncated,       // the capture holds less than the headers announce
    Malformed,       // a header length or version that cannot be right
};

const char* packetStatusName(PacketStatus status);

// Where a cooked capture ("any" device) says a packet went; other link types
// leave ToUs.
enum class LinkDirection : uint8_t
{
    ToUs = 0,
    Broadcast = 1,
    Multicast = 2,
    OtherHost = 3,
    Outgoing = 4, // our own outgoing copy
};

struct ParsedPacket
{
    PacketStatus status = PacketStatus::Truncated;
    int ipVersion = 0; // 4 or 6 once the link layer named it, else 0
    LinkDirection direction = LinkDirection::ToUs;
    // Network byte order; an IPv4 address fills the first four bytes.
    uint8_t sourceAddress[16] = {};
    uint8_t destinationAddress[16] = {};
    uint16_t sourcePort = 0;
    uint16_t destinationPort = 0;
    // Inside the packet. Set with Udp, and with Truncated when the UDP header
    // itself was captured: then it holds the captured part of the payload.
    const uint8_t* payload = nullptr;
    size_t length = 0;
};

// Parses one captured packet of libpcap link type linkType. Reads nothing
// outside [data, data + capturedLength), allocates nothing, never throws.
ParsedPacket parsePacket(int linkType, const uint8_t* data, size_t capturedLength);
