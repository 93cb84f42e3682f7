#pragma once

#include <string>

// Text from outside (a datagram's line, a program's name, typed text) with
// every control byte replaced by '?', so that none of it drives a terminal
// or breaks a line.
inline std::string printableText(std::string text)
{
    for (char& c : text) {
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f)
            c = '?';
    }
    return text;
}
