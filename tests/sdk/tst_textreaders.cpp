#include "textreaders.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <climits>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <vector>

namespace {

// References: the C library's readers in the C locale, narrowed the way a
// 32-bit strtol/strtoul would narrow.
struct IntRef
{
    bool ok;
    size_t used;
    int32_t value;
};

#ifdef _WIN32
// The Windows C runtime reads nothing from "0x" without a hexadecimal digit
// after it, where the C standard (and glibc) reads the "0" and stops before
// the "x". The readers follow the standard, so the reference is put right.
size_t standardUsed(const std::string& s, size_t used)
{
    if (used != 0)
        return used;
    size_t i = s.find_first_not_of(" \t\n\v\f\r");
    if (i != std::string::npos && (s[i] == '+' || s[i] == '-'))
        ++i;
    if (i != std::string::npos && i + 1 < s.size() && s[i] == '0' &&
        (s[i + 1] == 'x' || s[i + 1] == 'X'))
        return i + 1;
    return used;
}
#else
size_t standardUsed(const std::string&, size_t used)
{
    return used;
}
#endif

IntRef refInt(const std::string& s)
{
    char* endPtr = nullptr;
    errno = 0;
    const long v = std::strtol(s.c_str(), &endPtr, 0);
    const size_t used = standardUsed(s, static_cast<size_t>(endPtr - s.c_str()));
    int32_t value = v > INT32_MAX ? INT32_MAX : v < INT32_MIN ? INT32_MIN : static_cast<int32_t>(v);
    return {used != 0, used, value};
}

struct UnsignedRef
{
    bool ok;
    size_t used;
    uint32_t value;
};

UnsignedRef refUnsigned(const std::string& s)
{
    char* endPtr = nullptr;
    errno = 0;
    const unsigned long v = std::strtoul(s.c_str(), &endPtr, 0);
    const size_t used = standardUsed(s, static_cast<size_t>(endPtr - s.c_str()));
    uint32_t value = 0;
    if (errno == ERANGE) {
        value = UINT32_MAX;
    } else {
        // 64-bit strtoul negated the magnitude modulo 2^64; a 32-bit one
        // saturates when the magnitude does not fit 32 bits.
        const bool negative = s.find('-') < s.find_first_of("0123456789");
        const unsigned long magnitude = negative ? 0ul - v : v;
        value = magnitude > UINT32_MAX ? UINT32_MAX : static_cast<uint32_t>(v);
    }
    return {used != 0, used, value};
}

bool sameDouble(double a, double b)
{
    if (std::isnan(a) || std::isnan(b))
        return std::isnan(a) && std::isnan(b) && std::signbit(a) == std::signbit(b);
    return std::memcmp(&a, &b, sizeof a) == 0;
}

void expectLikeLibrary(const std::string& s)
{
    SCOPED_TRACE("text \"" + s + "\"");
    const char* begin = s.data();
    const char* end = s.data() + s.size();

    const IntRef ri = refInt(s);
    int32_t i = 12345;
    const char* p = readInt(begin, end, i);
    ASSERT_EQ(p != nullptr, ri.ok);
    if (p) {
        EXPECT_EQ(static_cast<size_t>(p - begin), ri.used);
        EXPECT_EQ(i, ri.value);
    } else {
        EXPECT_EQ(i, 12345) << "a failed read must leave the value alone";
    }

    const UnsignedRef ru = refUnsigned(s);
    uint32_t u = 0;
    p = readUnsigned(begin, end, u);
    ASSERT_EQ(p != nullptr, ru.ok);
    if (p) {
        EXPECT_EQ(static_cast<size_t>(p - begin), ru.used);
        EXPECT_EQ(u, ru.value);
    }

    char* endPtr = nullptr;
    const double rd = std::strtod(s.c_str(), &endPtr);
    const size_t dUsed = static_cast<size_t>(endPtr - s.c_str());
    double d = 0.0;
    p = readDouble(begin, end, d);
    ASSERT_EQ(p != nullptr, dUsed != 0);
    if (p) {
        EXPECT_EQ(static_cast<size_t>(p - begin), dUsed);
        EXPECT_TRUE(sameDouble(d, rd)) << d << " vs " << rd;
        float f = 0.0f;
        readFloat(begin, end, f);
        EXPECT_TRUE(
            sameDouble(static_cast<double>(f), static_cast<double>(static_cast<float>(rd))));
    }
}

TEST(TextReaders, HandPickedTextsMatchTheCLibrary)
{
    const std::vector<std::string> texts = {
        "", " ", "-", "+", "0", "-0", "+17", "  \t\r\n 42", "010", "08", "0x", "0x1f", "0XfF",
        "0xg", "-0x10", "2147483647", "2147483648", "-2147483648", "-2147483649", "4294967295",
        "4294967296", "-4294967295", "-4294967296", "99999999999999999999999",
        "-99999999999999999999999", "0x7fffffffffffffffffff", "1.5", "-0.25", ".5", "1.", ".",
        "-.5e1", "1e5", "1E-5", "1e", "1e+", "1e-x", "3.14159265358979323846264338", "0.1",
        "0.30000000000000004", "123456789012345", "1234567890123456", "9007199254740993", "1e22",
        "1e23", "1e-22", "1e-23", "1e308", "1e309", "-1e309", "1e-400", "4.9e-324", "2.4e-324",
        "2.5e-324", "2.2250738585072011e-308", "inf", "-Infinity", "INFINITY", "nan", "-nan",
        "NaN(123)", "nanx", "0x1.8p3", "0x.8", "0x1p",
        // A second sign after "p+" ends the number before the "p" (found by fuzzing).
        "0x5p+-8", "0x5p+-8014", "0X1.8P-+2 7", "0x5p--1", "0x1p-1074", "0x1p-1080", "0x1p1024",
        "-0x1.fffffffffffffp1023", "0x1.0000000000000800001",
        // Out of range either way: a long hexadecimal significand overflows
        // despite a small negative exponent, a long zero fraction underflows
        // despite a positive one (found by fuzzing).
        "0x1" + std::string(300, 'f') + "p-1", "-0x" + std::string(260, 'F') + "p-7",
        "0x." + std::string(300, '0') + "1p8", "1" + std::string(400, '9') + "e-5",
        "0." + std::string(400, '0') + "1e40", "12abc", "5 6", "7]", "1.5.5", "--5", "+-5",
        "0.000000000000000000000000001", "00000000000000000000001.5", "1000000000000000000000000",
        "3.4028235e38", "3.4028236e38", "1e-46", "1.401298464324817e-45", "0.0000001192092896",
        // Edges of the short-decimal path: 2^53 as digits, nineteen digits,
        // the point 22 and 23 places from the end.
        "9007199254740992", "900719925474099.2", "900719925474099.3", "-90071992547409.93",
        "1234567890123456789", "123456789.0123456789", "1234567890123456789.5",
        "0.1234567890123456789", "0000000000000000001.5", "0.0000000000000000000001",
        "0.00000000000000000000001", "-0.000", "99999999.99999999", "1.5]2"};
    for (const auto& s : texts)
        expectLikeLibrary(s);
}

TEST(TextReaders, GeneratedTextsMatchTheCLibrary)
{
    const char* spaces[] = {"", " ", "\t", "\r\n ", "\v\f"};
    const char* signs[] = {"", "", "+", "-"};
    const char* suffixes[] = {"", "", "x", " 12", "]", "e", ".", "e5", "p1"};
    std::mt19937 rng(20261207);
    auto pick = [&](size_t n) { return static_cast<size_t>(rng() % n); };
    auto digits = [&](const char* set, size_t maxLen) {
        std::string s;
        const size_t n = pick(maxLen + 1);
        const size_t setLen = std::strlen(set);
        for (size_t i = 0; i < n; ++i)
            s += set[pick(setLen)];
        return s;
    };
    for (int round = 0; round < 20000; ++round) {
        std::string body;
        switch (pick(6)) {
        case 0:
            body = digits("0123456789", 25);
            break;
        case 1:
            body = "0x" + digits("0123456789abcdefABCDEF", 20);
            break;
        case 2:
            body = "0" + digits("01234567", 14);
            break;
        case 3:
            body = digits("0123456789", 18) + "." + digits("0123456789", 18);
            if (pick(2))
                body += std::string(pick(2) ? "e" : "E") + signs[pick(4)] + digits("0123456789", 3);
            break;
        case 4:
            body = "0x" + digits("0123456789abcdef", 15) + "." + digits("0123456789abcdef", 15) +
                   "p" + signs[pick(4)] + digits("0123456789", 4);
            break;
        default:
            body = digits("0123456789abcdefxXpPeE+-. \t\ninf", 12);
            break;
        }
        expectLikeLibrary(std::string(spaces[pick(5)]) + signs[pick(4)] + body + suffixes[pick(9)]);
        if (HasFailure())
            return;
    }
}

TEST(TextReaders, NeverReadPastTheEnd)
{
    // The digits after the range belong to someone else.
    const std::string text = "123456";
    int32_t i = 0;
    const char* p = readInt(text.data(), text.data() + 3, i);
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(i, 123);
    EXPECT_EQ(p, text.data() + 3);
    double d = 0;
    EXPECT_EQ(readDouble(text.data(), text.data() + 2, d), text.data() + 2);
    EXPECT_EQ(d, 12.0);
    EXPECT_EQ(readDouble(text.data(), text.data(), d), nullptr);
    const std::string hex = "0x1p3";
    EXPECT_EQ(readDouble(hex.data(), hex.data() + 2, d), hex.data() + 1)
        << "\"0x\" alone is a zero";
    EXPECT_EQ(d, 0.0);
}

struct BlockCase
{
    const char* text;
    const char* types;
    bool ok;
    size_t stop; // offset after the "]"
    int32_t firstInt;
    float firstFloat;
};

class ReadBlock : public ::testing::TestWithParam<BlockCase>
{
};

TEST_P(ReadBlock, ReadsTypedValuesUpToTheClosingBracket)
{
    const BlockCase& c = GetParam();
    const std::string text = c.text;
    int32_t ints[4] = {-7, -7, -7, -7};
    float floats[4] = {-7, -7, -7, -7};
    const char* p = readBlock(text.data(), text.data() + text.size(), c.types, ints, floats);
    EXPECT_EQ(text, c.text) << "the text must never change";
    ASSERT_EQ(p != nullptr, c.ok);
    if (!p)
        return;
    EXPECT_EQ(static_cast<size_t>(p - text.data()), c.stop);
    if (std::strchr(c.types, 'i')) {
        EXPECT_EQ(ints[0], c.firstInt);
    }
    if (std::strchr(c.types, 'f')) {
        EXPECT_EQ(floats[0], c.firstFloat);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ReadBlock,
    ::testing::Values(BlockCase{"[3 0.5]", "if", true, 7, 3, 0.5f},
                      BlockCase{"junk\n  [0x10 2.5] rest", "if", true, 17, 16, 2.5f},
                      BlockCase{"[1 2 3 4]", "i", true, 9, 1, 0}, // the rest is ignored
                      BlockCase{"[]", "", true, 2, 0, 0},
                      BlockCase{"[1]", "ii", false, 0, 0, 0},   // a value may not pass "]"
                      BlockCase{"[1 2", "ii", false, 0, 0, 0},  // no "]"
                      BlockCase{"1 2]", "ii", false, 0, 0, 0},  // no "["
                      BlockCase{"[1 x]", "if", false, 0, 0, 0}, // unreadable value
                      BlockCase{"[1 2]", "iz", false, 0, 0, 0}, // unknown letter
                      BlockCase{"[1.5]", "f", true, 5, 0, 1.5f},
                      BlockCase{"[1.5]", "i", true, 5, 1, 0}, // an int stops at "."
                      BlockCase{"] [7]", "i", true, 5, 7, 0}));

TEST(TextReaders, NextLineTreatsAnyRunOfLineEndsAsOneSeparator)
{
    const std::string text = std::string("a\r\n\n\rb\nc") + '\0' + "\nd";
    const char* end = text.data() + text.size();
    const char* p = nextLine(text.data(), end);
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(*p, 'b');
    p = nextLine(p, end);
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(*p, 'c');
    EXPECT_EQ(nextLine(p, end), nullptr) << "a NUL byte ends the datagram";
    const std::string last = "x\n";
    EXPECT_EQ(nextLine(last.data(), last.data() + last.size()), nullptr);
}

} // namespace
