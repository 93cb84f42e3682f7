#pragma once

// The health of one incoming tracking stream, computed from the receive
// outcomes the caller feeds in with its own clock: rates over the last second,
// totals since the start, frame-counter continuity, data age, senders and the
// Skywands' quality. Memory stays bounded whatever the datagram rate.

#include "errorstate.h"

#include <array>
#include <cstdint>
#include <string>
#include <vector>

struct FrameData;

// An IPv4 address and UDP port in host byte order; all zero when unknown.
struct Endpoint
{
    uint32_t address = 0;
    uint16_t port = 0;

    bool known() const { return address != 0 || port != 0; }
    bool operator==(const Endpoint& other) const
    {
        return address == other.address && port == other.port;
    }
    bool operator!=(const Endpoint& other) const { return !(*this == other); }
};

// "a.b.c.d:port", or "unknown".
std::string endpointText(const Endpoint& endpoint);

// One datagram that decoded.
struct FrameEvent
{
    // The frame's counter ("fr " line); 0 when it carried none, which leaves
    // the continuity figures untouched.
    uint32_t frameCounter = 0;
    // False when the datagram decoded but held no line of the controller's
    // format at all (ReceivedDatagram::controllerLines): another program's traffic.
    bool controllerLines = true;
    Endpoint sender;
    // The Skywand count after the frame, how many of them the datagram itself
    // wrote (0 .. skywandsInFrame - 1), and each one's quality; skywandQuality
    // holds numSkywand values or is null.
    int32_t numSkywand = 0;
    int32_t skywandsInFrame = 0;
    const float* skywandQuality = nullptr;
};

// Counts of receive outcomes over a span of time.
struct StreamCounts
{
    uint64_t datagrams = 0;    // every datagram that reached the decoder
    uint64_t frames = 0;       // decoded and holding a line of the controller's format
    uint64_t foreign = 0;      // decoded but holding no such line
    uint64_t timeouts = 0;     // waits for data that ran out
    uint64_t netErrors = 0;    // socket failures, empty or oversized datagrams
    uint64_t parseErrors = 0;  // datagrams that failed to decode
    uint64_t gaps = 0;         // counter steps of more than one
    uint64_t missedFrames = 0; // frames the gaps skipped
    uint64_t repeated = 0;     // the same counter twice in a row
    uint64_t backward = 0;     // the counter went back: a restart or a second controller

    StreamCounts& operator+=(const StreamCounts& other);
};

struct SkywandHealth
{
    float quality = -1.0f;    // as last received
    bool inLastFrame = false; // the last frame wrote this Skywand's record
    double lastSeen = -1.0;   // time of the last frame that wrote it; -1 never
};

// Why the data counts as stale.
enum class Staleness
{
    Fresh,         // a frame within kStaleAfter and the counter moving
    NoFrame,       // no frame for kStaleAfter or longer (or none yet)
    CounterFrozen, // frames arrive but the counter has not moved for kStaleAfter
};

struct HealthFigures
{
    double now = 0.0;
    double since = 0.0; // the start of the totals
    double datagramsPerSecond = 0.0;
    double framesPerSecond = 0.0;
    StreamCounts lastSecond;
    StreamCounts total;

    bool haveFrame = false;
    uint32_t frameCounter = 0; // of the last frame
    double dataAge = -1.0;     // seconds since the last frame; -1 none yet
    Staleness staleness = Staleness::NoFrame;
    bool stale() const { return staleness != Staleness::Fresh; }

    Endpoint sender;      // of the last datagram
    Endpoint otherSender; // another sender heard within the last second
    bool twoSenders() const { return otherSender.known(); }
    uint64_t senderChanges = 0; // since the start

    // Indexed by Skywand (F1 is 0); as many as the last frame counted.
    std::vector<SkywandHealth> skywands;
};

// Not thread-safe: feed it and read it on one thread, or lock around both.
class StreamHealth
{
public:
    static constexpr double kWindow = 1.0;     // seconds of the rates
    static constexpr double kStaleAfter = 0.5; // seconds without a frame or a new counter
    static constexpr int kBuckets = 100;       // of 10 ms each across kWindow

    // start: the caller's time when watching began, in seconds on any steady
    // clock; every later time is on the same clock.
    explicit StreamHealth(double start = 0.0);

    // One receive outcome as the decoder left it: outcome and frame from
    // decodeDatagram (or a timeout or socket failure), sender the datagram's
    // when one was read. The one way a receive loop feeds the health.
    void recordReceive(double now, ErrorState outcome, const FrameData& frame,
                       const Endpoint& sender);

    void recordFrame(double now, const FrameEvent& frame);
    void recordParseError(double now, const Endpoint& sender);
    void recordTimeout(double now);
    void recordNetError(double now);

    // The figures as they stand at now (normally the time of the last event
    // or later). Cheap enough to call for every repaint.
    HealthFigures figures(double now) const;

private:
    struct Bucket
    {
        int64_t slot = -1; // which 10 ms of the clock this bucket holds
        StreamCounts counts;
    };

    // Moves the clock on to now (never back) and returns now as used.
    double advance(double now);
    // Adds one event's counts to the current bucket and to the totals.
    void commit(double now, const StreamCounts& delta);
    void noteSender(double now, const Endpoint& from);
    void trackCounter(double now, uint32_t counter, StreamCounts& delta);
    void trackSkywands(double now, const FrameEvent& frame);

    double start = 0.0;
    double latest = 0.0;
    std::array<Bucket, kBuckets> buckets{};
    StreamCounts total;

    bool haveFrame = false;
    double lastFrameTime = 0.0;
    bool haveCounter = false;
    uint32_t lastCounter = 0;
    double counterChangeTime = 0.0;
    double lastCounterFrameTime = 0.0;

    Endpoint sender;
    Endpoint otherSender;
    double otherSenderTime = 0.0;
    uint64_t senderChanges = 0;

    std::vector<SkywandHealth> skywands;
    std::vector<float> qualityScratch; // recordReceive's, kept to spare an allocation
};
