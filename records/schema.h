#pragma once

// Internal to the records library: the schema both back ends share, one
// migration per version in order, and the column order every statement uses.

#include "checkstore.h"

#include <cstdint>
#include <string>
#include <vector>

struct SchemaMigration
{
    int version;            // the version this step brings the database to
    const char* sqlite;     // statements for SQLite, separated by ';'
    const char* postgresql; // the same for PostgreSQL
};

// Every step from an empty database (version 0) to kSchemaVersion; a new
// version is one more entry at the end.
const std::vector<SchemaMigration>& schemaMigrations();
constexpr int kSchemaVersion = 1;

// The columns of "checks" in the order of insertSql and selectSql.
constexpr int kCheckColumns = 21;
extern const char* const kCheckColumnNames[kCheckColumns];
constexpr int kReportColumn = 20; // the last, and by far the largest

// "INSERT INTO checks (...) VALUES (?1, ...) ON CONFLICT (check_id) DO
// NOTHING" with the dialect's placeholders ("?N" or "$N").
std::string insertSql(bool postgresql);

// The time as the SQLite column holds it, "2026-12-01T09:30:00.250Z"; the
// store keeps milliseconds, as the reports do.
std::string storedTime(int64_t microseconds);
// The inverse; false for anything else.
bool parseStoredTime(const std::string& text, int64_t& microseconds);

// The figure columns of a record in column order (offset .. rotation_jitter_deg).
constexpr int kFigureColumns = 10;
double* recordFigures(CheckRecord& record, int index);
double recordFigure(const CheckRecord& record, int index);
