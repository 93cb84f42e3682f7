#include "framedecoder.h"

#include "textreaders.h"

#include <cstring>
#include <new>

// The failure path stays out of the decoding loops' way.
#if defined(__GNUC__)
#define SKYWAND_COLD __attribute__((cold, noinline))
#else
#define SKYWAND_COLD
#endif

namespace {

using namespace FrameLimits;

template <typename Record> void resetRecord(Record& record, int32_t index)
{
    record = Record{};
    record.id = index;
    record.quality = -1.0f;
}

// Makes records [from, to) reset, growing the array when it is shorter.
template <typename Record> void growAndReset(std::vector<Record>& records, int32_t from, int32_t to)
{
    if (records.size() < static_cast<size_t>(to))
        records.resize(static_cast<size_t>(to));
    for (int32_t i = from; i < to; ++i)
        resetRecord(records[static_cast<size_t>(i)], i);
}

// Resets the records listed in written that lie below count. With every
// unlisted record below count already reset, this leaves all of them reset,
// as resetting the whole range would, at the cost of the list alone.
template <typename Record>
void resetWritten(std::vector<Record>& records, std::vector<int32_t>& written, int32_t count)
{
    for (const int32_t i : written) {
        if (i < count)
            resetRecord(records[static_cast<size_t>(i)], i);
    }
    written.clear();
}

// Sets a position-indexed array to exactly count valid records; records that
// become valid start all zero.
template <typename Record>
void resizeZeroed(std::vector<Record>& records, int32_t& current, int32_t count)
{
    if (count == current)
        return;
    if (records.size() < static_cast<size_t>(count))
        records.resize(static_cast<size_t>(count));
    for (int32_t i = current; i < count; ++i)
        records[static_cast<size_t>(i)] = Record{};
    current = count;
}

class Decoder
{
public:
    Decoder(FrameData& frame, const char* begin, const char* end) : f(frame), begin(begin), end(end)
    {
    }

    bool decode();

private:
    // Notes why the item at position at failed; returns nullptr for the
    // caller to pass on. Only the failure path comes here.
    SKYWAND_COLD const char* fail(const char* at, DecodeFault fault, int64_t value = 0,
                                  int64_t limit = 0)
    {
        f.failure.fault = fault;
        f.failure.offset = static_cast<uint32_t>(at - begin);
        f.failure.value = value;
        f.failure.limit = limit;
        return nullptr;
    }
    SKYWAND_COLD const char* failBlock(const char* at, const char* types)
    {
        fail(at, DecodeFault::BlockUnreadable);
        // Copied: the joystick block's letters live on the stack.
        std::strncpy(f.failure.blockTypes, types, sizeof f.failure.blockTypes - 1);
        return nullptr;
    }
    const char* block(const char* p, const char* types, int32_t* ints, float* floats)
    {
        const char* q = readBlock(p, end, types, ints, floats);
        return q ? q : failBlock(p, types);
    }
    const char* pose(const char* p, float* location, float* rotation)
    {
        p = block(p, "fff", nullptr, location);
        return p ? block(p, "fffffffff", nullptr, rotation) : nullptr;
    }
    const char* count(const char* p, int32_t limit, int32_t& value,
                      DecodeFault above = DecodeFault::CountAboveLimit);
    const char* calibratedCount(const char* p, int32_t limit, int32_t& value);
    const char* line(const char* p);
    const char* bodies(const char* p);
    const char* skywandsOneCount(const char* p);
    const char* skywandsTwoCount(const char* p);
    const char* measurementTools(const char* p);
    const char* hands(const char* p);
    const char* markers(const char* p);
    void endOfFrame();
    void markSkywandInFrame(int32_t index)
    {
        if (index >= f.skywandsInFrame)
            f.skywandsInFrame = index + 1;
    }

    FrameData& f;
    const char* begin;
    const char* end;
    int32_t calibratedBodies = -1;
    int32_t calibratedHands = -1;
    int32_t oneCountSkywands = 0;
    int32_t toolCount = 0;
};

bool startsWith(const char* p, const char* end, const char* prefix, size_t length)
{
    return static_cast<size_t>(end - p) >= length && std::memcmp(p, prefix, length) == 0;
}

#define PREFIX(s) s, sizeof(s) - 1

// A count read as an integer and checked against its limit.
const char* Decoder::count(const char* p, int32_t limit, int32_t& value, DecodeFault above)
{
    int32_t v = 0;
    const char* q = readInt(p, end, v);
    if (!q)
        return fail(p, DecodeFault::NumberMissing);
    if (v < 0)
        return fail(p, DecodeFault::CountNegative, v);
    if (v > limit)
        return fail(p, above, v, limit);
    value = v;
    return q;
}

// A calibrated count: like any count, except that a value below zero means
// the count is absent, as the working value -1 does before any such line.
const char* Decoder::calibratedCount(const char* p, int32_t limit, int32_t& value)
{
    int32_t v = 0;
    const char* q = readInt(p, end, v);
    if (!q)
        return fail(p, DecodeFault::NumberMissing);
    if (v > limit)
        return fail(p, DecodeFault::CountAboveLimit, v, limit);
    value = v < 0 ? -1 : v;
    return q;
}

// Returns where processing of the line stopped, or nullptr when it failed.
const char* Decoder::line(const char* p)
{
    if (startsWith(p, end, PREFIX("fr "))) {
        const char* q = readUnsigned(p + 3, end, f.frameCounter);
        if (!q) {
            f.frameCounter = 0;
            return fail(p + 3, DecodeFault::NumberMissing);
        }
        f.frameCounterRead = true;
        return q;
    }
    if (startsWith(p, end, PREFIX("ts "))) {
        const char* q = readDouble(p + 3, end, f.timestamp);
        if (!q) {
            f.timestamp = -1.0;
            return fail(p + 3, DecodeFault::NumberMissing);
        }
        return q;
    }
    if (startsWith(p, end, PREFIX("6dcal ")))
        return calibratedCount(p + 6, kMaxBodies, calibratedBodies);
    if (startsWith(p, end, PREFIX("6d ")))
        return bodies(p + 3);
    if (startsWith(p, end, PREFIX("6df ")))
        return skywandsOneCount(p + 4);
    if (startsWith(p, end, PREFIX("6df2 ")))
        return skywandsTwoCount(p + 5);
    if (startsWith(p, end, PREFIX("6dmt ")))
        return measurementTools(p + 5);
    if (startsWith(p, end, PREFIX("glcal ")))
        return calibratedCount(p + 6, kMaxHands, calibratedHands);
    if (startsWith(p, end, PREFIX("gl ")))
        return hands(p + 3);
    if (startsWith(p, end, PREFIX("3d ")))
        return markers(p + 3);
    return p; // an unknown line is skipped
}

const char* Decoder::bodies(const char* p)
{
    resetWritten(f.bodies, f.writtenBodies, f.numBody);
    int32_t n = 0;
    p = count(p, kMaxBodies, n);
    for (int32_t i = 0; p && i < n; ++i) {
        int32_t id = 0;
        float quality = 0.0f;
        const char* at = p;
        p = block(p, "if", &id, &quality);
        if (!p)
            return nullptr;
        if (id < 0 || id >= kMaxBodies)
            return fail(at, DecodeFault::IdOutOfRange, id, kMaxBodies - 1);
        if (id >= f.numBody) {
            growAndReset(f.bodies, f.numBody, id + 1);
            f.numBody = id + 1;
        }
        // Listed before it is written, so that a failed allocation leaves no
        // written record off the list.
        f.writtenBodies.push_back(id);
        BodyRecord& b = f.bodies[static_cast<size_t>(id)];
        b.id = id;
        b.quality = quality;
        p = pose(p, b.location, b.rotation);
    }
    return p;
}

const char* Decoder::skywandsOneCount(const char* p)
{
    int32_t n = 0;
    p = count(p, kMaxSkywands, n);
    if (!p)
        return nullptr;
    oneCountSkywands = n;
    resizeZeroed(f.skywands, f.numSkywand, n);
    for (int32_t i = 0; p && i < n; ++i) {
        int32_t ints[2] = {};
        float quality = 0.0f;
        const char* at = p;
        p = block(p, "ifi", ints, &quality);
        if (!p)
            return nullptr;
        if (ints[0] != i)
            return fail(at, DecodeFault::IdOutOfOrder, ints[0], i);
        SkywandRecord& s = f.skywands[static_cast<size_t>(i)];
        markSkywandInFrame(i);
        const int32_t bits = ints[1];
        s.id = ints[0];
        s.quality = quality;
        s.numButton = 8;
        for (int j = 0; j < 8; ++j)
            s.button[j] = (bits >> j) & 1;
        s.numJoystick = 2;
        s.joystickValue[0] = (bits & 32) ? -1.0f : (bits & 128) ? 1.0f : 0.0f;
        s.joystickValue[1] = (bits & 16) ? -1.0f : (bits & 64) ? 1.0f : 0.0f;
        p = pose(p, s.location, s.rotation);
    }
    return p;
}

const char* Decoder::skywandsTwoCount(const char* p)
{
    int32_t m = 0;
    p = count(p, kMaxSkywands, m);
    if (!p)
        return nullptr;
    resizeZeroed(f.skywands, f.numSkywand, m);
    int32_t n = 0;
    p = count(p, m, n, DecodeFault::CountAboveSkywands);
    for (int32_t i = 0; p && i < n; ++i) {
        int32_t ints[3] = {};
        float quality = 0.0f;
        const char* at = p;
        p = block(p, "ifii", ints, &quality);
        if (!p)
            return nullptr;
        if (ints[0] != i)
            return fail(at, DecodeFault::IdOutOfOrder, ints[0], i);
        const int32_t buttons = ints[1];
        const int32_t joysticks = ints[2];
        if (buttons < 0 || buttons > kMaxSkywandButtons)
            return fail(at, DecodeFault::ButtonsOutOfRange, buttons, kMaxSkywandButtons);
        if (joysticks < 0 || joysticks > kMaxSkywandJoystick)
            return fail(at, DecodeFault::JoysticksOutOfRange, joysticks, kMaxSkywandJoystick);
        SkywandRecord& s = f.skywands[static_cast<size_t>(i)];
        markSkywandInFrame(i);
        s.id = i;
        s.quality = quality;
        s.numButton = buttons;
        s.numJoystick = joysticks;
        p = pose(p, s.location, s.rotation);
        if (!p)
            return nullptr;
        // One button word for every started group of 32 buttons, then the
        // joystick values.
        char types[2 + kMaxSkywandJoystick] = {};
        int t = 0;
        if (buttons > 0)
            types[t++] = 'i';
        for (int32_t j = 0; j < joysticks; ++j)
            types[t++] = 'f';
        int32_t word = 0;
        p = block(p, types, &word, s.joystickValue);
        if (!p)
            return nullptr;
        for (int32_t j = 0; j < buttons; ++j)
            s.button[j] = static_cast<int32_t>((static_cast<uint32_t>(word) >> j) & 1u);
    }
    return p;
}

const char* Decoder::measurementTools(const char* p)
{
    int32_t n = 0;
    p = count(p, kMaxMeasurementTools, n);
    if (!p)
        return nullptr;
    toolCount = n;
    resizeZeroed(f.measurementTools, f.numMeasurementTool, n);
    for (int32_t i = 0; p && i < n; ++i) {
        int32_t ints[2] = {};
        float quality = 0.0f;
        const char* at = p;
        p = block(p, "ifi", ints, &quality);
        if (!p)
            return nullptr;
        if (ints[0] != i)
            return fail(at, DecodeFault::IdOutOfOrder, ints[0], i);
        MeasurementToolRecord& t = f.measurementTools[static_cast<size_t>(i)];
        t.id = i;
        t.quality = quality;
        t.numButton = 1;
        t.button[0] = ints[1] & 1;
        p = pose(p, t.location, t.rotation);
    }
    return p;
}

const char* Decoder::hands(const char* p)
{
    resetWritten(f.hands, f.writtenHands, f.numHand);
    int32_t n = 0;
    p = count(p, kMaxHands, n);
    for (int32_t i = 0; p && i < n; ++i) {
        int32_t ints[3] = {};
        float quality = 0.0f;
        const char* at = p;
        p = block(p, "ifii", ints, &quality);
        if (!p)
            return nullptr;
        const int32_t id = ints[0];
        if (id < 0 || id >= kMaxHands)
            return fail(at, DecodeFault::IdOutOfRange, id, kMaxHands - 1);
        if (id >= f.numHand) {
            growAndReset(f.hands, f.numHand, id + 1);
            f.numHand = id + 1;
        }
        f.writtenHands.push_back(id);
        HandRecord& h = f.hands[static_cast<size_t>(id)];
        h.id = id;
        h.handType = ints[1];
        h.quality = quality;
        const int32_t fingers = ints[2];
        if (fingers < 0 || fingers > kMaxFingers)
            return fail(at, DecodeFault::FingersOutOfRange, fingers, kMaxFingers);
        h.numFinger = fingers;
        p = pose(p, h.location, h.rotation);
        for (int32_t j = 0; p && j < fingers; ++j) {
            FingerRecord& finger = h.finger[j];
            p = pose(p, finger.location, finger.rotation);
            float v[6] = {};
            p = p ? block(p, "ffffff", nullptr, v) : nullptr;
            if (!p)
                return nullptr;
            const float shape[6] = {v[0], v[1], v[3], v[5], v[2], v[4]};
            std::memcpy(finger.shape, shape, sizeof shape);
        }
    }
    return p;
}

const char* Decoder::markers(const char* p)
{
    int32_t n = 0;
    const char* q = count(p, kMaxMarkers, n);
    if (!q) {
        f.numMarker = 0;
        return nullptr;
    }
    p = q;
    f.numMarker = n;
    if (f.markers.size() < static_cast<size_t>(n))
        f.markers.resize(static_cast<size_t>(n));
    for (int32_t i = 0; p && i < n; ++i) {
        MarkerRecord& m = f.markers[static_cast<size_t>(i)];
        p = block(p, "if", &m.id, &m.quality);
        p = p ? block(p, "fff", nullptr, m.location) : nullptr;
    }
    return p;
}

void Decoder::endOfFrame()
{
    if (calibratedBodies >= 0) {
        // More one-count Skywands and tools than calibrated bodies would make
        // the count negative; no bodies is the meaningful answer then.
        int32_t c = calibratedBodies - oneCountSkywands - toolCount;
        if (c < 0)
            c = 0;
        if (c > f.numBody)
            growAndReset(f.bodies, f.numBody, c);
        f.numBody = c;
    }
    if (calibratedHands >= 0) {
        if (calibratedHands > f.numHand)
            growAndReset(f.hands, f.numHand, calibratedHands);
        f.numHand = calibratedHands;
    }
}

bool Decoder::decode()
{
    const char* p = begin;
    f.skywandsInFrame = 0;
    // A known line always reads past its type; an unknown one is skipped
    // where it starts. Only lines that fail are known without that test.
    bool known = false;
    while (p) {
        const char* q = line(p);
        if (!q) {
            f.controllerLines = true;
            return false;
        }
        known = known || q != p;
        p = nextLine(q, end);
    }
    f.controllerLines = known;
    endOfFrame();
    return true;
}

} // namespace

bool decodeFrame(FrameData& frame, const char* text, size_t length) noexcept
{
    // The datagram ends at its first NUL byte, wherever that stands.
    const void* nul = std::memchr(text, '\0', length);
    const char* end = nul ? static_cast<const char*>(nul) : text + length;
    frame.failure.fault = DecodeFault::None;
    try {
        return Decoder(frame, text, end).decode();
    } catch (const std::bad_alloc&) {
        frame.failure.fault = DecodeFault::NoMemory;
        frame.failure.offset = 0;
        frame.controllerLines = true;
        return false;
    }
}

ErrorState decodeDatagram(FrameData& frame, const char* data, size_t length,
                          int32_t bufferSize) noexcept
{
    if (length == 0 || bufferSize < 2 || length >= size_t(bufferSize) - 1)
        return ErrorState::NetError;
    return decodeFrame(frame, data, length) ? ErrorState::NoError : ErrorState::ParseError;
}
