#pragma once

// The guided check of one Skywand: buttons, joystick centre at rest, full
// circle, and the wand held still. The caller feeds it every frame with the
// frame's arrival time (seconds on any steady clock, or a capture's times)
// and, between frames, ticks with the time, so that timeouts and a stop of
// the data are seen. Nothing inside reads a clock: the same frames at the
// same times give the same result to the last digit. Never throws; its
// memory is bounded (the hold step remembers at most kHoldCounterSpan frame
// counters, one bit each).
//
// A verdict judges the wand. Where the data cannot support a figure (too few
// samples, no joystick values) the step ends incomplete with a "data"
// failure that says how many samples there were and how many are needed,
// and the check goes on; the check then ends incomplete unless the wand
// failed elsewhere.

#include "checkprofile.h"
#include "checkresult.h"
#include "circlepart.h"
#include "framerecords.h"
#include "holdpart.h"
#include "restpart.h"

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

class SkywandCheck
{
public:
    static constexpr double kFirstRecordWait = 10.0; // from the first call to the first record
    static constexpr double kDataStop = 2.0;         // no record for this long ends the check
    static constexpr double kPressWait = 10.0;       // prompt to first press
    static constexpr double kHeldLimit = 5.0;        // held longer: stuck
    static constexpr double kChatterGap = 0.05;      // release to press again: chatter
    static constexpr double kSettle = 0.3;           // after a release, before moving on
    // A button whose prompt sees endless presses moves on after this.
    static constexpr double kButtonPromptLimit = 20.0;
    static constexpr double kRestFrom = 0.5;
    static constexpr double kRestTo = 2.5;
    static constexpr double kCircleMinRadius = 0.5;
    // The circle ends once the stick has turned kCircleSweepDeg and covered
    // every sector, or at kCircleLimit.
    static constexpr double kCircleSweepDeg = 720.0;
    static constexpr double kCircleLimit = 20.0;
    // A turn of at most this much between two consecutive counted samples
    // is travel along the edge: the sectors between them count as covered.
    // Even a straight chord over 30 degrees stays above 0.96 of the radius of
    // its ends, and it allows 5 turns a second at 60 frames a second.
    static constexpr double kCircleFillDeg = 30.0;
    // The hold window; the first frame at or after its end closes it, and
    // with it the check.
    static constexpr double kHoldFrom = 0.5;
    static constexpr double kHoldTo = 5.5;
    // The fewest samples a step measures from: 10 a second over the rest
    // and hold windows, and two turns of the circle in steps of
    // kCircleFillDeg.
    static constexpr int64_t kMinRestSamples = 20;
    static constexpr int64_t kMinCircleSamples = 24;
    static constexpr int64_t kMinHoldFrames = 50;
    static constexpr uint32_t kHoldCounterSpan = HoldPart::kCounterSpan;
    // 20 s at 1 kHz; faster streams still measure every sample but draw fewer.
    static constexpr size_t kMaxTracePoints = 20000;

    explicit SkywandCheck(const CheckProfile& profile = CheckProfile());

    // One decoded frame. record is null when the frame held no record of this
    // Skywand. Times that are not finite or go backwards count as the latest
    // time seen. A sample at the very instant a window or limit ends counts
    // after it. Counters are compared modulo 2^32; a counter that is not
    // ahead of the newest one seen leaves no gap in the hold count.
    void frame(uint32_t frameCounter, double time, const SkywandRecord* record);
    // A frame of the stream that arrived after a later one: it fills the gap it left in the hold
    // count and is no sample.
    void lateFrame(uint32_t frameCounter);
    // Time passes without a frame. A tick never closes the hold window: only
    // a frame shows which frames the window should have held.
    void tick(double time);
    // Ends the check as incomplete (a person or a signal stopped it, or the
    // recording ended); why becomes the failure's detail.
    void stop(double time, const std::string& why);

    bool finished() const { return current == CheckStep::Done; }
    CheckStep step() const { return current; }
    // What the person holding the wand is asked to do; empty when finished.
    std::string prompt() const;
    // From 1 during the buttons step, otherwise 0.
    int buttonToPress() const;
    // Seconds left until the current prompt times out or its step ends at the
    // latest, at the latest time seen; NaN when nothing counts down.
    double countdown() const;
    // The joystick samples of the circle step so far, and their coverage.
    const std::vector<JoystickPoint>& circleTrace() const { return circlePart.trace(); }
    double circleCoverage() const;
    double circleSweptDeg() const { return outcome.circle.sweptDeg; }
    const CheckResult& result() const { return outcome; }
    const CheckProfile& profile() const { return limits; }

private:
    struct Sample;
    enum class ButtonEvent
    {
        None,
        NoPress,
        Held,
        Settled,
        PromptLimit
    };

    void advance(double time);
    double nextDeadline(ButtonEvent& event, int& button) const;
    void fire(double at, ButtonEvent event, int button);
    void begin(double time, const SkywandRecord& record);
    void apply(uint32_t frameCounter, bool ahead, double time, const SkywandRecord* record);
    void buttonEdges(double time, uint32_t now);
    void buttonPress(double time, int button);
    void failButton(int index, int rank, const char* reason, const std::string& detail);
    void promptButton(double time);
    void moveOnFromButton(double time);
    void countUnprompted(uint32_t now);
    void startStep(CheckStep step, double time);
    bool holdFrame(uint32_t frameCounter, bool ahead, double time, const SkywandRecord* record);
    void finishRest();
    void finishCircle();
    void finishHold(uint32_t bound);
    void tooFew(CheckStep step, int64_t count, int64_t needed, const char* what);
    void finish(double time, bool complete);
    void incomplete(double time, const std::string& detail);
    void addFailure(int rank, CheckStep step, const std::string& item, const std::string& reason,
                    const std::string& detail, std::optional<CheckItem> figure = std::nullopt);
    void judge(CheckItem item);
    double droppedLimit() const;
    bool isShort(CheckStep step) const;
    double sane(double time);

    CheckProfile limits;
    CheckResult outcome;
    CheckStep current = CheckStep::Waiting;
    double latest = NAN;     // the latest time seen
    double firstCall = NAN;  // when waiting for the first record began
    double lastRecord = NAN; // arrival of the latest record
    double stepStart = NAN;  // when the current prompt appeared
    uint32_t bits = 0;       // buttons held in the latest record
    uint32_t buttonMask = 0; // the buttons under test

    // The buttons step, for the prompted button.
    int prompted = 0; // from 0
    std::array<double, FrameLimits::kMaxSkywandButtons> heldSince = {};
    uint32_t stuck = 0; // buttons that no longer count
    bool promptedPressed = false;
    bool promptedReleased = false;
    bool otherPressed = false; // moves on once every button is up again
    double lastRelease = NAN;

    // The newest frame counter seen, modulo 2^32.
    bool haveNewest = false;
    uint32_t newest = 0;

    // Unprompted presses per step (rest, circle, hold) and button.
    std::array<std::array<int, FrameLimits::kMaxSkywandButtons>, 3> unprompted = {};

    // Steps that ended without the samples to judge them, by stepSlot.
    std::array<bool, 3> shortStep = {};

    RestPart restPart;
    CirclePart circlePart;
    HoldPart holdPart;

    struct RankedFailure
    {
        int rank;
        CheckStep step;
        CheckFailure failure;
    };
    std::vector<RankedFailure> ranked;
};
