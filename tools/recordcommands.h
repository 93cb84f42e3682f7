#pragma once

// kestrel-check's commands over the check records: the history listed as a
// table, JSON lines or CSV, and the import of filed report folders. Plain
// C++; nothing here throws.

#include "checkstore.h"

#include <cstdint>
#include <string>
#include <vector>

namespace RecordCommands {

enum class Format
{
    Table, // aligned columns for a person
    Json,  // one object per line, the report's names for the figures
    Csv,   // a header row, then one row per check
};

// The header line of format (empty for JSON), without a line end.
std::string historyHeader(Format format);
// One check as one line of format, without a line end; typed text never
// breaks the line.
std::string historyLine(const CheckRecord& record, Format format);

// "2026-12-01", "2026-12-01T09:30", "2026-12-01T09:30:00" with an optional
// ".mmm" and "Z": UTC, microseconds since the Unix epoch. False for
// anything else.
bool parseDate(const std::string& text, int64_t& microseconds);

struct ImportCounts
{
    size_t stored = 0;
    size_t duplicate = 0; // already in the store
    size_t refused = 0;   // not a readable "skywand-check/1" report
    size_t failed = 0;    // the store refused a valid report
};

// Stores every "*.json" report directly in each folder: regular files of at
// most 1 MiB only, links and anything else left alone. Each refusal and
// failure is printed on standard error with its file. False when a folder
// could not be read (the others are still imported).
bool importReports(CheckStore& store, const std::vector<std::string>& folders,
                   const std::string& bench, ImportCounts& counts);

// The computer's host name, the records' bench; "unknown" without one.
std::string hostName();

} // namespace RecordCommands
