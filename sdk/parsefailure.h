#pragma once

#include <cstdint>
#include <string>

// Where a datagram failed to decode, in words a person can act on.
struct ParseFailure
{
    int32_t line = 0;   // from 1; 0 when there was no failure
    int32_t column = 0; // from 1, in bytes
    std::string text;   // the line as received, at most kMaxText bytes
    std::string reason; // "block missing", "id 3 where 2 was expected", ...

    static constexpr size_t kMaxText = 80;
};
