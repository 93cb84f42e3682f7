#include "textreaders.h"

#include <charconv>
#include <cstring>
#include <system_error>

namespace {

// White space as isspace() sees it in the C locale.
inline bool isSpace(char c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

inline int digitValue(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return 99;
}

inline bool isHexDigit(char c) { return digitValue(c) < 16; }

inline const char* skipSpace(const char* p, const char* end)
{
    while (p < end && isSpace(*p))
        ++p;
    return p;
}

// Reads the magnitude of a base-0 integer after its sign, as strtoul does.
// saturated tells whether it exceeded 64 bits (treated as "very large").
const char* readMagnitude(const char* p, const char* end, uint64_t& magnitude, bool& saturated)
{
    int base = 10;
    if (p < end && *p == '0') {
        if (end - p >= 3 && (p[1] == 'x' || p[1] == 'X') && isHexDigit(p[2])) {
            base = 16;
            p += 2;
        } else {
            base = 8;
        }
    }
    const char* start = p;
    uint64_t value = 0;
    saturated = false;
    while (p < end) {
        int d = digitValue(*p);
        if (d >= base)
            break;
        if (!saturated) {
            if (value > (UINT64_MAX - static_cast<uint64_t>(d)) / static_cast<uint64_t>(base))
                saturated = true;
            else
                value = value * static_cast<uint64_t>(base) + static_cast<uint64_t>(d);
        }
        ++p;
    }
    if (p == start)
        return nullptr;
    magnitude = value;
    return p;
}

const char* readSign(const char* p, const char* end, bool& negative)
{
    negative = false;
    if (p < end && (*p == '+' || *p == '-')) {
        negative = *p == '-';
        ++p;
    }
    return p;
}

constexpr double kExactPowers[] = {1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,
                                   1e8,  1e9,  1e10, 1e11, 1e12, 1e13, 1e14, 1e15,
                                   1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22};

// Plain decimals with at most 15 significant digits and a small exponent are
// one correctly rounded multiplication or division of two exact doubles, so
// they need no general algorithm. Returns nullptr when the text is not of
// that simple form; the caller then takes the general path.
const char* fastDecimal(const char* p, const char* end, bool negative, double& value)
{
    uint64_t digits = 0;
    int count = 0;
    int scale = 0;
    const char* q = p;
    while (q < end && *q >= '0' && *q <= '9') {
        if (count == 0 && *q == '0') {
            ++q;
            continue;
        }
        if (++count > 15)
            return nullptr;
        digits = digits * 10 + static_cast<uint64_t>(*q - '0');
        ++q;
    }
    bool any = q != p;
    if (q < end && *q == '.') {
        const char* f = ++q;
        while (q < end && *q >= '0' && *q <= '9') {
            if (count == 0 && *q == '0') {
                --scale;
                ++q;
                continue;
            }
            if (++count > 15)
                return nullptr;
            digits = digits * 10 + static_cast<uint64_t>(*q - '0');
            --scale;
            ++q;
        }
        any = any || q != f;
    }
    if (!any)
        return nullptr;
    if (q < end && (*q == 'e' || *q == 'E'))
        return nullptr; // exponents go the general way
    if (q < end && (*q == 'x' || *q == 'X'))
        return nullptr; // "0x" starts a hexadecimal real
    if (scale < -22)
        return nullptr;
    double d = static_cast<double>(digits);
    d = scale < 0 ? d / kExactPowers[-scale] : d;
    value = negative ? -d : d;
    return q;
}

// Decides overflow against underflow for a decimal that from_chars found out
// of range: the position of its first significant digit plus its exponent.
bool decimalOverflows(const char* p, const char* stop)
{
    long magnitude = 0;
    bool seenDigit = false;
    bool afterPoint = false;
    const char* q = p;
    for (; q < stop && *q != 'e' && *q != 'E'; ++q) {
        if (*q == '.') {
            afterPoint = true;
        } else if (!seenDigit && *q == '0') {
            if (afterPoint)
                --magnitude;
        } else {
            seenDigit = true;
            if (!afterPoint)
                ++magnitude;
        }
    }
    long exponent = 0;
    if (q < stop) {
        ++q;
        bool negative = false;
        if (*q == '+' || *q == '-')
            negative = *q++ == '-';
        for (; q < stop; ++q)
            if (exponent < 100000)
                exponent = exponent * 10 + (*q - '0');
        if (negative)
            exponent = -exponent;
    }
    return magnitude + exponent > 0;
}

} // namespace

const char* readInt(const char* position, const char* end, int32_t& value)
{
    bool negative = false;
    const char* p = readSign(skipSpace(position, end), end, negative);
    uint64_t magnitude = 0;
    bool saturated = false;
    p = readMagnitude(p, end, magnitude, saturated);
    if (!p)
        return nullptr;
    if (negative)
        value = (saturated || magnitude > 0x80000000ull) ? INT32_MIN
                                                         : static_cast<int32_t>(-static_cast<int64_t>(magnitude));
    else
        value = (saturated || magnitude > 0x7FFFFFFFull) ? INT32_MAX : static_cast<int32_t>(magnitude);
    return p;
}

const char* readUnsigned(const char* position, const char* end, uint32_t& value)
{
    bool negative = false;
    const char* p = readSign(skipSpace(position, end), end, negative);
    uint64_t magnitude = 0;
    bool saturated = false;
    p = readMagnitude(p, end, magnitude, saturated);
    if (!p)
        return nullptr;
    if (saturated || magnitude > 0xFFFFFFFFull)
        value = 0xFFFFFFFFu;
    else
        value = negative ? static_cast<uint32_t>(0u - static_cast<uint32_t>(magnitude))
                         : static_cast<uint32_t>(magnitude);
    return p;
}

const char* readDouble(const char* position, const char* end, double& value)
{
    bool negative = false;
    const char* p = readSign(skipSpace(position, end), end, negative);
    if (const char* q = fastDecimal(p, end, negative, value))
        return q;

    double parsed = 0.0;
    std::from_chars_result r;
    const bool hex = end - p >= 2 && p[0] == '0' && (p[1] == 'x' || p[1] == 'X') &&
                     ((end - p >= 3 && isHexDigit(p[2])) ||
                      (end - p >= 4 && p[2] == '.' && isHexDigit(p[3])));
    if (hex) {
        r = std::from_chars(p + 2, end, parsed, std::chars_format::hex);
    } else {
        // from_chars takes no sign of its own beyond "-", which we read above.
        if (p < end && (*p == '-' || *p == '+'))
            return nullptr;
        r = std::from_chars(p, end, parsed, std::chars_format::general);
    }
    if (r.ptr == p || (hex && r.ptr == p + 2))
        return nullptr;
    if (r.ec == std::errc::result_out_of_range) {
        // strtod gives HUGE_VAL on overflow and a zero on total underflow.
        bool overflow = hex ? true : decimalOverflows(p, r.ptr);
        if (hex) {
            // A hexadecimal significand overflows only with a large positive
            // binary exponent; look for its sign.
            const char* e = static_cast<const char*>(std::memchr(p, 'p', static_cast<size_t>(r.ptr - p)));
            if (!e)
                e = static_cast<const char*>(std::memchr(p, 'P', static_cast<size_t>(r.ptr - p)));
            overflow = !(e && e + 1 < r.ptr && e[1] == '-');
        }
        parsed = overflow ? __builtin_huge_val() : 0.0;
    } else if (r.ec != std::errc()) {
        return nullptr;
    }
    value = negative ? -parsed : parsed;
    return r.ptr;
}

const char* readFloat(const char* position, const char* end, float& value)
{
    double d = 0.0;
    const char* p = readDouble(position, end, d);
    if (p)
        value = static_cast<float>(d);
    return p;
}

const char* readBlock(const char* position, const char* end, const char* types, int32_t* ints,
                      float* floats)
{
    if (position >= end)
        return nullptr;
    const char* open = static_cast<const char*>(std::memchr(position, '[', static_cast<size_t>(end - position)));
    if (!open)
        return nullptr;
    const char* close = static_cast<const char*>(std::memchr(open + 1, ']', static_cast<size_t>(end - open - 1)));
    if (!close)
        return nullptr;
    // The values are read up to the "]" only, so none can run past the block.
    const char* p = open + 1;
    int intSlot = 0;
    int floatSlot = 0;
    for (const char* t = types; *t; ++t) {
        if (*t == 'i')
            p = readInt(p, close, ints[intSlot++]);
        else if (*t == 'f')
            p = readFloat(p, close, floats[floatSlot++]);
        else
            return nullptr;
        if (!p)
            return nullptr;
    }
    return close + 1;
}

const char* nextLine(const char* position, const char* end)
{
    const char* p = position;
    while (p < end && *p != '\r' && *p != '\n' && *p != '\0')
        ++p;
    while (p < end && (*p == '\r' || *p == '\n'))
        ++p;
    if (p >= end || *p == '\0')
        return nullptr;
    return p;
}
