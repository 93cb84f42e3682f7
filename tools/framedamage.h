#pragma once

// The ways kestrel-sim --damage breaks a frame, so that a receiver can be
// tried against hostile traffic.

#include <cstdint>
#include <string>

enum class FrameDamage
{
    None,           // the frame is sent as generated
    DroppedBracket, // one "[" or "]" removed
    JunkNumber,     // one number replaced by text that is no number
    RaisedCount,    // the count of one record line raised above the records sent
    Truncation,     // the frame cut short
    StrayNul,       // a NUL byte inserted
    ByteBurst,      // a burst of arbitrary bytes inserted
};

// With the given probability damages text in one of the ways above and says
// which; None leaves it untouched. Whether and how a frame is damaged is a
// pure function of seed, number and the text, so a run can be repeated.
FrameDamage damageFrame(std::string& text, double probability, uint64_t seed, uint32_t number);
