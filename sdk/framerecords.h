#pragma once

#include <cstdint>

// Plain value records decoded from one tracking frame. quality -1.0 marks a
// record for which the frame carried no data, and the default record that an
// accessor returns for an index out of range.

struct BodyRecord
{
    int32_t id = 0;
    float quality = 0.0f;
    float location[3] = {};
    float rotation[9] = {};
};

struct SkywandRecord
{
    int32_t id = 0;
    float quality = 0.0f;
    int32_t numButton = 0;
    int32_t button[16] = {}; // 1 pressed, 0 released
    int32_t numJoystick = 0;
    float joystickValue[8] = {}; // [0] horizontal (X), [1] vertical (Y)
    float location[3] = {};
    float rotation[9] = {};
};

struct MeasurementToolRecord
{
    int32_t id = 0;
    float quality = 0.0f;
    int32_t numButton = 0;
    int32_t button[1] = {};
    float location[3] = {};
    float rotation[9] = {};
};

struct FingerRecord
{
    float location[3] = {};
    float rotation[9] = {};
    // The six values of the finger's third block in the order 1st, 2nd, 4th,
    // 6th, 3rd, 5th of the values as sent.
    float shape[6] = {};
};

struct HandRecord
{
    int32_t id = 0;
    float quality = 0.0f;
    int32_t handType = 0;
    int32_t numFinger = 0;
    float location[3] = {};
    float rotation[9] = {};
    FingerRecord finger[5] = {};
};

struct MarkerRecord
{
    int32_t id = 0; // as sent; not related to the index
    float quality = 0.0f;
    float location[3] = {};
};

// Upper bounds on every count and id a frame may announce. A line that
// exceeds one fails as a parse error, so no datagram can make the decoder
// allocate more than about 3 MiB of records in all.
namespace FrameLimits {
constexpr int32_t kMaxBodies = 10000;          // ids 0..9999, 56 bytes each
constexpr int32_t kMaxSkywands = 1000;         // 160 bytes each
constexpr int32_t kMaxMeasurementTools = 1000; // 64 bytes each
constexpr int32_t kMaxHands = 1000;            // 424 bytes each
constexpr int32_t kMaxMarkers = 100000;        // 20 bytes each
constexpr int32_t kMaxSkywandButtons = 16;
constexpr int32_t kMaxSkywandJoystick = 8;
constexpr int32_t kMaxFingers = 5;
} // namespace FrameLimits
