#pragma once

// What a check of one Skywand found: a verdict per step and per button, the
// measurements and the failures. Times are seconds since the check started
// (the arrival of the Skywand's first record). A figure that could not be
// measured is NaN, and the report writes it as null.

#include <array>
#include <cmath>
#include <cstdint>
#include <string>
#include <vector>

enum class CheckStep
{
    Waiting,
    Buttons,
    Rest,
    Circle,
    Hold,
    Done
};

// "buttons", "rest", "circle", "hold"; "waiting" and "done" for the others.
const char* checkStepName(CheckStep step);

enum class Verdict
{
    NotRun,     // the check ended before this part began
    Pass,       // every figure within its limit
    Fail,       // at least one failure
    Incomplete, // the check ended while this part ran, or its data could not support a figure
};

// "not run", "pass", "fail", "incomplete".
const char* verdictName(Verdict verdict);

struct CheckFailure
{
    std::string step;   // "buttons", "rest", "circle" or "hold"
    std::string item;   // "button 3", "offset", "reach -y", "data", ...
    std::string reason; // "stuck", "crossed", "no press", "chatter", "unprompted",
                        // "above limit", "below limit", "not measured", "incomplete"
    std::string detail; // one sentence for people
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
    static constexpr int kSectors = 72; // of 5 degrees, from angle 0 counter-clockwise

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
};
