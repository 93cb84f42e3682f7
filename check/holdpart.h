#pragma once

#include "checkresult.h"
#include "runningstats.h"

#include <bitset>
#include <cstdint>

struct SkywandRecord;

// The hold step's sampling: which frame counters of the window arrived, and
// the pose's spread and steps from frame to frame.
class HoldPart
{
public:
    // Frame counters the window tells apart, one bit each (8 KiB): 5 s at
    // 13 kHz. A late frame further than this past the last frame before
    // the window is not matched to its gap and stays counted as dropped.
    static constexpr uint32_t kCounterSpan = 65536;

    bool isOpen() const { return open; }
    // The window's counters lie after base, the newest counter before its
    // first frame.
    void openAfter(uint32_t base);
    // One frame in the window; ahead when its counter is ahead of every
    // other one seen.
    void frame(uint32_t frameCounter, bool ahead, const SkywandRecord* record, HoldResult& hold);
    // A frame that arrived after a later one fills its gap, once.
    void lateFrame(uint32_t frameCounter, HoldResult& hold);
    // The counters after base up to and without bound that never arrived.
    int64_t missingBefore(uint32_t bound) const;
    // The same up to and with the newest counter seen.
    int64_t missingUpTo(uint32_t newest) const;
    // The tracked share, the quality's mean and the pose's spread and jitter.
    void finish(HoldResult& hold) const;

private:
    bool markCounter(uint32_t frameCounter);

    bool open = false;
    uint32_t base = 0;
    int64_t counters = 0; // distinct counters in the window
    std::bitset<kCounterSpan> seen;
    RunningStats posX, posY, posZ;
    double qualitySum = 0.0;
    int64_t qualityCount = 0;
    bool havePrevious = false;
    float previousLocation[3] = {};
    float previousRotation[9] = {};
    double jumpSquares = 0.0;
    double angleSquares = 0.0;
    int64_t steps = 0;
};
