#include "../filesizelimit.h"
#include "capture.h"

#include <gtest/gtest.h>
#include <pcap/pcap.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <vector>

namespace {

using Bytes = std::vector<uint8_t>;

// An IPv4/UDP packet 10.0.0.1:4000 -> 127.0.0.1:5000 carrying payload.
Bytes ipv4Udp(const std::string& payload)
{
    const size_t total = 20 + 8 + payload.size();
    Bytes p(total, 0);
    p[0] = 0x45;
    p[2] = uint8_t(total >> 8);
    p[3] = uint8_t(total);
    p[8] = 64;
    p[9] = 17;
    p[12] = 10, p[15] = 1;
    p[16] = 127, p[19] = 1;
    p[20] = 4000 >> 8, p[21] = 4000 & 0xFF;
    p[22] = 5000 >> 8, p[23] = 5000 & 0xFF;
    p[24] = uint8_t((8 + payload.size()) >> 8);
    p[25] = uint8_t(8 + payload.size());
    std::copy(payload.begin(), payload.end(), p.begin() + 28);
    return p;
}

Bytes withLink(int linkType, const Bytes& ip)
{
    Bytes link;
    switch (linkType) {
    case DLT_EN10MB:
        link.assign(12, 0xAA);
        link.insert(link.end(), {0x08, 0x00});
        break;
    case DLT_LINUX_SLL:
        link.assign(14, 0);
        link.insert(link.end(), {0x08, 0x00});
        break;
    case DLT_LINUX_SLL2:
        link = {0x08, 0x00};
        link.resize(20, 0);
        break;
    case DLT_NULL:
        link = {2, 0, 0, 0};
        break;
    default:
        break;
    }
    link.insert(link.end(), ip.begin(), ip.end());
    return link;
}

Bytes vlanTagged(const Bytes& ip)
{
    Bytes f(12, 0xAA);
    f.insert(f.end(), {0x81, 0x00, 0x00, 0x05, 0x08, 0x00});
    f.insert(f.end(), ip.begin(), ip.end());
    return f;
}

struct LinkCase
{
    const char* name;
    int linkType;
    std::function<Bytes(const Bytes&)> wrap;
};

class ExtractUdpByLink : public testing::TestWithParam<LinkCase>
{
};

TEST_P(ExtractUdpByLink, findsPayloadAndEndpoints)
{
    const LinkCase& c = GetParam();
    const Bytes packet = c.wrap(ipv4Udp("fr 17\n"));
    UdpPacket udp;
    ASSERT_EQ(extractUdp(c.linkType, packet.data(), packet.size(), udp), PacketStatus::Udp);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(udp.payload), udp.length), "fr 17\n");
    EXPECT_EQ(udp.sourceAddress, 0x0A000001u);
    EXPECT_EQ(udp.destinationAddress, 0x7F000001u);
    EXPECT_EQ(udp.sourcePort, 4000);
    EXPECT_EQ(udp.destinationPort, 5000);

    // No prefix of the packet is taken for a whole datagram; under the
    // sanitizers this also shows that no cut makes the parser read past it.
    for (size_t cut = 0; cut < packet.size(); ++cut) {
        const Bytes prefix(packet.begin(), packet.begin() + long(cut));
        UdpPacket ignored;
        EXPECT_NE(extractUdp(c.linkType, prefix.data(), prefix.size(), ignored), PacketStatus::Udp)
            << "cut at " << cut;
    }
}

INSTANTIATE_TEST_SUITE_P(
    LinkTypes, ExtractUdpByLink,
    testing::Values(
        LinkCase{"ethernet", DLT_EN10MB, [](const Bytes& b) { return withLink(DLT_EN10MB, b); }},
        LinkCase{"vlan", DLT_EN10MB, vlanTagged},
        LinkCase{"sll", DLT_LINUX_SLL, [](const Bytes& b) { return withLink(DLT_LINUX_SLL, b); }},
        LinkCase{"sll2", DLT_LINUX_SLL2,
                 [](const Bytes& b) { return withLink(DLT_LINUX_SLL2, b); }},
        LinkCase{"raw", DLT_RAW, [](const Bytes& b) { return b; }},
        LinkCase{"null", DLT_NULL, [](const Bytes& b) { return withLink(DLT_NULL, b); }}),
    [](const testing::TestParamInfo<LinkCase>& info) { return std::string(info.param.name); });

struct DamagedCase
{
    const char* name;
    std::function<void(Bytes&)> damage; // applied to a raw IPv4/UDP packet
    PacketStatus expected;
};

class ExtractUdpDamaged : public testing::TestWithParam<DamagedCase>
{
};

TEST_P(ExtractUdpDamaged, reportsWhatIsWrong)
{
    Bytes packet = ipv4Udp("fr 1\n");
    GetParam().damage(packet);
    UdpPacket udp;
    EXPECT_EQ(extractUdp(DLT_RAW, packet.data(), packet.size(), udp), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Headers, ExtractUdpDamaged,
    testing::Values(
        DamagedCase{"ipv6", [](Bytes& p) { p[0] = 0x60; }, PacketStatus::NotIp},
        DamagedCase{"headerLengthBelowMinimum", [](Bytes& p) { p[0] = 0x44; },
                    PacketStatus::Malformed},
        DamagedCase{"headerLengthPastCapture", [](Bytes& p) { p[0] = 0x4F; },
                    PacketStatus::Malformed},
        DamagedCase{"totalLengthPastCapture", [](Bytes& p) { p[3] += 1; }, PacketStatus::Truncated},
        DamagedCase{"tcp", [](Bytes& p) { p[9] = 6; }, PacketStatus::NotUdp},
        DamagedCase{"moreFragments", [](Bytes& p) { p[6] = 0x20; }, PacketStatus::Fragment},
        DamagedCase{"laterFragment", [](Bytes& p) { p[7] = 0x03; }, PacketStatus::Fragment},
        DamagedCase{"udpLengthBelowHeader", [](Bytes& p) { p[25] = 7; }, PacketStatus::Malformed},
        DamagedCase{"udpLengthPastIp", [](Bytes& p) { p[25] += 1; }, PacketStatus::Malformed},
        // Padding after the IP datagram (as short Ethernet frames carry) is
        // not part of the payload.
        DamagedCase{"trailingPadding", [](Bytes& p) { p.resize(p.size() + 10, 0); },
                    PacketStatus::Udp}),
    [](const testing::TestParamInfo<DamagedCase>& info) { return std::string(info.param.name); });

TEST(ExtractUdp, unknownLinkTypeIsReported)
{
    const Bytes packet = ipv4Udp("x");
    UdpPacket udp;
    EXPECT_EQ(extractUdp(147 /* a user link type */, packet.data(), packet.size(), udp),
              PacketStatus::UnsupportedLink);
}

// IPv6 and the cooked header's direction reach the one parser's callers
// that take them (the live capture); a cut datagram keeps what was captured.
TEST(ParsePacket, ipv6CookedDirectionAndCutPayload)
{
    Bytes ip6 = {0x60, 0, 0, 0, 0, 13, 17, 64};
    ip6.resize(40, 0);
    ip6[23] = 1, ip6[39] = 2; // ::1 -> ::2
    ip6.insert(ip6.end(), {0x0F, 0xA0, 0x13, 0x88, 0, 13, 0, 0, 'f', 'r', ' ', '1', '\n'});
    Bytes sll2 = {0x86, 0xDD, 0, 0, 0, 0, 0, 1, 0, 1, 4 /* outgoing */};
    sll2.resize(20, 0);
    sll2.insert(sll2.end(), ip6.begin(), ip6.end());

    const ParsedPacket p = parsePacket(DLT_LINUX_SLL2, sll2.data(), sll2.size());
    EXPECT_EQ(p.status, PacketStatus::Udp);
    EXPECT_EQ(p.ipVersion, 6);
    EXPECT_EQ(p.direction, LinkDirection::Outgoing);
    EXPECT_EQ(p.sourceAddress[15], 1);
    EXPECT_EQ(p.destinationAddress[15], 2);
    EXPECT_EQ(p.sourcePort, 4000);
    EXPECT_EQ(p.destinationPort, 5000);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(p.payload), p.length), "fr 1\n");
    EXPECT_EQ(parsePacket(DLT_RAW, ip6.data(), ip6.size()).status, PacketStatus::Udp);
    UdpPacket ignored;
    EXPECT_EQ(extractUdp(DLT_RAW, ip6.data(), ip6.size(), ignored), PacketStatus::NotIp);

    const ParsedPacket cut = parsePacket(DLT_LINUX_SLL2, sll2.data(), sll2.size() - 2);
    EXPECT_EQ(cut.status, PacketStatus::Truncated);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(cut.payload), cut.length), "fr ");
    ip6[6] = 44;
    EXPECT_EQ(parsePacket(DLT_RAW, ip6.data(), ip6.size()).status, PacketStatus::Fragment);
    ip6[6] = 6;
    EXPECT_EQ(parsePacket(DLT_RAW, ip6.data(), ip6.size()).status, PacketStatus::NotUdp);
}

std::string tempPath(const char* name)
{
    return testing::TempDir() + name + std::to_string(::getpid()) + ".pcap";
}

TEST(Capture, writtenDatagramsReadBackUnchanged)
{
    const std::string path = tempPath("capture_roundtrip");
    const std::vector<std::string> payloads = {"fr 1\nts 0.016\n", "", std::string(19997, 'x')};
    {
        CaptureWriter writer;
        std::string error;
        ASSERT_TRUE(writer.open(path, error)) << error;
        int64_t t = 1700000000123456;
        for (const std::string& p : payloads) {
            UdpPacket packet;
            packet.timeUs = t;
            packet.sourceAddress = 0x7F000001;
            packet.sourcePort = 40000;
            packet.destinationAddress = 0x7F000001;
            packet.destinationPort = 5000;
            packet.payload = reinterpret_cast<const uint8_t*>(p.data());
            packet.length = p.size();
            ASSERT_TRUE(writer.write(packet));
            t += 16667;
        }
    }
    CaptureReader reader;
    std::string error;
    ASSERT_TRUE(reader.open(path, error)) << error;
    int64_t t = 1700000000123456;
    for (const std::string& p : payloads) {
        UdpPacket packet;
        ASSERT_EQ(reader.next(packet, error), CaptureReader::Next::Packet) << error;
        EXPECT_EQ(std::string(reinterpret_cast<const char*>(packet.payload), packet.length), p);
        EXPECT_EQ(packet.timeUs, t);
        EXPECT_EQ(packet.sourcePort, 40000);
        EXPECT_EQ(packet.destinationPort, 5000);
        t += 16667;
    }
    UdpPacket packet;
    EXPECT_EQ(reader.next(packet, error), CaptureReader::Next::End);
    EXPECT_EQ(reader.skipped(), 0u);
    std::remove(path.c_str());
}

// A pcapng packet time beyond what microseconds since 1970 can hold
// saturates instead of overflowing.
TEST(Capture, farPcapngTimeSaturates)
{
    const Bytes ip = ipv4Udp("fr 1\n");
    auto le32 = [](Bytes& b, uint32_t v) {
        for (int i = 0; i < 4; ++i)
            b.push_back(uint8_t(v >> (8 * i)));
    };
    Bytes file;
    le32(file, 0x0A0D0D0A), le32(file, 28), le32(file, 0x1A2B3C4D);
    le32(file, 1), le32(file, 0xFFFFFFFF), le32(file, 0xFFFFFFFF), le32(file, 28);
    le32(file, 1), le32(file, 20), le32(file, DLT_RAW), le32(file, 65535), le32(file, 20);
    const uint32_t blockLength = 32 + uint32_t(ip.size() + 3) / 4 * 4;
    le32(file, 6), le32(file, blockLength), le32(file, 0);
    le32(file, 0xFFFFFFFF), le32(file, 0xFFFFFFFF); // the time's high and low words
    le32(file, uint32_t(ip.size())), le32(file, uint32_t(ip.size()));
    file.insert(file.end(), ip.begin(), ip.end());
    file.resize(file.size() + (4 - ip.size() % 4) % 4, 0);
    le32(file, blockLength);

    const std::string path = tempPath("far_time");
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(file.data()), std::streamsize(file.size()));
    CaptureReader reader;
    std::string error;
    ASSERT_TRUE(reader.open(path, error)) << error;
    UdpPacket packet;
    ASSERT_EQ(reader.next(packet, error), CaptureReader::Next::Packet) << error;
    EXPECT_EQ(packet.timeUs, INT64_MAX);
    std::remove(path.c_str());
}

TEST(Capture, fileThatIsNoCaptureIsRefused)
{
    const std::string path = tempPath("not_a_capture");
    FILE* f = std::fopen(path.c_str(), "wb");
    ASSERT_NE(f, nullptr);
    std::fputs("fr 1\n6d 0\n", f);
    std::fclose(f);
    CaptureReader reader;
    std::string error;
    EXPECT_FALSE(reader.open(path, error));
    EXPECT_NE(error.find(path), std::string::npos);
    std::remove(path.c_str());
}

// Whatever stands under the name stays as it was; only a new file is made.
TEST(Capture, writerCreatesOnlyANewFile)
{
    const std::string folder = tempPath("writer_targets");
    std::filesystem::create_directories(folder);
    const std::string outside = folder + "/outside";
    const std::string kept = "kept\n";
    enum Place
    {
        Nothing,
        File,
        LinkToFile,
        DanglingLink,
        Folder,
        Fifo,
        DiskFull
    };
    const struct
    {
        const char* name;
        Place place;
        const char* reason;
    } rows[] = {
        {"new", Nothing, ""},
        {"file", File, "the file exists already"},
        {"link", LinkToFile, "the file exists already"},
        {"dangling", DanglingLink, "the file exists already"},
        {"folder", Folder, "the file exists already"},
        {"fifo", Fifo, "the file exists already"},
        {"missing/folder", Nothing, "No such file or directory"},
        {"full", DiskFull, "File too large"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        const std::string path = folder + "/" + row.name;
        std::filesystem::remove_all(path);
        std::filesystem::remove(outside);
        if (row.place == File || row.place == LinkToFile)
            std::ofstream(row.place == File ? path : outside) << kept;
        if (row.place == LinkToFile || row.place == DanglingLink)
            std::filesystem::create_symlink(outside, path);
        if (row.place == Folder)
            std::filesystem::create_directory(path);
        if (row.place == Fifo) {
            ASSERT_EQ(::mkfifo(path.c_str(), 0600), 0);
        }

        CaptureWriter writer;
        std::string error;
        bool opened = false;
        {
            // A disk that fills at once: no file may grow past 10 bytes.
            FileSizeLimit limit(row.place == DiskFull ? 10 : RLIM_INFINITY);
            opened = writer.open(path, error);
            writer.close();
        }

        EXPECT_EQ(opened, !*row.reason);
        EXPECT_EQ(error, *row.reason ? "cannot write capture '" + path + "': " + row.reason : "");
        if (row.place == File || row.place == LinkToFile || opened) {
            std::stringstream text;
            text << std::ifstream(row.place == LinkToFile ? outside : path, std::ios::binary)
                        .rdbuf();
            EXPECT_EQ(text.str().size(), opened ? 24u : kept.size());
        }
        if (row.place == DanglingLink || row.place == DiskFull) {
            EXPECT_FALSE(std::filesystem::exists(outside));
            EXPECT_FALSE(std::filesystem::exists(path));
        }
    }
    std::filesystem::remove_all(folder);
}

} // namespace
