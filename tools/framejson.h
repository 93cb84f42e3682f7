#pragma once

// One receive outcome and the records it leaves, as one line of JSON.

#include <string>

struct FrameData;

// The outcome of one receive, as the SDK's error queries tell it.
enum class ReceiveOutcome {
    Frame,   // a frame was decoded ("none")
    Timeout, // no datagram within the data timeout ("timeout")
    Net,     // socket failure, empty datagram, datagram too long ("net")
    Parse,   // the datagram did not decode ("parse")
};

const char* outcomeName(ReceiveOutcome outcome);

// Appends a float so that reading the text back as a 32-bit float gives the
// same bits: the shortest such decimal form. Not finite: null.
void appendJsonFloat(std::string& out, float value);
// The same for a double.
void appendJsonDouble(std::string& out, double value);

// The JSON object (no line end) for one outcome: result, error, frame header,
// then every count and every record the accessors hand out, all fields and
// all array entries included.
std::string frameJson(ReceiveOutcome outcome, const FrameData& frame);
