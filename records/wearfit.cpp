#include "wearfit.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <charconv>
#include <ctime>

namespace {

constexpr double kDayUs = 86400e6;
constexpr double kMonthDays = 30;
constexpr size_t kMaxReportSize = 1024 * 1024;

struct Figure
{
    const char* column;
    const char* name; // in the sentence
    double limit;
    bool atMost; // false: the figure must stay at or above its limit
    double (*value)(const CheckRecord&);
};

// Dropped frames per frame of the hold, from the report, as the check
// compares them with maxDroppedShare; NaN when the report does not say.
double droppedShare(const CheckRecord& r)
{
    if (!std::isfinite(r.droppedFrames) || r.reportJson.size() > kMaxReportSize)
        return NAN;
    const nlohmann::json report = nlohmann::json::parse(r.reportJson, nullptr, false);
    if (report.is_discarded() || !report.is_object())
        return NAN;
    const auto steps = report.find("steps");
    if (steps == report.end() || !steps->is_object())
        return NAN;
    const auto hold = steps->find("hold");
    if (hold == steps->end() || !hold->is_object())
        return NAN;
    double received = 0;
    for (const char* key : {"frames", "lateFrames"}) {
        const auto n = hold->find(key);
        if (n != hold->end() && n->is_number())
            received += n->get<double>();
    }
    return received > 0 ? r.droppedFrames / received : NAN;
}

std::string shown(double value)
{
    char text[32];
    const auto written =
        std::to_chars(text, text + sizeof text, value, std::chars_format::general, 3);
    return std::string(text, written.ptr);
}

std::string month(int64_t us)
{
    const std::time_t t = std::time_t(us / 1000000);
    std::tm utc = {};
    char text[16] = "?";
    if (gmtime_r(&t, &utc))
        std::strftime(text, sizeof text, "%Y-%m", &utc);
    return text;
}

} // namespace

std::vector<WearWarning> wearWarnings(const std::vector<CheckRecord>& records,
                                      const CheckProfile& profile, int64_t nowUs, int horizonDays)
{
    const Figure figures[] = {
        {"offset", "offset", profile.maxOffset, true,
         [](const CheckRecord& r) { return r.offset; }},
        {"noise_x", "noise x", profile.maxNoise, true,
         [](const CheckRecord& r) { return r.noiseX; }},
        {"noise_y", "noise y", profile.maxNoise, true,
         [](const CheckRecord& r) { return r.noiseY; }},
        {"coverage", "coverage", profile.minCoverage, false,
         [](const CheckRecord& r) { return r.coverage; }},
        {"circularity_error", "circularity error", profile.maxCircularityError, true,
         [](const CheckRecord& r) { return r.circularityError; }},
        {"reach_min", "reach", profile.minReach, false,
         [](const CheckRecord& r) { return r.reachMin; }},
        {"dropped_share", "dropped share", profile.maxDroppedShare, true, droppedShare},
        {"tracked_share", "tracked share", profile.minTrackedShare, false,
         [](const CheckRecord& r) { return r.trackedShare; }},
        {"position_sigma_mm", "position sigma", profile.maxPositionSigmaMm, true,
         [](const CheckRecord& r) { return r.positionSigmaMm; }},
        {"rotation_jitter_deg", "rotation jitter", profile.maxRotationJitterDeg, true,
         [](const CheckRecord& r) { return r.rotationJitterDeg; }},
    };
    std::vector<const CheckRecord*> byTime;
    for (const CheckRecord& r : records)
        byTime.push_back(&r);
    std::stable_sort(byTime.begin(), byTime.end(), [](const CheckRecord* a, const CheckRecord* b) {
        return a->finishedUs < b->finishedUs;
    });

    std::vector<WearWarning> warnings;
    for (const Figure& f : figures) {
        // The newest checks that measured the figure, oldest first; times in
        // days from the newest.
        std::vector<std::pair<double, double>> points;
        for (auto r = byTime.rbegin(); r != byTime.rend() && points.size() < kWearFitChecks; ++r) {
            const double y = f.value(**r);
            if (std::isfinite(y))
                points.emplace_back(double((*r)->finishedUs - byTime.back()->finishedUs) / kDayUs,
                                    y);
        }
        if (points.size() < kWearFitMinChecks || !std::isfinite(f.limit))
            continue;
        double tMean = 0;
        double yMean = 0;
        for (const auto& [t, y] : points) {
            tMean += t;
            yMean += y;
        }
        tMean /= double(points.size());
        yMean /= double(points.size());
        double sxx = 0;
        double sxy = 0;
        for (const auto& [t, y] : points) {
            sxx += (t - tMean) * (t - tMean);
            sxy += (t - tMean) * (y - yMean);
        }
        if (sxx <= 0)
            continue;
        const double slope = sxy / sxx; // per day
        if (!(f.atMost ? slope > 0 : slope < 0))
            continue;
        const double crossingDays = tMean + (f.limit - yMean) / slope;
        const double crossingUs = double(byTime.back()->finishedUs) + crossingDays * kDayUs;
        if (!std::isfinite(crossingUs) || crossingUs > double(nowUs) + horizonDays * kDayUs)
            continue;
        WearWarning w;
        w.figure = f.column;
        w.latest = points.front().second;
        w.slopePerMonth = slope * kMonthDays;
        w.limit = f.limit;
        // A line that met its limit long ago is clamped to a time gmtime takes.
        w.reachesUs = int64_t(std::max(crossingUs, 0.0));
        w.text =
            std::string(f.name) + " " + shown(w.latest) + (slope > 0 ? " rising " : " falling ") +
            shown(std::fabs(w.slopePerMonth)) +
            " a month: " + (w.reachesUs <= nowUs ? "reached its limit " : "reaches its limit ") +
            shown(w.limit) + " around " + month(w.reachesUs);
        warnings.push_back(std::move(w));
    }
    return warnings;
}
