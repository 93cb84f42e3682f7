// The feed between the data port and the check: what is not a frame of the
// judged wand's stream never becomes a wand fault, and is counted instead.

#include "checkfeed.h"
#include "passingwand.h"
#include "skywandcheck.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

namespace {

constexpr int64_t kRateHz = 100;
constexpr DatagramSender kController{0x0A000001, 5001};
constexpr DatagramSender kSecond{0x0A000002, 5001};

// Frames of the passing wand, or of no Skywand at all.
std::string frameText(uint32_t counter, double t, bool withSkywand = true)
{
    if (withSkywand)
        return passingWandFrame(counter, t);
    return "fr " + std::to_string(counter) + "\n6df2 0 0\n";
}

struct Datagram
{
    std::string text;
    int64_t us;
    DatagramSender from;
};

// 14 s of the stream; extra datagrams go in at their times.
std::vector<Datagram> stream(uint32_t firstCounter = 1)
{
    std::vector<Datagram> out;
    for (int64_t i = 0; i < 14 * kRateHz; ++i)
        out.push_back({frameText(firstCounter + uint32_t(i), double(i) / kRateHz),
                       1000000 + i * 1000000 / kRateHz, kController});
    return out;
}

// Index of the frame at t seconds, inside the hold step's window.
constexpr size_t kInHold = 9 * kRateHz;

struct FeedCase
{
    const char* name;
    void (*damage)(std::vector<Datagram>&);
    const char* verdict;
    int64_t dropped;
    // What the report counts beside the judged frames.
    int64_t late, repeated, foreign, otherSender;
};

void swapNeighbours(std::vector<Datagram>& s, size_t at)
{
    std::swap(s[at].text, s[at + 1].text);
}

const FeedCase kCases[] = {
    {"clean", [](std::vector<Datagram>&) {}, "pass", 0, 0, 0, 0, 0},
    {"anotherProgramsDatagram",
     [](std::vector<Datagram>& s) {
         s.insert(s.begin() + kInHold, {"PING 1", s[kInHold].us, kController});
     },
     "pass", 0, 0, 0, 1, 0},
    {"controllerLinesWithoutCounter",
     [](std::vector<Datagram>& s) {
         s.insert(s.begin() + kInHold, {"6df2 0 0\n", s[kInHold].us, kController});
     },
     "pass", 0, 0, 0, 1, 0},
    {"oldFrameDeliveredAgain",
     [](std::vector<Datagram>& s) {
         s.insert(s.begin() + kInHold, {s[kInHold - 500].text, s[kInHold].us, kController});
     },
     "pass", 0, 0, 1, 0, 0},
    {"threeSwappedPairs",
     [](std::vector<Datagram>& s) {
         for (size_t at : {kInHold, kInHold + 50, kInHold + 100})
             swapNeighbours(s, at);
     },
     "pass", 0, 3, 0, 0, 0},
    {"lateFrameFillsPartOfAGap",
     [](std::vector<Datagram>& s) {
         Datagram late = s[kInHold + 1];
         s.erase(s.begin() + kInHold, s.begin() + kInHold + 3);
         late.us = s[kInHold + 5].us;
         s.insert(s.begin() + kInHold + 6, late);
     },
     "pass", 2, 1, 0, 0, 0},
    {"secondSenderWithoutTheSkywand",
     [](std::vector<Datagram>& s) {
         for (size_t k = 0; k < 20; ++k) {
             const size_t at = kInHold + 2 * k;
             s.insert(s.begin() + at + 1,
                      {frameText(900000 + uint32_t(k), 0.0, false), s[at].us, kSecond});
         }
     },
     "pass", 0, 0, 0, 0, 20},
    {"secondSenderWithTheSkywand",
     [](std::vector<Datagram>& s) {
         s.insert(s.begin() + kInHold, {frameText(7, 0.0), s[kInHold].us, kSecond});
     },
     "incomplete", 0, 0, 0, 0, 1},
    {"threeLostAcrossTheCounterWrap",
     [](std::vector<Datagram>& s) {
         s = stream(uint32_t(0) - uint32_t(kInHold) - 5);
         s.erase(s.begin() + kInHold, s.begin() + kInHold + 3);
     },
     "pass", 3, 0, 0, 0, 0},
};

class FeedTest : public ::testing::TestWithParam<FeedCase>
{
};

TEST_P(FeedTest, JudgesOnlyTheWandsOwnStream)
{
    const FeedCase& row = GetParam();
    std::vector<Datagram> datagrams = stream();
    row.damage(datagrams);
    SkywandCheck check;
    CheckFeed feed(check, 0);
    for (const Datagram& d : datagrams)
        feed.datagram(d.text.data(), d.text.size(), d.us, d.from, 5000);
    ASSERT_TRUE(check.finished());
    const CheckResult& result = check.result();
    EXPECT_STREQ(verdictName(result.verdict), row.verdict);
    const FeedEvidence& e = feed.evidence();
    EXPECT_EQ(e.late, row.late);
    EXPECT_EQ(e.repeated, row.repeated);
    EXPECT_EQ(e.foreign, row.foreign);
    EXPECT_EQ(e.otherSender, row.otherSender);
    EXPECT_EQ(e.sender, kController);
    EXPECT_EQ(e.port, 5000);
    if (result.verdict == Verdict::Incomplete) {
        ASSERT_FALSE(result.failures.empty());
        EXPECT_NE(result.failures[0].detail.find(kSecond.text()), std::string::npos)
            << result.failures[0].detail;
        return;
    }
    EXPECT_EQ(result.hold.droppedFrames, row.dropped);
    for (const CheckFailure& f : result.failures)
        EXPECT_NE(f.item, "droppedFrames") << f.detail;
}

INSTANTIATE_TEST_SUITE_P(Streams, FeedTest, ::testing::ValuesIn(kCases),
                         [](const auto& info) { return std::string(info.param.name); });

// A checker that was held up judges each datagram by when it came: the
// feed's time is the arrival handed in, not when the call is made.
TEST(CheckFeed, WaitsForTheFirstDatagramFromTheFirstQuietCall)
{
    SkywandCheck check;
    CheckFeed feed(check, 0);
    feed.quiet(5000000);
    feed.quiet(14000000);
    EXPECT_FALSE(check.finished());
    feed.quiet(15000000);
    ASSERT_TRUE(check.finished());
    EXPECT_EQ(check.result().verdict, Verdict::Incomplete);
}

} // namespace
