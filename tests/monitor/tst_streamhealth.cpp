#include "framedecoder.h"
#include "frameformat.h"
#include "streamhealth.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

namespace {

// One receive outcome of a hand-made stream: 'f' a frame (counter 0: none),
// 'x' a datagram without a controller line, 'p' a parse failure, 't' a
// timeout, 'n' a network failure. senderPort 0 means sender unknown.
struct Event
{
    double time;
    char kind;
    uint32_t counter = 0;
    uint16_t senderPort = 7000;
};

struct Expected
{
    uint64_t frames, gaps, missed, repeated, backward;
    Staleness staleness;
    bool twoSenders;
};

struct Case
{
    const char* name;
    std::vector<Event> events;
    double at;
    Expected expected;
};

// Frames every step seconds from start, counters from first on by
// increment; first 0 sends none.
std::vector<Event> run(double start, int count, double step, uint32_t first, uint16_t port = 7000,
                       uint32_t increment = 1)
{
    std::vector<Event> events;
    for (int i = 0; i < count; ++i)
        events.push_back(
            {start + i * step, 'f', first ? first + uint32_t(i) * increment : 0, port});
    return events;
}

std::vector<Event> join(std::vector<Event> a, const std::vector<Event>& b)
{
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

void feed(StreamHealth& health, const std::vector<Event>& events)
{
    for (const Event& e : events) {
        const Endpoint sender{e.senderPort ? 0x7f000001u : 0u, e.senderPort};
        FrameEvent frame;
        frame.frameCounter = e.counter;
        frame.sender = sender;
        frame.controllerLines = e.kind == 'f';
        if (e.kind == 'f' || e.kind == 'x')
            health.recordFrame(e.time, frame);
        else if (e.kind == 'p')
            health.recordParseError(e.time, sender);
        else if (e.kind == 't')
            health.recordTimeout(e.time);
        else
            health.recordNetError(e.time);
    }
}

class Continuity : public testing::TestWithParam<Case>
{
};

TEST_P(Continuity, CountsAndFlags)
{
    const Case& c = GetParam();
    StreamHealth health(0.0);
    feed(health, c.events);
    const HealthFigures f = health.figures(c.at);
    const Expected& e = c.expected;
    EXPECT_EQ(f.total.frames, e.frames);
    EXPECT_EQ(f.total.gaps, e.gaps);
    EXPECT_EQ(f.total.missedFrames, e.missed);
    EXPECT_EQ(f.total.repeated, e.repeated);
    EXPECT_EQ(f.total.backward, e.backward);
    EXPECT_EQ(f.staleness, e.staleness);
    EXPECT_EQ(f.twoSenders(), e.twoSenders);
}

const Staleness kFresh = Staleness::Fresh, kNoFrame = Staleness::NoFrame,
                kFrozen = Staleness::CounterFrozen;

INSTANTIATE_TEST_SUITE_P(
    Streams, Continuity,
    testing::Values(
        Case{"steady", run(0, 100, 0.01, 1), 1.0, {100, 0, 0, 0, 0, kFresh, false}},
        Case{"gaps",
             {{0.0, 'f', 1}, {0.1, 'f', 2}, {0.2, 'f', 5}, {0.3, 'f', 6}, {0.4, 'f', 10}},
             0.4,
             {5, 2, 5, 0, 0, kFresh, false}},
        Case{"repeatAndBack",
             {{0.0, 'f', 7}, {0.1, 'f', 8}, {0.2, 'f', 8}, {0.3, 'f', 3}, {0.4, 'f', 4}},
             0.4,
             {5, 0, 0, 1, 1, kFresh, false}},
        Case{"wrapsForward",
             {{0.0, 'f', 0xFFFFFFFEu}, {0.1, 'f', 0xFFFFFFFFu}, {0.2, 'f', 2}},
             0.2,
             {3, 1, 2, 0, 0, kFresh, false}},
        Case{"nothingYet", {{0.9, 't'}}, 1.0, {0, 0, 0, 0, 0, kNoFrame, false}},
        Case{"stopped", run(0, 50, 0.01, 1), 1.0, {50, 0, 0, 0, 0, kNoFrame, false}},
        Case{"notYetStopped", run(0, 50, 0.01, 1), 0.98, {50, 0, 0, 0, 0, kFresh, false}},
        Case{"counterFrozen",
             join(run(0, 10, 0.01, 1), run(0.1, 60, 0.01, 10, 7000, 0)),
             0.7,
             {70, 0, 0, 60, 0, kFrozen, false}},
        Case{"counterNotYetFrozen",
             join(run(0, 10, 0.01, 1), run(0.1, 40, 0.01, 10, 7000, 0)),
             0.5,
             {50, 0, 0, 40, 0, kFresh, false}},
        Case{"countersLeftOut",
             join(run(0, 10, 0.01, 1), run(0.1, 60, 0.01, 0)),
             0.7,
             {70, 0, 0, 0, 0, kFresh, false}},
        Case{"foreignAndFailuresAreNoFrames",
             {{0.0, 'f', 1}, {0.1, 'x'}, {0.2, 'p'}, {0.3, 'n'}, {0.4, 'f', 2}},
             0.4,
             {2, 0, 0, 0, 0, kFresh, false}},
        Case{"twoSenders",
             join(run(0, 5, 0.1, 1, 7000), run(0.55, 5, 0.1, 1, 7001)),
             1.0,
             {10, 0, 0, 0, 1, kFresh, true}},
        Case{"secondSenderGone",
             join(run(0, 2, 0.1, 1, 7001), run(0.2, 20, 0.1, 3, 7000)),
             2.1,
             {22, 0, 0, 0, 0, kFresh, false}},
        Case{"clockBackIsNoTime",
             {{1.0, 'f', 1}, {0.2, 'f', 2}, {std::nan(""), 'f', 3}},
             1.2,
             {3, 0, 0, 0, 0, kFresh, false}}),
    [](const testing::TestParamInfo<Case>& info) { return std::string(info.param.name); });

TEST(StreamHealth, RatesOverTheLastSecondAndTotals)
{
    StreamHealth health(10.0);
    // 1 kHz of frames for 1.5 s, one parse failure and one foreign datagram
    // in each 10 ms, then a second of nothing but one timeout.
    for (int i = 0; i < 1500; ++i) {
        const double t = 10.0 + i * 0.001;
        FrameEvent frame;
        frame.frameCounter = uint32_t(i + 1);
        health.recordFrame(t, frame);
        if (i % 10 == 0) {
            health.recordParseError(t, Endpoint{});
            frame.controllerLines = false;
            health.recordFrame(t, frame);
        }
    }
    HealthFigures f = health.figures(11.4995);
    EXPECT_NEAR(f.framesPerSecond, 1000.0, 2.0);
    EXPECT_NEAR(f.datagramsPerSecond, 1200.0, 3.0);
    EXPECT_NEAR(double(f.lastSecond.parseErrors), 100.0, 1.0);
    EXPECT_EQ(f.total.frames, 1500u);
    EXPECT_EQ(f.total.datagrams, 1800u);

    // Half a second in, the rate is over the half second watched.
    EXPECT_NEAR(health.figures(10.4995).framesPerSecond, 1000.0, 2.0);

    health.recordTimeout(12.6);
    f = health.figures(12.6);
    EXPECT_EQ(f.framesPerSecond, 0.0);
    EXPECT_EQ(f.lastSecond.timeouts, 1u);
    EXPECT_EQ(f.total.frames, 1500u);
    EXPECT_NEAR(f.dataAge, 1.101, 1e-6);
}

TEST(StreamHealth, SkywandQualityAndPresence)
{
    StreamHealth health;
    const float quality[3] = {0.9f, 0.5f, 0.25f};
    FrameEvent frame;
    frame.numSkywand = 3;
    frame.skywandsInFrame = 2;
    frame.skywandQuality = quality;
    health.recordFrame(0.1, frame);
    frame.numSkywand = 1000000; // beyond any limit: clamped, and no qualities read
    frame.skywandQuality = nullptr;
    health.recordFrame(0.2, frame);
    frame.numSkywand = 3;
    frame.skywandsInFrame = 1;
    frame.skywandQuality = quality;
    health.recordFrame(0.3, frame);

    const HealthFigures f = health.figures(0.3);
    ASSERT_EQ(f.skywands.size(), 3u);
    EXPECT_FLOAT_EQ(f.skywands[0].quality, 0.9f);
    EXPECT_TRUE(f.skywands[0].inLastFrame);
    EXPECT_FALSE(f.skywands[1].inLastFrame);
    EXPECT_DOUBLE_EQ(f.skywands[1].lastSeen, 0.2);
    EXPECT_DOUBLE_EQ(f.skywands[2].lastSeen, -1.0);
}

struct FormatCase
{
    std::string text;
    bool controllerLine;
    bool controllerFrame;
};

class FrameFormat : public testing::TestWithParam<FormatCase>
{
};

TEST_P(FrameFormat, TellsFramesFromOtherTraffic)
{
    const FormatCase& c = GetParam();
    FrameData scratch;
    EXPECT_EQ(looksLikeControllerFrame(scratch, c.text.data(), c.text.size()), c.controllerFrame);
    EXPECT_EQ(scratch.controllerLines, c.controllerLine);
}

INSTANTIATE_TEST_SUITE_P(
    Texts, FrameFormat,
    testing::Values(FormatCase{"fr 12\nts 3.5\n", true, true},
                    FormatCase{"junk\r\n6df2 1 0\r\n", true, true},
                    FormatCase{"GET / HTTP/1.1\r\nHost: x\r\n\r\n", false, false},
                    FormatCase{std::string("\x17\x80\xff zz", 6), false, false},
                    FormatCase{" fr 1\nfr", false, false},
                    FormatCase{std::string("abc\0fr 1", 8), false, false},
                    FormatCase{"fr 1\n6d 1 [0 1.0 [", true, false}, FormatCase{"", false, false}));

} // namespace
