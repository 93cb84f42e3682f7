// One captured packet as the capture reader and the live capture hand it to
// parsePacket: the first byte picks the link type, the rest is the packet,
// copied to a buffer of its exact size. Beyond crashes it checks that a
// payload lies inside the packet and comes only with Udp or Truncated, that
// Udp always names an IP version, and that a cooked direction stays in range.

#include "packetparser.h"

#include <cstdint>
#include <cstdlib>
#include <vector>

namespace {

constexpr int kLinkTypes[] = {DLT_EN10MB, DLT_LINUX_SLL, DLT_LINUX_SLL2, DLT_NULL,
                              DLT_LOOP,   DLT_RAW,       DLT_IPV4,       147};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 1)
        return 0;
    const int linkType = kLinkTypes[data[0] % (sizeof kLinkTypes / sizeof kLinkTypes[0])];
    const std::vector<uint8_t> packet(data + 1, data + size);
    const uint8_t* begin = packet.data();
    const ParsedPacket p = parsePacket(linkType, begin, packet.size());
    if (p.payload) {
        if (p.status != PacketStatus::Udp && p.status != PacketStatus::Truncated)
            std::abort();
        if (p.payload < begin || p.length > packet.size() ||
            size_t(p.payload - begin) > packet.size() - p.length)
            std::abort();
    } else if (p.status == PacketStatus::Udp || p.length != 0) {
        std::abort();
    }
    if (p.status == PacketStatus::Udp && p.ipVersion != 4 && p.ipVersion != 6)
        std::abort();
    if (p.direction > LinkDirection::Outgoing)
        std::abort();
    return 0;
}
