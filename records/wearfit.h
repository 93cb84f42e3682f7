#pragma once

// Wear seen coming: for one wand's filed checks, the figures whose trend over
// the recent checks reaches its limit soon. A pure function of the records,
// the limits and the time given; no clock, no store.

#include "checkprofile.h"
#include "checkstore.h"

#include <cstdint>
#include <string>
#include <vector>

struct WearWarning
{
    std::string figure;         // the column: "offset", "noise_x", ... or "dropped_share"
    double latest = NAN;        // the newest check's value
    double slopePerMonth = NAN; // the fitted change per 30 days
    double limit = NAN;
    int64_t reachesUs = 0; // when the fitted line meets the limit, UTC microseconds
    // "offset 0.042 rising 0.004 a month: reaches its limit 0.05 around 2027-01"
    std::string text;
};

constexpr size_t kWearFitChecks = 10;   // the newest checks a trend is fitted over
constexpr size_t kWearFitMinChecks = 4; // fewer say nothing about a trend
constexpr int kWearHorizonDays = 90;

// One warning per figure whose least-squares line over the wand's newest
// checks (by finished time) moves toward its limit and meets it before
// nowUs + horizonDays, or met it already. Records of other wands are the
// caller's to leave out. Dropped frames are judged as a share of the frames
// held still (the report's hold frames and late frames), as the check judges
// them, so a longer hold does not look like wear.
std::vector<WearWarning> wearWarnings(const std::vector<CheckRecord>& records,
                                      const CheckProfile& profile, int64_t nowUs,
                                      int horizonDays = kWearHorizonDays);
