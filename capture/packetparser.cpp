#include "packetparser.h"

#include "byteorder.h"

#include <algorithm>
#include <cstring>

namespace {

constexpr uint16_t kEtherIpv4 = 0x0800;
constexpr uint16_t kEtherIpv6 = 0x86DD;
constexpr uint16_t kEtherVlan = 0x8100;
constexpr uint16_t kEtherQinQ = 0x88A8;
constexpr int kMaxVlanTags = 2;

constexpr size_t kEthernetHeader = 14;
constexpr size_t kEthernetTypeAt = 12;
constexpr size_t kVlanTag = 4;
constexpr size_t kSllHeader = 16;
constexpr size_t kSllTypeAt = 14;
constexpr size_t kSll2Header = 20;
constexpr size_t kSll2TypeAt = 0;
constexpr size_t kSll2PacketTypeAt = 10;
constexpr size_t kLoopbackHeader = 4;
// AF_INET is 2 on every system; AF_INET6 differs between them.
constexpr uint32_t kFamilyInet = 2;

constexpr size_t kMinIpv4Header = 20;
constexpr size_t kIpv4TotalLengthAt = 2;
constexpr size_t kIpv4FragmentAt = 6;
constexpr uint16_t kMoreFragments = 0x2000;
constexpr uint16_t kFragmentOffset = 0x1FFF;
constexpr size_t kIpv4ProtocolAt = 9;
constexpr size_t kIpv4SourceAt = 12;
constexpr size_t kIpv4DestinationAt = 16;

constexpr size_t kIpv6Header = 40;
constexpr size_t kIpv6PayloadLengthAt = 4;
constexpr size_t kIpv6NextHeaderAt = 6;
constexpr size_t kIpv6SourceAt = 8;
constexpr size_t kIpv6DestinationAt = 24;
constexpr uint8_t kIpv6FragmentHeader = 44;

constexpr uint8_t kProtocolUdp = 17;
constexpr size_t kUdpHeader = 8;
constexpr size_t kUdpLengthAt = 4;

// What the link layer carries: 4 or 6 with the network header's offset, or
// a status. A cooked header also says where the packet went.
PacketStatus findNetwork(int linkType, const uint8_t* data, size_t length, ParsedPacket& packet,
                         size_t& offset)
{
    uint16_t type = 0;
    switch (linkType) {
    case DLT_EN10MB: {
        if (length < kEthernetHeader)
            return PacketStatus::Truncated;
        size_t typeAt = kEthernetTypeAt;
        type = be16(data + typeAt);
        for (int tags = 0; tags < kMaxVlanTags && (type == kEtherVlan || type == kEtherQinQ);
             ++tags) {
            typeAt += kVlanTag;
            if (length < typeAt + 2)
                return PacketStatus::Truncated;
            type = be16(data + typeAt);
        }
        offset = typeAt + 2;
        break;
    }
    case DLT_LINUX_SLL:
        if (length < kSllHeader)
            return PacketStatus::Truncated;
        packet.direction = LinkDirection(std::min<uint16_t>(be16(data), 4));
        type = be16(data + kSllTypeAt);
        offset = kSllHeader;
        break;
    case DLT_LINUX_SLL2:
        if (length < kSll2Header)
            return PacketStatus::Truncated;
        packet.direction = LinkDirection(std::min<uint8_t>(data[kSll2PacketTypeAt], 4));
        type = be16(data + kSll2TypeAt);
        offset = kSll2Header;
        break;
    case DLT_NULL:
    case DLT_LOOP: {
        // The address family: host byte order for DLT_NULL, network order
        // for DLT_LOOP.
        if (length < kLoopbackHeader)
            return PacketStatus::Truncated;
        uint32_t family = be32(data);
        if (linkType == DLT_NULL && family != kFamilyInet)
            std::memcpy(&family, data, sizeof family);
        if (family != kFamilyInet)
            return PacketStatus::NotIp;
        packet.ipVersion = 4;
        offset = kLoopbackHeader;
        return PacketStatus::Udp;
    }
    case DLT_RAW:
        // The version nibble alone tells IPv4 from IPv6.
        if (length < 1)
            return PacketStatus::Truncated;
        if (data[0] >> 4 != 4 && data[0] >> 4 != 6)
            return PacketStatus::NotIp;
        packet.ipVersion = data[0] >> 4;
        offset = 0;
        return PacketStatus::Udp;
    case DLT_IPV4:
        packet.ipVersion = 4;
        offset = 0;
        return PacketStatus::Udp;
    default:
        return PacketStatus::UnsupportedLink;
    }
    if (type == kEtherIpv4)
        packet.ipVersion = 4;
    else if (type == kEtherIpv6)
        packet.ipVersion = 6;
    else
        return PacketStatus::NotIp;
    return PacketStatus::Udp;
}

// The UDP header at udp, with ipPayload bytes announced by the IP header and
// captured of them. A datagram cut short by the capture still hands out
// what was captured of it, as Truncated.
PacketStatus readUdp(const uint8_t* udp, size_t ipPayload, size_t captured, ParsedPacket& packet)
{
    // A capture cut short is reported as such before any length it holds.
    const PacketStatus cut = captured < ipPayload ? PacketStatus::Truncated : PacketStatus::Udp;
    const PacketStatus wrong = cut == PacketStatus::Truncated ? cut : PacketStatus::Malformed;
    if (captured < kUdpHeader)
        return wrong;
    const size_t udpLength = be16(udp + kUdpLengthAt);
    if (udpLength < kUdpHeader || udpLength > ipPayload)
        return wrong;
    packet.sourcePort = be16(udp);
    packet.destinationPort = be16(udp + 2);
    packet.payload = udp + kUdpHeader;
    packet.length = std::min(udpLength, captured) - kUdpHeader;
    return cut;
}

PacketStatus readIpv4(const uint8_t* h, size_t available, ParsedPacket& packet)
{
    if (available < 1)
        return PacketStatus::Truncated;
    if (h[0] >> 4 != 4)
        return PacketStatus::Malformed;
    if (available < kMinIpv4Header)
        return PacketStatus::Truncated;
    const size_t headerLength = size_t(h[0] & 0x0F) * 4;
    const size_t totalLength = be16(h + kIpv4TotalLengthAt);
    if (headerLength < kMinIpv4Header || totalLength < headerLength)
        return PacketStatus::Malformed;
    if (h[kIpv4ProtocolAt] != kProtocolUdp)
        return PacketStatus::NotUdp;
    const uint16_t fragment = be16(h + kIpv4FragmentAt);
    if (fragment & (kMoreFragments | kFragmentOffset))
        return PacketStatus::Fragment;
    std::memcpy(packet.sourceAddress, h + kIpv4SourceAt, 4);
    std::memcpy(packet.destinationAddress, h + kIpv4DestinationAt, 4);
    if (available < headerLength)
        return PacketStatus::Truncated;
    // The total length bounds the datagram; link-layer padding after it is
    // not part of it.
    return readUdp(h + headerLength, totalLength - headerLength,
                   std::min(available, totalLength) - headerLength, packet);
}

PacketStatus readIpv6(const uint8_t* h, size_t available, ParsedPacket& packet)
{
    if (available < 1)
        return PacketStatus::Truncated;
    if (h[0] >> 4 != 6)
        return PacketStatus::Malformed;
    if (available < kIpv6Header)
        return PacketStatus::Truncated;
    // Only UDP right after the fixed header; extension headers are rare for
    // this traffic and are passed over.
    if (h[kIpv6NextHeaderAt] == kIpv6FragmentHeader)
        return PacketStatus::Fragment;
    if (h[kIpv6NextHeaderAt] != kProtocolUdp)
        return PacketStatus::NotUdp;
    std::memcpy(packet.sourceAddress, h + kIpv6SourceAt, 16);
    std::memcpy(packet.destinationAddress, h + kIpv6DestinationAt, 16);
    const size_t payloadLength = be16(h + kIpv6PayloadLengthAt);
    return readUdp(h + kIpv6Header, payloadLength, std::min(available - kIpv6Header, payloadLength),
                   packet);
}

} // namespace

const char* packetStatusName(PacketStatus status)
{
    switch (status) {
    case PacketStatus::Udp:
        return "udp";
    case PacketStatus::UnsupportedLink:
        return "unsupported link type";
    case PacketStatus::NotIp:
        return "not IP";
    case PacketStatus::NotUdp:
        return "not UDP";
    case PacketStatus::Fragment:
        return "fragment";
    case PacketStatus::Truncated:
        return "truncated";
    case PacketStatus::Malformed:
        return "malformed";
    }
    return "unknown";
}

ParsedPacket parsePacket(int linkType, const uint8_t* data, size_t capturedLength)
{
    ParsedPacket packet;
    if (!data)
        return packet;
    size_t offset = 0;
    packet.status = findNetwork(linkType, data, capturedLength, packet, offset);
    if (packet.status != PacketStatus::Udp)
        return packet;
    const uint8_t* network = data + offset;
    const size_t available = capturedLength - offset;
    packet.status = packet.ipVersion == 6 ? readIpv6(network, available, packet)
                                          : readIpv4(network, available, packet);
    if (packet.status != PacketStatus::Udp && packet.status != PacketStatus::Truncated) {
        packet.payload = nullptr;
        packet.length = 0;
    }
    return packet;
}
