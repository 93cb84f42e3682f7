#pragma once

// The guided check of one Skywand: buttons, joystick centre at rest, full
// circle, and the wand held still. The caller feeds it every frame with the
// frame's arrival time (seconds on any steady clock, or a capture's times)
// and, between frames, ticks with the time, so that timeouts and a stop of
// the data are seen. Nothing inside reads a clock: the same frames at the
// same times give the same result to the last digit. Never throws.

#include "checkprofile.h"
#include "checkresult.h"

#include <array>
#include <cstdint>
#include <string>
#include <vector>

struct SkywandRecord;

struct JoystickPoint
{
    float x = 0.0f;
    float y = 0.0f;
};

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
    static constexpr double kCircleSweepDeg = 720.0;
    static constexpr double kCircleLimit = 20.0;
    static constexpr double kHoldFrom = 0.5;
    static constexpr double kHoldTo = 5.5;
    // 20 s at 1 kHz; faster streams still measure every sample but draw fewer.
    static constexpr size_t kMaxTracePoints = 20000;

    explicit SkywandCheck(const CheckProfile& profile = CheckProfile());

    // One decoded frame. record is null when the frame held no record of this
    // Skywand. Times that are not finite or go backwards count as the latest
    // time seen. A sample at the very instant a window or limit ends counts
    // after it.
    void frame(uint32_t frameCounter, double time, const SkywandRecord* record);
    // Time passes without a frame.
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
    const std::vector<JoystickPoint>& circleTrace() const { return trace; }
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
    // Welford's running mean and variance: stable where the mean is large
    // against the spread, as positions in millimetres are.
    struct Running
    {
        int64_t n = 0;
        double mean = 0.0;
        double m2 = 0.0;
        void add(double value);
        double variance() const { return n ? m2 / double(n) : NAN; }
    };

    void advance(double time);
    double nextDeadline(ButtonEvent& event, int& button) const;
    void fire(double at, ButtonEvent event, int button);
    void begin(double time, const SkywandRecord& record);
    void apply(uint32_t frameCounter, double time, const SkywandRecord* record);
    void buttonEdges(double time, uint32_t now);
    void failButton(int index, int rank, const char* reason, const std::string& detail);
    void promptButton(double time);
    void moveOnFromButton(double time);
    void countUnprompted(uint32_t now);
    void startStep(CheckStep step, double time);
    void restSample(double time, const Sample& sample);
    void circleSample(double time, const Sample& sample);
    void holdFrame(uint32_t frameCounter, double time, const SkywandRecord* record);
    void finishRest();
    void finishCircle();
    void finishHold();
    void finish(double time, bool complete);
    void incomplete(double time, const std::string& detail);
    void addFailure(int rank, CheckStep step, const std::string& item, const std::string& reason,
                    const std::string& detail);
    void judge(CheckStep step, const char* item, double value, double limit, bool atMost);
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
    std::array<double, 16> heldSince = {};
    uint32_t stuck = 0; // buttons that no longer count
    bool promptedPressed = false;
    bool promptedReleased = false;
    bool otherPressed = false; // moves on once every button is up again
    double lastRelease = NAN;

    // Unprompted presses per step (rest, circle, hold) and button.
    std::array<std::array<int, 16>, 3> unprompted = {};

    Running restX, restY;
    double lastAngle = NAN;
    double sweptRad = 0.0;
    std::vector<JoystickPoint> trace;
    int covered = 0;

    bool holdSeenFrame = false;
    uint32_t lastCounter = 0;
    Running posX, posY, posZ;
    double qualitySum = 0.0;
    int64_t qualityCount = 0;
    bool havePrevious = false;
    float previousLocation[3] = {};
    float previousRotation[9] = {};
    double jumpSquares = 0.0;
    double angleSquares = 0.0;
    int64_t steps = 0;

    struct RankedFailure
    {
        int rank;
        CheckFailure failure;
    };
    std::vector<RankedFailure> ranked;
};
