#include "schema.h"

#include "checkreport.h"

#include <cstdio>
#include <cstdlib>
#include <ctime>

const std::vector<SchemaMigration>& schemaMigrations()
{
    // Version 1: the checks, one row each, with the figures a lab filters on
    // beside the whole report.
    static const std::vector<SchemaMigration> migrations = {
        {1,
         R"(CREATE TABLE checks (
  check_id TEXT PRIMARY KEY NOT NULL,
  wand_id TEXT NOT NULL,
  operator TEXT NOT NULL,
  bench TEXT NOT NULL,
  skywand_index INTEGER NOT NULL,
  started TEXT NOT NULL,
  finished TEXT NOT NULL,
  verdict TEXT NOT NULL,
  source TEXT NOT NULL,
  profile TEXT NOT NULL,
  "offset" REAL,
  noise_x REAL,
  noise_y REAL,
  coverage REAL,
  circularity_error REAL,
  reach_min REAL,
  dropped_frames REAL,
  tracked_share REAL,
  position_sigma_mm REAL,
  rotation_jitter_deg REAL,
  report TEXT NOT NULL);
CREATE INDEX checks_wand_finished ON checks (wand_id, finished);
CREATE INDEX checks_finished ON checks (finished))",
         R"(CREATE TABLE checks (
  check_id TEXT PRIMARY KEY NOT NULL,
  wand_id TEXT NOT NULL,
  operator TEXT NOT NULL,
  bench TEXT NOT NULL,
  skywand_index INTEGER NOT NULL,
  started TIMESTAMPTZ NOT NULL,
  finished TIMESTAMPTZ NOT NULL,
  verdict TEXT NOT NULL,
  source TEXT NOT NULL,
  profile TEXT NOT NULL,
  "offset" DOUBLE PRECISION,
  noise_x DOUBLE PRECISION,
  noise_y DOUBLE PRECISION,
  coverage DOUBLE PRECISION,
  circularity_error DOUBLE PRECISION,
  reach_min DOUBLE PRECISION,
  dropped_frames DOUBLE PRECISION,
  tracked_share DOUBLE PRECISION,
  position_sigma_mm DOUBLE PRECISION,
  rotation_jitter_deg DOUBLE PRECISION,
  report TEXT NOT NULL);
CREATE INDEX checks_wand_finished ON checks (wand_id, finished);
CREATE INDEX checks_finished ON checks (finished))"},
    };
    return migrations;
}

const char* const kCheckColumnNames[kCheckColumns] = {
    "check_id",       "wand_id",       "operator",          "bench",
    "skywand_index",  "started",       "finished",          "verdict",
    "source",         "profile",       "\"offset\"",        "noise_x",
    "noise_y",        "coverage",      "circularity_error", "reach_min",
    "dropped_frames", "tracked_share", "position_sigma_mm", "rotation_jitter_deg",
    "report"};

std::string insertSql(bool postgresql)
{
    std::string columns;
    std::string values;
    for (int i = 0; i < kCheckColumns; ++i) {
        columns += (i ? ", " : "") + std::string(kCheckColumnNames[i]);
        values += (i ? ", " : "") + std::string(postgresql ? "$" : "?") + std::to_string(i + 1);
        // PostgreSQL reads the times from text into timestamptz.
        if (postgresql && (i == 5 || i == 6))
            values += "::timestamptz";
    }
    return "INSERT INTO checks (" + columns + ") VALUES (" + values +
           ") ON CONFLICT (check_id) DO NOTHING";
}

std::string storedTime(int64_t microseconds)
{
    // Floored to the millisecond, so that isoUtc's text is the value.
    int64_t ms = microseconds / 1000;
    if (microseconds % 1000 < 0)
        --ms;
    return isoUtc(ms * 1000);
}

namespace {

bool digits(const std::string& text, size_t at, size_t count, int& value)
{
    value = 0;
    for (size_t i = at; i < at + count; ++i) {
        if (i >= text.size() || text[i] < '0' || text[i] > '9')
            return false;
        value = value * 10 + (text[i] - '0');
    }
    return true;
}

// Days since 1970-01-01 of a date in the proleptic Gregorian calendar.
int64_t daysFromCivil(int64_t y, int m, int d)
{
    y -= m <= 2;
    const int64_t era = (y >= 0 ? y : y - 399) / 400;
    const int64_t yoe = y - era * 400;
    const int64_t doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + doe - 719468;
}

} // namespace

bool parseStoredTime(const std::string& text, int64_t& microseconds)
{
    // 2026-12-01T09:30:00.250Z, the milliseconds optional.
    int y, mo, d, h, mi, s, ms = 0;
    if (text.size() < 20 || !digits(text, 0, 4, y) || text[4] != '-' || !digits(text, 5, 2, mo) ||
        text[7] != '-' || !digits(text, 8, 2, d) || text[10] != 'T' || !digits(text, 11, 2, h) ||
        text[13] != ':' || !digits(text, 14, 2, mi) || text[16] != ':' || !digits(text, 17, 2, s))
        return false;
    size_t at = 19;
    if (text[at] == '.') {
        if (!digits(text, at + 1, 3, ms))
            return false;
        at += 4;
    }
    if (at + 1 != text.size() || text[at] != 'Z')
        return false;
    if (mo < 1 || mo > 12 || d < 1 || d > 31 || h > 23 || mi > 59 || s > 60)
        return false;
    const int64_t seconds = daysFromCivil(y, mo, d) * 86400 + h * 3600 + mi * 60 + s;
    microseconds = seconds * 1000000 + int64_t(ms) * 1000;
    return true;
}

double* recordFigures(CheckRecord& record, int index)
{
    double* const figures[kFigureColumns] = {&record.offset,           &record.noiseX,
                                             &record.noiseY,           &record.coverage,
                                             &record.circularityError, &record.reachMin,
                                             &record.droppedFrames,    &record.trackedShare,
                                             &record.positionSigmaMm,  &record.rotationJitterDeg};
    return index >= 0 && index < kFigureColumns ? figures[index] : nullptr;
}

double recordFigure(const CheckRecord& record, int index)
{
    const double* value = recordFigures(const_cast<CheckRecord&>(record), index);
    return value ? *value : NAN;
}
