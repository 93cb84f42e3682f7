#pragma once

// The filed record of one check: a JSON report (schema "skywand-check/1"),
// a printable HTML page with the verdict and the failures first, and one CSV
// row per check in the report folder. Nothing here throws.

#include "checkfeed.h"
#include "checkprofile.h"
#include "checkresult.h"

#include <cstdint>
#include <optional>
#include <string>

struct CheckReportInfo
{
    std::string checkId; // a UUID that names this check in the records
    std::string toolName;
    std::string toolVersion;
    std::string wandId;       // as typed
    std::string operatorName; // as typed
    int skywandIndex = 0;
    std::optional<int> port; // the data port; none when the frames came from a capture
    std::string capture;     // the capture file as given, when there is no port
    int64_t startedUs = 0;   // UTC, microseconds since the Unix epoch
    int64_t finishedUs = 0;
    // What arrived beside the judged frames, and what was left out.
    FeedEvidence evidence;
};

std::string reportJson(const CheckReportInfo& info, const CheckProfile& profile,
                       const CheckResult& result);
std::string reportHtml(const CheckReportInfo& info, const CheckProfile& profile,
                       const CheckResult& result);
std::string reportCsvHeader();
// reportFile: the JSON report's name inside the report folder.
std::string reportCsvRow(const CheckReportInfo& info, const CheckResult& result,
                         const std::string& reportFile);

// ISO 8601 in UTC with milliseconds: "2026-12-01T09:30:00.250Z".
std::string isoUtc(int64_t microseconds);

struct SavedReport
{
    std::string json; // paths of the files written
    std::string html;
    std::string pdf; // empty when no PDF was given
    std::string csv;
};

constexpr const char* kReportCsvName = "skywand-checks.csv";

// Creates folder when missing, writes "<wand id>-<finished>.json" and the
// ".html" beside it (the wand id reduced to letters, digits, '.', '_' and
// '-'; a number added rather than replace a file), the ".pdf" when pdf holds
// one, and appends a row to the folder's CSV file, writing its header first
// when the file is new. Every report file is created anew, and the CSV file
// must be a regular file, not a link. All or nothing: false with the reason
// in error at the first file that could not be written whole, and then the
// files written are removed and the CSV file keeps the size it had, so that a
// second attempt files under the same names.
bool saveReport(const std::string& folder, const CheckReportInfo& info, const CheckProfile& profile,
                const CheckResult& result, SavedReport& saved, std::string& error,
                const std::string& pdf = std::string());
