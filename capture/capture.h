#pragma once

// Reading UDP payloads out of pcap and pcapng captures, and writing received
// datagrams as IPv4/UDP packets into a pcap file, through libpcap.

#include "packetparser.h"

#include <cstddef>
#include <cstdint>
#include <string>

struct UdpPacket
{
    int64_t timeUs = 0;              // capture time, microseconds since the Unix epoch
    uint32_t sourceAddress = 0;      // host byte order
    uint32_t destinationAddress = 0; // host byte order
    uint16_t sourcePort = 0;
    uint16_t destinationPort = 0;
    const uint8_t* payload = nullptr; // points into the packet data
    size_t length = 0;
};

// Finds the IPv4/UDP datagram in one captured packet of the libpcap link
// type (DLT_*) through parsePacket; IPv6 counts as NotIp here, since
// UdpPacket holds IPv4 addresses. Nothing outside [data, data +
// capturedLength) is read. Fills packet (except timeUs) only for
// PacketStatus::Udp.
PacketStatus extractUdp(int linkType, const uint8_t* data, size_t capturedLength,
                        UdpPacket& packet);

class CaptureReader
{
public:
    CaptureReader() = default;
    ~CaptureReader();
    CaptureReader(const CaptureReader&) = delete;
    CaptureReader& operator=(const CaptureReader&) = delete;

    bool open(const std::string& path, std::string& error);

    enum class Next
    {
        Packet,
        End,
        Error
    };
    // Moves to the next UDP datagram, skipping and counting everything else.
    // The payload stays valid until the next call.
    Next next(UdpPacket& packet, std::string& error);

    // Packets passed over so far because they were not complete UDP datagrams.
    size_t skipped() const { return skippedCount; }
    size_t truncated() const { return truncatedCount; }

private:
    struct pcap* handle = nullptr;
    int linkType = 0;
    size_t skippedCount = 0;
    size_t truncatedCount = 0;
};

class CaptureWriter
{
public:
    CaptureWriter() = default;
    ~CaptureWriter();
    CaptureWriter(const CaptureWriter&) = delete;
    CaptureWriter& operator=(const CaptureWriter&) = delete;

    // Creates the file at path; an existing file or link is refused, not
    // replaced. False with the reason, naming the path, in error.
    bool open(const std::string& path, std::string& error);
    bool isOpen() const { return dumper != nullptr; }
    // Appends one datagram as a raw IPv4/UDP packet and flushes it, so that
    // the file stays readable if the program is killed. False when the file
    // could not be written.
    bool write(const UdpPacket& packet);
    void close();
    // Closes and removes the file this writer created.
    void discard();
    // The size of the file once a datagram of payloadLength bytes is added.
    uint64_t sizeAfter(size_t payloadLength) const;

private:
    uint64_t written = 0;
    std::string createdPath;
    struct pcap* dead = nullptr;
    struct pcap_dumper* dumper = nullptr;
};
