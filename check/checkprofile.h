#pragma once

// The limits a Skywand must meet to pass the check. A lab replaces them with
// a JSON file of its own; every report repeats the limits it was judged by.

#include <cstdint>
#include <string>

struct CheckProfile
{
    double maxOffset = 0.05;           // joystick centre, distance from 0
    double maxNoise = 0.01;            // standard deviation at rest, each axis
    double minCoverage = 0.9;          // share of the 72 sectors reached
    double maxCircularityError = 10.0; // percent
    double minReach = 0.95;            // each of the four directions
    double minTrackedShare = 0.99;
    double maxDroppedShare = 0.01; // dropped frames per frame held still
    double maxPositionSigmaMm = 0.5;
    double maxRotationJitterDeg = 0.1;
    int64_t maxUnpromptedPresses = 0;

    // The file's limits override the defaults; keys it leaves out keep them.
    // False, with the reason in error and profile unchanged, when the file is
    // not a regular file, is larger than kMaxFileSize, is not a JSON object,
    // names a key this profile does not have or one key twice, or gives a
    // value of the wrong type or outside its range. Never throws.
    bool load(const std::string& path, std::string& error);
    // The same for text already read.
    bool parse(const std::string& text, std::string& error);

    static constexpr int64_t kMaxFileSize = 64 * 1024;
};
