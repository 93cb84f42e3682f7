#include "csvfield.h"

#include <cstring>

std::string csvField(const std::string& text, bool typed)
{
    std::string value = text;
    // A spreadsheet runs a cell that starts like a formula; typed text is
    // kept as text.
    if (typed && !value.empty() && std::strchr("=+-@\t\r", value[0]))
        value.insert(value.begin(), '\'');
    if (value.find_first_of(",\"\r\n") == std::string::npos && value == text)
        return value;
    std::string out = "\"";
    for (const char c : value) {
        if (c == '"')
            out += '"';
        out += c;
    }
    return out + "\"";
}
