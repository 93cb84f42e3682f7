#include "commandline.h"

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <sys/stat.h>

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

// Whether strtod reads the whole text as a finite number.
bool readsAsNumber(const std::string& typed, double& value)
{
    char* end = nullptr;
    value = std::strtod(typed.c_str(), &end);
    return end != typed.c_str() && *end == '\0' && std::isfinite(value);
}

} // namespace

void setUp(CLI::App& app, const std::string& name)
{
    app.name(name);
    app.set_version_flag("--version", name + " " + SKYWAND_VERSION, "Print the version and exit");
    app.failure_message([](const CLI::App* failed, const CLI::Error& e) {
        return failed->get_name() + ": " + e.what() + "\n" + failed->get_name() +
               ": run with --help for more information.\n";
    });
}

CLI::Validator number(double min, double max, bool orZero)
{
    const std::string range = shown(min) + " to " + shown(max);
    const std::string refusal =
        orZero ? " is neither 0 nor a number from " : " is not a number from ";
    return CLI::Validator(
        [=](std::string& typed) {
            double value = 0.0;
            if (readsAsNumber(typed, value) &&
                ((value >= min && value <= max) || (orZero && value == 0.0)))
                return std::string();
            return asTyped(typed) + refusal + range;
        },
        (orZero ? "0 or in [" : "in [") + shown(min) + " - " + shown(max) + "]");
}

CLI::Validator wholeNumber(uint64_t min, uint64_t max)
{
    const std::string range = max == UINT64_MAX
                                  ? "of " + std::to_string(min) + " or more"
                                  : "from " + std::to_string(min) + " to " + std::to_string(max);
    return CLI::Validator(
        [=](std::string& typed) {
            bool read = !typed.empty() && typed.size() <= 20;
            for (const char c : typed)
                read = read && c >= '0' && c <= '9';
            if (read) {
                errno = 0;
                const unsigned long long value = std::strtoull(typed.c_str(), nullptr, 10);
                if (errno == 0 && value >= min && value <= max)
                    return std::string();
            }
            double value = 0.0;
            if (!readsAsNumber(typed, value))
                return asTyped(typed) + " is not a number; a whole number " + range + " is wanted";
            return asTyped(typed) + " is not a whole number " + range;
        },
        max == UINT64_MAX ? std::to_string(min) + " or more"
                          : "in [" + std::to_string(min) + " - " + std::to_string(max) + "]");
}

void requireReadable(const std::string& path)
{
    struct stat info
    {
    };
    const char* why = nullptr;
    if (::stat(path.c_str(), &info) != 0)
        why = std::strerror(errno);
    else if (S_ISDIR(info.st_mode))
        why = "it is a folder";
    else if (FILE* file = std::fopen(path.c_str(), "rb"))
        std::fclose(file);
    else
        why = std::strerror(errno);
    if (why)
        throw NoInput("cannot read " + path + ": " + why);
}

std::string counted(uint64_t count, const char* singular, const char* plural)
{
    return std::to_string(count) + " " + (count == 1 ? singular : plural);
}

int parse(CLI::App& app, int argc, char** argv, const std::function<void()>& check)
{
    try {
        app.parse(argc, argv);
        if (check)
            check();
        return -1;
    } catch (const CLI::ParseError& e) {
        return app.exit(e) == 0 ? kExitOk : kExitUsage;
    } catch (const NoInput& e) {
        std::fprintf(stderr, "%s: %s\n", app.get_name().c_str(), e.what());
        return kExitNoInput;
    }
}

} // namespace CommandLine
