// Capture files as kestrel-dump --read and kestrel-check --read take them:
// the input is a pcap or pcapng file, read through CaptureReader (libpcap,
// from an in-memory file) with every UDP payload handed to the frame decoder.
// The input also goes as one captured packet to extractUdp under every link
// type the reader knows. Beyond crashes it checks that every payload lies
// inside the packet it came from and that the reader ends.

#include "capture.h"
#include "framedecoder.h"

#include <pcap/pcap.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string>

namespace {

constexpr int kLinkTypes[] = {DLT_EN10MB, DLT_LINUX_SLL, DLT_LINUX_SLL2, DLT_NULL,
                              DLT_LOOP,   DLT_RAW,       DLT_IPV4};
// A packet takes at least its 16-byte record header; more packets than the
// input has bytes would mean the reader does not move on.
constexpr size_t kBufferSize = 20000;

void checkPacket(int linkType, const uint8_t* data, size_t size)
{
    UdpPacket packet;
    if (extractUdp(linkType, data, size, packet) != PacketStatus::Udp)
        return;
    if (packet.payload < data || packet.length > size ||
        size_t(packet.payload - data) > size - packet.length)
        std::abort();
}

// One file in memory for the whole run, named by its /proc path so that the
// reader opens it as it opens any capture.
int captureFile()
{
    static const int fd = memfd_create("capture", MFD_CLOEXEC);
    return fd;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    for (const int linkType : kLinkTypes)
        checkPacket(linkType, data, size);

    const int fd = captureFile();
    if (fd < 0 || ::ftruncate(fd, 0) != 0 || (size && ::pwrite(fd, data, size, 0) != ssize_t(size)))
        std::abort();
    CaptureReader reader;
    std::string error;
    if (!reader.open("/proc/self/fd/" + std::to_string(fd), error))
        return 0;
    auto frame = std::make_unique<FrameData>();
    size_t packets = 0;
    for (;;) {
        UdpPacket packet;
        const CaptureReader::Next next = reader.next(packet, error);
        if (next != CaptureReader::Next::Packet)
            break;
        if (++packets > size)
            std::abort();
        if (!packet.payload && packet.length)
            std::abort();
        frame->beginFrame();
        decodeDatagram(*frame, reinterpret_cast<const char*>(packet.payload), packet.length,
                       kBufferSize);
    }
    if (reader.skipped() + packets > size)
        std::abort();
    return 0;
}
