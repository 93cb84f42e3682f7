#pragma once

// The recent history of one value for a strip chart. Samples are folded into
// time ring as they arrive, so memory and the cost of drawing stay the same
// at 10 Hz or at 20 kHz.

#include <cstdint>
#include <vector>

struct StripPoint
{
    double t = 0.0;
    double value = 0.0;
};

class StripBuffer
{
public:
    // span: seconds kept; ring: how many parts the span is cut into.
    StripBuffer(double span, int ring);

    // Times never go back; a sample older than the newest slot joins it.
    void append(double t, double value);
    void clear();

    // The samples with from <= t <= to, at most two points (lowest and
    // highest, in the order they came) for each of columns equal parts of
    // that time, oldest first. out is reused.
    void decimate(double from, double to, int columns, std::vector<StripPoint>& out) const;

private:
    struct Slot
    {
        int64_t index = -1; // which slot of the clock this holds; -1 empty
        double minT = 0.0;
        double minValue = 0.0;
        double maxT = 0.0;
        double maxValue = 0.0;
    };

    double slotSeconds;
    std::vector<Slot> ring;
    int64_t newest = -1;
};
