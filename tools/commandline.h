#pragma once

// What the four tools share on their command lines: their name and version,
// option checks that refuse anything but a finite number in range, quoting
// the text as typed and printing only the bounds, errors that start with the
// tool's name, and one exit status for one kind of failure.

#include <CLI/CLI.hpp>

#include <cstdint>
#include <functional>
#include <stdexcept>
#include <string>

namespace CommandLine {

// The exit statuses every tool keeps to; each tool's --help and man page
// name the ones it uses. 1 and 2 carry each tool's own findings.
constexpr int kExitOk = 0;
constexpr int kExitFailed = 1;      // the work found a fault: a failed wand, a refusal
constexpr int kExitNoResult = 2;    // no result: no data, no answer, a port or peer failed
constexpr int kExitUsage = 64;      // bad usage, as sysexits.h names it
constexpr int kExitNoInput = 66;    // an input file is missing or cannot be read
constexpr int kExitCannotSave = 74; // an output (file, records, stdout) cannot be written

// An input file that cannot be read, found while the command line is checked.
class NoInput : public std::runtime_error
{
public:
    using std::runtime_error::runtime_error;
};

// Names the tool in its errors and gives it --version ("kestrel-sim 1.0.0").
void setUp(CLI::App& app, const std::string& name);

// A finite decimal number from min to max; with orZero, 0 as well.
CLI::Validator number(double min, double max, bool orZero = false);
// Decimal digits only, from min to max (no sign, no exponent, no wrap past
// 2^64 - 1).
CLI::Validator wholeNumber(uint64_t min, uint64_t max = UINT64_MAX);

// Throws NoInput, naming path and the system's reason, unless path is a file
// this user can read.
void requireReadable(const std::string& path);

// "1 datagram", "2 datagrams".
std::string counted(uint64_t count, const char* singular, const char* plural);

// Parses the command line, then runs check, which throws CLI::ValidationError
// for combinations the options cannot state, or NoInput. Returns -1 when the
// tool should go on; otherwise the exit status after --help or --version (0),
// bad usage (kExitUsage) or an unreadable input (kExitNoInput), with the
// message already printed.
int parse(CLI::App& app, int argc, char** argv, const std::function<void()>& check = {});

} // namespace CommandLine
