#include "holdpart.h"

#include "framerecords.h"

#include <algorithm>
#include <cmath>

namespace {

constexpr double kDegrees = 180.0 / 3.14159265358979323846;

bool finite(const float* values, int count)
{
    for (int i = 0; i < count; ++i)
        if (!std::isfinite(values[i]))
            return false;
    return true;
}

// The angle of the turn from one rotation to the next, from the Frobenius
// norm of their difference, |Rp - R| = 2 sqrt(2) sin(angle / 2): exact near
// zero, where acos of the trace loses half the digits. The sum over the nine
// elements needs no order of them.
double turnDegrees(const float* previous, const float* next)
{
    double squares = 0.0;
    for (int i = 0; i < 9; ++i) {
        const double d = double(next[i]) - double(previous[i]);
        squares += d * d;
    }
    const double half = std::sqrt(squares) / (2.0 * std::sqrt(2.0));
    return 2.0 * std::asin(std::min(half, 1.0)) * kDegrees;
}

} // namespace

void HoldPart::openAfter(uint32_t newest)
{
    open = true;
    base = newest;
}

void HoldPart::frame(uint32_t frameCounter, bool ahead, const SkywandRecord* record,
                     HoldResult& hold)
{
    ++hold.frames;
    // A counter ahead of every other one is new; one that goes back counts
    // only if it fills a gap.
    if (ahead) {
        markCounter(frameCounter);
        ++counters;
    } else if (markCounter(frameCounter)) {
        ++counters;
    }
    const bool tracked = record && std::isfinite(record->quality) && record->quality > 0.0f &&
                         finite(record->location, 3) && finite(record->rotation, 9);
    if (record && std::isfinite(record->quality)) {
        hold.qualityMin = std::fmin(hold.qualityMin, record->quality);
        qualitySum += record->quality;
        ++qualityCount;
    }
    if (!tracked) {
        havePrevious = false;
        return;
    }
    ++hold.trackedFrames;
    posX.add(record->location[0]);
    posY.add(record->location[1]);
    posZ.add(record->location[2]);
    if (havePrevious) {
        double squares = 0.0;
        for (int i = 0; i < 3; ++i) {
            const double d = double(record->location[i]) - previousLocation[i];
            squares += d * d;
        }
        const double angle = turnDegrees(previousRotation, record->rotation);
        jumpSquares += squares;
        angleSquares += angle * angle;
        hold.largestJumpMm = std::fmax(hold.largestJumpMm, std::sqrt(squares));
        ++steps;
    }
    std::copy(record->location, record->location + 3, previousLocation);
    std::copy(record->rotation, record->rotation + 9, previousRotation);
    havePrevious = true;
}

void HoldPart::lateFrame(uint32_t frameCounter, HoldResult& hold)
{
    // The bit set keeps a counter from filling twice.
    if (markCounter(frameCounter)) {
        ++counters;
        ++hold.lateFrames;
    }
}

// True when the counter lies in the window's span and was not seen before.
bool HoldPart::markCounter(uint32_t frameCounter)
{
    const uint32_t offset = frameCounter - base;
    if (offset == 0 || offset > kCounterSpan || seen.test(offset - 1))
        return false;
    seen.set(offset - 1);
    return true;
}

int64_t HoldPart::missingBefore(uint32_t bound) const
{
    // Every counter after the last frame before the window and before the
    // first one after it was due in the window.
    return std::max<int64_t>(0, int64_t(uint32_t(bound - base)) - 1 - counters);
}

int64_t HoldPart::missingUpTo(uint32_t newest) const
{
    return std::max<int64_t>(0, int64_t(uint32_t(newest - base)) - counters);
}

void HoldPart::finish(HoldResult& hold) const
{
    if (hold.frames > 0)
        hold.trackedShare = double(hold.trackedFrames) / double(hold.frames);
    if (qualityCount > 0)
        hold.qualityMean = qualitySum / double(qualityCount);
    if (posX.n > 0)
        hold.positionSigmaMm = std::sqrt(posX.variance() + posY.variance() + posZ.variance());
    if (steps > 0) {
        hold.positionJitterMm = std::sqrt(jumpSquares / double(steps));
        hold.rotationJitterDeg = std::sqrt(angleSquares / double(steps));
    }
}
