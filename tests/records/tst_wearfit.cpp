// The wear fit: a figure drifting toward its limit is named with its date;
// a flat, receding or distant trend and too few checks say nothing.

#include "wearfit.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

constexpr int64_t kDec1 = 1796117400000000; // 2026-12-01T09:30:00Z
constexpr int64_t kDay = 86400000000;

enum class Figure
{
    Offset,
    Coverage,
    DroppedFrames,
};

struct WearRow
{
    const char* name;
    Figure figure;
    std::vector<double> values; // oldest first, one check every 30 days up to kDec1
    const char* text;           // empty: no warning
};

class WearFit : public ::testing::TestWithParam<WearRow>
{
};

TEST_P(WearFit, WarnsOnlyWhereTheTrendMeetsItsLimitWithinTheHorizon)
{
    const WearRow& row = GetParam();
    std::vector<CheckRecord> records;
    for (size_t i = 0; i < row.values.size(); ++i) {
        CheckRecord r;
        r.finishedUs = kDec1 - int64_t(row.values.size() - 1 - i) * 30 * kDay;
        const double v = row.values[i];
        if (row.figure == Figure::Offset)
            r.offset = v;
        else if (row.figure == Figure::Coverage)
            r.coverage = v;
        r.droppedFrames = v;
        r.reportJson = R"({"steps": {"hold": {"frames": 900, "lateFrames": 100}}})";
        records.push_back(r);
    }
    // Newest first, as the store lists them.
    std::reverse(records.begin(), records.end());
    const std::vector<WearWarning> warnings = wearWarnings(records, CheckProfile(), kDec1);
    std::vector<std::string> texts;
    for (const WearWarning& w : warnings)
        if (row.figure == Figure::DroppedFrames || w.figure != "dropped_share")
            texts.push_back(w.text);
    EXPECT_EQ(texts, *row.text ? std::vector<std::string>{row.text} : std::vector<std::string>{});
}

INSTANTIATE_TEST_SUITE_P(
    Records, WearFit,
    ::testing::Values(
        WearRow{"RisingToItsLimit",
                Figure::Offset,
                {0.030, 0.034, 0.038, 0.042},
                "offset 0.042 rising 0.004 a month: reaches its limit 0.05 around 2027-01"},
        WearRow{"FallingToItsLimit",
                Figure::Coverage,
                {0.99, 0.97, 0.95, 0.93},
                "coverage 0.93 falling 0.02 a month: reaches its limit 0.9 around 2027-01"},
        WearRow{"PastItsLimit",
                Figure::Offset,
                {0.045, 0.05, 0.055, 0.06},
                "offset 0.06 rising 0.005 a month: reached its limit 0.05 around 2026-10"},
        // Dropped frames are a share of the 1000 frames of each hold.
        WearRow{"DroppedShareRising",
                Figure::DroppedFrames,
                {4, 6, 8, 9},
                "dropped share 0.009 rising 0.0017 a month: reaches its limit 0.01 around 2026-12"},
        WearRow{"BeyondTheHorizon", Figure::Offset, {0.019, 0.023, 0.027, 0.031}, ""},
        WearRow{"Flat", Figure::Offset, {0.03, 0.03, 0.03, 0.03, 0.03}, ""},
        WearRow{"ThreeChecks", Figure::Offset, {0.038, 0.042, 0.046}, ""},
        WearRow{"RecedingFromItsLimit", Figure::Offset, {0.049, 0.045, 0.041, 0.037}, ""},
        // Only the newest ten checks count: an old rise that has stopped is
        // no trend.
        WearRow{"OldRiseOnly",
                Figure::Offset,
                {0.001, 0.01, 0.02, 0.03, 0.03, 0.03, 0.03, 0.03, 0.03, 0.03, 0.03, 0.03, 0.03},
                ""}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(Records, WearWarningHoldsItsFigures)
{
    std::vector<CheckRecord> records(4);
    for (size_t i = 0; i < 4; ++i) {
        records[i].finishedUs = kDec1 - int64_t(i) * 30 * kDay;
        records[i].noiseY = 0.009 - 0.0005 * double(i);
    }
    const std::vector<WearWarning> warnings = wearWarnings(records, CheckProfile(), kDec1);
    ASSERT_EQ(warnings.size(), 1u);
    EXPECT_EQ(warnings[0].figure, "noise_y");
    EXPECT_DOUBLE_EQ(warnings[0].latest, 0.009);
    EXPECT_NEAR(warnings[0].slopePerMonth, 0.0005, 1e-12);
    EXPECT_EQ(warnings[0].limit, 0.01);
    EXPECT_NEAR(double(warnings[0].reachesUs), double(kDec1 + 60 * kDay), 1e6);
}

} // namespace
