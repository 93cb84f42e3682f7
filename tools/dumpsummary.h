#pragma once

// The running statistics behind kestrel-dump --summary: one line of text per
// interval for people watching a controller. The figures come from the
// stream monitor's health computation, the same one the window shows.

#include "framejson.h"
#include "parsefailure.h"
#include "skywandshelf.h"
#include "streamhealth.h"

#include <cstdint>
#include <string>

struct FrameData;

// What a receive knew besides its outcome and frame.
struct OutcomeDetails
{
    int discarded = 0;                     // datagrams the receive dropped for a newer one
    Endpoint sender;                       // of the datagram, when one was read
    const ParseFailure* failure = nullptr; // for a parse error, when known
};

class DumpSummary
{
public:
    // Starts the totals at now; without it they start at the first outcome.
    void begin(double now);
    // Counts one receive outcome at time now (seconds on any steady clock).
    void record(ErrorState outcome, const FrameData& frame, const OutcomeDetails& details,
                double now);
    // The line for the figures as they stand at now.
    std::string line(double now);
    // The health figures at now, for a diagnosis.
    HealthFigures figures(double now) const;
    const ParseFailure& lastFailure() const { return failure; }
    // Adds the overview's figures of the Skywand at index (F1 is 0) to each
    // line; -1 (the default) leaves them out.
    void setSkywand(int index) { shelfIndex = index; }
    const SkywandShelf& skywandShelf() const { return shelf; }

private:
    bool started = false;
    StreamHealth health;
    SkywandShelf shelf;
    int shelfIndex = -1;
    uint64_t dropped = 0;
    ParseFailure failure; // the last one; line 0 when none yet
    // The last decoded frame.
    int32_t counts[5] = {};
    int32_t skywandButtons = 0;
    int32_t skywandButton[16] = {};
    int32_t skywandJoystickCount = 0;
    float skywandJoystick[2] = {};
};
