#include "referencedecoder.h"

#include <cstdlib>
#include <cstring>

namespace {

// Moves past the next "[" and returns the position after it.
const char* open(const char* p)
{
    p = std::strchr(p, '[');
    return p ? p + 1 : nullptr;
}

const char* floats(const char* p, float* out, int count)
{
    if (!(p = open(p)))
        return nullptr;
    char* q = nullptr;
    for (int i = 0; i < count; ++i) {
        out[i] = static_cast<float>(std::strtod(p, &q));
        p = q;
    }
    return p;
}

template <typename Record> void grow(std::vector<Record>& records, int32_t count)
{
    if (records.size() < static_cast<size_t>(count))
        records.resize(static_cast<size_t>(count));
}

} // namespace

bool referenceDecode(FrameData& f, const char* text)
{
    const char* p = text;
    char* q = nullptr;
    while (p && *p) {
        if (std::strncmp(p, "fr ", 3) == 0) {
            f.frameCounter = static_cast<uint32_t>(std::strtoul(p + 3, &q, 0));
        } else if (std::strncmp(p, "ts ", 3) == 0) {
            f.timestamp = std::strtod(p + 3, &q);
        } else if (std::strncmp(p, "6d ", 3) == 0) {
            const auto n = static_cast<int32_t>(std::strtol(p + 3, &q, 0));
            p = q;
            for (int32_t i = 0; i < n && p; ++i) {
                p = open(p);
                const auto id = static_cast<int32_t>(std::strtol(p, &q, 0));
                grow(f.bodies, id + 1);
                BodyRecord& b = f.bodies[static_cast<size_t>(id)];
                b.id = id;
                b.quality = static_cast<float>(std::strtod(q, &q));
                p = floats(q, b.location, 3);
                p = p ? floats(p, b.rotation, 9) : nullptr;
                if (id >= f.numBody)
                    f.numBody = id + 1;
            }
        } else if (std::strncmp(p, "6df2 ", 5) == 0) {
            f.numSkywand = static_cast<int32_t>(std::strtol(p + 5, &q, 0));
            const auto n = static_cast<int32_t>(std::strtol(q, &q, 0));
            grow(f.skywands, f.numSkywand);
            p = q;
            for (int32_t i = 0; i < n && p; ++i) {
                SkywandRecord& s = f.skywands[static_cast<size_t>(i)];
                p = open(p);
                s.id = static_cast<int32_t>(std::strtol(p, &q, 0));
                s.quality = static_cast<float>(std::strtod(q, &q));
                s.numButton = static_cast<int32_t>(std::strtol(q, &q, 0));
                s.numJoystick = static_cast<int32_t>(std::strtol(q, &q, 0));
                p = floats(q, s.location, 3);
                p = p ? floats(p, s.rotation, 9) : nullptr;
                p = p ? open(p) : nullptr;
                if (!p)
                    break;
                const auto word = static_cast<uint32_t>(std::strtol(p, &q, 0));
                for (int32_t j = 0; j < s.numButton; ++j)
                    s.button[j] = static_cast<int32_t>((word >> j) & 1u);
                for (int32_t j = 0; j < s.numJoystick; ++j)
                    s.joystickValue[j] = static_cast<float>(std::strtod(q, &q));
                p = q;
            }
        } else if (std::strncmp(p, "3d ", 3) == 0) {
            f.numMarker = static_cast<int32_t>(std::strtol(p + 3, &q, 0));
            grow(f.markers, f.numMarker);
            p = q;
            for (int32_t i = 0; i < f.numMarker && p; ++i) {
                MarkerRecord& m = f.markers[static_cast<size_t>(i)];
                p = open(p);
                m.id = static_cast<int32_t>(std::strtol(p, &q, 0));
                m.quality = static_cast<float>(std::strtod(q, &q));
                p = floats(q, m.location, 3);
            }
        }
        if (!p)
            return false;
        p = std::strchr(p, '\n');
        p = p ? p + 1 : nullptr;
    }
    return true;
}
