#pragma once

// Every figure the check reports, with its one name: the key of the JSON
// report, the item of a failure and the row of the printed report.

#include "checkprofile.h"
#include "checkstep.h"

#include <cstddef>

struct CheckResult;

// In the order the report lists them, step by step.
enum class CheckItem
{
    CentreX,
    CentreY,
    Offset,
    NoiseX,
    NoiseY,
    Coverage,
    CircularityError,
    CircularityErrorQuadrant1,
    CircularityErrorQuadrant2,
    CircularityErrorQuadrant3,
    CircularityErrorQuadrant4,
    ReachPlusX,
    ReachMinusX,
    ReachPlusY,
    ReachMinusY,
    Frames,
    DroppedFrames,
    LateFrames,
    TrackedShare,
    QualityMin,
    QualityMean,
    PositionSigmaMm,
    PositionJitterMm,
    RotationJitterDeg,
    LargestJumpMm,
};
constexpr size_t kCheckItemCount = size_t(CheckItem::LargestJumpMm) + 1;

// Which side of its limit a figure must stay on; None for a figure that is
// only reported.
enum class LimitSide
{
    None,
    AtMost,
    AtLeast
};

struct CheckItemInfo
{
    CheckItem item;
    CheckStep step;
    // The failure's item: "offset", "reach +x".
    const char* name;
    // Its key in the step's JSON object, or in its group's: "offset", "+x";
    // empty for a place in a group's array.
    const char* key;
    // The JSON object or array of the step the figure sits in ("reach",
    // "circularityErrorQuadrant"), or null.
    const char* group;
    // The row of the printed report; null for a figure it leaves out.
    const char* label;
    LimitSide side;
    // The profile's limit; null where the limit is worked out from the
    // check (the frames dropped, per frame received).
    double CheckProfile::*limit;
    bool whole; // a count, written without a fraction
    double (*value)(const CheckResult& result);
};

const CheckItemInfo& checkItemInfo(CheckItem item);
inline const char* checkItemName(CheckItem item)
{
    return checkItemInfo(item).name;
}
