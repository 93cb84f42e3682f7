// The strip chart's history, plain C++ without a QApplication.

#include "stripbuffer.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <vector>

// Whatever the rate, the chart gets at most two points per pixel column, in
// time order, and a one-sample spike survives.
TEST(StripBuffer, KeepsExtremes)
{
    const struct
    {
        double rate;
        int columns;
    } rows[] = {{1000.0, 600}, {20000.0, 600}, {10.0, 1}};
    for (const auto& row : rows) {
        SCOPED_TRACE(row.rate);
        StripBuffer buffer(30.0, 3000);
        const int samples = static_cast<int>(40.0 * row.rate);
        for (int i = 0; i < samples; ++i) {
            const double t = i / row.rate;
            buffer.append(t, i == samples - samples / 4 ? 5.0 : std::sin(t));
        }
        std::vector<StripPoint> points;
        const double end = (samples - 1) / row.rate;
        buffer.decimate(end - 30.0, end, row.columns, points);
        ASSERT_FALSE(points.empty());
        EXPECT_LE(points.size(), static_cast<size_t>(2 * row.columns));
        double highest = -10.0;
        for (size_t i = 0; i < points.size(); ++i) {
            EXPECT_TRUE(points[i].t >= end - 30.0 && points[i].t <= end) << i;
            EXPECT_TRUE(i == 0 || points[i].t >= points[i - 1].t) << i;
            highest = std::max(highest, points[i].value);
        }
        EXPECT_EQ(highest, 5.0);
    }
}
