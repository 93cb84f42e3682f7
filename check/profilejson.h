#pragma once

// Internal to the check library: the profile's keys, and the profile as the
// report writes it.

#include "checkprofile.h"

#include <nlohmann/json.hpp>

#include <cmath>

struct RealLimit
{
    const char* key;
    double CheckProfile::*member;
    double max; // every limit is 0 or more
};

// Shares cannot exceed 1; the other limits only need to be finite.
inline constexpr RealLimit kRealLimits[] = {
    {"maxOffset", &CheckProfile::maxOffset, HUGE_VAL},
    {"maxNoise", &CheckProfile::maxNoise, HUGE_VAL},
    {"minCoverage", &CheckProfile::minCoverage, 1.0},
    {"maxCircularityError", &CheckProfile::maxCircularityError, HUGE_VAL},
    {"minReach", &CheckProfile::minReach, HUGE_VAL},
    {"minTrackedShare", &CheckProfile::minTrackedShare, 1.0},
    {"maxDroppedShare", &CheckProfile::maxDroppedShare, 1.0},
    {"maxPositionSigmaMm", &CheckProfile::maxPositionSigmaMm, HUGE_VAL},
    {"maxRotationJitterDeg", &CheckProfile::maxRotationJitterDeg, HUGE_VAL},
};
inline constexpr const char* kUnpromptedKey = "maxUnpromptedPresses";

nlohmann::ordered_json profileJson(const CheckProfile& profile);
