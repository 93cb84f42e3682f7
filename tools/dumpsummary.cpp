#include "dumpsummary.h"

#include "framedecoder.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

void DumpSummary::record(ErrorState outcome, const FrameData& frame, int discarded, double now)
{
    if (intervalStart < 0.0)
        intervalStart = now;
    if (discarded > 0)
        dropped += uint64_t(discarded);
    switch (outcome) {
    case ErrorState::Timeout:
        ++timeouts;
        return;
    case ErrorState::NetError:
        ++netErrors;
        return;
    case ErrorState::ParseError:
        ++parseErrors;
        ++intervalDatagrams;
        return;
    case ErrorState::NoError:
        break;
    }
    ++intervalDatagrams;
    ++intervalFrames;
    // A counter that moves on by more than one means frames never seen here;
    // one that goes back means the controller restarted, which is no gap.
    if (haveFrame && frame.frameCounter > lastCounter + 1u && lastCounter != 0) {
        ++gaps;
        missedFrames += frame.frameCounter - lastCounter - 1u;
    }
    haveFrame = true;
    lastCounter = frame.frameCounter;
    lastFrameTime = now;
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

std::string DumpSummary::line(double now)
{
    const double span = intervalStart >= 0.0 && now > intervalStart ? now - intervalStart : 1.0;
    char text[512];
    int n = std::snprintf(text, sizeof text,
                          "datagrams %.1f/s frames %.1f/s | timeout %llu net %llu parse %llu dropped %llu",
                          double(intervalDatagrams) / span, double(intervalFrames) / span,
                          (unsigned long long)timeouts, (unsigned long long)netErrors,
                          (unsigned long long)parseErrors, (unsigned long long)dropped);
    std::string out(text, size_t(std::max(n, 0)));
    n = std::snprintf(text, sizeof text, " | gaps %llu (%llu frames missed)",
                      (unsigned long long)gaps, (unsigned long long)missedFrames);
    out.append(text, size_t(std::max(n, 0)));
    if (!haveFrame) {
        out += " | no frame yet";
    } else {
        n = std::snprintf(text, sizeof text,
                          " | fr %u age %.3f s | bodies %d skywands %d tools %d hands %d markers %d",
                          lastCounter, now - lastFrameTime, counts[0], counts[1], counts[2],
                          counts[3], counts[4]);
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
    intervalDatagrams = 0;
    intervalFrames = 0;
    intervalStart = now;
    return out;
}
