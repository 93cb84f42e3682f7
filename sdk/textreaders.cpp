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

inline bool isHexDigit(char c)
{
    return digitValue(c) < 16;
}

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
    saturated = false;
    // Plain decimals, the common case: nineteen digits cannot overflow 64
    // bits, so the short loop needs no overflow check.
    if (p < end && *p >= '1' && *p <= '9') {
        const char* stop = end - p > 19 ? p + 19 : end;
        uint64_t value = 0;
        const char* q = p;
        while (q < stop && static_cast<unsigned char>(*q - '0') <= 9)
            value = value * 10 + static_cast<uint64_t>(*q++ - '0');
        if (q == end || static_cast<unsigned char>(*q - '0') > 9) {
            magnitude = value;
            return q;
        }
    }
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

inline bool isDigit(char c)
{
    return static_cast<unsigned char>(c - '0') <= 9;
}

// A plain decimal whose digits, read as one integer, fit 53 bits and whose
// point stands at most 22 places from the end is the quotient of two doubles
// that are both exact; one correctly rounded division then gives exactly what
// strtod gives, without the general algorithm. Returns nullptr when the text
// is not of that simple form; the caller then takes the general path.
inline const char* fastDecimal(const char* p, const char* end, bool negative, double& value)
{
    // At most nineteen digits are taken, so the sum cannot overflow 64 bits.
    const char* stop = end - p > 19 ? p + 19 : end;
    uint64_t digits = 0;
    const char* q = p;
    while (q < stop && isDigit(*q))
        digits = digits * 10 + static_cast<uint64_t>(*q++ - '0');
    const char* whole = q;
    int scale = 0;
    if (q < end && *q == '.') {
        const char* fraction = ++q;
        stop = end - q > 19 - (whole - p) ? q + (19 - (whole - p)) : end;
        while (q < stop && isDigit(*q))
            digits = digits * 10 + static_cast<uint64_t>(*q++ - '0');
        scale = static_cast<int>(fraction - q);
        if (whole == p && q == fraction)
            return nullptr; // a lone "."
    } else if (whole == p) {
        return nullptr;
    }
    if (q < end) {
        const char c = *q;
        // More digits than were taken, an exponent, or "0x" of a hexadecimal
        // real: all of these go the general way.
        if (isDigit(c) || c == 'e' || c == 'E' || c == 'x' || c == 'X')
            return nullptr;
    }
    if (digits > (uint64_t{1} << 53) || scale < -22)
        return nullptr;
    double d = static_cast<double>(digits);
    if (scale < 0)
        d /= kExactPowers[-scale];
    value = negative ? -d : d;
    return q;
}

// Decides overflow against underflow for a number that from_chars found out
// of range: the position of its first significant digit plus its exponent,
// both counted in bits for a hexadecimal and in decimal digits otherwise.
bool outOfRangeOverflows(const char* p, const char* stop, bool hex)
{
    const long digitWeight = hex ? 4 : 1;
    long magnitude = 0;
    bool seenDigit = false;
    bool afterPoint = false;
    const char* q = p;
    for (; q < stop && (hex ? (*q != 'p' && *q != 'P') : (*q != 'e' && *q != 'E')); ++q) {
        if (*q == '.') {
            afterPoint = true;
        } else if (!seenDigit && *q == '0') {
            if (afterPoint)
                magnitude -= digitWeight;
        } else {
            seenDigit = true;
            if (!afterPoint)
                magnitude += digitWeight;
        }
    }
    // Far beyond any significand a datagram can hold, and far from overflowing.
    constexpr long exponentCap = 100000000;
    long exponent = 0;
    if (q < stop) {
        ++q;
        bool negative = false;
        if (q < stop && (*q == '+' || *q == '-'))
            negative = *q++ == '-';
        for (; q < stop; ++q)
            if (exponent < exponentCap)
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
        value = (saturated || magnitude > 0x80000000ull)
                    ? INT32_MIN
                    : static_cast<int32_t>(-static_cast<int64_t>(magnitude));
    else
        value =
            (saturated || magnitude > 0x7FFFFFFFull) ? INT32_MAX : static_cast<int32_t>(magnitude);
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

namespace {

// Everything the fast path leaves: long or exponent decimals, hexadecimal
// reals, inf and nan. p stands after the sign.
const char* generalDouble(const char* p, const char* end, bool negative, double& value)
{
    double parsed = 0.0;
    std::from_chars_result r;
    const bool hex =
        end - p >= 2 && p[0] == '0' && (p[1] == 'x' || p[1] == 'X') &&
        ((end - p >= 3 && isHexDigit(p[2])) || (end - p >= 4 && p[2] == '.' && isHexDigit(p[3])));
    if (hex) {
        r = std::from_chars(p + 2, end, parsed, std::chars_format::hex);
        // libstdc++ takes a second sign after "p+" ("0x5p+-8"); strtod ends
        // the number before such a "p", so only the significand counts.
        const char* e =
            static_cast<const char*>(std::memchr(p, 'p', static_cast<size_t>(r.ptr - p)));
        if (!e)
            e = static_cast<const char*>(std::memchr(p, 'P', static_cast<size_t>(r.ptr - p)));
        const bool signedDigits =
            e && e + 2 < r.ptr && (e[1] == '+' || e[1] == '-') && isDigit(e[2]);
        if (e && !(e + 1 < r.ptr && isDigit(e[1])) && !signedDigits)
            r = std::from_chars(p + 2, e, parsed, std::chars_format::hex);
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
        const bool overflow = outOfRangeOverflows(hex ? p + 2 : p, r.ptr, hex);
        parsed = overflow ? __builtin_huge_val() : 0.0;
    } else if (r.ec != std::errc()) {
        return nullptr;
    }
    value = negative ? -parsed : parsed;
    return r.ptr;
}

// Kept inline so that the float reader of every block value runs the fast
// path without a call.
inline const char* parseDouble(const char* position, const char* end, double& value)
{
    bool negative = false;
    const char* p = readSign(skipSpace(position, end), end, negative);
    if (const char* q = fastDecimal(p, end, negative, value))
        return q;
    return generalDouble(p, end, negative, value);
}

} // namespace

const char* readDouble(const char* position, const char* end, double& value)
{
    return parseDouble(position, end, value);
}

const char* readFloat(const char* position, const char* end, float& value)
{
    double d = 0.0;
    const char* p = parseDouble(position, end, d);
    if (p)
        value = static_cast<float>(d);
    return p;
}

const char* readBlock(const char* position, const char* end, const char* types, int32_t* ints,
                      float* floats)
{
    if (position >= end)
        return nullptr;
    // The "[" mostly follows within a byte or two; a library call is only
    // worth it for a longer way.
    const char* open = position;
    const char* near = end - position > 4 ? position + 4 : end;
    while (open < near && *open != '[')
        ++open;
    if (open == near)
        open = static_cast<const char*>(std::memchr(open, '[', static_cast<size_t>(end - open)));
    if (!open)
        return nullptr;
    const char* close =
        static_cast<const char*>(std::memchr(open + 1, ']', static_cast<size_t>(end - open - 1)));
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
