#include "dumpsummary.h"

#include "framedecoder.h"
#include "printabletext.h"

#include <algorithm>
#include <cstdio>

void DumpSummary::begin(double now)
{
    health = StreamHealth(now);
    started = true;
}

void DumpSummary::record(ErrorState outcome, const FrameData& frame, const OutcomeDetails& details,
                         double now)
{
    if (!started)
        begin(now);
    if (details.discarded > 0)
        dropped += uint64_t(details.discarded);
    health.recordReceive(now, outcome, frame, details.sender);
    if (shelfIndex >= 0)
        shelf.recordReceive(now, outcome, frame);
    if (outcome == ErrorState::ParseError && details.failure && details.failure->line > 0)
        failure = *details.failure;
    if (outcome != ErrorState::NoError || !frame.controllerLines)
        return;
    counts[0] = frame.numBody;
    counts[1] = frame.numSkywand;
    counts[2] = frame.numMeasurementTool;
    counts[3] = frame.numHand;
    counts[4] = frame.numMarker;
    if (frame.numSkywand > 0 && !frame.skywands.empty()) {
        const SkywandRecord& s = frame.skywands.front();
        skywandButtons = std::clamp(s.numButton, 0, 16);
        std::copy(std::begin(s.button), std::end(s.button), std::begin(skywandButton));
        skywandJoystickCount = std::clamp(s.numJoystick, 0, 8);
        skywandJoystick[0] = s.joystickValue[0];
        skywandJoystick[1] = s.joystickValue[1];
    } else {
        skywandButtons = 0;
        skywandJoystickCount = 0;
    }
}

HealthFigures DumpSummary::figures(double now) const
{
    return health.figures(now);
}

std::string DumpSummary::line(double now)
{
    const HealthFigures h = health.figures(now);
    const StreamCounts& c = h.total;
    char text[512];
    int n = std::snprintf(
        text, sizeof text,
        "datagrams %.1f/s frames %.1f/s | timeout %llu net %llu parse %llu dropped %llu",
        h.datagramsPerSecond, h.framesPerSecond, (unsigned long long)c.timeouts,
        (unsigned long long)c.netErrors, (unsigned long long)c.parseErrors,
        (unsigned long long)dropped);
    std::string out(text, size_t(std::max(n, 0)));
    n = std::snprintf(text, sizeof text, " | gaps %llu (%llu %s missed)",
                      (unsigned long long)c.gaps, (unsigned long long)c.missedFrames,
                      c.missedFrames == 1 ? "frame" : "frames");
    out.append(text, size_t(std::max(n, 0)));
    if (c.foreign > 0) {
        n = std::snprintf(text, sizeof text, " | not the controller's format %llu",
                          (unsigned long long)c.foreign);
        out.append(text, size_t(std::max(n, 0)));
    }
    if (!h.haveFrame) {
        out += " | no frame yet";
    } else {
        n = std::snprintf(
            text, sizeof text,
            " | fr %u age %.3f s | bodies %d skywands %d tools %d hands %d markers %d",
            h.frameCounter, h.dataAge, counts[0], counts[1], counts[2], counts[3], counts[4]);
        out.append(text, size_t(std::max(n, 0)));
        if (counts[1] > 0) {
            out += " | F1 buttons ";
            for (int i = 0; i < skywandButtons; ++i)
                out += skywandButton[i] ? '1' : '0';
            if (skywandButtons == 0)
                out += '-';
            if (skywandJoystickCount >= 2) {
                n = std::snprintf(text, sizeof text, " X %+.2f Y %+.2f", double(skywandJoystick[0]),
                                  double(skywandJoystick[1]));
                out.append(text, size_t(std::max(n, 0)));
            }
        }
    }
    if (shelfIndex >= 0)
        out += " | " + shelfFiguresText(shelfIndex, shelf.wand(shelfIndex, now));
    if (failure.line > 0) {
        // The line's text comes off the network: no control byte reaches the terminal.
        const std::string where = printableText(failure.text);
        n = std::snprintf(text, sizeof text, " | last failure line %d column %d: %s: \"%s\"",
                          failure.line, failure.column, failure.reason.c_str(), where.c_str());
        out.append(text, size_t(std::max(n, 0)));
    }
    return out;
}
