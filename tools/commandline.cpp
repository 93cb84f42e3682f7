#include "commandline.h"

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>

namespace CommandLine {

namespace {

std::string shown(double value)
{
    char text[32];
    std::snprintf(text, sizeof text, "%.15g", value);
    return text;
}

// The text as typed, cut short when it is long.
std::string asTyped(const std::string& typed)
{
    constexpr size_t kShown = 32;
    return "\"" + (typed.size() > kShown ? typed.substr(0, kShown) + "..." : typed) + "\"";
}

} // namespace

CLI::Validator number(double min, double max, bool orZero)
{
    const std::string range = shown(min) + " to " + shown(max);
    const std::string refusal =
        orZero ? " is neither 0 nor a number from " : " is not a number from ";
    return CLI::Validator(
        [=](std::string& typed) {
            char* end = nullptr;
            const double value = std::strtod(typed.c_str(), &end);
            const bool read = end != typed.c_str() && *end == '\0' && std::isfinite(value);
            if (read && ((value >= min && value <= max) || (orZero && value == 0.0)))
                return std::string();
            return asTyped(typed) + refusal + range;
        },
        (orZero ? "0 or in [" : "in [") + shown(min) + " - " + shown(max) + "]");
}

CLI::Validator wholeNumber(uint64_t min)
{
    const std::string range = std::to_string(min) + " or more";
    return CLI::Validator(
        [=](std::string& typed) {
            bool read = !typed.empty() && typed.size() <= 20;
            for (const char c : typed)
                read = read && c >= '0' && c <= '9';
            if (read) {
                errno = 0;
                const unsigned long long value = std::strtoull(typed.c_str(), nullptr, 10);
                if (errno == 0 && value >= min)
                    return std::string();
            }
            return asTyped(typed) + " is not a whole number of " + range;
        },
        range);
}

int parse(CLI::App& app, int argc, char** argv, const std::function<void()>& check)
{
    try {
        app.parse(argc, argv);
        if (check)
            check();
        return -1;
    } catch (const CLI::ParseError& e) {
        return app.exit(e) == 0 ? 0 : kExitUsage;
    }
}

} // namespace CommandLine
