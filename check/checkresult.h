#pragma once

// What a check of one Skywand found: a verdict per step and per button, the
// measurements and the failures. Times are seconds since the check started
// (the arrival of the Skywand's first record). A figure that could not be
// measured is NaN, and the report writes it as null.

#include "checkitem.h"
#include "checkstep.h"
#include "verdict.h"

#include <array>
#include <cmath>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

struct CheckFailure
{
    std::string step;   // "buttons", "rest", "circle" or "hold"
    std::string item;   // "button 3", "offset", "reach -y", "data", ...
    std::string reason; // "stuck", "crossed", "no press", "chatter", "unprompted",
                        // "above limit", "below limit", "not measured", "incomplete"
    std::string detail; // one sentence for people
    std::optional<CheckItem> figure = std::nullopt; // the figure outside its limit, if one is
};

// How the check judged one figure: the limit it held the figure to, and
// whether the figure met it. Not run where the figure's step never ran or
// the figure is only reported; incomplete where its step ran but could not
// measure it.
struct FigureJudgement
{
    double limit = NAN;
    Verdict verdict = Verdict::NotRun;
};

struct ButtonResult
{
    int button = 0; // from 1
    Verdict verdict = Verdict::NotRun;
    std::string reason; // empty, or the kind of failure as in CheckFailure
    std::string detail;
    int pressCount = 0;      // presses while prompted
    double pressedAt = NAN;  // first press while prompted
    double releasedAt = NAN; // first release while prompted
    int unprompted = 0;      // presses during the rest, circle and hold steps
};

struct RestResult
{
    Verdict verdict = Verdict::NotRun;
    int64_t samples = 0;
    double centreX = NAN;
    double centreY = NAN;
    double offset = NAN;
    double noiseX = NAN;
    double noiseY = NAN;
};

struct CircleResult
{
    static constexpr int kSectors = 72; // from angle 0 counter-clockwise
    static constexpr double kSectorDeg = 360.0 / kSectors;

    Verdict verdict = Verdict::NotRun;
    int64_t samples = 0;   // all samples of the step
    int64_t counted = 0;   // those with r >= 0.5
    double sweptDeg = 0.0; // unwrapped, signed
    double coverage = NAN;
    double circularityError = NAN; // percent
    std::array<double, 4> circularityErrorQuadrant = {NAN, NAN, NAN, NAN};
    // max x, -min x, max y, -min y.
    std::array<double, 4> reach = {NAN, NAN, NAN, NAN};
    // The largest r per sector; NaN where no sample counted.
    std::array<double, kSectors> sectorRadius = {};
};

struct HoldResult
{
    Verdict verdict = Verdict::NotRun;
    int64_t frames = 0; // frames of the stream that arrived in the window
    // Counters expected from the last frame before the window to the first
    // frame after it, modulo 2^32, that never arrived.
    int64_t droppedFrames = 0;
    int64_t lateFrames = 0; // late frames that filled a gap in the hold window
    int64_t trackedFrames = 0;
    double trackedShare = NAN;
    double qualityMin = NAN;
    double qualityMean = NAN;
    double positionSigmaMm = NAN;
    double positionJitterMm = NAN;
    double rotationJitterDeg = NAN;
    double largestJumpMm = NAN;
};

struct CheckResult
{
    // Incomplete when the check stopped before its end; otherwise fail when
    // the wand failed anywhere, incomplete when a step had too few samples to
    // be judged, and pass when neither.
    Verdict verdict = Verdict::Incomplete;
    int numButton = 0;
    int numJoystick = 0;
    // Caller's seconds of the first record and of the end; NaN until then.
    double startTime = NAN;
    double finishTime = NAN;
    Verdict buttonsVerdict = Verdict::NotRun;
    std::vector<ButtonResult> buttons;
    RestResult rest;
    CircleResult circle;
    HoldResult hold;
    // Most important first: why the check stopped and which steps had too
    // few samples (item "data", reason "incomplete"), then button faults,
    // then figures outside their limits in the order of the steps.
    std::vector<CheckFailure> failures;
    // Every figure of checkItemInfo, by CheckItem; the values stay in the
    // steps' results above.
    std::array<FigureJudgement, kCheckItemCount> judgements = {};

    // The verdict of the rest, circle or hold step, or of the buttons.
    Verdict stepVerdict(CheckStep step) const
    {
        return step == CheckStep::Rest     ? rest.verdict
               : step == CheckStep::Circle ? circle.verdict
               : step == CheckStep::Hold   ? hold.verdict
                                           : buttonsVerdict;
    }
    double value(CheckItem item) const { return checkItemInfo(item).value(*this); }
    const FigureJudgement& judgement(CheckItem item) const { return judgements[size_t(item)]; }
};
