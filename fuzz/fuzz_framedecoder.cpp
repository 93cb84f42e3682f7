// Feeds a sequence of datagrams into one FrameData, the way receive() does
// frame after frame, so that records and counts carried over from earlier
// datagrams are fuzzed together with the current one. The input is split on
// the byte 0xFF into datagrams.

#include "framedecoder.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

namespace {

constexpr uint8_t kSeparator = 0xFF;

void checkInvariants(const FrameData& f)
{
    using namespace FrameLimits;
    const bool ok =
        f.numBody >= 0 && f.numBody <= kMaxBodies && f.numSkywand >= 0 &&
        f.numSkywand <= kMaxSkywands && static_cast<size_t>(f.numSkywand) <= f.skywands.size() &&
        f.numMeasurementTool >= 0 && f.numMeasurementTool <= kMaxMeasurementTools &&
        static_cast<size_t>(f.numMeasurementTool) <= f.measurementTools.size() && f.numHand >= 0 &&
        f.numHand <= kMaxHands && f.numMarker >= 0 && f.numMarker <= kMaxMarkers &&
        static_cast<size_t>(f.numMarker) <= f.markers.size();
    if (!ok)
        std::abort();
    for (int32_t i = 0; i < f.numSkywand; ++i) {
        const SkywandRecord& s = f.skywands[static_cast<size_t>(i)];
        if (s.numButton < 0 || s.numButton > kMaxSkywandButtons || s.numJoystick < 0 ||
            s.numJoystick > kMaxSkywandJoystick)
            std::abort();
    }
    for (const HandRecord& h : f.hands)
        if (h.numFinger < 0 || h.numFinger > kMaxFingers)
            std::abort();
}

// The next "6d " or "gl " line resets only the listed records, so every
// record below the count that is off the list must be a reset one already.
template <typename Record>
void checkUnlistedAreReset(const std::vector<Record>& records, int32_t count,
                           const std::vector<int32_t>& written)
{
    if (static_cast<size_t>(count) > records.size())
        std::abort();
    std::vector<bool> listed(static_cast<size_t>(count));
    for (const int32_t i : written)
        if (i >= 0 && i < count)
            listed[static_cast<size_t>(i)] = true;
    for (int32_t i = 0; i < count; ++i) {
        Record reset{};
        reset.id = i;
        reset.quality = -1.0f;
        if (!listed[static_cast<size_t>(i)] &&
            std::memcmp(&records[static_cast<size_t>(i)], &reset, sizeof reset) != 0)
            std::abort();
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    FrameData frame;
    size_t start = 0;
    while (start <= size) {
        const void* found = std::memchr(data + start, kSeparator, size - start);
        const size_t stop =
            found ? static_cast<size_t>(static_cast<const uint8_t*>(found) - data) : size;
        const size_t length = stop - start;
        // An exactly sized copy, so that any read past the datagram is caught.
        std::unique_ptr<char[]> datagram(new char[length ? length : 1]);
        if (length)
            std::memcpy(datagram.get(), data + start, length);
        frame.beginFrame();
        decodeFrame(frame, datagram.get(), length);
        checkInvariants(frame);
        start = stop + 1;
    }
    // Once per input rather than per datagram: it costs the whole count, and
    // a record left off the list stays wrong until a line resets it.
    checkUnlistedAreReset(frame.bodies, frame.numBody, frame.writtenBodies);
    checkUnlistedAreReset(frame.hands, frame.numHand, frame.writtenHands);
    return 0;
}
