#include "framejson.h"

#include "framedecoder.h"
#include "parsefailure.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <vector>

// Written by hand rather than through nlohmann::json: that library would
// widen each float to a double and print digits the float never had.

namespace {

class ObjectWriter
{
public:
    explicit ObjectWriter(std::string& out) : out(out) { out += '{'; }
    ~ObjectWriter() { out += '}'; }

    std::string& key(const char* name)
    {
        if (!first)
            out += ',';
        first = false;
        out += '"';
        out += name;
        out += "\":";
        return out;
    }

private:
    std::string& out;
    bool first = true;
};

void appendInt(std::string& out, long long value)
{
    char text[32];
    const auto r = std::to_chars(text, text + sizeof text, value);
    out.append(text, r.ptr);
}

template <size_t N> void appendFloats(std::string& out, const float (&values)[N])
{
    out += '[';
    for (size_t i = 0; i < N; ++i) {
        if (i)
            out += ',';
        appendJsonFloat(out, values[i]);
    }
    out += ']';
}

template <size_t N> void appendInts(std::string& out, const int32_t (&values)[N])
{
    out += '[';
    for (size_t i = 0; i < N; ++i) {
        if (i)
            out += ',';
        appendInt(out, values[i]);
    }
    out += ']';
}

void appendRecord(std::string& out, const BodyRecord& r)
{
    ObjectWriter o(out);
    appendInt(o.key("id"), r.id);
    appendJsonFloat(o.key("quality"), r.quality);
    appendFloats(o.key("location"), r.location);
    appendFloats(o.key("rotation"), r.rotation);
}

void appendRecord(std::string& out, const SkywandRecord& r)
{
    ObjectWriter o(out);
    appendInt(o.key("id"), r.id);
    appendJsonFloat(o.key("quality"), r.quality);
    appendInt(o.key("numButton"), r.numButton);
    appendInts(o.key("button"), r.button);
    appendInt(o.key("numJoystick"), r.numJoystick);
    appendFloats(o.key("joystickValue"), r.joystickValue);
    appendFloats(o.key("location"), r.location);
    appendFloats(o.key("rotation"), r.rotation);
}

void appendRecord(std::string& out, const MeasurementToolRecord& r)
{
    ObjectWriter o(out);
    appendInt(o.key("id"), r.id);
    appendJsonFloat(o.key("quality"), r.quality);
    appendInt(o.key("numButton"), r.numButton);
    appendInts(o.key("button"), r.button);
    appendFloats(o.key("location"), r.location);
    appendFloats(o.key("rotation"), r.rotation);
}

void appendRecord(std::string& out, const FingerRecord& r)
{
    ObjectWriter o(out);
    appendFloats(o.key("location"), r.location);
    appendFloats(o.key("rotation"), r.rotation);
    appendFloats(o.key("shape"), r.shape);
}

void appendRecord(std::string& out, const HandRecord& r)
{
    ObjectWriter o(out);
    appendInt(o.key("id"), r.id);
    appendJsonFloat(o.key("quality"), r.quality);
    appendInt(o.key("handType"), r.handType);
    appendInt(o.key("numFinger"), r.numFinger);
    appendFloats(o.key("location"), r.location);
    appendFloats(o.key("rotation"), r.rotation);
    std::string& fingers = o.key("finger");
    fingers += '[';
    for (size_t i = 0; i < 5; ++i) {
        if (i)
            fingers += ',';
        appendRecord(fingers, r.finger[i]);
    }
    fingers += ']';
}

void appendRecord(std::string& out, const MarkerRecord& r)
{
    ObjectWriter o(out);
    appendInt(o.key("id"), r.id);
    appendJsonFloat(o.key("quality"), r.quality);
    appendFloats(o.key("location"), r.location);
}

// Only the first count entries are handed out; a count the arrays cannot
// back is clamped rather than read past.
template <typename Record>
void appendRecords(std::string& out, int32_t count, const std::vector<Record>& records)
{
    out += '[';
    const size_t n = count > 0 ? std::min(size_t(count), records.size()) : 0;
    for (size_t i = 0; i < n; ++i) {
        if (i)
            out += ',';
        appendRecord(out, records[i]);
    }
    out += ']';
}

} // namespace

const char* outcomeName(ErrorState outcome)
{
    switch (outcome) {
    case ErrorState::NoError:
        return "none";
    case ErrorState::Timeout:
        return "timeout";
    case ErrorState::NetError:
        return "net";
    case ErrorState::ParseError:
        return "parse";
    }
    return "unknown";
}

void appendJsonFloat(std::string& out, float value)
{
    if (!std::isfinite(value)) {
        out += "null";
        return;
    }
    char text[64];
    const auto r = std::to_chars(text, text + sizeof text, value);
    out.append(text, r.ptr);
}

void appendJsonDouble(std::string& out, double value)
{
    if (!std::isfinite(value)) {
        out += "null";
        return;
    }
    char text[64];
    const auto r = std::to_chars(text, text + sizeof text, value);
    out.append(text, r.ptr);
}

void appendJsonString(std::string& out, const std::string& text)
{
    static const char kHex[] = "0123456789abcdef";
    out += '"';
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (c == '"' || c == '\\') {
            out += '\\';
            out += c;
        } else if (byte < 0x20 || byte >= 0x7f) {
            out += "\\u00";
            out += kHex[byte >> 4];
            out += kHex[byte & 15];
        } else {
            out += c;
        }
    }
    out += '"';
}

std::string frameJson(ErrorState outcome, const FrameData& frame, const ParseFailure* failure)
{
    std::string out;
    out.reserve(4096);
    {
        ObjectWriter o(out);
        o.key("result") += outcome == ErrorState::NoError ? "true" : "false";
        std::string& error = o.key("error");
        error += '"';
        error += outcomeName(outcome);
        error += '"';
        appendInt(o.key("frameCounter"), frame.frameCounter);
        appendJsonDouble(o.key("timestamp"), frame.timestamp);
        appendInt(o.key("numBody"), frame.numBody);
        appendRecords(o.key("bodies"), frame.numBody, frame.bodies);
        appendInt(o.key("numSkywand"), frame.numSkywand);
        appendRecords(o.key("skywands"), frame.numSkywand, frame.skywands);
        appendInt(o.key("numMeasurementTool"), frame.numMeasurementTool);
        appendRecords(o.key("measurementTools"), frame.numMeasurementTool, frame.measurementTools);
        appendInt(o.key("numHand"), frame.numHand);
        appendRecords(o.key("hands"), frame.numHand, frame.hands);
        appendInt(o.key("numMarker"), frame.numMarker);
        appendRecords(o.key("markers"), frame.numMarker, frame.markers);
        if (outcome == ErrorState::ParseError && failure && failure->line > 0) {
            std::string& where = o.key("parseError");
            ObjectWriter w(where);
            appendInt(w.key("line"), failure->line);
            appendInt(w.key("column"), failure->column);
            appendJsonString(w.key("text"), failure->text);
            appendJsonString(w.key("reason"), failure->reason);
        }
    }
    return out;
}
