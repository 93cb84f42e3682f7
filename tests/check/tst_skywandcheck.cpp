// The check engine on small hand-made sequences of records: each definition,
// each kind of failure, and the same numbers on every run.

#include "checkreport.h"
#include "framerecords.h"
#include "skywandcheck.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <functional>
#include <set>
#include <string>
#include <vector>

namespace {

constexpr double kPi = 3.14159265358979323846;

SkywandRecord wand(int buttons, uint32_t bits = 0, double x = 0.0, double y = 0.0)
{
    SkywandRecord r;
    r.quality = 1.0f;
    r.numButton = buttons;
    for (int j = 0; j < buttons; ++j)
        r.button[j] = (bits >> j) & 1u;
    r.numJoystick = 2;
    r.joystickValue[0] = float(x);
    r.joystickValue[1] = float(y);
    r.location[0] = 100.0f;
    r.location[1] = 200.0f;
    r.location[2] = 300.0f;
    r.rotation[0] = r.rotation[4] = r.rotation[8] = 1.0f;
    return r;
}

// Feeds a check frame by frame at 128 Hz: times are exact binary fractions,
// so a window of 0.5 s to 5.5 s holds exactly 640 frames.
struct Feeder
{
    SkywandCheck check;
    int rate = 128;
    int64_t index = 0;
    uint32_t counter = 1;

    explicit Feeder(const CheckProfile& profile = CheckProfile(), int rate = 128)
        : check(profile), rate(rate)
    {
    }
    double now() const { return double(index) / rate; }
    // Frames until time `until` (exclusive); shape gets the absolute time.
    void feed(double until, const std::function<SkywandRecord(double)>& shape)
    {
        while (now() < until - 1e-9 && !check.finished()) {
            const SkywandRecord r = shape(now());
            check.frame(counter++, now(), &r);
            ++index;
        }
    }
    // Frames until the check leaves the step it is in.
    void feedStep(const std::function<SkywandRecord(double)>& shape, double limit = 60.0)
    {
        if (check.step() == CheckStep::Waiting)
            feed(now() + 0.5 / rate, shape);
        const CheckStep step = check.step();
        while (check.step() == step && !check.finished() && now() < limit) {
            const SkywandRecord r = shape(now());
            check.frame(counter++, now(), &r);
            ++index;
        }
    }
};

// A wand with no buttons goes straight to the rest step; these run it
// through the steps before the one under test with ideal data.
void idealRest(Feeder& f)
{
    f.feedStep([](double) { return wand(0); });
}

void idealCircle(Feeder& f)
{
    const double start = f.now();
    f.feedStep([start](double t) {
        const double a = 2.0 * kPi * (t - start); // one turn a second
        return wand(0, 0, std::cos(a), std::sin(a));
    });
}

std::set<std::string> failedItems(const CheckResult& r)
{
    std::set<std::string> items;
    for (const CheckFailure& f : r.failures)
        items.insert(f.step + "/" + f.item + "/" + f.reason);
    return items;
}

// ---------------------------------------------------------------- buttons

struct ButtonRow
{
    const char* name;
    // Times at which the wand's button bits change, in order.
    std::vector<std::pair<double, uint32_t>> changes;
    // Per button: reason ("" for a pass) and presses while prompted.
    std::vector<std::pair<std::string, int>> expected;
    const char* firstDetail; // of the first failure, when there is one
};

class ButtonSteps : public ::testing::TestWithParam<ButtonRow>
{
};

TEST_P(ButtonSteps, EachButtonGetsItsVerdict)
{
    const ButtonRow& row = GetParam();
    Feeder f;
    const auto bitsAt = [&](double t) {
        uint32_t bits = 0;
        for (const auto& [at, value] : row.changes)
            if (t >= at - 1e-9)
                bits = value;
        return bits;
    };
    f.feedStep([&](double t) { return wand(3, bitsAt(t)); });
    ASSERT_EQ(f.check.step(), CheckStep::Rest) << f.now();
    const CheckResult& r = f.check.result();
    ASSERT_EQ(r.buttons.size(), 3u);
    for (size_t k = 0; k < 3; ++k) {
        SCOPED_TRACE("button " + std::to_string(k + 1));
        EXPECT_EQ(r.buttons[k].reason, row.expected[k].first);
        EXPECT_EQ(r.buttons[k].verdict,
                  row.expected[k].first.empty() ? Verdict::Pass : Verdict::Fail);
        EXPECT_EQ(r.buttons[k].pressCount, row.expected[k].second);
    }
    if (*row.firstDetail) {
        f.check.stop(f.now(), "test");
        ASSERT_GE(f.check.result().failures.size(), 2u);
        EXPECT_EQ(f.check.result().failures[1].detail, row.firstDetail);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Check, ButtonSteps,
    ::testing::Values(
        ButtonRow{"pass",
                  {{0.5, 1}, {0.6, 0}, {1.2, 2}, {1.3, 0}, {1.8, 4}, {1.9, 0}},
                  {{"", 1}, {"", 1}, {"", 1}},
                  ""},
        // Held from the start: its prompt is skipped and its bit ignored.
        ButtonRow{"stuck from the start",
                  {{0.0, 2}, {0.5, 3}, {0.6, 2}, {1.2, 6}, {1.3, 2}},
                  {{"", 1}, {"stuck", 0}, {"", 1}},
                  "held when the check started"},
        // Held past 5 s: the prompt moves on at once, the late release counts
        // for nothing.
        ButtonRow{"held too long",
                  {{0.5, 1}, {6.0, 0}, {6.5, 2}, {6.6, 0}, {7.2, 4}, {7.3, 0}},
                  {{"stuck", 1}, {"", 1}, {"", 1}},
                  "held longer than 5 s"},
        ButtonRow{"crossed both ways",
                  {{0.5, 2}, {0.6, 0}, {1.0, 1}, {1.1, 0}, {1.5, 4}, {1.6, 0}},
                  {{"crossed", 0}, {"crossed", 0}, {"", 1}},
                  "button 2 pressed instead of button 1"},
        ButtonRow{"no press",
                  {{10.5, 2}, {10.6, 0}, {11.2, 4}, {11.3, 0}},
                  {{"no press", 0}, {"", 1}, {"", 1}},
                  "nothing pressed within 10 s of the prompt"},
        ButtonRow{
            "chatter",
            {{0.5, 1}, {0.625, 0}, {0.65625, 1}, {0.7, 0}, {1.2, 2}, {1.3, 0}, {1.8, 4}, {1.9, 0}},
            {{"chatter", 2}, {"", 1}, {"", 1}},
            "pressed again 0.03125 s after its release"},
        // Pressed again after 200 ms: a second press, not chatter.
        ButtonRow{"double press",
                  {{0.5, 1}, {0.6, 0}, {0.8, 1}, {0.9, 0}, {1.4, 2}, {1.5, 0}, {2.0, 4}, {2.1, 0}},
                  {{"", 2}, {"", 1}, {"", 1}},
                  ""},
        // The next button 150 ms after a clean release, before the 300 ms
        // settle: it answers the next prompt.
        ButtonRow{"next pressed early",
                  {{0.5, 1}, {0.6, 0}, {0.75, 2}, {0.85, 0}, {1.4, 4}, {1.5, 0}},
                  {{"", 1}, {"", 1}, {"", 1}},
                  ""},
        // The same in one frame with the release: still the next prompt's.
        ButtonRow{"next pressed with the release",
                  {{0.5, 1}, {0.6, 2}, {0.7, 0}, {1.4, 4}, {1.5, 0}},
                  {{"", 1}, {"", 1}, {"", 1}},
                  ""},
        ButtonRow{"wrong button pressed early",
                  {{0.5, 1}, {0.6, 0}, {0.75, 4}, {0.85, 0}, {1.4, 4}, {1.5, 0}},
                  {{"", 1}, {"crossed", 0}, {"", 1}},
                  "button 3 pressed instead of button 2"}),
    [](const ::testing::TestParamInfo<ButtonRow>& info) {
        std::string name = info.param.name;
        for (char& c : name)
            if (c == ' ')
                c = '_';
        return name;
    });

TEST(Check, ButtonTimesPromptsAndSettle)
{
    Feeder f;
    // Before the first record: waiting.
    f.check.tick(0.0);
    EXPECT_EQ(f.check.prompt(), "Waiting for the Skywand");
    const auto bits = [](double t) -> uint32_t {
        if (t >= 0.5 && t < 0.625)
            return 1;
        if (t >= 1.25 && t < 1.375)
            return 2;
        return 0;
    };
    f.feed(0.55, [&](double t) { return wand(2, bits(t)); });
    EXPECT_EQ(f.check.prompt(), "Press and release button 1");
    EXPECT_EQ(f.check.buttonToPress(), 1);
    // The prompt waits 300 ms after the release before it moves on.
    f.feed(0.92, [&](double t) { return wand(2, bits(t)); });
    EXPECT_EQ(f.check.buttonToPress(), 1);
    f.feed(0.935, [&](double t) { return wand(2, bits(t)); });
    EXPECT_EQ(f.check.buttonToPress(), 2);
    EXPECT_GT(f.check.countdown(), 9.99);
    EXPECT_LE(f.check.countdown(), 10.0);
    f.feedStep([&](double t) { return wand(2, bits(t)); });
    EXPECT_EQ(f.check.prompt(), "Let go of the joystick");
    const ButtonResult& b = f.check.result().buttons[1];
    EXPECT_EQ(b.pressedAt, 1.25);
    EXPECT_EQ(b.releasedAt, 1.375);
}

// ---------------------------------------------------------------- rest

struct RestRow
{
    const char* name;
    std::function<std::pair<double, double>(int64_t frame)> joystick; // frame from the prompt
    double centreX, centreY, noiseX, noiseY;
    std::set<std::string> failures;
};

class RestStep : public ::testing::TestWithParam<RestRow>
{
};

TEST_P(RestStep, MeansAndSpreadOverTheWindow)
{
    const RestRow& row = GetParam();
    Feeder f;
    f.feedStep([&](double t) {
        const int64_t frame = std::llround(t * 128.0);
        // Outside 0.5 s .. 2.5 s nothing counts: a wild value there proves it.
        if (frame < 64)
            return wand(0, 0, 0.9, -0.9);
        const auto [x, y] = row.joystick(frame);
        return wand(0, 0, x, y);
    });
    f.check.stop(f.now(), "test");
    const RestResult& rest = f.check.result().rest;
    EXPECT_EQ(rest.samples, 256);
    EXPECT_NEAR(rest.centreX, row.centreX, 1e-7);
    EXPECT_NEAR(rest.centreY, row.centreY, 1e-7);
    EXPECT_NEAR(rest.offset, std::hypot(row.centreX, row.centreY), 1e-7);
    EXPECT_NEAR(rest.noiseX, row.noiseX, 1e-7);
    EXPECT_NEAR(rest.noiseY, row.noiseY, 1e-7);
    std::set<std::string> expected = row.failures;
    expected.insert("circle/data/incomplete");
    EXPECT_EQ(failedItems(f.check.result()), expected);
}

INSTANTIATE_TEST_SUITE_P(
    Check, RestStep,
    ::testing::Values(
        RestRow{"centred", [](int64_t) { return std::make_pair(0.0, 0.0); }, 0, 0, 0, 0, {}},
        // 0.02 +- 0.005 on x (population deviation 0.005), -0.04 on y.
        RestRow{"drift",
                [](int64_t i) { return std::make_pair(i % 2 ? 0.025 : 0.015, -0.04); },
                0.02,
                -0.04,
                0.005,
                0.0,
                {}},
        // 0.05f is a little above 0.05 and still meets a limit of 0.05.
        RestRow{"drift at the limit",
                [](int64_t) { return std::make_pair(0.05, 0.0); },
                0.05,
                0.0,
                0.0,
                0.0,
                {}},
        RestRow{"drift too far",
                [](int64_t) { return std::make_pair(0.04, -0.04); },
                0.04,
                -0.04,
                0.0,
                0.0,
                {"rest/offset/above limit"}},
        RestRow{"noisy y",
                [](int64_t i) { return std::make_pair(0.0, i % 2 ? 0.02 : -0.02); },
                0.0,
                0.0,
                0.0,
                0.02,
                {"rest/noiseY/above limit"}}));

// ---------------------------------------------------------------- circle

struct CircleRow
{
    const char* name;
    // Joystick position for the nth sample of the step.
    std::function<std::pair<double, double>(int n)> joystick;
    int samplesToEnd; // the step ends with this sample (0: at its 20 s limit)
    double coverage;
    double circularityError;         // -1: not looked at
    std::array<double, 4> quadrants; // NaN: none covered; -1: not looked at
    std::set<std::string> failures;
};

class CircleStep : public ::testing::TestWithParam<CircleRow>
{
};

// From angle 0, then one sample in the middle of each sector, turning 5
// degrees a sample; the 146th sample passes 720 degrees by 2.5.
double turned(int n)
{
    return n == 0 ? 0.0 : n > 0 ? 2.5 + 5.0 * (n - 1) : -2.5 + 5.0 * (n + 1);
}

std::pair<double, double> sectorCentre(int n, double radius)
{
    const double a = turned(n) * kPi / 180.0;
    return {radius * std::cos(a), radius * std::sin(a)};
}

TEST_P(CircleStep, SectorsReachAndEnd)
{
    const CircleRow& row = GetParam();
    Feeder f;
    idealRest(f);
    ASSERT_EQ(f.check.step(), CheckStep::Circle);
    int n = 0;
    while (f.check.step() == CheckStep::Circle && n < 5000) {
        const auto [x, y] = row.joystick(n++);
        const SkywandRecord r = wand(0, 0, x, y);
        f.check.frame(f.counter++, f.now(), &r);
        ++f.index;
    }
    EXPECT_EQ(f.check.step(), CheckStep::Hold);
    if (row.samplesToEnd)
        EXPECT_EQ(n, row.samplesToEnd);
    else
        EXPECT_NEAR(f.now(), 2.5 + 20.0, 0.01);
    f.check.stop(f.now(), "test");
    const CircleResult& c = f.check.result().circle;
    EXPECT_NEAR(c.coverage, row.coverage, 1e-12);
    if (row.circularityError >= 0.0) {
        EXPECT_NEAR(c.circularityError, row.circularityError, 1e-4);
    }
    for (size_t q = 0; q < 4; ++q) {
        if (row.quadrants[q] < 0.0)
            continue;
        if (std::isnan(row.quadrants[q]))
            EXPECT_TRUE(std::isnan(c.circularityErrorQuadrant[q])) << q;
        else
            EXPECT_NEAR(c.circularityErrorQuadrant[q], row.quadrants[q], 1e-4) << q;
    }
    std::set<std::string> expected = row.failures;
    expected.insert("hold/data/incomplete");
    EXPECT_EQ(failedItems(f.check.result()), expected);
    // Each figure carries the judgement its failure, or none, tells; the
    // report prints that one (a reach at the limit in floats passes there too).
    const std::string html = reportHtml(CheckReportInfo(), CheckProfile(), f.check.result());
    for (const CheckItem item : {CheckItem::Coverage, CheckItem::ReachPlusX, CheckItem::ReachMinusX,
                                 CheckItem::ReachPlusY, CheckItem::ReachMinusY}) {
        const std::string name = checkItemName(item);
        const bool failed = row.failures.count("circle/" + name + "/below limit") > 0;
        const Verdict verdict = f.check.result().judgement(item).verdict;
        EXPECT_EQ(verdict, failed ? Verdict::Fail : Verdict::Pass) << name;
        const std::string cell = failed ? "<td class=\"fail\">fail" : "<td class=\"pass\">pass";
        const size_t row = html.find("<tr><td>" + name + "</td>");
        EXPECT_EQ(html.substr(html.find("</td></tr>", row) - cell.size(), cell.size()), cell)
            << name;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Check, CircleStep,
    ::testing::Values(
        CircleRow{
            "round", [](int n) { return sectorCentre(n, 1.0); }, 146, 1.0, 0.0, {0, 0, 0, 0}, {}},
        CircleRow{"round the other way",
                  [](int n) { return sectorCentre(-n, 1.0); },
                  146,
                  1.0,
                  0.0,
                  {0, 0, 0, 0},
                  {}},
        // 10 % too far in the first quadrant only.
        CircleRow{"one quadrant wide",
                  [](int n) {
                      return sectorCentre(n, turned(n) < 90.0 || turned(n) >= 720.0 ? 1.1 : 1.0);
                  },
                  146,
                  1.0,
                  2.5,
                  {10, 0, 0, 0},
                  {}},
        // Samples under r 0.5 neither count nor turn; the reach still sees them.
        CircleRow{"centre samples between",
                  [](int n) { return n % 2 ? std::make_pair(0.1, 0.1) : sectorCentre(n / 2, 1.0); },
                  291,
                  1.0,
                  0.0,
                  {0, 0, 0, 0},
                  {}},
        // Back and forth over the upper half never sweeps 720 degrees.
        CircleRow{"half circle",
                  [](int n) {
                      const int k = n % 72;
                      return sectorCentre(k < 36 ? k + 1 : 72 - k, 0.97);
                  },
                  0,
                  0.5,
                  3.0,
                  {3, 3, NAN, NAN},
                  {"circle/coverage/below limit", "circle/reach -y/below limit"}},
        // Two turns of a second each at 60 frames a second: 6 degrees a
        // sample skips sectors the stick passed through on the edge. (The
        // floats leave the sum of the turns a hair under 720 degrees at the
        // 121st sample, here and below.)
        CircleRow{"brisk",
                  [](int n) {
                      const double a = 6.0 * n * kPi / 180.0;
                      return std::make_pair(0.98 * std::cos(a), 0.98 * std::sin(a));
                  },
                  122,
                  1.0,
                  2.0,
                  {2, 2, 2, 2},
                  {}},
        // 40 degrees a sample is no travel along the edge: the gaps stay, and
        // the step goes on after 720 degrees until its time is up.
        CircleRow{"jumps",
                  [](int n) {
                      const double a = (2.5 + 40.0 * n) * kPi / 180.0;
                      return std::make_pair(std::cos(a), std::sin(a));
                  },
                  0,
                  9.0 / 72,
                  0.0,
                  {0, 0, 0, 0},
                  {"circle/coverage/below limit"}},
        // The largest y is the float 0.95, which meets a limit of 0.95.
        CircleRow{"reach at the limit",
                  [](int n) {
                      const double a = n * kPi / 180.0;
                      return std::make_pair(std::cos(a), 0.95 * std::sin(a));
                  },
                  722,
                  1.0,
                  -1,
                  {-1, -1, -1, -1},
                  {}},
        // A degree a sample, so that the squeezed angles still reach every sector.
        CircleRow{"short vertically",
                  [](int n) {
                      const double a = (n == 0 ? 0.0 : n - 0.5) * kPi / 180.0;
                      return std::make_pair(std::cos(a), 0.9 * std::sin(a));
                  },
                  722,
                  1.0,
                  -1,
                  {-1, -1, -1, -1},
                  {"circle/reach +y/below limit", "circle/reach -y/below limit"}}),
    [](const ::testing::TestParamInfo<CircleRow>& info) {
        std::string name = info.param.name;
        for (char& c : name)
            if (c == ' ')
                c = '_';
        return name;
    });

// ---------------------------------------------------------------- hold

struct HoldRow
{
    const char* name;
    // Changes the record of the nth frame from the hold's prompt; returns
    // how far the frame counter moves to this frame.
    std::function<uint32_t(int n, SkywandRecord& r)> shape;
    int64_t frames, dropped;
    double trackedShare, sigma, jitter, rotationJitter, largestJump;
    std::set<std::string> failures;
    // Frames n that overtake the one before them: the counter skips one,
    // and the skipped frame comes late right after.
    std::vector<int> swapped = {};
};

class HoldStep : public ::testing::TestWithParam<HoldRow>
{
};

void turnAboutZ(SkywandRecord& r, double degrees)
{
    const double a = degrees * kPi / 180.0;
    r.rotation[0] = float(std::cos(a));
    r.rotation[1] = float(-std::sin(a));
    r.rotation[3] = float(std::sin(a));
    r.rotation[4] = float(std::cos(a));
}

// Every row runs twice: with counters far from 2^32, and with the counter
// passing 2^32 at the hold's 301st frame.
TEST_P(HoldStep, FiguresOverTheWindow)
{
    const HoldRow& row = GetParam();
    uint32_t promptCounter = 0; // the counter after the circle, from 1 on
    for (const bool wraps : {false, true}) {
        SCOPED_TRACE(wraps ? "across 2^32" : "from 1");
        Feeder f;
        if (wraps)
            f.counter = uint32_t(1u - promptCounter + (0u - 301u));
        idealRest(f);
        idealCircle(f);
        ASSERT_EQ(f.check.step(), CheckStep::Hold);
        promptCounter = f.counter;
        // The prompt came with the last frame; frame n arrives n + 1 periods later.
        const double start = f.now() - 1.0 / 128;
        for (int n = 0; !f.check.finished() && n < 1000; ++n) {
            SkywandRecord r = wand(0);
            const uint32_t step = row.shape(n, r);
            // Before 0.5 s nothing counts: a wild record there proves it.
            if (n < 63) {
                r.quality = -1.0f;
                r.location[0] = 5000.0f;
            }
            const bool swap =
                std::find(row.swapped.begin(), row.swapped.end(), n) != row.swapped.end();
            f.counter += swap ? step + 1 : step;
            f.check.frame(f.counter, f.now(), &r);
            if (swap) {
                // Only the first of these fills the gap.
                for (const uint32_t late :
                     {f.counter - 1, f.counter - 1, f.counter, f.counter + 5, f.counter - 100000})
                    f.check.lateFrame(late);
            }
            ++f.index;
        }
        ASSERT_TRUE(f.check.finished());
        EXPECT_NEAR(f.check.result().finishTime, start + 5.5, 1e-9);
        const HoldResult& h = f.check.result().hold;
        EXPECT_EQ(h.frames, row.frames);
        EXPECT_EQ(h.droppedFrames, row.dropped);
        EXPECT_EQ(h.lateFrames, int64_t(row.swapped.size()));
        EXPECT_NEAR(h.trackedShare, row.trackedShare, 1e-12);
        EXPECT_NEAR(h.positionSigmaMm, row.sigma, 1e-4);
        EXPECT_NEAR(h.positionJitterMm, row.jitter, 1e-4);
        EXPECT_NEAR(h.rotationJitterDeg, row.rotationJitter, 2e-3);
        EXPECT_NEAR(h.largestJumpMm, row.largestJump, 1e-4);
        EXPECT_EQ(failedItems(f.check.result()), row.failures);
        EXPECT_EQ(f.check.result().verdict, row.failures.empty() ? Verdict::Pass : Verdict::Fail);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Check, HoldStep,
    ::testing::Values(
        HoldRow{"still", [](int, SkywandRecord&) { return 1u; }, 640, 0, 1.0, 0, 0, 0, 0, {}},
        // +-0.3 mm on x every other frame: sigma 0.3, every step 0.6.
        HoldRow{"shaking",
                [](int n, SkywandRecord& r) {
                    r.location[0] = n % 2 ? 100.3f : 99.7f;
                    return 1u;
                },
                640,
                0,
                1.0,
                0.3,
                0.6,
                0,
                0.6,
                {}},
        HoldRow{"position noise",
                [](int n, SkywandRecord& r) {
                    r.location[1] = n % 2 ? 200.6f : 199.4f;
                    return 1u;
                },
                640,
                0,
                1.0,
                0.6,
                1.2,
                0,
                1.2,
                {"hold/positionSigmaMm/above limit"}},
        HoldRow{"turning",
                [](int n, SkywandRecord& r) {
                    turnAboutZ(r, n % 2 ? 0.2 : 0.0);
                    return 1u;
                },
                640,
                0,
                1.0,
                0,
                0,
                0.2,
                0,
                {"hold/rotationJitterDeg/above limit"}},
        // One frame of the counter skipped every 64: 10 beside 640.
        HoldRow{"dropouts",
                [](int n, SkywandRecord&) { return n % 64 == 0 ? 2u : 1u; },
                640,
                10,
                1.0,
                0,
                0,
                0,
                0,
                {"hold/droppedFrames/above limit"}},
        // 20 lost in one gap: the 301st frame is the one past 2^32 in the
        // second run.
        HoldRow{"gap of 20",
                [](int n, SkywandRecord&) { return n == 300 ? 21u : 1u; },
                640,
                20,
                1.0,
                0,
                0,
                0,
                0,
                {"hold/droppedFrames/above limit"}},
        // Five lost before the window's first frame and five before the
        // frame after its end.
        HoldRow{"lost at the edges",
                [](int n, SkywandRecord&) { return n == 63 || n == 703 ? 6u : 1u; },
                640,
                10,
                1.0,
                0,
                0,
                0,
                0,
                {"hold/droppedFrames/above limit"}},
        // Neighbours swapped at the window's first frame, in its middle and
        // at its last frame: nothing is lost.
        HoldRow{"swapped",
                [](int, SkywandRecord&) { return 1u; },
                640,
                0,
                1.0,
                0,
                0,
                0,
                0,
                {},
                {63, 300, 702}},
        // A counter repeated, then five that go back: they are samples, but
        // no gap and no counter twice.
        HoldRow{"counters go back",
                [](int n, SkywandRecord&) { return n == 200   ? 0u
                                                   : n == 300 ? 0u - 5u
                                                              : 1u; },
                640,
                0,
                1.0,
                0,
                0,
                0,
                0,
                {}},
        // Six untracked frames of 640 stay within 1 %.
        HoldRow{"a few untracked",
                [](int n, SkywandRecord& r) {
                    if (n % 110 == 0)
                        r.quality = 0.0f;
                    return 1u;
                },
                640,
                0,
                634.0 / 640,
                0,
                0,
                0,
                0,
                {}},
        HoldRow{"often untracked",
                [](int n, SkywandRecord& r) {
                    if (n % 10 == 9)
                        r.quality = 0.0f;
                    return 1u;
                },
                640,
                0,
                0.9,
                0,
                0,
                0,
                0,
                {"hold/trackedShare/below limit"}}),
    [](const ::testing::TestParamInfo<HoldRow>& info) {
        std::string name = info.param.name;
        for (char& c : name)
            if (c == ' ')
                c = '_';
        return name;
    });

// The hold ends on the first frame at or after its window's end; a stream
// that stops inside the window leaves it incomplete, ticked or stopped.
TEST(Check, HoldEndsOnAFrameAfterItsWindow)
{
    enum End
    {
        TickThenFrame,
        TicksOnly,
        Stop
    };
    for (const End end : {TickThenFrame, TicksOnly, Stop}) {
        SCOPED_TRACE(int(end));
        Feeder f;
        idealRest(f);
        idealCircle(f);
        const double start = f.now() - 1.0 / 128;
        f.feed(start + 5.25, [](double) { return wand(0); });
        switch (end) {
        case TickThenFrame: {
            f.check.tick(start + 5.75);
            EXPECT_FALSE(f.check.finished());
            const SkywandRecord r = wand(0);
            f.check.frame(f.counter + 63, start + 5.75, &r); // 63 lost
            EXPECT_EQ(f.check.result().verdict, Verdict::Fail);
            EXPECT_EQ(f.check.result().hold.droppedFrames, 63);
            EXPECT_EQ(failedItems(f.check.result()),
                      std::set<std::string>{"hold/droppedFrames/above limit"});
            break;
        }
        case TicksOnly:
            f.check.tick(start + 6.0);
            EXPECT_FALSE(f.check.finished());
            f.check.tick(start + 7.5);
            break;
        case Stop:
            f.check.stop(start + 6.0, "the recording ends before the check");
            break;
        }
        ASSERT_TRUE(f.check.finished());
        EXPECT_EQ(f.check.result().hold.frames, 608);
        if (end != TickThenFrame) {
            EXPECT_EQ(f.check.result().verdict, Verdict::Incomplete);
            EXPECT_EQ(f.check.result().hold.verdict, Verdict::Incomplete);
        }
    }
}

// Rotations as a controller writes them, to 6 decimals, read as floats: the
// turn between two equal ones is 0 at any orientation.
TEST(Check, StillWandShowsNoRotationJitterAtAnyOrientation)
{
    const double axes[][3] = {{0, 0, 1}, {1, 1, 1}, {0.3, -0.8, 0.5}, {-0.6, 0.2, 0.77}};
    for (const auto& axis : axes) {
        for (const double degrees : {10.0, 37.0, 90.0, 123.0, 170.0}) {
            SCOPED_TRACE(std::to_string(axis[0]) + " " + std::to_string(axis[1]) + " " +
                         std::to_string(axis[2]) + " by " + std::to_string(degrees));
            const double n = std::sqrt(axis[0] * axis[0] + axis[1] * axis[1] + axis[2] * axis[2]);
            const double x = axis[0] / n, y = axis[1] / n, z = axis[2] / n;
            const double a = degrees * kPi / 180.0, c = std::cos(a), s = std::sin(a), t = 1.0 - c;
            const double rotation[9] = {t * x * x + c,     t * x * y - s * z, t * x * z + s * y,
                                        t * x * y + s * z, t * y * y + c,     t * y * z - s * x,
                                        t * x * z - s * y, t * y * z + s * x, t * z * z + c};
            SkywandRecord still = wand(0);
            for (int i = 0; i < 9; ++i)
                still.rotation[i] = float(std::round(rotation[i] * 1e6) / 1e6);
            Feeder f;
            idealRest(f);
            idealCircle(f);
            f.feedStep([&](double) { return still; });
            ASSERT_TRUE(f.check.finished());
            EXPECT_LT(f.check.result().hold.rotationJitterDeg, 0.01);
            EXPECT_EQ(f.check.result().verdict, Verdict::Pass);
        }
    }
}

// ---------------------------------------------------------------- the whole check

// A wand with two buttons that passes; extra(t, record) may spoil it.
void passingWand(Feeder& f, const std::function<void(double, SkywandRecord&)>& extra = {},
                 double tickEvery = 0.0)
{
    double nextTick = tickEvery;
    while (!f.check.finished() && f.now() < 60.0) {
        const double t = f.now();
        uint32_t bits = 0;
        if (t >= 0.5 && t < 0.6)
            bits = 1;
        if (t >= 1.2 && t < 1.3)
            bits = 2;
        SkywandRecord r = wand(2, bits);
        if (f.check.step() == CheckStep::Circle) {
            const double a = 2.0 * kPi * t;
            r.joystickValue[0] = float(std::cos(a));
            r.joystickValue[1] = float(std::sin(a));
        }
        if (extra)
            extra(t, r);
        // Ticks between frames must change nothing.
        while (tickEvery > 0.0 && nextTick < t) {
            f.check.tick(nextTick);
            nextTick += tickEvery;
        }
        f.check.frame(f.counter++, t, &r);
        ++f.index;
    }
}

TEST(Check, SameFramesSameReportWithOrWithoutTicks)
{
    CheckReportInfo info;
    info.wandId = "W-1";
    Feeder plain;
    passingWand(plain);
    Feeder ticked;
    passingWand(ticked, {}, 0.0037);
    ASSERT_EQ(plain.check.result().verdict, Verdict::Pass);
    EXPECT_TRUE(plain.check.result().failures.empty());
    EXPECT_EQ(reportJson(info, CheckProfile(), plain.check.result()),
              reportJson(info, CheckProfile(), ticked.check.result()));
}

struct EndRow
{
    const char* name;
    std::function<void(Feeder&)> run;
    Verdict verdict;
    std::vector<std::string> failures; // in order: step/item/reason
    std::array<Verdict, 4> steps;      // buttons, rest, circle, hold
    const char* firstDetail = "";
};

class CheckEnds : public ::testing::TestWithParam<EndRow>
{
};

TEST_P(CheckEnds, VerdictFailuresInOrderAndStepVerdicts)
{
    const EndRow& row = GetParam();
    Feeder f;
    row.run(f);
    ASSERT_TRUE(f.check.finished());
    const CheckResult& r = f.check.result();
    EXPECT_EQ(r.verdict, row.verdict);
    std::vector<std::string> failures;
    for (const CheckFailure& failure : r.failures)
        failures.push_back(failure.step + "/" + failure.item + "/" + failure.reason);
    EXPECT_EQ(failures, row.failures);
    EXPECT_EQ(r.buttonsVerdict, row.steps[0]);
    EXPECT_EQ(r.rest.verdict, row.steps[1]);
    EXPECT_EQ(r.circle.verdict, row.steps[2]);
    EXPECT_EQ(r.hold.verdict, row.steps[3]);
    EXPECT_EQ(f.check.prompt(), "");
    if (*row.firstDetail) {
        ASSERT_FALSE(r.failures.empty());
        EXPECT_EQ(r.failures[0].detail, row.firstDetail);
    }
}

using V = Verdict;
INSTANTIATE_TEST_SUITE_P(
    Check, CheckEnds,
    ::testing::Values(
        EndRow{"no record at all",
               [](Feeder& f) {
                   for (int i = 0; i <= 1000; ++i)
                       f.check.frame(uint32_t(i), i / 100.0, nullptr);
               },
               V::Incomplete,
               {"buttons/data/incomplete"},
               {V::NotRun, V::NotRun, V::NotRun, V::NotRun}},
        // Records stop in the rest step; a tick 2 s later ends the check.
        EndRow{"data stops",
               [](Feeder& f) {
                   passingWand(f, [&](double t, SkywandRecord&) {
                       if (f.check.step() == CheckStep::Rest && t > 2.0)
                           f.check.tick(t + 2.5);
                   });
               },
               V::Incomplete,
               {"rest/data/incomplete"},
               {V::Pass, V::Incomplete, V::NotRun, V::NotRun}},
        // Button 2 pressed in the circle and the hold, then a drift: button
        // faults come before figures.
        EndRow{
            "unprompted and drift",
            [](Feeder& f) {
                passingWand(f, [&](double t, SkywandRecord& r) {
                    const CheckStep s = f.check.step();
                    if ((s == CheckStep::Circle || s == CheckStep::Hold) &&
                        std::fmod(t, 1.0) < 0.05)
                        r.button[1] = 1;
                    if (s == CheckStep::Rest)
                        r.joystickValue[0] = 0.06f;
                });
            },
            V::Fail,
            {"circle/button 2/unprompted", "hold/button 2/unprompted", "rest/offset/above limit"},
            {V::Pass, V::Fail, V::Fail, V::Fail}},
        // Garbage from the controller is measured as garbage, never trusted.
        EndRow{"not a number",
               [](Feeder& f) {
                   passingWand(f, [&](double, SkywandRecord& r) {
                       if (f.check.step() != CheckStep::Buttons) {
                           r.joystickValue[0] = NAN;
                           r.location[2] = INFINITY;
                       }
                   });
               },
               V::Fail,
               {"rest/offset/not measured", "rest/noiseX/not measured", "rest/noiseY/not measured",
                "circle/coverage/below limit", "circle/circularityError/not measured",
                "circle/reach +x/not measured", "circle/reach -x/not measured",
                "circle/reach +y/not measured", "circle/reach -y/not measured",
                "hold/trackedShare/below limit", "hold/positionSigmaMm/not measured",
                "hold/rotationJitterDeg/not measured"},
               {V::Pass, V::Fail, V::Fail, V::Fail}},
        // One record of the rest window carries joystick values: too few
        // to measure, neither a pass nor a fault of the wand.
        EndRow{"one sample at rest",
               [](Feeder& f) {
                   passingWand(f, [&](double t, SkywandRecord& r) {
                       if (f.check.step() == CheckStep::Rest && !(t >= 3.0 && t < 3.0 + 1.0 / 128))
                           r.numJoystick = 0;
                   });
               },
               V::Incomplete,
               {"rest/data/incomplete"},
               {V::Pass, V::Incomplete, V::Pass, V::Pass},
               "1 sample in the rest window, at least 20 needed"},
        // Values past numJoystick are absent, not 0: nothing to
        // measure at rest or on the circle, and no wait for it.
        EndRow{"no joystick values",
               [](Feeder& f) {
                   passingWand(f, [](double, SkywandRecord& r) { r.numJoystick = 0; });
                   EXPECT_NEAR(f.check.result().finishTime, 1.6 + 5.5, 0.01);
               },
               V::Incomplete,
               {"rest/data/incomplete", "circle/data/incomplete"},
               {V::Pass, V::Incomplete, V::Incomplete, V::Pass},
               "the Skywand reports 0 joystick values, 2 needed"},
        // A fault elsewhere still fails the wand.
        EndRow{"no joystick values and a dead button",
               [](Feeder& f) {
                   passingWand(f, [](double, SkywandRecord& r) {
                       r.numJoystick = 0;
                       r.button[1] = 0;
                   });
               },
               V::Fail,
               {"rest/data/incomplete", "circle/data/incomplete", "buttons/button 2/no press"},
               {V::Fail, V::Incomplete, V::Incomplete, V::Pass}}),
    [](const ::testing::TestParamInfo<EndRow>& info) {
        std::string name = info.param.name;
        for (char& c : name)
            if (c == ' ')
                c = '_';
        return name;
    });

// Frames at 8 a second give 40 in the hold window: too few to judge the
// wand still, while frames lost remain a fault of their own.
TEST(Check, TooFewHoldFramesLeaveTheHoldIncomplete)
{
    for (const uint32_t step : {1u, 4u}) {
        SCOPED_TRACE(step);
        Feeder f;
        idealRest(f);
        idealCircle(f);
        const double start = f.now() - 1.0 / 128;
        uint32_t counter = f.counter;
        for (int k = 1; k < 100 && !f.check.finished(); ++k) {
            const SkywandRecord r = wand(0);
            counter += step;
            f.check.frame(counter, start + k / 8.0, &r);
        }
        ASSERT_TRUE(f.check.finished());
        const CheckResult& r = f.check.result();
        EXPECT_EQ(r.hold.frames, 40);
        EXPECT_EQ(r.hold.droppedFrames, (step - 1) * 41);
        ASSERT_FALSE(r.failures.empty());
        EXPECT_EQ(r.failures[0].detail, "40 frames in the hold window, at least 50 needed");
        std::set<std::string> expected = {"hold/data/incomplete"};
        if (step > 1)
            expected.insert("hold/droppedFrames/above limit");
        EXPECT_EQ(failedItems(r), expected);
        EXPECT_EQ(r.hold.verdict, step > 1 ? Verdict::Fail : Verdict::Incomplete);
        EXPECT_EQ(r.verdict, step > 1 ? Verdict::Fail : Verdict::Incomplete);
        // Figures the step could not measure are neither passed nor failed,
        // in the result and in the printed report.
        EXPECT_EQ(r.judgement(CheckItem::DroppedFrames).verdict,
                  step > 1 ? Verdict::Fail : Verdict::Pass);
        EXPECT_EQ(r.judgement(CheckItem::TrackedShare).verdict, Verdict::Incomplete);
        EXPECT_NE(reportHtml(CheckReportInfo(), CheckProfile(), r)
                      .find("<td>trackedShare</td><td class=\"num\">–</td><td "
                            "class=\"num\">≥ 0.99</td><td class=\"incomplete\">"),
                  std::string::npos);
    }
}

TEST(Check, ProfileAllowsUnpromptedPresses)
{
    CheckProfile profile;
    profile.maxUnpromptedPresses = 1;
    Feeder f(profile);
    passingWand(f, [&](double t, SkywandRecord& r) {
        if (f.check.step() == CheckStep::Rest && t > 3.0 && t < 3.1)
            r.button[0] = 1;
    });
    EXPECT_EQ(f.check.result().verdict, Verdict::Pass);
    EXPECT_EQ(f.check.result().buttons[0].unprompted, 1);
}

} // namespace
