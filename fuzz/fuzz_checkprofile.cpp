// A lab's check profile from any bytes, as CheckProfile::load reads a file's
// text. Beyond crashes it checks that a refused profile keeps every default
// and says why, that an accepted one holds finite limits in their ranges, and
// that the limits a report repeats read back to the same profile.

#include "checkprofile.h"
#include "profilejson.h"

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

bool sameLimits(const CheckProfile& a, const CheckProfile& b)
{
    return a.maxOffset == b.maxOffset && a.maxNoise == b.maxNoise &&
           a.minCoverage == b.minCoverage && a.maxCircularityError == b.maxCircularityError &&
           a.minReach == b.minReach && a.minTrackedShare == b.minTrackedShare &&
           a.maxDroppedShare == b.maxDroppedShare && a.maxPositionSigmaMm == b.maxPositionSigmaMm &&
           a.maxRotationJitterDeg == b.maxRotationJitterDeg &&
           a.maxUnpromptedPresses == b.maxUnpromptedPresses;
}

bool within(double v, double max)
{
    return std::isfinite(v) && v >= 0.0 && v <= max;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::string text(reinterpret_cast<const char*>(data), size);
    CheckProfile profile;
    std::string error;
    if (!profile.parse(text, error)) {
        if (error.empty() || !sameLimits(profile, CheckProfile()))
            std::abort();
        return 0;
    }
    if (!error.empty())
        std::abort();
    const double any = HUGE_VAL;
    if (!within(profile.maxOffset, any) || !within(profile.maxNoise, any) ||
        !within(profile.minCoverage, 1.0) || !within(profile.maxCircularityError, any) ||
        !within(profile.minReach, any) || !within(profile.minTrackedShare, 1.0) ||
        !within(profile.maxDroppedShare, 1.0) || !within(profile.maxPositionSigmaMm, any) ||
        !within(profile.maxRotationJitterDeg, any) || profile.maxUnpromptedPresses < 0)
        std::abort();
    CheckProfile again;
    if (!again.parse(profileJson(profile).dump(), error) || !sameLimits(again, profile))
        std::abort();
    return 0;
}
