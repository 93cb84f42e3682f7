// Runs the number readers against strtol, strtoul and strtod in the C locale
// (narrowed the way a 32-bit strtol/strtoul would, see textreaders.h) and
// the block and line readers for bounds. The readers see an exactly sized
// copy of the input, so a read past the end is caught.

#include "textreaders.h"

#include <cerrno>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

namespace {

bool sameDouble(double a, double b)
{
    if (std::isnan(a) || std::isnan(b))
        return std::isnan(a) && std::isnan(b) && std::signbit(a) == std::signbit(b);
    return std::memcmp(&a, &b, sizeof a) == 0;
}

[[noreturn]] void mismatch(const char* reader, const std::string& text)
{
    std::fprintf(stderr, "%s disagrees with the C library on \"%s\"\n", reader, text.c_str());
    std::abort();
}

void compareInt(const char* begin, const char* end, const std::string& text)
{
    char* stop = nullptr;
    errno = 0;
    const long ref = std::strtol(text.c_str(), &stop, 0);
    const size_t used = static_cast<size_t>(stop - text.c_str());
    const int32_t expected = ref > INT32_MAX   ? INT32_MAX
                             : ref < INT32_MIN ? INT32_MIN
                                               : static_cast<int32_t>(ref);
    int32_t value = 12345;
    const char* p = readInt(begin, end, value);
    if ((p != nullptr) != (used != 0))
        mismatch("readInt", text);
    if (p ? (static_cast<size_t>(p - begin) != used || value != expected) : value != 12345)
        mismatch("readInt", text);
}

void compareUnsigned(const char* begin, const char* end, const std::string& text)
{
    char* stop = nullptr;
    errno = 0;
    const unsigned long ref = std::strtoul(text.c_str(), &stop, 0);
    const size_t used = static_cast<size_t>(stop - text.c_str());
    uint32_t expected = UINT32_MAX;
    if (errno != ERANGE) {
        // The 64-bit strtoul negates modulo 2^64; a 32-bit one saturates when
        // the magnitude does not fit in 32 bits and negates modulo 2^32.
        const size_t firstDigit = text.find_first_of("0123456789");
        const bool negative = text.find('-') < firstDigit;
        const unsigned long magnitude = negative ? 0ul - ref : ref;
        expected = magnitude > UINT32_MAX ? UINT32_MAX : static_cast<uint32_t>(ref);
    }
    uint32_t value = 12345;
    const char* p = readUnsigned(begin, end, value);
    if ((p != nullptr) != (used != 0))
        mismatch("readUnsigned", text);
    if (p ? (static_cast<size_t>(p - begin) != used || value != expected) : value != 12345)
        mismatch("readUnsigned", text);
}

void compareReal(const char* begin, const char* end, const std::string& text)
{
    char* stop = nullptr;
    const double ref = std::strtod(text.c_str(), &stop);
    const size_t used = static_cast<size_t>(stop - text.c_str());
    double value = 12345.0;
    const char* p = readDouble(begin, end, value);
    if ((p != nullptr) != (used != 0))
        mismatch("readDouble", text);
    if (p ? (static_cast<size_t>(p - begin) != used || !sameDouble(value, ref)) : value != 12345.0)
        mismatch("readDouble", text);
    float narrow = 12345.0f;
    const char* q = readFloat(begin, end, narrow);
    if (q != p)
        mismatch("readFloat", text);
    if (q && !sameDouble(static_cast<double>(narrow), static_cast<double>(static_cast<float>(ref))))
        mismatch("readFloat", text);
}

void exerciseBlockAndLines(const char* begin, const char* end, uint8_t selector)
{
    static const char* const kTypes[] = {
        "if", "fff", "fffffffff", "ifi", "ifii", "ffffff", "iiiiiiiiiiiiiiiiffffffff", "x", ""};
    const char* types = kTypes[selector % (sizeof kTypes / sizeof kTypes[0])];
    int32_t ints[32];
    float floats[32];
    const char* p = begin;
    for (int i = 0; i < 64 && p; ++i) {
        p = readBlock(p, end, types, ints, floats);
        if (p && (p < begin || p > end))
            std::abort();
    }
    for (p = begin; p;) {
        const char* next = nextLine(p, end);
        if (next && (next <= p || next >= end))
            std::abort();
        p = next;
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size == 0)
        return 0;
    // The first byte picks the type letters for the block reader; the rest is
    // the text.
    const uint8_t selector = data[0];
    const size_t length = size - 1;
    std::unique_ptr<char[]> copy(new char[length ? length : 1]);
    if (length)
        std::memcpy(copy.get(), data + 1, length);
    const char* begin = copy.get();
    const char* end = begin + length;

    // The references stop at the first NUL, the readers at their end: a NUL
    // is never part of a number, so both must agree.
    const std::string text(begin, length);
    compareInt(begin, end, text);
    compareUnsigned(begin, end, text);
    compareReal(begin, end, text);
    exerciseBlockAndLines(begin, end, selector);
    return 0;
}
