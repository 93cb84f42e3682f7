#include "capture.h"

#include "byteorder.h"
#include "filehelpers.h"

#include <pcap/pcap.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <vector>

namespace {

// The file header, and what each packet adds besides its payload.
constexpr uint64_t kFileHeader = 24;
constexpr uint64_t kRecordHeader = 16;
constexpr size_t kIpv4Header = 20;
constexpr size_t kUdpHeader = 8;
constexpr uint8_t kProtocolUdp = 17;

// Microseconds since the epoch for a packet's time, saturated: a pcapng file
// may carry any 64-bit time, whose seconds times a million would overflow.
int64_t timeMicroseconds(int64_t seconds, int64_t microseconds)
{
    constexpr int64_t kLimit = INT64_MAX / 1000000 - 1;
    if (seconds > kLimit)
        return INT64_MAX;
    if (seconds < -kLimit)
        return INT64_MIN;
    return seconds * 1000000 + microseconds;
}

} // namespace

PacketStatus extractUdp(int linkType, const uint8_t* data, size_t capturedLength, UdpPacket& packet)
{
    const ParsedPacket parsed = parsePacket(linkType, data, capturedLength);
    if (parsed.ipVersion == 6)
        return PacketStatus::NotIp;
    if (parsed.status != PacketStatus::Udp)
        return parsed.status;
    packet.sourceAddress = be32(parsed.sourceAddress);
    packet.destinationAddress = be32(parsed.destinationAddress);
    packet.sourcePort = parsed.sourcePort;
    packet.destinationPort = parsed.destinationPort;
    packet.payload = parsed.payload;
    packet.length = parsed.length;
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
            found.timeUs = timeMicroseconds(header->ts.tv_sec, header->ts.tv_usec);
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
    FileResult created = FileResult::Failed;
    int errorCode = 0;
    FILE* file = createNewFile(path, created, errorCode);
    if (!file) {
        error = cannot + (created == FileResult::Exists ? std::string("the file exists already")
                                                        : fileErrorText(errorCode));
        return false;
    }
    dead = pcap_open_dead(DLT_RAW, 65535);
    dumper = dead ? pcap_dump_fopen(dead, file) : nullptr;
    if (!dumper) {
        error = cannot + (dead ? std::string(pcap_geterr(dead)) : std::string("out of memory"));
        std::fclose(file);
        std::remove(path.c_str());
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
    return written + kRecordHeader + kIpv4Header + kUdpHeader + payloadLength;
}

bool CaptureWriter::write(const UdpPacket& packet)
{
    constexpr size_t kHeaders = kIpv4Header + kUdpHeader;
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
    for (size_t i = 0; i < kIpv4Header; i += 2)
        sum += be16(h + i);
    while (sum >> 16)
        sum = (sum & 0xFFFF) + (sum >> 16);
    putBe16(h + 10, uint16_t(~sum));
    uint8_t* u = h + kIpv4Header;
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
        std::remove(path.c_str());
}
