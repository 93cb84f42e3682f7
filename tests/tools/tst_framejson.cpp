#include "framejson.h"

#include "framedecoder.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <cfloat>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <limits>

namespace {

uint32_t bitsOf(float f)
{
    uint32_t b;
    std::memcpy(&b, &f, sizeof b);
    return b;
}

class FloatText : public testing::TestWithParam<float>
{
};

// Reading the printed text back as a 32-bit float must give the same bits:
// the lab compares values, and a widened double would print digits the
// float never had.
TEST_P(FloatText, readsBackToTheSameBits)
{
    const float value = GetParam();
    std::string text;
    appendJsonFloat(text, value);
    EXPECT_EQ(bitsOf(std::strtof(text.c_str(), nullptr)), bitsOf(value)) << text;
    EXPECT_LE(text.size(), 15u) << text; // shortest form, not a widened double
    EXPECT_TRUE(nlohmann::json::accept(text)) << text;
}

INSTANTIATE_TEST_SUITE_P(Values, FloatText,
                         testing::Values(0.1f, 1.0f / 3.0f, -0.0f, 123.456f, 16777216.0f, FLT_MIN,
                                         FLT_MAX, -FLT_MAX,
                                         std::numeric_limits<float>::denorm_min(), 0.999999f,
                                         -1e-7f));

TEST(FloatText, valuesThatAreNotFiniteBecomeNull)
{
    for (float v : {std::numeric_limits<float>::quiet_NaN(), std::numeric_limits<float>::infinity(),
                    -std::numeric_limits<float>::infinity()}) {
        std::string text;
        appendJsonFloat(text, v);
        EXPECT_EQ(text, "null");
    }
    std::string text;
    appendJsonDouble(text, std::nan(""));
    EXPECT_EQ(text, "null");
}

TEST(DoubleText, timestampReadsBackExactly)
{
    for (double v : {0.1, 1234.567, 86399.999, 1e-300, 4294967295.5}) {
        std::string text;
        appendJsonDouble(text, v);
        EXPECT_EQ(std::strtod(text.c_str(), nullptr), v) << text;
    }
}

FrameData sampleFrame()
{
    FrameData f;
    f.frameCounter = 42;
    f.timestamp = 12.345;
    f.numBody = 1;
    f.bodies.resize(3); // records past the count are never handed out
    f.bodies[0].quality = std::nanf("");
    f.numSkywand = 1;
    f.skywands.resize(1);
    f.skywands[0].numButton = 6;
    f.skywands[0].button[5] = 1;
    f.skywands[0].button[15] = 1;
    f.skywands[0].numJoystick = 2;
    f.skywands[0].joystickValue[7] = 0.25f;
    f.numHand = 1;
    f.hands.resize(1);
    f.hands[0].finger[4].shape[5] = 0.5f;
    f.numMarker = 0;
    f.markers.resize(2);
    return f;
}

TEST(FrameJson, holdsEveryFieldAndOnlyCountedRecords)
{
    const std::string text = frameJson(ErrorState::ParseError, sampleFrame());
    EXPECT_EQ(text.find('\n'), std::string::npos);
    const nlohmann::json j = nlohmann::json::parse(text);
    EXPECT_EQ(j["result"], false);
    EXPECT_EQ(j["error"], "parse");
    EXPECT_EQ(j["frameCounter"], 42);
    EXPECT_EQ(j["timestamp"], 12.345);
    ASSERT_EQ(j["bodies"].size(), 1u);
    EXPECT_TRUE(j["bodies"][0]["quality"].is_null());
    EXPECT_EQ(j["bodies"][0]["rotation"].size(), 9u);
    const auto& s = j["skywands"][0];
    ASSERT_EQ(s["button"].size(), 16u);
    EXPECT_EQ(s["button"][5], 1);
    EXPECT_EQ(s["button"][15], 1);
    ASSERT_EQ(s["joystickValue"].size(), 8u);
    EXPECT_EQ(s["joystickValue"][7], 0.25);
    EXPECT_EQ(j["numMeasurementTool"], 0);
    EXPECT_TRUE(j["measurementTools"].empty());
    const auto& h = j["hands"][0];
    ASSERT_EQ(h["finger"].size(), 5u);
    EXPECT_EQ(h["finger"][4]["shape"][5], 0.5);
    for (const char* key : {"id", "quality", "handType", "numFinger", "location", "rotation"})
        EXPECT_TRUE(h.contains(key)) << key;
    EXPECT_TRUE(j["markers"].empty());
}

TEST(FrameJson, outcomeNames)
{
    const FrameData empty;
    const std::pair<ErrorState, const char*> rows[] = {{ErrorState::NoError, "none"},
                                                       {ErrorState::Timeout, "timeout"},
                                                       {ErrorState::NetError, "net"},
                                                       {ErrorState::ParseError, "parse"}};
    for (const auto& [outcome, name] : rows) {
        const nlohmann::json j = nlohmann::json::parse(frameJson(outcome, empty));
        EXPECT_EQ(j["error"], name);
        EXPECT_EQ(j["result"], outcome == ErrorState::NoError);
        EXPECT_EQ(j["timestamp"], -1.0);
    }
}

// The failing line comes off the network: quotes, control bytes and bytes
// that are no UTF-8 must still give one valid JSON line, with the key last
// and only for a parse error.
TEST(FrameJson, parseErrorComesLastAndStaysValidJson)
{
    FrameData frame;
    const std::string text = std::string("6d \"\\\x01\xff\n[");
    frame.beginFrame();
    ASSERT_FALSE(decodeFrame(frame, text.data(), text.size()));
    const ParseFailure failure = describeDecodeFailure(frame.failure, text.data(), text.size());
    const std::string line = frameJson(ErrorState::ParseError, frame, &failure);
    EXPECT_EQ(line.find('\n'), std::string::npos);
    const nlohmann::ordered_json j = nlohmann::ordered_json::parse(line);
    EXPECT_EQ(j.items().begin().key(), "result");
    EXPECT_EQ(std::prev(j.end()).key(), "parseError");
    EXPECT_EQ(j["parseError"]["line"], 1);
    EXPECT_EQ(j["parseError"]["column"], 4);
    EXPECT_EQ(j["parseError"]["text"], "6d \"\\\u0001\u00ff");
    EXPECT_EQ(j["parseError"]["reason"], "number missing");
    EXPECT_FALSE(nlohmann::json::parse(frameJson(ErrorState::NoError, frame, &failure))
                     .contains("parseError"));
}

} // namespace
