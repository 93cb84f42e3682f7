#include "checkitem.h"

#include "checkresult.h"

namespace {

using P = CheckProfile;
using R = const CheckResult&;

// In the order of CheckItem.
constexpr CheckItemInfo kItems[] = {
    {CheckItem::CentreX, CheckStep::Rest, "centreX", "centreX", nullptr, "centreX", LimitSide::None,
     nullptr, false, [](R r) { return r.rest.centreX; }},
    {CheckItem::CentreY, CheckStep::Rest, "centreY", "centreY", nullptr, "centreY", LimitSide::None,
     nullptr, false, [](R r) { return r.rest.centreY; }},
    {CheckItem::Offset, CheckStep::Rest, "offset", "offset", nullptr, "offset", LimitSide::AtMost,
     &P::maxOffset, false, [](R r) { return r.rest.offset; }},
    {CheckItem::NoiseX, CheckStep::Rest, "noiseX", "noiseX", nullptr, "noiseX", LimitSide::AtMost,
     &P::maxNoise, false, [](R r) { return r.rest.noiseX; }},
    {CheckItem::NoiseY, CheckStep::Rest, "noiseY", "noiseY", nullptr, "noiseY", LimitSide::AtMost,
     &P::maxNoise, false, [](R r) { return r.rest.noiseY; }},
    {CheckItem::Coverage, CheckStep::Circle, "coverage", "coverage", nullptr, "coverage",
     LimitSide::AtLeast, &P::minCoverage, false, [](R r) { return r.circle.coverage; }},
    {CheckItem::CircularityError, CheckStep::Circle, "circularityError", "circularityError",
     nullptr, "circularityError (%)", LimitSide::AtMost, &P::maxCircularityError, false,
     [](R r) { return r.circle.circularityError; }},
    {CheckItem::CircularityErrorQuadrant1, CheckStep::Circle, "circularityError, sectors 0-17", "",
     "circularityErrorQuadrant", "circularityError, sectors 0-17 (%)", LimitSide::None, nullptr,
     false, [](R r) { return r.circle.circularityErrorQuadrant[0]; }},
    {CheckItem::CircularityErrorQuadrant2, CheckStep::Circle, "circularityError, sectors 18-35", "",
     "circularityErrorQuadrant", "circularityError, sectors 18-35 (%)", LimitSide::None, nullptr,
     false, [](R r) { return r.circle.circularityErrorQuadrant[1]; }},
    {CheckItem::CircularityErrorQuadrant3, CheckStep::Circle, "circularityError, sectors 36-53", "",
     "circularityErrorQuadrant", "circularityError, sectors 36-53 (%)", LimitSide::None, nullptr,
     false, [](R r) { return r.circle.circularityErrorQuadrant[2]; }},
    {CheckItem::CircularityErrorQuadrant4, CheckStep::Circle, "circularityError, sectors 54-71", "",
     "circularityErrorQuadrant", "circularityError, sectors 54-71 (%)", LimitSide::None, nullptr,
     false, [](R r) { return r.circle.circularityErrorQuadrant[3]; }},
    {CheckItem::ReachPlusX, CheckStep::Circle, "reach +x", "+x", "reach", "reach +x",
     LimitSide::AtLeast, &P::minReach, false, [](R r) { return r.circle.reach[0]; }},
    {CheckItem::ReachMinusX, CheckStep::Circle, "reach -x", "-x", "reach", "reach -x",
     LimitSide::AtLeast, &P::minReach, false, [](R r) { return r.circle.reach[1]; }},
    {CheckItem::ReachPlusY, CheckStep::Circle, "reach +y", "+y", "reach", "reach +y",
     LimitSide::AtLeast, &P::minReach, false, [](R r) { return r.circle.reach[2]; }},
    {CheckItem::ReachMinusY, CheckStep::Circle, "reach -y", "-y", "reach", "reach -y",
     LimitSide::AtLeast, &P::minReach, false, [](R r) { return r.circle.reach[3]; }},
    {CheckItem::Frames, CheckStep::Hold, "frames", "frames", nullptr, "frames", LimitSide::None,
     nullptr, true, [](R r) { return double(r.hold.frames); }},
    {CheckItem::DroppedFrames, CheckStep::Hold, "droppedFrames", "droppedFrames", nullptr,
     "droppedFrames", LimitSide::AtMost, nullptr, true,
     [](R r) { return double(r.hold.droppedFrames); }},
    {CheckItem::LateFrames, CheckStep::Hold, "lateFrames", "lateFrames", nullptr, nullptr,
     LimitSide::None, nullptr, true, [](R r) { return double(r.hold.lateFrames); }},
    {CheckItem::TrackedShare, CheckStep::Hold, "trackedShare", "trackedShare", nullptr,
     "trackedShare", LimitSide::AtLeast, &P::minTrackedShare, false,
     [](R r) { return r.hold.trackedShare; }},
    {CheckItem::QualityMin, CheckStep::Hold, "qualityMin", "qualityMin", nullptr, "qualityMin",
     LimitSide::None, nullptr, false, [](R r) { return r.hold.qualityMin; }},
    {CheckItem::QualityMean, CheckStep::Hold, "qualityMean", "qualityMean", nullptr, "qualityMean",
     LimitSide::None, nullptr, false, [](R r) { return r.hold.qualityMean; }},
    {CheckItem::PositionSigmaMm, CheckStep::Hold, "positionSigmaMm", "positionSigmaMm", nullptr,
     "positionSigmaMm", LimitSide::AtMost, &P::maxPositionSigmaMm, false,
     [](R r) { return r.hold.positionSigmaMm; }},
    {CheckItem::PositionJitterMm, CheckStep::Hold, "positionJitterMm", "positionJitterMm", nullptr,
     "positionJitterMm", LimitSide::None, nullptr, false,
     [](R r) { return r.hold.positionJitterMm; }},
    {CheckItem::RotationJitterDeg, CheckStep::Hold, "rotationJitterDeg", "rotationJitterDeg",
     nullptr, "rotationJitterDeg", LimitSide::AtMost, &P::maxRotationJitterDeg, false,
     [](R r) { return r.hold.rotationJitterDeg; }},
    {CheckItem::LargestJumpMm, CheckStep::Hold, "largestJumpMm", "largestJumpMm", nullptr,
     "largestJumpMm", LimitSide::None, nullptr, false, [](R r) { return r.hold.largestJumpMm; }},
};
static_assert(sizeof kItems / sizeof kItems[0] == kCheckItemCount, "one row per CheckItem");

constexpr bool inOrder()
{
    for (size_t i = 0; i < kCheckItemCount; ++i)
        if (size_t(kItems[i].item) != i)
            return false;
    return true;
}
static_assert(inOrder(), "the rows follow CheckItem");

} // namespace

const CheckItemInfo& checkItemInfo(CheckItem item)
{
    return kItems[size_t(item) < kCheckItemCount ? size_t(item) : 0];
}
