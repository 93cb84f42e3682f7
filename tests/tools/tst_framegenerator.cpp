#include "framedecoder.h"
#include "framegenerator.h"
#include "trackingsdk.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <set>

namespace {

struct GeneratorCase
{
    SkywandFormat format;
    int skywands;
};

class GeneratedFrame : public testing::TestWithParam<GeneratorCase>
{
};

TEST_P(GeneratedFrame, decodesToTheAnnouncedCounts)
{
    const auto [format, skywands] = GetParam();
    const FrameGenerator generator({skywands, format, 3});
    const std::string text = generator.frame(77, 12.3456);
    ASSERT_LT(text.size(), size_t(TrackingSdk::kDefaultDataBufferSize - 1));

    FrameData frame;
    ASSERT_TRUE(decodeFrame(frame, text.data(), text.size())) << text;
    EXPECT_EQ(frame.frameCounter, 77u);
    EXPECT_EQ(frame.timestamp, 12.346);
    // The calibrated count makes up for the Skywands and tools the decoder
    // subtracts, so the bodies come out as sent.
    EXPECT_EQ(frame.numBody, FrameGenerator::kBodies);
    EXPECT_EQ(frame.numSkywand, skywands);
    EXPECT_EQ(frame.numMeasurementTool, FrameGenerator::kTools);
    ASSERT_EQ(frame.numHand, 1);
    EXPECT_EQ(frame.hands[0].numFinger, 5);
    EXPECT_EQ(frame.numMarker, FrameGenerator::kMarkers);
    for (int i = 0; i < frame.numBody; ++i)
        EXPECT_EQ(frame.bodies[size_t(i)].quality, 1.0f);

    const int buttons = format == SkywandFormat::TwoCount ? 6 : 8;
    for (int s = 0; s < skywands; ++s) {
        const SkywandRecord& r = frame.skywands[size_t(s)];
        EXPECT_EQ(r.numButton, buttons);
        EXPECT_EQ(r.numJoystick, 2);
        EXPECT_EQ(r.button[FrameGenerator::pressedButton(s, buttons, 12.346)], 1);
        if (format == SkywandFormat::TwoCount) {
            int pressed = 0;
            for (int b = 0; b < buttons; ++b)
                pressed += r.button[b];
            EXPECT_EQ(pressed, 1);
            float x = 0, y = 0;
            FrameGenerator::joystick(s, 12.346, x, y);
            EXPECT_FLOAT_EQ(r.joystickValue[0], x);
            EXPECT_FLOAT_EQ(r.joystickValue[1], y);
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Formats, GeneratedFrame,
                         testing::Values(GeneratorCase{SkywandFormat::TwoCount, 2},
                                         GeneratorCase{SkywandFormat::TwoCount, 0},
                                         GeneratorCase{SkywandFormat::TwoCount,
                                                       FrameGenerator::kMaxSkywands},
                                         GeneratorCase{SkywandFormat::OneCount, 2},
                                         GeneratorCase{SkywandFormat::OneCount, 1}));

// Over one joystick cycle every button, the sixth included, is held at some
// time, one at a time, and the joystick sweeps out to the full radius and
// back to the centre.
TEST(FrameGenerator, buttonsInTurnAndJoystickRadius)
{
    std::set<int> seen;
    double largest = 0.0;
    for (int ms = 0; ms <= 10000; ms += 10) {
        const double t = ms / 1000.0;
        seen.insert(FrameGenerator::pressedButton(0, 6, t));
        float x = 0, y = 0;
        FrameGenerator::joystick(0, t, x, y);
        const double r = std::hypot(x, y);
        EXPECT_LE(r, 1.0015) << t;
        largest = std::max(largest, r);
        if (ms == 0 || ms == 10000) {
            EXPECT_LT(r, 0.0015) << t;
        }
    }
    EXPECT_EQ(seen, (std::set<int>{0, 1, 2, 3, 4, 5}));
    EXPECT_GT(largest, 0.99);
    EXPECT_EQ(FrameGenerator::pressedButton(0, 6, 0.49), 0);
    EXPECT_EQ(FrameGenerator::pressedButton(0, 6, 0.5), 1);
}

// Wands side by side differ at a glance: no two of the first twenty hold the
// same button with the stick in the same place for more than a tenth of a
// minute's samples.
TEST(FrameGenerator, eachSkywandHasItsOwnRhythm)
{
    constexpr int kWands = 20;
    int most = 0;
    for (int a = 0; a < kWands; ++a) {
        for (int b = a + 1; b < kWands; ++b) {
            int alike = 0;
            for (int ms = 0; ms < 60000; ms += 100) {
                float ax = 0, ay = 0, bx = 0, by = 0;
                FrameGenerator::joystick(a, ms / 1000.0, ax, ay);
                FrameGenerator::joystick(b, ms / 1000.0, bx, by);
                alike += FrameGenerator::pressedButton(a, 6, ms / 1000.0) ==
                             FrameGenerator::pressedButton(b, 6, ms / 1000.0) &&
                         std::hypot(ax - bx, ay - by) < 0.2;
            }
            most = std::max(most, alike);
        }
    }
    EXPECT_LT(most, 60);
}

struct DatagramCase
{
    size_t length;
    char fill;
    ErrorState expected;
};

class DatagramOutcome : public testing::TestWithParam<DatagramCase>
{
};

// The same limits as a live receive with a 20000-byte buffer.
TEST_P(DatagramOutcome, followsReceive)
{
    const auto [length, fill, expected] = GetParam();
    std::string text(length, fill);
    if (length >= 4)
        text.replace(0, 4, fill == ' ' ? "fr 1" : "6d x");
    FrameData frame;
    frame.beginFrame();
    EXPECT_EQ(decodeDatagram(frame, text.data(), text.size(), TrackingSdk::kDefaultDataBufferSize),
              expected);
}

INSTANTIATE_TEST_SUITE_P(Lengths, DatagramOutcome,
                         testing::Values(DatagramCase{0, ' ', ErrorState::NetError},
                                         DatagramCase{4, ' ', ErrorState::NoError},
                                         DatagramCase{4, 'x', ErrorState::ParseError},
                                         DatagramCase{19998, ' ', ErrorState::NoError},
                                         DatagramCase{19999, ' ', ErrorState::NetError},
                                         DatagramCase{65000, ' ', ErrorState::NetError}));

} // namespace
