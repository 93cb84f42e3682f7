#include "framedecoder.h"
#include "textreaders.h"

#include <algorithm>
#include <cstring>
#include <string>

namespace {

bool isBlank(char c)
{
    return c == ' ' || c == '\t' || c == '\v' || c == '\f';
}

// Skips blanks within the line, so that a column points at the item itself.
const char* skipBlanks(const char* p, const char* end)
{
    while (p < end && isBlank(*p))
        ++p;
    return p;
}

struct Located
{
    const char* at;
    std::string reason;
};

// Reads the block again, value by value, to find what readBlock tripped on.
Located explainBlock(const char* p, const char* end, const char* types)
{
    const char* open = static_cast<const char*>(std::memchr(p, '[', size_t(end - p)));
    if (!open)
        return {skipBlanks(p, end), "block missing"};
    const char* close =
        static_cast<const char*>(std::memchr(open + 1, ']', size_t(end - open - 1)));
    if (!close)
        return {open, "block not closed"};
    const size_t wanted = std::strlen(types);
    const char* q = open + 1;
    for (size_t k = 0; k < wanted; ++k) {
        int32_t i = 0;
        float f = 0.0f;
        const char* next = types[k] == 'i' ? readInt(q, close, i) : readFloat(q, close, f);
        if (!next) {
            while (q < close && (isBlank(*q) || *q == '\r' || *q == '\n'))
                ++q;
            if (q == close)
                return {close, "block of " + std::to_string(wanted) + " values ends after " +
                                   std::to_string(k)};
            return {q, "value " + std::to_string(k + 1) + " of the block is no " +
                           (types[k] == 'i' ? "integer" : "number")};
        }
        q = next;
    }
    return {open, "block unreadable"};
}

std::string outOfRange(int64_t value, int64_t limit, const char* what)
{
    if (value < 0)
        return std::to_string(value) + " " + what + ", at least 0";
    return std::to_string(value) + " " + what + ", at most " + std::to_string(limit);
}

Located locate(const DecodeFailure& failure, const char* at, const char* end)
{
    const int64_t value = failure.value;
    const int64_t limit = failure.limit;
    switch (failure.fault) {
    case DecodeFault::None:
        break;
    case DecodeFault::NumberMissing:
        return {skipBlanks(at, end), "number missing"};
    case DecodeFault::CountNegative:
        return {skipBlanks(at, end), "count " + std::to_string(value) + " below 0"};
    case DecodeFault::CountAboveLimit:
        return {skipBlanks(at, end), "count above the limit of " + std::to_string(limit)};
    case DecodeFault::CountAboveSkywands:
        return {skipBlanks(at, end), "record count " + std::to_string(value) +
                                         " above the Skywand count " + std::to_string(limit)};
    case DecodeFault::IdOutOfRange:
        return {skipBlanks(at, end), value < 0
                                         ? "id " + std::to_string(value) + " below 0"
                                         : "id " + std::to_string(value) + " above the limit of " +
                                               std::to_string(limit)};
    case DecodeFault::IdOutOfOrder:
        return {skipBlanks(at, end), "id " + std::to_string(value) + " where " +
                                         std::to_string(limit) + " was expected"};
    case DecodeFault::ButtonsOutOfRange:
        return {skipBlanks(at, end), outOfRange(value, limit, "buttons")};
    case DecodeFault::JoysticksOutOfRange:
        return {skipBlanks(at, end), outOfRange(value, limit, "joystick values")};
    case DecodeFault::FingersOutOfRange:
        return {skipBlanks(at, end), outOfRange(value, limit, "fingers")};
    case DecodeFault::BlockUnreadable:
        return explainBlock(at, end, failure.blockTypes);
    case DecodeFault::NoMemory:
        return {at, "out of memory for the records"};
    }
    return {at, std::string()};
}

} // namespace

ParseFailure describeDecodeFailure(const DecodeFailure& failure, const char* text, size_t length)
{
    ParseFailure out;
    if (failure.fault == DecodeFault::None || !text)
        return out;
    // The same end as the decoder's: the first NUL byte.
    const void* nul = std::memchr(text, '\0', length);
    const char* end = nul ? static_cast<const char*>(nul) : text + length;
    const char* at = text + std::min<size_t>(failure.offset, size_t(end - text));
    const Located found = locate(failure, at, end);

    // Lines end at LF, at CR LF, or at a CR alone, as an editor counts them.
    int32_t line = 1;
    const char* lineStart = text;
    for (const char* p = text; p < found.at; ++p) {
        if (*p == '\n' || (*p == '\r' && (p + 1 >= end || p[1] != '\n'))) {
            ++line;
            lineStart = p + 1;
        }
    }
    const char* lineEnd = lineStart;
    while (lineEnd < end && *lineEnd != '\r' && *lineEnd != '\n' &&
           size_t(lineEnd - lineStart) < ParseFailure::kMaxText)
        ++lineEnd;
    out.line = line;
    out.column = static_cast<int32_t>(found.at - lineStart) + 1;
    out.text.assign(lineStart, lineEnd);
    out.reason = found.reason;
    return out;
}
