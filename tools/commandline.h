#pragma once

// What the four tools share on their command lines: option checks that
// refuse anything but a finite number in range, quoting the text as typed
// and printing only the bounds, and one exit status for bad usage.

#include <CLI/CLI.hpp>

#include <cstdint>
#include <functional>
#include <string>

namespace CommandLine {

// Bad usage, as sysexits.h names it.
constexpr int kExitUsage = 64;

// A finite decimal number from min to max; with orZero, 0 as well.
CLI::Validator number(double min, double max, bool orZero = false);
// Decimal digits only, min or more (no sign, no exponent, no wrap past
// 2^64 - 1).
CLI::Validator wholeNumber(uint64_t min);

// Parses the command line, then runs check, which throws CLI::ValidationError
// for combinations the options cannot state. Returns -1 when the tool should
// go on; otherwise the exit status after --help (0) or bad usage
// (kExitUsage), with the message already printed.
int parse(CLI::App& app, int argc, char** argv, const std::function<void()>& check = {});

} // namespace CommandLine
