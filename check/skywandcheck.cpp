#include "skywandcheck.h"

#include "framerecords.h"

#include <algorithm>
#include <charconv>
#include <cmath>

namespace {

enum Rank
{
    kRankData,
    kRankStuck,
    kRankNoPress,
    kRankCrossed,
    kRankChatter,
    kRankUnprompted,
    kRankFigure
};

// Numbers in the failure texts, independent of the C library's locale (the
// window runs under the user's).
std::string number(double value)
{
    char text[32];
    const auto written =
        std::to_chars(text, text + sizeof text, value, std::chars_format::general, 4);
    return written.ec == std::errc() ? std::string(text, written.ptr) : std::string("?");
}

std::string buttonName(int index)
{
    return "button " + std::to_string(index + 1);
}

int stepSlot(CheckStep step)
{
    return step == CheckStep::Rest ? 0 : step == CheckStep::Circle ? 1 : 2;
}

constexpr CheckStep kTimedSteps[] = {CheckStep::Rest, CheckStep::Circle, CheckStep::Hold};

// Limits that fall due at one time move the check on each; far fewer than
// this many can be due at once.
constexpr int kMaxDeadlinesAtOnce = 256;

// The joystick values and the poses arrive as floats: a figure that equals
// its limit at float precision meets it, although the double read from the
// profile ("0.95") and the float sent ("0.95") differ in their last bits.
bool meets(double value, double limit, bool atMost)
{
    constexpr double kFloatMax = 3.4028234663852886e38;
    if (std::fabs(value) <= kFloatMax && std::fabs(limit) <= kFloatMax &&
        float(value) == float(limit))
        return true;
    return atMost ? value <= limit : value >= limit;
}

std::string count(int64_t n, const char* what)
{
    return std::to_string(n) + " " + what + (n == 1 ? "" : "s");
}

} // namespace

// What one record says, reduced to what the check looks at. Entries at or
// past the record's own counts are what earlier frames left: buttons there
// count as released, and joystick values there are absent.
struct SkywandCheck::Sample
{
    uint32_t bits = 0;
    double x = 0.0;
    double y = 0.0;
    bool joystickPresent = false;
    bool joystickValid = false;

    Sample(const SkywandRecord& record, uint32_t mask)
    {
        const int buttons =
            std::clamp<int32_t>(record.numButton, 0, FrameLimits::kMaxSkywandButtons);
        for (int j = 0; j < buttons; ++j)
            if (record.button[j] != 0)
                bits |= 1u << j;
        bits &= mask;
        joystickPresent = record.numJoystick >= 2;
        if (joystickPresent) {
            x = record.joystickValue[0];
            y = record.joystickValue[1];
        }
        joystickValid = joystickPresent && std::isfinite(x) && std::isfinite(y);
    }
};

SkywandCheck::SkywandCheck(const CheckProfile& profile) : limits(profile)
{
    outcome.circle.sectorRadius.fill(NAN);
    for (size_t i = 0; i < kCheckItemCount; ++i) {
        const CheckItemInfo& info = checkItemInfo(CheckItem(i));
        if (info.limit)
            outcome.judgements[i].limit = limits.*info.limit;
    }
    outcome.judgements[size_t(CheckItem::DroppedFrames)].limit = droppedLimit();
}

double SkywandCheck::droppedLimit() const
{
    return limits.maxDroppedShare * double(outcome.hold.frames + outcome.hold.lateFrames);
}

double SkywandCheck::sane(double time)
{
    if (!std::isfinite(time))
        time = std::isnan(latest) ? 0.0 : latest;
    if (!std::isnan(latest) && time < latest)
        time = latest;
    latest = time;
    if (std::isnan(firstCall))
        firstCall = time;
    return time;
}

void SkywandCheck::frame(uint32_t frameCounter, double time, const SkywandRecord* record)
{
    if (finished())
        return;
    time = sane(time);
    advance(time);
    if (finished())
        return;
    const bool ahead = !haveNewest || int32_t(frameCounter - newest) > 0;
    if (current == CheckStep::Waiting) {
        if (record) {
            lastRecord = time;
            begin(time, *record);
        }
    } else {
        apply(frameCounter, ahead, time, record);
    }
    if (ahead) {
        newest = frameCounter;
        haveNewest = true;
    }
}

void SkywandCheck::lateFrame(uint32_t frameCounter)
{
    // Only a counter behind the newest one can fill a gap; the bit set keeps
    // a counter from filling twice.
    if (current != CheckStep::Hold || !holdPart.isOpen() || int32_t(frameCounter - newest) >= 0)
        return;
    holdPart.lateFrame(frameCounter, outcome.hold);
}

void SkywandCheck::tick(double time)
{
    if (finished())
        return;
    advance(sane(time));
}

void SkywandCheck::stop(double time, const std::string& why)
{
    if (finished())
        return;
    time = sane(time);
    advance(time);
    if (!finished())
        incomplete(time, why);
}

std::string SkywandCheck::prompt() const
{
    switch (current) {
    case CheckStep::Waiting:
        return "Waiting for the Skywand";
    case CheckStep::Buttons:
        return "Press and release button " + std::to_string(prompted + 1);
    case CheckStep::Rest:
        return "Let go of the joystick";
    case CheckStep::Circle:
        return "Turn the joystick around its edge, twice";
    case CheckStep::Hold:
        return "Hold the wand still in view";
    case CheckStep::Done:
        break;
    }
    return std::string();
}

int SkywandCheck::buttonToPress() const
{
    return current == CheckStep::Buttons ? prompted + 1 : 0;
}

double SkywandCheck::countdown() const
{
    double end = NAN;
    switch (current) {
    case CheckStep::Waiting:
        end = firstCall + kFirstRecordWait;
        break;
    case CheckStep::Buttons:
        if (!promptedPressed && !otherPressed)
            end = stepStart + kPressWait;
        break;
    case CheckStep::Rest:
        end = stepStart + kRestTo;
        break;
    case CheckStep::Circle:
        end = stepStart + kCircleLimit;
        break;
    case CheckStep::Hold:
        end = stepStart + kHoldTo;
        break;
    case CheckStep::Done:
        break;
    }
    return std::isnan(end) ? NAN : std::max(0.0, end - latest);
}

double SkywandCheck::circleCoverage() const
{
    return circlePart.coverage();
}

// Fires, in order of time, every limit that falls due up to time. Each one
// moves the check on, so a call fires only a bounded number of them.
void SkywandCheck::advance(double time)
{
    for (int guard = 0; guard < kMaxDeadlinesAtOnce && !finished(); ++guard) {
        ButtonEvent event = ButtonEvent::None;
        int button = -1;
        const double due = nextDeadline(event, button);
        const bool waiting = current == CheckStep::Waiting;
        const double stopAt = waiting ? firstCall + kFirstRecordWait : lastRecord + kDataStop;
        if (stopAt <= due) {
            if (stopAt <= time)
                incomplete(stopAt,
                           waiting ? "no record of the Skywand within " + number(kFirstRecordWait) +
                                         " s"
                                   : "no record of the Skywand for " + number(kDataStop) + " s");
            return;
        }
        if (due > time)
            return;
        fire(due, event, button);
    }
}

double SkywandCheck::nextDeadline(ButtonEvent& event, int& button) const
{
    switch (current) {
    case CheckStep::Rest:
        return stepStart + kRestTo;
    case CheckStep::Circle:
        return stepStart + kCircleLimit;
    case CheckStep::Buttons:
        break;
    default:
        return HUGE_VAL;
    }
    double best = HUGE_VAL;
    const auto consider = [&](double at, ButtonEvent kind, int index) {
        if (at < best) {
            best = at;
            event = kind;
            button = index;
        }
    };
    if (!promptedPressed && !otherPressed)
        consider(stepStart + kPressWait, ButtonEvent::NoPress, prompted);
    const uint32_t held = bits & ~stuck;
    for (int j = 0; j < outcome.numButton; ++j)
        if (held & (1u << j))
            consider(heldSince[j] + kHeldLimit, ButtonEvent::Held, j);
    if (promptedReleased && !otherPressed && held == 0)
        consider(lastRelease + kSettle, ButtonEvent::Settled, prompted);
    consider(stepStart + kButtonPromptLimit, ButtonEvent::PromptLimit, prompted);
    return best;
}

void SkywandCheck::fire(double at, ButtonEvent event, int button)
{
    switch (current) {
    case CheckStep::Rest:
        finishRest();
        startStep(CheckStep::Circle, at);
        return;
    case CheckStep::Circle:
        finishCircle();
        startStep(CheckStep::Hold, at);
        return;
    case CheckStep::Buttons:
        break;
    default:
        return;
    }
    switch (event) {
    case ButtonEvent::NoPress:
        failButton(prompted, kRankNoPress, "no press",
                   "nothing pressed within " + number(kPressWait) + " s of the prompt");
        moveOnFromButton(at);
        return;
    case ButtonEvent::Held:
        stuck |= 1u << button;
        if (button >= prompted)
            failButton(button, kRankStuck, "stuck",
                       "held longer than " + number(kHeldLimit) + " s");
        if (button == prompted || (otherPressed && (bits & ~stuck) == 0))
            moveOnFromButton(at);
        return;
    case ButtonEvent::PromptLimit:
        if (std::isnan(outcome.buttons[prompted].releasedAt))
            failButton(prompted, kRankStuck, "stuck", "never released while prompted");
        moveOnFromButton(at);
        return;
    case ButtonEvent::Settled:
    case ButtonEvent::None:
        moveOnFromButton(at);
        return;
    }
}

void SkywandCheck::begin(double time, const SkywandRecord& record)
{
    outcome.startTime = time;
    outcome.numButton = std::clamp<int32_t>(record.numButton, 0, FrameLimits::kMaxSkywandButtons);
    outcome.numJoystick =
        std::clamp<int32_t>(record.numJoystick, 0, FrameLimits::kMaxSkywandJoystick);
    buttonMask = outcome.numButton >= 32 ? ~0u : (1u << outcome.numButton) - 1u;
    outcome.buttons.resize(size_t(outcome.numButton));
    for (int j = 0; j < outcome.numButton; ++j)
        outcome.buttons[size_t(j)].button = j + 1;
    bits = Sample(record, buttonMask).bits;
    // A button held before any prompt cannot be tested; it no longer counts.
    stuck = bits;
    for (int j = 0; j < outcome.numButton; ++j)
        if (stuck & (1u << j))
            failButton(j, kRankStuck, "stuck", "held when the check started");
    startStep(CheckStep::Buttons, time);
}

void SkywandCheck::apply(uint32_t frameCounter, bool ahead, double time,
                         const SkywandRecord* record)
{
    if (record)
        lastRecord = time;
    if (current == CheckStep::Hold && holdFrame(frameCounter, ahead, time, record))
        return;
    if (!record)
        return;
    const Sample sample(*record, buttonMask);
    if (current == CheckStep::Buttons) {
        buttonEdges(time, sample.bits);
        // A press that came after the last button's clean release belongs
        // to the rest step, which this frame already is in.
    }
    switch (current) {
    case CheckStep::Rest:
        countUnprompted(sample.bits);
        if (time >= stepStart + kRestFrom)
            restPart.sample(sample.joystickPresent, sample.joystickValid, sample.x, sample.y);
        return;
    case CheckStep::Circle:
        countUnprompted(sample.bits);
        if (circlePart.sample(sample.joystickPresent, sample.joystickValid, sample.x, sample.y,
                              outcome.circle)) {
            finishCircle();
            startStep(CheckStep::Hold, time);
        }
        return;
    case CheckStep::Hold:
        countUnprompted(sample.bits);
        return;
    default:
        return;
    }
}

void SkywandCheck::failButton(int index, int rank, const char* reason, const std::string& detail)
{
    ButtonResult& result = outcome.buttons[size_t(index)];
    if (!result.reason.empty())
        return;
    result.verdict = Verdict::Fail;
    result.reason = reason;
    result.detail = detail;
    addFailure(rank, CheckStep::Buttons, buttonName(index), reason, detail);
}

// Releases before presses: when one frame shows both, the press came last.
void SkywandCheck::buttonEdges(double time, uint32_t now)
{
    const uint32_t changed = (now ^ bits) & ~stuck;
    for (int j = 0; j < outcome.numButton; ++j) {
        const uint32_t bit = 1u << j;
        if (!(changed & bit) || (now & bit))
            continue;
        bits &= ~bit;
        if (j != prompted || !promptedPressed) {
            // A release without a press in this prompt is left over from an
            // earlier one and proves nothing.
            continue;
        }
        ButtonResult& result = outcome.buttons[size_t(prompted)];
        if (std::isnan(result.releasedAt))
            result.releasedAt = time - outcome.startTime;
        promptedReleased = true;
        lastRelease = time;
    }
    for (int j = 0; j < outcome.numButton; ++j) {
        const uint32_t bit = 1u << j;
        if (!(changed & bit) || !(now & bit))
            continue;
        // The prompted button was pressed and released and every button is
        // up: a press of another one, even before the settle time is over,
        // answers the next prompt.
        if (j != prompted && promptedReleased && !otherPressed && (bits & ~stuck) == 0) {
            moveOnFromButton(time);
            if (current != CheckStep::Buttons)
                return;
        }
        bits |= bit;
        buttonPress(time, j);
    }
    bits = now;
    if (otherPressed && (bits & ~stuck) == 0)
        moveOnFromButton(time);
}

void SkywandCheck::buttonPress(double time, int button)
{
    heldSince[size_t(button)] = time;
    if (button != prompted) {
        failButton(prompted, kRankCrossed, "crossed",
                   buttonName(button) + " pressed instead of " + buttonName(prompted));
        otherPressed = true;
        return;
    }
    ButtonResult& result = outcome.buttons[size_t(prompted)];
    ++result.pressCount;
    if (std::isnan(result.pressedAt))
        result.pressedAt = time - outcome.startTime;
    if (promptedReleased && time - lastRelease <= kChatterGap)
        failButton(prompted, kRankChatter, "chatter",
                   "pressed again " + number(time - lastRelease) + " s after its release");
    promptedPressed = true;
    promptedReleased = false;
}

void SkywandCheck::promptButton(double time)
{
    for (; prompted < outcome.numButton; ++prompted) {
        ButtonResult& result = outcome.buttons[size_t(prompted)];
        if (!(stuck & (1u << prompted))) {
            stepStart = time;
            promptedPressed = false;
            promptedReleased = false;
            otherPressed = false;
            lastRelease = NAN;
            return;
        }
        if (result.verdict == Verdict::NotRun)
            result.verdict = Verdict::Fail;
    }
    startStep(CheckStep::Rest, time);
}

void SkywandCheck::moveOnFromButton(double time)
{
    ButtonResult& result = outcome.buttons[size_t(prompted)];
    if (result.verdict == Verdict::NotRun)
        result.verdict = Verdict::Pass;
    ++prompted;
    promptButton(time);
}

void SkywandCheck::countUnprompted(uint32_t now)
{
    const uint32_t presses = now & ~bits;
    for (int j = 0; j < outcome.numButton; ++j) {
        if (presses & (1u << j)) {
            ++unprompted[size_t(stepSlot(current))][size_t(j)];
            ++outcome.buttons[size_t(j)].unprompted;
        }
    }
    bits = now;
}

void SkywandCheck::startStep(CheckStep step, double time)
{
    current = step;
    stepStart = time;
    if (step == CheckStep::Buttons) {
        prompted = 0;
        promptButton(time);
        return;
    }
    // A wand that reports fewer than two joystick values gives nothing to
    // measure at rest or on the circle; waiting out those steps would only
    // keep the person holding it.
    if (outcome.numJoystick >= 2)
        return;
    if (step == CheckStep::Rest) {
        finishRest();
        startStep(CheckStep::Circle, time);
    } else if (step == CheckStep::Circle) {
        finishCircle();
        startStep(CheckStep::Hold, time);
    }
}

// Frames from kHoldFrom to kHoldTo after the prompt are the window; the
// first frame at or after its end closes it, and its counter bounds the
// frames the window should have held. Returns true when the check ended.
bool SkywandCheck::holdFrame(uint32_t frameCounter, bool ahead, double time,
                             const SkywandRecord* record)
{
    if (time < stepStart + kHoldFrom)
        return false;
    if (!holdPart.isOpen())
        holdPart.openAfter(newest);
    if (time >= stepStart + kHoldTo) {
        finishHold(ahead ? frameCounter : newest + 1u);
        finish(time, true);
        return true;
    }
    holdPart.frame(frameCounter, ahead, record, outcome.hold);
    return false;
}

void SkywandCheck::judge(CheckItem item)
{
    const CheckItemInfo& info = checkItemInfo(item);
    FigureJudgement& judgement = outcome.judgements[size_t(item)];
    const double value = info.value(outcome);
    const bool atMost = info.side == LimitSide::AtMost;
    judgement.verdict = Verdict::Fail;
    if (std::isnan(value)) {
        addFailure(kRankFigure, info.step, info.name, "not measured",
                   std::string(info.name) + " could not be measured", item);
        return;
    }
    if (meets(value, judgement.limit, atMost)) {
        judgement.verdict = Verdict::Pass;
        return;
    }
    addFailure(kRankFigure, info.step, info.name, atMost ? "above limit" : "below limit",
               std::string(info.name) + " " + number(value) +
                   (atMost ? ", at most " : ", at least ") + number(judgement.limit),
               item);
}

bool SkywandCheck::isShort(CheckStep step) const
{
    return shortStep[size_t(stepSlot(step))];
}

void SkywandCheck::tooFew(CheckStep step, int64_t n, int64_t needed, const char* what)
{
    shortStep[size_t(stepSlot(step))] = true;
    const std::string where = step == CheckStep::Circle
                                  ? " in the circle step"
                                  : std::string(" in the ") + checkStepName(step) + " window";
    const std::string detail =
        outcome.numJoystick < 2 && step != CheckStep::Hold
            ? "the Skywand reports " + count(outcome.numJoystick, "joystick value") + ", 2 needed"
            : count(n, what) + where + ", at least " + std::to_string(needed) + " needed";
    addFailure(kRankData, step, "data", "incomplete", detail);
}

void SkywandCheck::finishRest()
{
    restPart.finish(outcome.rest, kMinRestSamples);
    if (restPart.present() < kMinRestSamples) {
        tooFew(CheckStep::Rest, restPart.present(), kMinRestSamples, "sample");
        return;
    }
    judge(CheckItem::Offset);
    judge(CheckItem::NoiseX);
    judge(CheckItem::NoiseY);
}

void SkywandCheck::finishCircle()
{
    outcome.circle.coverage = circlePart.coverage();
    if (circlePart.present() < kMinCircleSamples) {
        tooFew(CheckStep::Circle, circlePart.present(), kMinCircleSamples, "sample");
        return;
    }
    circlePart.finish(outcome.circle);
    for (const CheckItem item :
         {CheckItem::Coverage, CheckItem::CircularityError, CheckItem::ReachPlusX,
          CheckItem::ReachMinusX, CheckItem::ReachPlusY, CheckItem::ReachMinusY})
        judge(item);
}

void SkywandCheck::finishHold(uint32_t bound)
{
    HoldResult& hold = outcome.hold;
    hold.droppedFrames = holdPart.missingBefore(bound);
    const auto judgeDropped = [&] {
        const int64_t received = hold.frames + hold.lateFrames;
        FigureJudgement& judgement = outcome.judgements[size_t(CheckItem::DroppedFrames)];
        judgement.limit = droppedLimit();
        const bool met =
            hold.droppedFrames == 0 || meets(double(hold.droppedFrames), judgement.limit, true);
        judgement.verdict = met ? Verdict::Pass : Verdict::Fail;
        if (!met)
            addFailure(kRankFigure, CheckStep::Hold, "droppedFrames", "above limit",
                       std::to_string(hold.droppedFrames) + " frames dropped beside " +
                           std::to_string(received) + " received, at most " +
                           number(judgement.limit),
                       CheckItem::DroppedFrames);
    };
    // Frames lost are the stream's own figure and fail even where too few
    // arrived to judge the rest.
    if (hold.frames < kMinHoldFrames) {
        judgeDropped();
        tooFew(CheckStep::Hold, hold.frames, kMinHoldFrames, "frame");
        return;
    }
    holdPart.finish(hold);
    judge(CheckItem::TrackedShare);
    judgeDropped();
    judge(CheckItem::PositionSigmaMm);
    judge(CheckItem::RotationJitterDeg);
}

void SkywandCheck::incomplete(double time, const std::string& detail)
{
    // The frames lost so far, up to the newest one.
    if (current == CheckStep::Hold && holdPart.isOpen()) {
        outcome.hold.droppedFrames = holdPart.missingUpTo(newest);
        outcome.judgements[size_t(CheckItem::DroppedFrames)].limit = droppedLimit();
    }
    const CheckStep step = current == CheckStep::Waiting ? CheckStep::Buttons : current;
    addFailure(kRankData, step, "data", "incomplete", detail);
    finish(time, false);
}

void SkywandCheck::finish(double time, bool complete)
{
    const CheckStep reached = current;
    current = CheckStep::Done;
    outcome.finishTime = time;

    // Unprompted presses fail the steps they happened in once there are
    // more of them than the profile allows.
    int64_t total = 0;
    for (const auto& perStep : unprompted)
        for (const int count : perStep)
            total += count;
    if (total > limits.maxUnpromptedPresses) {
        for (const CheckStep step : kTimedSteps) {
            for (int j = 0; j < outcome.numButton; ++j) {
                const int count = unprompted[size_t(stepSlot(step))][size_t(j)];
                if (count > 0)
                    addFailure(kRankUnprompted, step, buttonName(j), "unprompted",
                               buttonName(j) + " pressed " +
                                   (count == 1 ? "once" : std::to_string(count) + " times") +
                                   " during the " + checkStepName(step) + " step");
            }
        }
    }

    std::stable_sort(
        ranked.begin(), ranked.end(),
        [](const RankedFailure& a, const RankedFailure& b) { return a.rank < b.rank; });
    outcome.failures.clear();
    for (const RankedFailure& entry : ranked)
        outcome.failures.push_back(entry.failure);

    // A "data" failure of a step says it could not be judged; any other is
    // a fault of the wand.
    bool wandFault = false;
    for (const RankedFailure& entry : ranked)
        wandFault = wandFault || entry.rank != kRankData;
    bool anyShort = false;
    for (const CheckStep step : kTimedSteps)
        anyShort = anyShort || isShort(step);
    const auto stepVerdict = [&](CheckStep step) {
        if (int(step) > int(reached))
            return Verdict::NotRun;
        if (step == reached && !complete)
            return Verdict::Incomplete;
        for (const RankedFailure& entry : ranked)
            if (entry.step == step && entry.rank != kRankData)
                return Verdict::Fail;
        if (step != CheckStep::Buttons && isShort(step))
            return Verdict::Incomplete;
        return Verdict::Pass;
    };
    outcome.buttonsVerdict = stepVerdict(CheckStep::Buttons);
    outcome.rest.verdict = stepVerdict(CheckStep::Rest);
    outcome.circle.verdict = stepVerdict(CheckStep::Circle);
    outcome.hold.verdict = stepVerdict(CheckStep::Hold);
    if (reached == CheckStep::Buttons && !complete && prompted < outcome.numButton &&
        outcome.buttons[size_t(prompted)].verdict == Verdict::NotRun)
        outcome.buttons[size_t(prompted)].verdict = Verdict::Incomplete;
    // A figure its step ran for but did not judge could not be measured.
    for (size_t i = 0; i < kCheckItemCount; ++i) {
        const CheckItemInfo& info = checkItemInfo(CheckItem(i));
        FigureJudgement& judgement = outcome.judgements[i];
        if (info.side != LimitSide::None && judgement.verdict == Verdict::NotRun &&
            stepVerdict(info.step) != Verdict::NotRun)
            judgement.verdict = Verdict::Incomplete;
    }
    outcome.verdict = !complete   ? Verdict::Incomplete
                      : wandFault ? Verdict::Fail
                      : anyShort  ? Verdict::Incomplete
                                  : Verdict::Pass;
}

void SkywandCheck::addFailure(int rank, CheckStep step, const std::string& item,
                              const std::string& reason, const std::string& detail,
                              std::optional<CheckItem> figure)
{
    ranked.push_back({rank, step, {checkStepName(step), item, reason, detail, figure}});
}
