#include "stripbuffer.h"

#include <algorithm>
#include <cmath>

StripBuffer::StripBuffer(double span, int slotCount)
    : slotSeconds(span / std::max(1, slotCount)), ring(static_cast<size_t>(std::max(1, slotCount)))
{
}

void StripBuffer::clear()
{
    std::fill(ring.begin(), ring.end(), Slot{});
    newest = -1;
}

void StripBuffer::append(double t, double value)
{
    if (!std::isfinite(t) || !std::isfinite(value) || t < 0.0)
        return;
    int64_t index = static_cast<int64_t>(std::floor(t / slotSeconds));
    index = std::max(index, newest);
    newest = index;
    Slot& slot = ring[static_cast<size_t>(index % static_cast<int64_t>(ring.size()))];
    if (slot.index != index) {
        slot = Slot{index, t, value, t, value};
        return;
    }
    if (value < slot.minValue) {
        slot.minT = t;
        slot.minValue = value;
    }
    if (value > slot.maxValue) {
        slot.maxT = t;
        slot.maxValue = value;
    }
}

void StripBuffer::decimate(double from, double to, int columns, std::vector<StripPoint>& out) const
{
    out.clear();
    if (newest < 0 || !(to > from) || columns < 1)
        return;
    const int64_t count = static_cast<int64_t>(ring.size());
    const int64_t first = std::max<int64_t>(newest - count + 1, 0);
    const double columnSeconds = (to - from) / columns;
    int64_t column = -1;
    StripPoint low;
    StripPoint high;
    auto flush = [&] {
        if (column < 0)
            return;
        if (low.t <= high.t) {
            out.push_back(low);
            if (high.t != low.t)
                out.push_back(high);
        } else {
            out.push_back(high);
            out.push_back(low);
        }
    };
    for (int64_t index = first; index <= newest; ++index) {
        const Slot& slot = ring[static_cast<size_t>(index % count)];
        if (slot.index != index || slot.maxT < from || slot.minT > to)
            continue;
        const int64_t c = std::min<int64_t>(
            static_cast<int64_t>((std::min(slot.minT, slot.maxT) - from) / columnSeconds),
            columns - 1);
        const StripPoint slotLow{slot.minT, slot.minValue};
        const StripPoint slotHigh{slot.maxT, slot.maxValue};
        if (c != column) {
            flush();
            column = c;
            low = slotLow;
            high = slotHigh;
            continue;
        }
        if (slotLow.value < low.value)
            low = slotLow;
        if (slotHigh.value > high.value)
            high = slotHigh;
    }
    flush();
}
