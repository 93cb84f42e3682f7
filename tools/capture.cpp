#include "capture.h"

#include <pcap/pcap.h>

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <vector>

#ifndef DLT_LINUX_SLL2
#define DLT_LINUX_SLL2 276
#endif
#ifndef DLT_IPV4
#define DLT_IPV4 228
#endif

namespace {

// The file header, and what each packet adds besides its payload.
constexpr uint64_t kFileHeader = 24;
constexpr uint64_t kRecordHeader = 16;

constexpr uint16_t kEtherIpv4 = 0x0800;
constexpr uint16_t kEtherVlan = 0x8100;
constexpr uint16_t kEtherQinQ = 0x88A8;
constexpr uint8_t kProtocolUdp = 17;
constexpr size_t kUdpHeader = 8;
constexpr size_t kMinIpv4Header = 20;

uint16_t be16(const uint8_t* p)
{
    return uint16_t(p[0] << 8 | p[1]);
}
uint32_t be32(const uint8_t* p)
{
    return uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | p[3];
}
void putBe16(uint8_t* p, uint16_t v)
{
    p[0] = uint8_t(v >> 8);
    p[1] = uint8_t(v);
}
void putBe32(uint8_t* p, uint32_t v)
{
    putBe16(p, uint16_t(v >> 16));
    putBe16(p + 2, uint16_t(v));
}

// Offset of the IPv4 header behind the link-layer header, or a status.
PacketStatus findIpv4(int linkType, const uint8_t* data, size_t length, size_t& offset)
{
    switch (linkType) {
    case DLT_EN10MB: {
        if (length < 14)
            return PacketStatus::Truncated;
        size_t typeAt = 12;
        uint16_t type = be16(data + typeAt);
        // Up to two VLAN tags.
        for (int tags = 0; tags < 2 && (type == kEtherVlan || type == kEtherQinQ); ++tags) {
            typeAt += 4;
            if (length < typeAt + 2)
                return PacketStatus::Truncated;
            type = be16(data + typeAt);
        }
        if (type != kEtherIpv4)
            return PacketStatus::NotIpv4;
        offset = typeAt + 2;
        return PacketStatus::Udp;
    }
    case DLT_LINUX_SLL:
        if (length < 16)
            return PacketStatus::Truncated;
        if (be16(data + 14) != kEtherIpv4)
            return PacketStatus::NotIpv4;
        offset = 16;
        return PacketStatus::Udp;
    case DLT_LINUX_SLL2:
        if (length < 20)
            return PacketStatus::Truncated;
        if (be16(data) != kEtherIpv4)
            return PacketStatus::NotIpv4;
        offset = 20;
        return PacketStatus::Udp;
    case DLT_NULL:
    case DLT_LOOP: {
        // The address family: host byte order for DLT_NULL, network order for
        // DLT_LOOP. AF_INET is 2 on every system.
        if (length < 4)
            return PacketStatus::Truncated;
        uint32_t family = 0;
        if (linkType == DLT_LOOP) {
            family = be32(data);
        } else {
            std::memcpy(&family, data, 4);
            if (family != 2 && be32(data) == 2)
                family = 2;
        }
        if (family != 2)
            return PacketStatus::NotIpv4;
        offset = 4;
        return PacketStatus::Udp;
    }
    case DLT_RAW:
    case DLT_IPV4:
        offset = 0;
        return PacketStatus::Udp;
    default:
        return PacketStatus::UnsupportedLink;
    }
}

} // namespace

const char* packetStatusName(PacketStatus status)
{
    switch (status) {
    case PacketStatus::Udp:
        return "udp";
    case PacketStatus::UnsupportedLink:
        return "unsupported link type";
    case PacketStatus::NotIpv4:
        return "not IPv4";
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

PacketStatus extractUdp(int linkType, const uint8_t* data, size_t capturedLength, UdpPacket& packet)
{
    if (!data)
        return PacketStatus::Truncated;
    size_t ip = 0;
    const PacketStatus link = findIpv4(linkType, data, capturedLength, ip);
    if (link != PacketStatus::Udp)
        return link;
    const size_t available = capturedLength - ip;
    if (available < 1)
        return PacketStatus::Truncated;
    const uint8_t* h = data + ip;
    if ((h[0] >> 4) != 4)
        return linkType == DLT_RAW ? PacketStatus::NotIpv4 : PacketStatus::Malformed;
    if (available < kMinIpv4Header)
        return PacketStatus::Truncated;
    const size_t headerLength = size_t(h[0] & 0x0F) * 4;
    const size_t totalLength = be16(h + 2);
    if (headerLength < kMinIpv4Header || totalLength < headerLength)
        return PacketStatus::Malformed;
    if (h[9] != kProtocolUdp)
        return PacketStatus::NotUdp;
    const uint16_t fragment = be16(h + 6);
    if ((fragment & 0x2000) || (fragment & 0x1FFF))
        return PacketStatus::Fragment;
    // The IP total length bounds the datagram; link-layer padding after it is
    // not part of it.
    if (available < totalLength)
        return PacketStatus::Truncated;
    if (totalLength < headerLength + kUdpHeader)
        return PacketStatus::Malformed;
    const uint8_t* u = h + headerLength;
    const size_t udpLength = be16(u + 4);
    if (udpLength < kUdpHeader || udpLength > totalLength - headerLength)
        return PacketStatus::Malformed;
    packet.sourceAddress = be32(h + 12);
    packet.destinationAddress = be32(h + 16);
    packet.sourcePort = be16(u);
    packet.destinationPort = be16(u + 2);
    packet.payload = u + kUdpHeader;
    packet.length = udpLength - kUdpHeader;
    return PacketStatus::Udp;
}

CaptureReader::~CaptureReader()
{
    if (handle)
        pcap_close(handle);
}

bool CaptureReader::open(const std::string& path, std::string& error)
{
    char message[PCAP_ERRBUF_SIZE] = {};
    handle = pcap_open_offline(path.c_str(), message);
    if (!handle) {
        error = "cannot read capture '" + path + "': " + message;
        return false;
    }
    linkType = pcap_datalink(handle);
    return true;
}

CaptureReader::Next CaptureReader::next(UdpPacket& packet, std::string& error)
{
    if (!handle) {
        error = "no capture open";
        return Next::Error;
    }
    for (;;) {
        pcap_pkthdr* header = nullptr;
        const u_char* data = nullptr;
        const int r = pcap_next_ex(handle, &header, &data);
        if (r == PCAP_ERROR_BREAK)
            return Next::End;
        if (r != 1 || !header || !data) {
            error = std::string("cannot read the next packet: ") + pcap_geterr(handle);
            return Next::Error;
        }
        UdpPacket found;
        const PacketStatus status = extractUdp(linkType, data, header->caplen, found);
        if (status == PacketStatus::Udp) {
            found.timeUs = int64_t(header->ts.tv_sec) * 1000000 + header->ts.tv_usec;
            packet = found;
            return Next::Packet;
        }
        if (status == PacketStatus::UnsupportedLink) {
            error = "unsupported link type " + std::to_string(linkType) + " (" +
                    (pcap_datalink_val_to_name(linkType) ? pcap_datalink_val_to_name(linkType)
                                                         : "unknown") +
                    ")";
            return Next::Error;
        }
        ++skippedCount;
        if (status == PacketStatus::Truncated)
            ++truncatedCount;
    }
}

CaptureWriter::~CaptureWriter()
{
    close();
}

bool CaptureWriter::open(const std::string& path, std::string& error)
{
    close();
    const std::string cannot = "cannot write capture '" + path + "': ";
    // A new file only: an existing one (a link included) is never replaced.
    const int fd =
        ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_NOCTTY | O_CLOEXEC, 0644);
    if (fd < 0) {
        error = cannot + (errno == EEXIST ? std::string("the file exists already")
                                          : std::string(std::strerror(errno)));
        return false;
    }
    FILE* file = ::fdopen(fd, "wb");
    dead = file ? pcap_open_dead(DLT_RAW, 65535) : nullptr;
    dumper = dead ? pcap_dump_fopen(dead, file) : nullptr;
    if (!dumper) {
        error = cannot + (dead ? std::string(pcap_geterr(dead)) : std::string("out of memory"));
        if (file)
            std::fclose(file);
        else
            ::close(fd);
        ::unlink(path.c_str());
        close();
        return false;
    }
    createdPath = path;
    written = kFileHeader;
    // The header is pushed out at once, so that a full disk shows here.
    if (pcap_dump_flush(dumper) != 0) {
        error = cannot + std::strerror(errno);
        discard();
        return false;
    }
    return true;
}

uint64_t CaptureWriter::sizeAfter(size_t payloadLength) const
{
    return written + kRecordHeader + kMinIpv4Header + kUdpHeader + payloadLength;
}

bool CaptureWriter::write(const UdpPacket& packet)
{
    constexpr size_t kHeaders = kMinIpv4Header + kUdpHeader;
    if (!dumper || packet.length > 65535 - kHeaders || (packet.length && !packet.payload))
        return false;
    std::vector<uint8_t> bytes(kHeaders + packet.length);
    uint8_t* h = bytes.data();
    h[0] = 0x45;
    putBe16(h + 2, uint16_t(bytes.size()));
    putBe16(h + 6, 0x4000); // don't fragment
    h[8] = 64;
    h[9] = kProtocolUdp;
    putBe32(h + 12, packet.sourceAddress);
    putBe32(h + 16, packet.destinationAddress);
    uint32_t sum = 0;
    for (size_t i = 0; i < kMinIpv4Header; i += 2)
        sum += be16(h + i);
    while (sum >> 16)
        sum = (sum & 0xFFFF) + (sum >> 16);
    putBe16(h + 10, uint16_t(~sum));
    uint8_t* u = h + kMinIpv4Header;
    putBe16(u, packet.sourcePort);
    putBe16(u + 2, packet.destinationPort);
    putBe16(u + 4, uint16_t(kUdpHeader + packet.length));
    // A zero UDP checksum means "not computed", which IPv4 allows.
    if (packet.length)
        std::memcpy(u + kUdpHeader, packet.payload, packet.length);

    pcap_pkthdr header{};
    header.ts.tv_sec = static_cast<time_t>(packet.timeUs / 1000000);
    header.ts.tv_usec = static_cast<suseconds_t>(packet.timeUs % 1000000);
    header.caplen = header.len = static_cast<bpf_u_int32>(bytes.size());
    pcap_dump(reinterpret_cast<u_char*>(dumper), &header, bytes.data());
    written += kRecordHeader + bytes.size();
    return pcap_dump_flush(dumper) == 0;
}

void CaptureWriter::close()
{
    if (dumper) {
        pcap_dump_close(dumper);
        dumper = nullptr;
    }
    if (dead) {
        pcap_close(dead);
        dead = nullptr;
    }
    createdPath.clear();
}

void CaptureWriter::discard()
{
    const std::string path = createdPath;
    close();
    if (!path.empty())
        ::unlink(path.c_str());
}
