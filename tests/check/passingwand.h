#pragma once

// A wand that passes the check, as the controller's datagrams tell it: what it
// does at t seconds, with half a second of slack around each timed step.
// Buttons 1 and 2 pressed in turn, at rest, two turns of the joystick from
// 4.6 s, then still until the hold has ended.

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <string>

inline std::string passingWandFrame(uint32_t counter, double t)
{
    constexpr double kPi = 3.14159265358979323846;
    const int bits = (t >= 0.5 && t < 0.6) ? 1 : (t >= 1.2 && t < 1.3) ? 2 : 0;
    double x = 0.0;
    double y = 0.0;
    if (t >= 4.6 && t < 7.0) {
        x = std::cos(2.0 * kPi * (t - 4.6));
        y = std::sin(2.0 * kPi * (t - 4.6));
    }
    char text[256];
    std::snprintf(
        text, sizeof text,
        "fr %u\n6df2 1 1 [0 1.000 2 2][100.0 200.0 300.0][1 0 0 0 1 0 0 0 1][%d %.6f %.6f]\n",
        counter, bits, x, y);
    return text;
}
