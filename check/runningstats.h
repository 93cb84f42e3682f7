#pragma once

#include <cmath>
#include <cstdint>

// Welford's running mean and variance: stable where the mean is large
// against the spread, as positions in millimetres are.
struct RunningStats
{
    int64_t n = 0;
    double mean = 0.0;
    double m2 = 0.0;

    void add(double value)
    {
        ++n;
        const double delta = value - mean;
        mean += delta / double(n);
        m2 += delta * (value - mean);
    }
    double variance() const { return n ? m2 / double(n) : NAN; }
};
