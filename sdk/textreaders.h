#pragma once

#include <cstdint>

// The value of c as a digit of base 16 or below, or 99 when it is none of
// 0-9, a-f, A-F.
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

// Readers over the text range [position, end). Each returns where it stopped
// (just after what it read) or nullptr when nothing could be read; then the
// out-argument is left unchanged. They never read at or past end, never
// allocate and never throw. Numbers are independent of the process locale.

// Signed integer with the rules of strtol base 0 (leading white space, sign,
// "0x" hexadecimal, leading-zero octal); out of 32-bit range saturates to
// INT32_MIN or INT32_MAX.
const char* readInt(const char* position, const char* end, int32_t& value);

// Unsigned integer with the rules of strtoul base 0; a magnitude above
// 0xFFFFFFFF gives 0xFFFFFFFF, a minus sign negates modulo 2^32.
const char* readUnsigned(const char* position, const char* end, uint32_t& value);

// Real with the rules of strtod in the C locale ("." as decimal point,
// exponents, hexadecimal floats, inf and nan).
const char* readDouble(const char* position, const char* end, double& value);

// A real read like readDouble and narrowed to float.
const char* readFloat(const char* position, const char* end, float& value);

// Finds the next "[" at or after position (the search may cross lines), the
// first "]" after it, and reads one value per type letter between them: 'i'
// into the next integer slot, 'f' into the next float slot. Text after the
// last letter inside the block is ignored. Returns the position just past
// the "]"; nullptr when a bracket is missing, a value cannot be read, or a
// letter is neither 'i' nor 'f'. The text is never modified.
const char* readBlock(const char* position, const char* end, const char* types, int32_t* ints,
                      float* floats);

// Start of the line after the one at position: past the first CR or LF and
// every CR and LF after it. nullptr when end or a NUL byte comes first.
const char* nextLine(const char* position, const char* end);
