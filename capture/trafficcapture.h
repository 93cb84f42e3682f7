#pragma once

// A short look at the UDP traffic of every interface, for datagrams of the
// controller's format that arrive for some port of this computer. Needs the
// right to capture (root, or CAP_NET_RAW); without it the report says so.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

struct FrameData;

// Datagrams of the controller's format to one local port from one sender.
struct CapturedStream
{
    uint16_t port = 0;
    std::string sender; // "a.b.c.d:port" or "[v6 address]:port"
    uint64_t datagrams = 0;
};

enum class CaptureStatus
{
    NotRun,       // no capture was tried
    Done,         // the capture ran for its time
    NoPermission, // the system refused to capture: not root, no CAP_NET_RAW
    Failed,       // libpcap failed for another reason; error says which
};

struct CaptureReport
{
    CaptureStatus status = CaptureStatus::NotRun;
    std::string error;         // libpcap's words when the capture could not run
    std::string program;       // this program's path, for the command that grants the right
    double seconds = 0.0;      // how long it listened
    uint64_t udpDatagrams = 0; // every UDP datagram addressed to this computer
    // Most datagrams first; at most kMaxStreams, the rest counted in
    // otherStreamDatagrams.
    std::vector<CapturedStream> streams;
    uint64_t otherStreamDatagrams = 0;
};

// The command that lets program capture: setcap cap_net_raw+ep 'program'.
std::string captureGrantCommand(const std::string& program);

class TrafficCapture
{
public:
    static constexpr size_t kMaxStreams = 32;

    TrafficCapture();
    ~TrafficCapture();
    TrafficCapture(const TrafficCapture&) = delete;
    TrafficCapture& operator=(const TrafficCapture&) = delete;

    // Starts capturing on all interfaces; what arrives from now on is kept
    // by the system until run() reads it. False when the capture could not
    // start; report() says why.
    bool open();
    // Reads what arrives for seconds, or until stopAfter datagrams of the
    // controller's format were counted (0: the whole time). Never blocks
    // longer than seconds plus a tenth of a second.
    const CaptureReport& run(double seconds, uint64_t stopAfter = 0);
    const CaptureReport& report() const { return result; }

    // Counts one captured packet of libpcap link type linkType; public so
    // that tests can hand it packets without the right to capture.
    void handlePacket(int linkType, const uint8_t* data, size_t length);

private:
    void count(uint16_t port, const std::string& sender);
    uint64_t controllerDatagrams() const;

    struct pcap* handle = nullptr;
    int linkType = 0;
    std::unique_ptr<FrameData> scratch;
    CaptureReport result;
};
