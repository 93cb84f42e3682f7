#pragma once

// Internal to the SDK and its own tools: the frame data and the one decode
// function that TrackingSdk::receive, the offline decoder of kestrel-dump,
// the benchmarks and the fuzzers all share.

#include "errorstate.h"
#include "framerecords.h"

#include <cstddef>
#include <cstdint>
#include <vector>

struct FrameData
{
    uint32_t frameCounter = 0;
    double timestamp = -1.0;
    int32_t numBody = 0;
    std::vector<BodyRecord> bodies;
    int32_t numSkywand = 0;
    std::vector<SkywandRecord> skywands;
    // The last decoded datagram wrote the Skywand records 0 .. this - 1; the
    // ones above keep what earlier frames left.
    int32_t skywandsInFrame = 0;
    int32_t numMeasurementTool = 0;
    std::vector<MeasurementToolRecord> measurementTools;
    int32_t numHand = 0;
    std::vector<HandRecord> hands;
    int32_t numMarker = 0;
    std::vector<MarkerRecord> markers;

    // Ids of the bodies and hands written since the last "6d " or "gl " line
    // reset them; every other record below its count is a reset record. The
    // next such line resets only these, so that its cost follows what the
    // datagrams wrote, not how many records earlier frames left behind.
    // Whoever writes a record other than through decodeFrame adds its id.
    std::vector<int32_t> writtenBodies;
    std::vector<int32_t> writtenHands;

    // What every receive does before it waits: the header values of the last
    // frame no longer hold.
    void beginFrame()
    {
        frameCounter = 0;
        timestamp = -1.0;
    }
};

// Decodes one datagram of length bytes into frame, line by line, then applies
// the end-of-frame count adjustments. Records and counts of line types the
// datagram lacks carry over unchanged. Returns false at the first failing
// line; what earlier lines wrote stays written. A NUL byte ends the datagram.
// Never reads outside [text, text + length), never modifies the text, never
// allocates beyond the limits of FrameLimits, never throws.
bool decodeFrame(FrameData& frame, const char* text, size_t length) noexcept;

// What a receive with a buffer of bufferSize bytes makes of a datagram of
// length bytes: NetError when it is empty or leaves no room for its
// terminating NUL (the socket is offered bufferSize - 1 bytes, and a datagram
// that fills them did not fit), otherwise decodeFrame's result as NoError or
// ParseError. The caller has called frame.beginFrame(), as a receive does
// before it waits.
ErrorState decodeDatagram(FrameData& frame, const char* data, size_t length,
                          int32_t bufferSize) noexcept;
