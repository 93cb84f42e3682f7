#include "trafficcapture.h"

#include "framedecoder.h"
#include "frameformat.h"
#include "packetparser.h"

#include <pcap/pcap.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>

#include <arpa/inet.h>
#include <poll.h>
#include <unistd.h>

namespace {

std::string ipv4Text(const uint8_t* address)
{
    char text[16];
    std::snprintf(text, sizeof text, "%u.%u.%u.%u", address[0], address[1], address[2], address[3]);
    return text;
}

std::string ipv6Text(const uint8_t* address)
{
    char text[INET6_ADDRSTRLEN] = "";
    if (inet_ntop(AF_INET6, address, text, sizeof text))
        return std::string("[") + text + "]";
    return "[?]";
}

std::string programPath()
{
    char path[4096];
    const ssize_t n = readlink("/proc/self/exe", path, sizeof path - 1);
    if (n > 0)
        return std::string(path, size_t(n));
    return "PROGRAM";
}

void onPacket(u_char* user, const pcap_pkthdr* header, const u_char* bytes)
{
    auto* capture = reinterpret_cast<std::pair<TrafficCapture*, int>*>(user);
    try {
        capture->first->handlePacket(capture->second, bytes, header->caplen);
    } catch (...) {
        // Out of memory for a stream's name: the packet goes uncounted.
    }
}

} // namespace

std::string captureGrantCommand(const std::string& program)
{
    return "setcap cap_net_raw+ep '" + program + "'";
}

TrafficCapture::TrafficCapture() : scratch(std::make_unique<FrameData>()) {}

TrafficCapture::~TrafficCapture()
{
    if (handle)
        pcap_close(handle);
}

bool TrafficCapture::open()
{
    result = CaptureReport{};
    result.program = programPath();
    char error[PCAP_ERRBUF_SIZE] = "";
    handle = pcap_create("any", error);
    if (!handle) {
        result.status = CaptureStatus::Failed;
        result.error = error;
        return false;
    }
    // Frames reach 20000 bytes; immediate mode hands over every packet as it
    // comes instead of holding it until a buffer block fills.
    pcap_set_snaplen(handle, 65535);
    pcap_set_immediate_mode(handle, 1);
    pcap_set_timeout(handle, 100);
    pcap_set_buffer_size(handle, 4 << 20);
    const int activated = pcap_activate(handle);
    if (activated < 0) {
        result.status = activated == PCAP_ERROR_PERM_DENIED ? CaptureStatus::NoPermission
                                                            : CaptureStatus::Failed;
        const char* detail = pcap_geterr(handle);
        result.error = detail && *detail ? detail : pcap_statustostr(activated);
        pcap_close(handle);
        handle = nullptr;
        return false;
    }
    linkType = pcap_datalink(handle);
    // The filter only spares work; handlePacket checks every header itself.
    bpf_program filter;
    if (pcap_compile(handle, &filter, "udp", 1, PCAP_NETMASK_UNKNOWN) == 0) {
        pcap_setfilter(handle, &filter);
        pcap_freecode(&filter);
    }
    if (pcap_setnonblock(handle, 1, error) != 0 || pcap_get_selectable_fd(handle) < 0) {
        result.status = CaptureStatus::Failed;
        result.error = "this system cannot wait on a capture";
        pcap_close(handle);
        handle = nullptr;
        return false;
    }
    return true;
}

const CaptureReport& TrafficCapture::run(double seconds, uint64_t stopAfter)
{
    if (!handle)
        return result;
    using Clock = std::chrono::steady_clock;
    const auto started = Clock::now();
    const double limit = std::isnan(seconds) ? 0.0 : std::clamp(seconds, 0.0, 3600.0);
    const auto deadline =
        started + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(limit));
    std::pair<TrafficCapture*, int> user(this, linkType);
    bool failed = false;
    while (!(stopAfter > 0 && controllerDatagrams() >= stopAfter)) {
        const auto now = Clock::now();
        if (now >= deadline)
            break;
        const auto wait = std::min<Clock::duration>(deadline - now, std::chrono::milliseconds(100));
        pollfd p{pcap_get_selectable_fd(handle), POLLIN, 0};
        ::poll(&p, 1, int(std::chrono::duration_cast<std::chrono::milliseconds>(wait).count()) + 1);
        if (pcap_dispatch(handle, 1000, onPacket, reinterpret_cast<u_char*>(&user)) == PCAP_ERROR) {
            result.error = pcap_geterr(handle);
            failed = true;
            break;
        }
    }
    result.seconds += std::chrono::duration<double>(Clock::now() - started).count();
    result.status = failed ? CaptureStatus::Failed : CaptureStatus::Done;
    std::stable_sort(
        result.streams.begin(), result.streams.end(),
        [](const CapturedStream& a, const CapturedStream& b) { return a.datagrams > b.datagrams; });
    return result;
}

void TrafficCapture::handlePacket(int type, const uint8_t* data, size_t length)
{
    // The "any" device prefixes each packet with a cooked header that says
    // whether it came in for this computer. A datagram cut short by the
    // capture is still looked at for what was captured of it.
    const ParsedPacket packet = parsePacket(type, data, length);
    if (!packet.payload || packet.direction > LinkDirection::Multicast)
        return;
    ++result.udpDatagrams;
    const char* payload = reinterpret_cast<const char*>(packet.payload);
    if (looksLikeControllerFrame(*scratch, payload, packet.length)) {
        const std::string sender =
            packet.ipVersion == 6 ? ipv6Text(packet.sourceAddress) : ipv4Text(packet.sourceAddress);
        count(packet.destinationPort, sender + ":" + std::to_string(packet.sourcePort));
    }
}

void TrafficCapture::count(uint16_t port, const std::string& sender)
{
    for (CapturedStream& stream : result.streams) {
        if (stream.port == port && stream.sender == sender) {
            ++stream.datagrams;
            return;
        }
    }
    if (result.streams.size() >= kMaxStreams) {
        ++result.otherStreamDatagrams;
        return;
    }
    result.streams.push_back({port, sender, 1});
}

uint64_t TrafficCapture::controllerDatagrams() const
{
    uint64_t n = result.otherStreamDatagrams;
    for (const CapturedStream& stream : result.streams)
        n += stream.datagrams;
    return n;
}
