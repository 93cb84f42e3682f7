#pragma once

// Internal to the SDK and its own tools: the frame data and the one decode
// function that TrackingSdk::receive, the offline decoder of kestrel-dump,
// the benchmarks and the fuzzers all share.

#include "errorstate.h"
#include "framerecords.h"
#include "parsefailure.h"

#include <cstddef>
#include <cstdint>
#include <vector>

// What made a datagram fail, as the decoder notes it: a few stores on the
// failure path and nothing on the success path. describeDecodeFailure puts
// it into words when someone asks.
enum class DecodeFault : uint8_t
{
    None,                // the datagram decoded, or was never decoded
    NumberMissing,       // no number where the line needs one
    CountNegative,       // a count below zero (value)
    CountAboveLimit,     // a count above its limit (value, limit)
    CountAboveSkywands,  // a "6df2" record count above its Skywand count (value, limit)
    IdOutOfRange,        // an id below zero or above its highest (value, limit)
    IdOutOfOrder,        // an id other than its position (value, limit: the expected one)
    ButtonsOutOfRange,   // a button count below zero or above its limit (value, limit)
    JoysticksOutOfRange, // a joystick value count below zero or above its limit
    FingersOutOfRange,   // a finger count below zero or above its limit
    BlockUnreadable,     // the block of blockTypes searched for from offset could not be read
    NoMemory,            // the records could not grow
};

struct DecodeFailure
{
    DecodeFault fault = DecodeFault::None;
    uint32_t offset = 0;      // where the failing item starts, from the first byte
    char blockTypes[16] = {}; // BlockUnreadable: the block's type letters
    int64_t value = 0;
    int64_t limit = 0;
};

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

    // The last decoded datagram held at least one line of a known type. The
    // decoder skips unknown lines, so random bytes or another program's text
    // decode as an empty frame; this tells them apart.
    bool controllerLines = false;
    // The last decoded datagram held a frame counter line; a frame without
    // one cannot be placed in its stream.
    bool frameCounterRead = false;
    // Why the last datagram failed to decode; fault None when it did not.
    DecodeFailure failure;

    // What every receive does before it waits: the header values and the
    // failure of the last frame no longer hold.
    void beginFrame()
    {
        frameCounter = 0;
        timestamp = -1.0;
        controllerLines = false;
        frameCounterRead = false;
        failure.fault = DecodeFault::None;
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

// The failure that decodeFrame noted for the same text and length, in words:
// the line and column of the failing item, the line's text and the reason.
// Line 0 when failure holds no fault. Never reads outside the text.
ParseFailure describeDecodeFailure(const DecodeFailure& failure, const char* text, size_t length);
