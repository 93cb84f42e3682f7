#include "framedecoder.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

namespace {

const char* kPose = "[1 2 3][1 0 0 0 1 0 0 0 1]";

bool decode(FrameData& f, const std::string& text)
{
    f.beginFrame();
    return decodeFrame(f, text.data(), text.size());
}

std::string skywand6df(int id, int bits)
{
    return "[" + std::to_string(id) + " 0.9 " + std::to_string(bits) + "]" + kPose;
}

std::string body(int id, const char* quality)
{
    return "[" + std::to_string(id) + " " + quality + "]" + kPose;
}

std::string hand(int id, const char* quality)
{
    return "[" + std::to_string(id) + " " + quality + " 1 1]" + kPose + kPose + "[1 2 3 4 5 6]";
}

TEST(FrameDecoder, HeaderLinesAndUnknownLines)
{
    FrameData f;
    f.numBody = 0;
    EXPECT_TRUE(decode(f, "fr 17"));
    EXPECT_EQ(f.frameCounter, 17u);
    EXPECT_EQ(f.timestamp, -1.0);

    EXPECT_TRUE(decode(f, "  fr 5\nxyz 1 2\nfr  99\r\nts 12.5\n"));
    EXPECT_EQ(f.frameCounter, 99u)
        << "a line with a leading blank is skipped, the later fr line counts";
    EXPECT_EQ(f.timestamp, 12.5);

    EXPECT_TRUE(decode(f, "fr 010\nts 0x10"));
    EXPECT_EQ(f.frameCounter, 8u) << "leading zero means octal";
    EXPECT_EQ(f.timestamp, 16.0);

    EXPECT_FALSE(decode(f, "ts 3\nfr abc"));
    EXPECT_EQ(f.frameCounter, 0u);
    EXPECT_EQ(f.timestamp, 3.0);
    EXPECT_FALSE(decode(f, "fr 4\nts x"));
    EXPECT_EQ(f.timestamp, -1.0);
    EXPECT_TRUE(decode(f, "")) << "an empty text has no failing line";
}

TEST(FrameDecoder, BodiesAreIndexedByIdAndResetEachFrame)
{
    FrameData f;
    ASSERT_TRUE(decode(f, std::string("6d 1 [2 0.8]") + kPose));
    ASSERT_EQ(f.numBody, 3);
    for (int i = 0; i < 2; ++i) {
        EXPECT_EQ(f.bodies[i].id, i);
        EXPECT_EQ(f.bodies[i].quality, -1.0f);
        EXPECT_EQ(f.bodies[i].location[0], 0.0f);
    }
    EXPECT_EQ(f.bodies[2].id, 2);
    EXPECT_EQ(f.bodies[2].quality, 0.8f);
    EXPECT_EQ(f.bodies[2].location[2], 3.0f);
    EXPECT_EQ(f.bodies[2].rotation[8], 1.0f);

    // The next frame names body 0 only: body 2 is reset, the count stays.
    ASSERT_TRUE(decode(f, std::string("6d 1\n[0 0.5][4 5 6][0 0 0 0 0 0 0 0 0]")));
    EXPECT_EQ(f.numBody, 3);
    EXPECT_EQ(f.bodies[0].quality, 0.5f);
    EXPECT_EQ(f.bodies[2].quality, -1.0f);
    EXPECT_EQ(f.bodies[2].location[2], 0.0f);

    // A frame without a "6d " line carries the bodies over untouched.
    ASSERT_TRUE(decode(f, "fr 3"));
    EXPECT_EQ(f.bodies[0].quality, 0.5f);
}

TEST(FrameDecoder, OneCountSkywandsDecodeButtonBitsAndJoystick)
{
    FrameData f;
    ASSERT_TRUE(decode(f, "6df 3 " + skywand6df(0, 0) + skywand6df(1, 160) + skywand6df(2, 80)));
    ASSERT_EQ(f.numSkywand, 3);
    const SkywandRecord& a = f.skywands[1];
    EXPECT_EQ(a.numButton, 8);
    EXPECT_EQ(a.numJoystick, 2);
    EXPECT_EQ(a.button[5], 1);
    EXPECT_EQ(a.button[7], 1);
    EXPECT_EQ(a.button[6], 0);
    EXPECT_EQ(a.joystickValue[0], -1.0f) << "bit 5 wins over bit 7";
    EXPECT_EQ(a.joystickValue[1], 0.0f);
    EXPECT_EQ(f.skywands[2].joystickValue[1], -1.0f);
    EXPECT_EQ(f.skywands[2].joystickValue[0], 0.0f);
    ASSERT_TRUE(decode(f, "6df 1 " + skywand6df(0, 128 + 64 + 1)));
    EXPECT_EQ(f.numSkywand, 1);
    EXPECT_EQ(f.skywands[0].joystickValue[0], 1.0f);
    EXPECT_EQ(f.skywands[0].joystickValue[1], 1.0f);
    EXPECT_EQ(f.skywands[0].button[0], 1);

    EXPECT_FALSE(decode(f, "6df 2 " + skywand6df(0, 0) + skywand6df(0, 0)))
        << "id must equal position";
}

std::string skywand6df2(int id, int buttons, int joysticks, const std::string& last)
{
    return "[" + std::to_string(id) + " 1.0 " + std::to_string(buttons) + " " +
           std::to_string(joysticks) + "]" + kPose + "[" + last + "]";
}

TEST(FrameDecoder, TwoCountSkywandsKeepRecordsBeyondTheRecordCount)
{
    FrameData f;
    ASSERT_TRUE(decode(f, "6df2 3 3 " + skywand6df2(0, 6, 2, "33 0.25 -1") +
                              skywand6df2(1, 16, 8, "0xFFFF 1 2 3 4 5 6 7 8") +
                              skywand6df2(2, 0, 0, "")));
    ASSERT_EQ(f.numSkywand, 3);
    EXPECT_EQ(f.skywands[0].numButton, 6);
    EXPECT_EQ(f.skywands[0].button[0], 1);
    EXPECT_EQ(f.skywands[0].button[1], 0);
    EXPECT_EQ(f.skywands[0].button[5], 1);
    EXPECT_EQ(f.skywands[0].joystickValue[0], 0.25f);
    EXPECT_EQ(f.skywands[0].joystickValue[1], -1.0f);
    EXPECT_EQ(f.skywands[1].button[15], 1);
    EXPECT_EQ(f.skywands[1].joystickValue[7], 8.0f);

    ASSERT_TRUE(decode(f, "6df2 3 1 " + skywand6df2(0, 2, 1, "0 0.5")));
    EXPECT_EQ(f.numSkywand, 3);
    EXPECT_EQ(f.skywands[0].button[0], 0);
    EXPECT_EQ(f.skywands[0].button[5], 1) << "buttons beyond the count keep their state";
    EXPECT_EQ(f.skywands[0].joystickValue[1], -1.0f);
    EXPECT_EQ(f.skywands[1].button[15], 1) << "records beyond the record count keep their contents";

    EXPECT_FALSE(decode(f, "6df2 1 1 " + skywand6df2(0, 17, 0, "0")));
    EXPECT_FALSE(decode(f, "6df2 1 1 " + skywand6df2(0, 0, 9, "1 2 3 4 5 6 7 8 9")));
    EXPECT_FALSE(decode(f, "6df2 1 1 " + std::string("[0 1.0 0 0]") + kPose))
        << "the empty fourth block is required";
    EXPECT_FALSE(decode(f, "6df2 1 2 " + skywand6df2(0, 0, 0, "") + skywand6df2(1, 0, 0, "")))
        << "more records than Skywands";
}

TEST(FrameDecoder, ToolsHandsAndMarkers)
{
    FrameData f;
    std::string finger = std::string(kPose) + "[1 2 3 4 5 6]";
    std::string hand = "[1 0.7 1 2]" + std::string(kPose) + finger + finger;
    ASSERT_TRUE(decode(f, "6dmt 1 [0 0.5 3]" + std::string(kPose) + "\ngl 1 " + hand +
                              "\n3d 2 [7 1.0][1 2 3] [9 0.5][4 5 6]"));
    ASSERT_EQ(f.numMeasurementTool, 1);
    EXPECT_EQ(f.measurementTools[0].button[0], 1);
    EXPECT_EQ(f.measurementTools[0].numButton, 1);
    ASSERT_EQ(f.numHand, 2);
    EXPECT_EQ(f.hands[0].quality, -1.0f);
    EXPECT_EQ(f.hands[1].handType, 1);
    EXPECT_EQ(f.hands[1].numFinger, 2);
    const float expectedShape[6] = {1, 2, 4, 6, 3, 5};
    for (int i = 0; i < 6; ++i)
        EXPECT_EQ(f.hands[1].finger[1].shape[i], expectedShape[i]);
    ASSERT_EQ(f.numMarker, 2);
    EXPECT_EQ(f.markers[0].id, 7);
    EXPECT_EQ(f.markers[1].id, 9);
    EXPECT_EQ(f.markers[1].location[2], 6.0f);

    std::string sixFingers = "[0 0.7 1 6]" + std::string(kPose);
    for (int i = 0; i < 6; ++i)
        sixFingers += finger;
    EXPECT_FALSE(decode(f, "gl 1 " + sixFingers));
    EXPECT_FALSE(decode(f, "3d x"));
    EXPECT_EQ(f.numMarker, 0);
}

TEST(FrameDecoder, EndOfFrameAdjustsCounts)
{
    FrameData f;
    ASSERT_TRUE(decode(f, "6dcal 5\n6df 2 " + skywand6df(0, 0) + skywand6df(1, 0) +
                              "\n6dmt 1 [0 1 0]" + kPose));
    EXPECT_EQ(f.numBody, 2);
    EXPECT_EQ(f.bodies[1].quality, -1.0f);

    FrameData g;
    ASSERT_TRUE(
        decode(g, "6dcal 5\n6df2 2 2 " + skywand6df2(0, 0, 0, "") + skywand6df2(1, 0, 0, "")));
    EXPECT_EQ(g.numBody, 5) << "two-count Skywands are not subtracted";

    ASSERT_TRUE(decode(g, "glcal 3"));
    EXPECT_EQ(g.numHand, 3);
    EXPECT_EQ(g.hands[2].id, 2);
    EXPECT_EQ(g.hands[2].quality, -1.0f);

    // More subtracted objects than calibrated bodies leaves no bodies, never
    // a negative count.
    ASSERT_TRUE(decode(g, "6dcal 1\n6df 2 " + skywand6df(0, 0) + skywand6df(1, 0)));
    EXPECT_EQ(g.numBody, 0);

    // A failing line stops decoding before the adjustments.
    FrameData h;
    EXPECT_FALSE(decode(h, "6dcal 4\n6d 1 [0 1]"));
    EXPECT_EQ(h.numBody, 1);
}

struct CalibrationCase
{
    const char* text;
    bool result;
    int32_t numBody;
    int32_t numHand;
};

void PrintTo(const CalibrationCase& c, std::ostream* os)
{
    *os << '"' << c.text << '"';
}

class CalibratedCount : public ::testing::TestWithParam<CalibrationCase>
{
};

// A calibrated count below zero is absent and leaves the count as it was.
TEST_P(CalibratedCount, BelowZeroIsAbsent)
{
    FrameData f;
    ASSERT_TRUE(decode(f, "6d 1 " + body(2, "0.5") + "\ngl 1 " + hand(1, "0.5")));
    EXPECT_EQ(decode(f, GetParam().text), GetParam().result);
    EXPECT_EQ(f.numBody, GetParam().numBody);
    EXPECT_EQ(f.numHand, GetParam().numHand);
}

INSTANTIATE_TEST_SUITE_P(FrameDecoder, CalibratedCount,
                         ::testing::Values(CalibrationCase{"6dcal -1\nglcal -1", true, 3, 2},
                                           CalibrationCase{"6dcal 1\nglcal 1", true, 1, 1},
                                           CalibrationCase{"6dcal 1\n6dcal -7", true, 3, 2},
                                           CalibrationCase{"glcal -99999999999", true, 3, 2},
                                           CalibrationCase{"6dcal -", false, 3, 2},
                                           CalibrationCase{"glcal 1001", false, 3, 2}));

TEST(FrameDecoder, BlocksMayRunIntoFollowingLines)
{
    FrameData f;
    // Count 2 with one body on the line: the second body's blocks come from
    // the next line, and decoding resumes after it.
    ASSERT_TRUE(decode(f, std::string("6d 2 [0 1]") + kPose + "\n[1 1]" + kPose + "\nfr 9"));
    EXPECT_EQ(f.numBody, 2);
    EXPECT_EQ(f.frameCounter, 9u);
    EXPECT_FALSE(decode(f, std::string("6d 2 [0 1]") + kPose + "\nfr 9"));
}

// quality -1 stands for a reset record, compared field by field.
template <typename Record>
void expectRecords(const std::vector<Record>& records, int32_t count,
                   const std::vector<float>& qualities)
{
    ASSERT_EQ(count, static_cast<int32_t>(qualities.size()));
    for (int32_t i = 0; i < count; ++i) {
        SCOPED_TRACE(i);
        Record reset{};
        reset.id = i;
        reset.quality = -1.0f;
        const Record& r = records[static_cast<size_t>(i)];
        EXPECT_EQ(r.id, i);
        EXPECT_EQ(r.quality, qualities[static_cast<size_t>(i)]);
        if (qualities[static_cast<size_t>(i)] == -1.0f) {
            EXPECT_EQ(std::memcmp(&r, &reset, sizeof reset), 0);
        }
    }
}

struct ResetCase
{
    const char* name;
    std::vector<std::string> datagrams;
    std::vector<float> bodies;
    std::vector<float> hands;
};

void PrintTo(const ResetCase& c, std::ostream* os)
{
    *os << c.name;
}

class ResetAcrossFrames : public ::testing::TestWithParam<ResetCase>
{
};

// "6d " and "gl " lines reset what earlier lines and frames wrote, whatever
// the counts did in between.
TEST_P(ResetAcrossFrames, LeavesOnlyTheLastLinesRecords)
{
    FrameData f;
    for (const std::string& d : GetParam().datagrams)
        decode(f, d);
    expectRecords(f.bodies, f.numBody, GetParam().bodies);
    expectRecords(f.hands, f.numHand, GetParam().hands);
}

INSTANTIATE_TEST_SUITE_P(
    FrameDecoder, ResetAcrossFrames,
    ::testing::Values(
        ResetCase{"SameIdTwice", {"6d 2 " + body(1, "0.2") + body(1, "0.3"), "6d 0"}, {-1, -1}, {}},
        ResetCase{"TwoLinesInOneFrame",
                  {"6d 1 " + body(0, "0.1") + "\n6d 1 " + body(1, "0.2")},
                  {-1, 0.2f},
                  {}},
        ResetCase{"FailedLine", {"6d 2 " + body(0, "0.4") + "[1 0.5][7 8", "6d 0"}, {-1, -1}, {}},
        ResetCase{"ShrunkThenGrownByALine",
                  {"6d 3 " + body(0, "0.1") + body(1, "0.2") + body(2, "0.3"), "6dcal 1",
                   "6d 1 " + body(1, "0.5")},
                  {-1, 0.5f},
                  {}},
        ResetCase{"ShrunkThenGrownByCalibration",
                  {"6d 2 " + body(0, "0.1") + body(4, "0.5"), "6dcal 2", "6dcal 4",
                   "6d 1 " + body(3, "0.3"), "6d 1 " + body(4, "0.7")},
                  {-1, -1, -1, -1, 0.7f},
                  {}},
        ResetCase{"Hands",
                  {"gl 2 " + hand(0, "0.1") + hand(2, "0.3"), "glcal 1", "gl 1 " + hand(1, "0.5")},
                  {},
                  {-1, 0.5f}}),
    ::testing::PrintToStringParamName());

// What a "6d " or "gl " line costs follows the records written since the
// last reset, not the count: records no line wrote are not visited.
TEST(FrameDecoder, ResetVisitsOnlyTheRecordsWritten)
{
    FrameData f;
    ASSERT_TRUE(decode(f, "6d 1 " + body(9999, "0.5") + "\ngl 1 " + hand(999, "0.5")));
    ASSERT_EQ(f.numBody, 10000);
    ASSERT_EQ(f.numHand, 1000);
    f.bodies[5000].quality = 7.0f;
    f.hands[500].quality = 7.0f;
    ASSERT_TRUE(decode(f, "6d 0\ngl 0\n6d 0\ngl 0"));
    EXPECT_EQ(f.bodies[9999].quality, -1.0f);
    EXPECT_EQ(f.hands[999].quality, -1.0f);
    EXPECT_EQ(f.bodies[5000].quality, 7.0f);
    EXPECT_EQ(f.hands[500].quality, 7.0f);
}

struct FailureCase
{
    const char* name;
    std::string text;
    int line;
    int column;
    const char* reason;
    std::string lineText;
};

class FailureLocation : public ::testing::TestWithParam<FailureCase>
{
};

TEST_P(FailureLocation, NamesLineColumnAndReason)
{
    const FailureCase& c = GetParam();
    FrameData f;
    ASSERT_FALSE(decode(f, c.text));
    EXPECT_TRUE(f.controllerLines);
    const ParseFailure p = describeDecodeFailure(f.failure, c.text.data(), c.text.size());
    EXPECT_EQ(p.line, c.line);
    EXPECT_EQ(p.column, c.column);
    EXPECT_EQ(p.reason, c.reason);
    EXPECT_EQ(p.text, c.lineText);
}

const std::string kLong(100, 'x');

INSTANTIATE_TEST_SUITE_P(
    Faults, FailureLocation,
    ::testing::Values(
        FailureCase{"blockMissing", "fr 1\n6d 1 ", 2, 6, "block missing", "6d 1 "},
        FailureCase{"blockNotClosed", "fr 1\r\n6d 1 [0 1", 2, 6, "block not closed", "6d 1 [0 1"},
        FailureCase{"blockTooShort", "6d 1 [0]", 1, 8, "block of 2 values ends after 1",
                    "6d 1 [0]"},
        FailureCase{"valueNoNumber", "6d 1 [0 q]", 1, 9, "value 2 of the block is no number",
                    "6d 1 [0 q]"},
        FailureCase{"idOutOfOrder", "6df 1 [3 0.9 0]", 1, 7, "id 3 where 0 was expected",
                    "6df 1 [3 0.9 0]"},
        FailureCase{"tooManyButtons", "6df2 1 1 [0 1 17 0]", 1, 10, "17 buttons, at most 16",
                    "6df2 1 1 [0 1 17 0]"},
        FailureCase{"countAboveLimit", "6df2 1001 0", 1, 6, "count above the limit of 1000",
                    "6df2 1001 0"},
        FailureCase{"recordsAboveCount", "6df2 1 2", 1, 8,
                    "record count 2 above the Skywand count 1", "6df2 1 2"},
        FailureCase{"numberMissing", "ts\rfr x", 2, 4, "number missing", "fr x"},
        FailureCase{"fingers", "gl 1 [0 1 0 6]", 1, 6, "6 fingers, at most 5", "gl 1 [0 1 0 6]"},
        FailureCase{"longLineCut", "6d 1 [0 1]" + kLong, 1, 11, "block missing",
                    ("6d 1 [0 1]" + kLong).substr(0, 80)}),
    [](const ::testing::TestParamInfo<FailureCase>& info) { return std::string(info.param.name); });

TEST(FrameDecoder, TellsWhetherAnyLineWasTheControllers)
{
    FrameData f;
    for (const auto& [text, known] : std::vector<std::pair<std::string, bool>>{
             {"fr 3\n", true}, {"GET / HTTP/1.1\r\nHost: x\r\n", false}, {"\x17\x80 zz", false}}) {
        ASSERT_TRUE(decode(f, text)) << text;
        EXPECT_EQ(f.controllerLines, known) << text;
        EXPECT_EQ(describeDecodeFailure(f.failure, text.data(), text.size()).line, 0);
    }
}

struct HostileCase
{
    const char* name;
    std::string text;
};

class HostileInput : public ::testing::TestWithParam<HostileCase>
{
};

TEST_P(HostileInput, FailsAsParseErrorWithinBounds)
{
    FrameData f;
    const std::string text = GetParam().text;
    const std::string copy = text;
    EXPECT_FALSE(decodeFrame(f, text.data(), text.size()));
    EXPECT_EQ(text, copy);
    // Every way of failing leaves a located reason behind.
    const ParseFailure failure = describeDecodeFailure(f.failure, text.data(), text.size());
    EXPECT_GT(failure.line, 0);
    EXPECT_FALSE(failure.reason.empty());
    EXPECT_LE(f.bodies.size(), static_cast<size_t>(FrameLimits::kMaxBodies));
    EXPECT_LE(f.skywands.size(), static_cast<size_t>(FrameLimits::kMaxSkywands));
    EXPECT_LE(f.hands.size(), static_cast<size_t>(FrameLimits::kMaxHands));
    EXPECT_LE(f.markers.size(), static_cast<size_t>(FrameLimits::kMaxMarkers));
    EXPECT_GE(f.numBody, 0);
    EXPECT_GE(f.numSkywand, 0);
    EXPECT_GE(f.numMarker, 0);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, HostileInput,
    ::testing::Values(HostileCase{"negativeBodyId", std::string("6d 1 [-1 1]") + kPose},
                      HostileCase{"hugeBodyId", std::string("6d 1 [2147483647 1]") + kPose},
                      HostileCase{"negativeCount", "6df -1"},
                      HostileCase{"negativeBodyCount", "6d -1"},
                      HostileCase{"negativeHandCount", "gl -1"},
                      HostileCase{"hugeSkywandCount", "6df 2000000000"},
                      HostileCase{"hugeTwoCount", "6df2 99999999 0"},
                      HostileCase{"recordsAboveSkywands", "6df2 1 2"},
                      HostileCase{"negativeButtons",
                                  "6df2 1 1 [0 1 -1 0]" + std::string(kPose) + "[]"},
                      HostileCase{"hugeMarkerCount", "3d 4000000000"},
                      HostileCase{"negativeMarkerCount", "3d -5"},
                      HostileCase{"hugeCalibration", "6dcal 2147483647"},
                      HostileCase{"hugeHandCalibration", "glcal 99999999"},
                      HostileCase{"negativeFingers", "gl 1 [0 1 0 -1]" + std::string(kPose)},
                      HostileCase{"negativeHandId", "gl 1 [-3 1 0 0]" + std::string(kPose)},
                      HostileCase{"missingBracket", "6d 1 [0 1"},
                      HostileCase{"openBrackets", "6d 1 " + std::string(19993, '[')},
                      HostileCase{"digits", "3d " + std::string(19995, '9')},
                      HostileCase{"nulInBlock", std::string("6d 1 [0 1\0]", 11) + kPose}),
    [](const ::testing::TestParamInfo<HostileCase>& info) { return std::string(info.param.name); });

} // namespace
