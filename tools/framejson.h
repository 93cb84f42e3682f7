#pragma once

// One receive outcome and the records it leaves, as one line of JSON.

#include "errorstate.h"

#include <string>

struct FrameData;
struct ParseFailure;

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
// all array entries included. A parse error with a known failure (line above
// 0) ends with parseError: line, column, text and reason.
std::string frameJson(ErrorState outcome, const FrameData& frame,
                      const ParseFailure* failure = nullptr);

// Appends text as a JSON string. Quotes, backslashes, control characters and
// bytes above 0x7f are escaped as \u00XX (a byte above 0x7f reads as its
// Latin-1 character), so that bytes off the network always give valid JSON.
void appendJsonString(std::string& out, const std::string& text);
