#include "recordcommands.h"

#include "checkreport.h"
#include "csvfield.h"
#include "filehelpers.h"
#include "printabletext.h"

#include <nlohmann/json.hpp>

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <filesystem>

namespace RecordCommands {

namespace {

using Json = nlohmann::ordered_json;

// Reports are a few kilobytes; the records refuse anything above this.
constexpr size_t kMaxReportBytes = 1024 * 1024;

struct Figure
{
    const char* name;
    double CheckRecord::*value;
};

const Figure kFigures[] = {
    {"offset", &CheckRecord::offset},
    {"noiseX", &CheckRecord::noiseX},
    {"noiseY", &CheckRecord::noiseY},
    {"coverage", &CheckRecord::coverage},
    {"circularityError", &CheckRecord::circularityError},
    {"reachMin", &CheckRecord::reachMin},
    {"droppedFrames", &CheckRecord::droppedFrames},
    {"trackedShare", &CheckRecord::trackedShare},
    {"positionSigmaMm", &CheckRecord::positionSigmaMm},
    {"rotationJitterDeg", &CheckRecord::rotationJitterDeg},
};

std::string dump(const Json& value)
{
    return value.dump(-1, ' ', false, Json::error_handler_t::replace);
}

std::string number(double value)
{
    return std::isfinite(value) ? dump(Json(value)) : std::string();
}

// Typed text in a table cell: control characters would break the line or
// drive the terminal.
std::string cell(const std::string& text, size_t width)
{
    std::string out = printableText(text);
    if (out.size() < width)
        out.append(width - out.size(), ' ');
    return out;
}

bool digits(const std::string& text, size_t at, size_t count, int& value)
{
    if (at + count > text.size())
        return false;
    value = 0;
    for (size_t i = at; i < at + count; ++i) {
        if (text[i] < '0' || text[i] > '9')
            return false;
        value = value * 10 + (text[i] - '0');
    }
    return true;
}

// Reads path when it is a regular file of at most kMaxReportBytes; never
// follows a link nor blocks on a FIFO.
bool readReport(const std::string& path, std::string& text, std::string& error)
{
    ReadOptions options;
    options.maxBytes = kMaxReportBytes;
    options.followLinks = false;
    int errorCode = 0;
    switch (readRegularFile(path, options, text, errorCode)) {
    case FileResult::Ok:
        return true;
    case FileResult::NotRegular:
        error = "not a regular file";
        return false;
    case FileResult::TooLarge:
        error = "larger than 1 MiB";
        return false;
    default:
        error = fileErrorText(errorCode);
        return false;
    }
}

} // namespace

std::string historyHeader(Format format)
{
    switch (format) {
    case Format::Table:
        return cell("finished", 25) + cell("wand", 16) + cell("verdict", 11) + cell("bench", 16) +
               cell("operator", 16) + "check";
    case Format::Csv: {
        std::string header = "checkId,wandId,operator,bench,skywandIndex,started,finished,verdict,"
                             "source";
        for (const Figure& f : kFigures)
            header += std::string(",") + f.name;
        return header;
    }
    case Format::Json:
        break;
    }
    return std::string();
}

std::string historyLine(const CheckRecord& r, Format format)
{
    switch (format) {
    case Format::Table:
        return cell(isoUtc(r.finishedUs), 25) + cell(r.wandId, 15) + " " + cell(r.verdict, 11) +
               cell(r.bench, 15) + " " + cell(r.operatorName, 15) + " " + cell(r.checkId, 0);
    case Format::Csv: {
        std::string line = csvField(r.checkId, true) + "," + csvField(r.wandId, true) + "," +
                           csvField(r.operatorName, true) + "," + csvField(r.bench, true) + "," +
                           std::to_string(r.skywandIndex) + "," + isoUtc(r.startedUs) + "," +
                           isoUtc(r.finishedUs) + "," + csvField(r.verdict, true) + "," +
                           csvField(r.source, true);
        for (const Figure& f : kFigures)
            line += "," + number(r.*f.value);
        return line;
    }
    case Format::Json:
        break;
    }
    try {
        Json line = {{"checkId", r.checkId},
                     {"wandId", r.wandId},
                     {"operator", r.operatorName},
                     {"bench", r.bench},
                     {"skywandIndex", r.skywandIndex},
                     {"started", isoUtc(r.startedUs)},
                     {"finished", isoUtc(r.finishedUs)},
                     {"verdict", r.verdict},
                     {"source", r.source}};
        for (const Figure& f : kFigures) {
            const double value = r.*f.value;
            line[f.name] = std::isfinite(value) ? Json(value) : Json(nullptr);
        }
        return dump(line);
    } catch (...) {
        return "{}";
    }
}

bool parseDate(const std::string& text, int64_t& microseconds)
{
    std::string t = text;
    if (!t.empty() && t.back() == 'Z')
        t.pop_back();
    int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0, milli = 0;
    if (!digits(t, 0, 4, year) || t.size() < 10 || t[4] != '-' || !digits(t, 5, 2, month) ||
        t[7] != '-' || !digits(t, 8, 2, day))
        return false;
    size_t at = 10;
    if (t.size() > at) {
        if ((t[at] != 'T' && t[at] != ' ') || !digits(t, at + 1, 2, hour) || t.size() < at + 6 ||
            t[at + 3] != ':' || !digits(t, at + 4, 2, minute))
            return false;
        at += 6;
        if (t.size() > at) {
            if (t[at] != ':' || !digits(t, at + 1, 2, second))
                return false;
            at += 3;
            if (t.size() > at &&
                (t[at] != '.' || !digits(t, at + 1, 3, milli) || t.size() != at + 4))
                return false;
        }
    }
    if (month < 1 || month > 12 || day < 1 || day > 31 || hour > 23 || minute > 59 || second > 60 ||
        year < 1970)
        return false;
    std::tm when{};
    when.tm_year = year - 1900;
    when.tm_mon = month - 1;
    when.tm_mday = day;
    when.tm_hour = hour;
    when.tm_min = minute;
    when.tm_sec = second;
    const time_t seconds = ::timegm(&when);
    // timegm carries 31 February into March; such a date is a mistake.
    if (seconds < 0 || when.tm_mday != day)
        return false;
    microseconds = int64_t(seconds) * 1000000 + int64_t(milli) * 1000;
    return true;
}

bool importReports(CheckStore& store, const std::vector<std::string>& folders,
                   const std::string& bench, ImportCounts& counts)
{
    namespace fs = std::filesystem;
    bool allRead = true;
    for (const std::string& folder : folders) {
        std::error_code code;
        fs::directory_iterator entries(folder, code);
        if (code) {
            std::fprintf(stderr, "kestrel-check: cannot read %s: %s\n", folder.c_str(),
                         code.message().c_str());
            allRead = false;
            continue;
        }
        std::vector<std::string> paths;
        for (; entries != fs::directory_iterator(); entries.increment(code)) {
            const fs::path& path = entries->path();
            if (path.extension() == ".json")
                paths.push_back(path.string());
        }
        if (code) {
            std::fprintf(stderr, "kestrel-check: cannot read all of %s: %s\n", folder.c_str(),
                         code.message().c_str());
            allRead = false;
        }
        std::sort(paths.begin(), paths.end());
        for (const std::string& path : paths) {
            std::string text;
            std::string error;
            CheckRecord record;
            if (!readReport(path, text, error) || !recordFromReport(text, bench, record, error)) {
                std::fprintf(stderr, "kestrel-check: %s refused: %s\n", path.c_str(),
                             error.c_str());
                ++counts.refused;
                continue;
            }
            switch (store.put(record, error)) {
            case CheckStore::Put::Stored:
                ++counts.stored;
                break;
            case CheckStore::Put::Duplicate:
                ++counts.duplicate;
                break;
            case CheckStore::Put::Failed:
                std::fprintf(stderr, "kestrel-check: %s not stored: %s\n", path.c_str(),
                             error.c_str());
                ++counts.failed;
                break;
            }
        }
    }
    return allRead;
}

std::string hostName()
{
    char name[256] = {};
    if (::gethostname(name, sizeof name - 1) != 0 || !name[0])
        return "unknown";
    return name;
}

} // namespace RecordCommands
