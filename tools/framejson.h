#pragma once

// One receive outcome and the records it leaves, as one line of JSON.

#include "errorstate.h"

#include <string>

struct FrameData;

// The name of a receive's outcome in the JSON: "none", "timeout", "net" or
// "parse".
const char* outcomeName(ErrorState outcome);

// Appends a float so that reading the text back as a 32-bit float gives the
// same bits: the shortest such decimal form. Not finite: null.
void appendJsonFloat(std::string& out, float value);
// The same for a double.
void appendJsonDouble(std::string& out, double value);

// The JSON object (no line end) for one outcome: result, error, frame header,
// then every count and every record the accessors hand out, all fields and
// all array entries included.
std::string frameJson(ErrorState outcome, const FrameData& frame);
