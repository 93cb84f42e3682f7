#pragma once

// The running statistics behind kestrel-dump --summary: one line of text per
// interval for people watching a controller.

#include "framejson.h"

#include <cstdint>
#include <string>

struct FrameData;

class DumpSummary
{
public:
    // Counts one receive outcome at time now (seconds on any steady clock).
    // discarded: datagrams the receive dropped for a newer one.
    void record(ErrorState outcome, const FrameData& frame, int discarded, double now);
    // The line for the interval since the previous one, and starts the next.
    std::string line(double now);

private:
    // Totals since the start.
    uint64_t timeouts = 0;
    uint64_t netErrors = 0;
    uint64_t parseErrors = 0;
    uint64_t gaps = 0;
    uint64_t missedFrames = 0;
    uint64_t dropped = 0;
    // This interval.
    uint64_t intervalDatagrams = 0;
    uint64_t intervalFrames = 0;
    double intervalStart = -1.0;
    // The last decoded frame.
    bool haveFrame = false;
    uint32_t lastCounter = 0;
    double lastFrameTime = 0.0;
    int32_t counts[5] = {};
    int32_t skywandButtons = 0;
    int32_t skywandButton[16] = {};
    int32_t skywandJoystickCount = 0;
    float skywandJoystick[2] = {};
};
