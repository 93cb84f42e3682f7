#include "checkreport.h"
#include "failuretext.h"
#include "profilejson.h"

#include "csvfield.h"
#include "filehelpers.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <vector>

namespace {

using Json = nlohmann::ordered_json;

constexpr const char* kSchema = "skywand-check/1";

Json figure(double value)
{
    return std::isfinite(value) ? Json(value) : Json(nullptr);
}

// Invalid UTF-8 in a typed name must not stop the report: it is replaced.
std::string dump(const Json& value, int indent = -1)
{
    return value.dump(indent, ' ', false, Json::error_handler_t::replace);
}

Json buttonsJson(const CheckResult& result)
{
    Json buttons = Json::array();
    for (const ButtonResult& b : result.buttons) {
        buttons.push_back({{"button", b.button},
                           {"verdict", verdictName(b.verdict)},
                           {"reason", b.reason.empty() ? Json(nullptr) : Json(b.reason)},
                           {"pressCount", b.pressCount},
                           {"pressedAt", figure(b.pressedAt)},
                           {"releasedAt", figure(b.releasedAt)},
                           {"unprompted", b.unprompted}});
    }
    return {{"verdict", verdictName(result.buttonsVerdict)}, {"buttons", buttons}};
}

// A step's verdict, then its figures in the order of CheckItem, each under
// its group where it has one.
Json stepJson(const CheckResult& result, CheckStep step, Verdict verdict)
{
    Json out = {{"verdict", verdictName(verdict)}};
    for (size_t i = 0; i < kCheckItemCount; ++i) {
        const CheckItemInfo& info = checkItemInfo(CheckItem(i));
        if (info.step != step)
            continue;
        const double value = info.value(result);
        const Json written = info.whole ? Json(int64_t(value)) : figure(value);
        if (!info.group)
            out[info.key] = written;
        else if (*info.key)
            out[info.group][info.key] = written;
        else
            out[info.group].push_back(written);
    }
    return out;
}

Json stepsJson(const CheckResult& result)
{
    return {{"buttons", buttonsJson(result)},
            {"rest", stepJson(result, CheckStep::Rest, result.rest.verdict)},
            {"circle", stepJson(result, CheckStep::Circle, result.circle.verdict)},
            {"hold", stepJson(result, CheckStep::Hold, result.hold.verdict)}};
}

std::string shown(double value)
{
    if (!std::isfinite(value))
        return "–";
    char text[32];
    const auto written =
        std::to_chars(text, text + sizeof text, value, std::chars_format::general, 4);
    return written.ec == std::errc() ? std::string(text, written.ptr) : std::string("?");
}

std::string escaped(const std::string& text)
{
    std::string out;
    out.reserve(text.size());
    for (const char c : text) {
        switch (c) {
        case '&':
            out += "&amp;";
            break;
        case '<':
            out += "&lt;";
            break;
        case '>':
            out += "&gt;";
            break;
        case '"':
            out += "&quot;";
            break;
        case '\'':
            out += "&#39;";
            break;
        default:
            out += c;
        }
    }
    return out;
}

std::string sourceText(const CheckReportInfo& info)
{
    return info.port ? "UDP port " + std::to_string(*info.port) : "capture " + info.capture;
}

// One row of a figure table: the value beside its limit and whether it met
// it. A figure without a limit is only measured; counts are whole numbers.
std::string figureRow(const CheckResult& result, CheckItem item)
{
    const CheckItemInfo& info = checkItemInfo(item);
    const FigureJudgement& judged = result.judgement(item);
    const double value = info.value(result);
    const auto show = [&info](double number) {
        return info.whole && std::isfinite(number) ? std::to_string(int64_t(number))
                                                   : shown(number);
    };
    const std::string limitValue =
        info.whole ? std::to_string(wholeLimit(judged.limit)) : shown(judged.limit);
    const std::string limit = info.side == LimitSide::None     ? std::string()
                              : info.side == LimitSide::AtMost ? "≤ " + limitValue
                                                               : "≥ " + limitValue;
    std::string verdict = verdictName(judged.verdict);
    std::string verdictClass = verdict;
    if (info.side == LimitSide::None && result.stepVerdict(info.step) != Verdict::NotRun) {
        verdict = std::isnan(value) ? "not measured" : "measured";
        verdictClass = "measured";
    }
    return "<tr><td>" + std::string(info.label) + "</td><td class=\"num\">" + show(value) +
           "</td><td class=\"num\">" + limit + "</td><td class=\"" + verdictClass + "\">" +
           verdict + "</td></tr>\n";
}

std::string stepTable(const CheckResult& result, const char* title, CheckStep step, Verdict verdict)
{
    std::string html = "<h2>" + std::string(title) + " <span class=\"" + verdictName(verdict) +
                       "\">" + verdictName(verdict) +
                       "</span></h2>\n<table>\n<tr><th>Figure</th><th>Measured</th>" +
                       "<th>Limit</th><th></th></tr>\n";
    for (size_t i = 0; i < kCheckItemCount; ++i) {
        const CheckItemInfo& info = checkItemInfo(CheckItem(i));
        if (info.step == step && info.label)
            html += figureRow(result, CheckItem(i));
    }
    return html + "</table>\n";
}

std::string csvNumber(double value)
{
    return std::isfinite(value) ? dump(Json(value)) : std::string();
}

// The wand id as part of a file name.
std::string fileStem(const std::string& wandId, int64_t finishedUs)
{
    std::string stem;
    for (const char c : wandId.substr(0, 64)) {
        const bool plain = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') ||
                           (c >= '0' && c <= '9') || c == '.' || c == '_' || c == '-';
        stem += plain ? c : '_';
    }
    if (stem.empty() || stem[0] == '.' || stem[0] == '-')
        stem.insert(stem.begin(), 'w');
    std::string when = isoUtc(finishedUs); // 2026-12-01T09:30:00.250Z
    std::string compact;
    for (const char c : when.substr(0, 19))
        if (c != '-' && c != ':')
            compact += c;
    return stem + "-" + compact + "Z";
}

// Creates a new file and never opens an existing one (a link included); a
// file that could not be written whole is removed again.
bool writeNew(const std::string& path, const std::string& text, std::string& error)
{
    int errorCode = 0;
    if (writeNewFile(path, text, errorCode) == FileResult::Ok)
        return true;
    error = path + ": " + fileErrorText(errorCode);
    return false;
}

// Appends row whole or not at all, on a line of its own. Anything but a
// regular file under the name (a link, a FIFO, a folder) is left alone.
// Another check filing into the same folder holds the lock only while it
// appends its row; a program that keeps it longer makes this save fail
// rather than hang.
bool appendRow(const std::string& path, const std::string& row, std::string& error)
{
    int errorCode = 0;
    switch (appendRecord(path, reportCsvHeader(), row, errorCode)) {
    case FileResult::Ok:
        return true;
    case FileResult::NotRegular:
        error = path + ": not a regular file";
        break;
    case FileResult::Locked:
        error = path + ": locked by another program";
        break;
    case FileResult::PartLeft:
        error = path + ": " + fileErrorText(errorCode) + ", and a part of the row stays";
        break;
    default:
        error = path + ": " + fileErrorText(errorCode);
        break;
    }
    return false;
}

} // namespace

std::string isoUtc(int64_t microseconds)
{
    int64_t seconds = microseconds / 1000000;
    int64_t rest = microseconds % 1000000;
    if (rest < 0) {
        rest += 1000000;
        --seconds;
    }
    const std::time_t t = std::time_t(seconds);
    std::tm utc = {};
    if (!gmtime_r(&t, &utc))
        return "1970-01-01T00:00:00.000Z";
    char text[64];
    std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d.%03dZ", utc.tm_year + 1900,
                  utc.tm_mon + 1, utc.tm_mday, utc.tm_hour, utc.tm_min, utc.tm_sec,
                  int(rest / 1000));
    return text;
}

namespace {

Json senderJson(bool have, const DatagramSender& sender)
{
    return have ? Json(sender.text()) : Json(nullptr);
}

Json evidenceJson(const FeedEvidence& e)
{
    return {{"datagrams", e.datagrams},
            {"judgedFrames", e.judged},
            {"lateFrames", e.late},
            {"repeatedFrames", e.repeated},
            {"foreignDatagrams", e.foreign},
            {"undecodableDatagrams", e.undecodable},
            {"otherSenderFrames", e.otherSender},
            {"sender", senderJson(e.haveSender, e.sender)},
            {"otherSender", senderJson(e.haveOther, e.other)}};
}

// One sentence on what the figures leave out; empty when nothing was.
std::string evidenceText(const FeedEvidence& e)
{
    std::string text;
    const auto add = [&text](int64_t count, const char* what) {
        if (count <= 0)
            return;
        text += (text.empty() ? "" : ", ") + std::to_string(count) + " " + what;
    };
    add(e.foreign, "datagrams of other programs");
    add(e.undecodable, "datagrams that did not decode");
    add(e.otherSender, "frames of another sender");
    add(e.repeated, "repeated frames");
    if (!text.empty())
        text = "Left out of the figures: " + text + ".";
    if (e.late > 0)
        text += (text.empty() ? "" : " ") + std::to_string(e.late) +
                " frames arrived after a later one and filled their gaps.";
    return text;
}

} // namespace

std::string reportJson(const CheckReportInfo& info, const CheckProfile& profile,
                       const CheckResult& result)
{
    try {
        Json failures = Json::array();
        for (const CheckFailure& f : result.failures)
            failures.push_back(
                {{"step", f.step}, {"item", f.item}, {"reason", f.reason}, {"detail", f.detail}});
        const Json source =
            info.port ? Json{{"port", *info.port}} : Json{{"capture", info.capture}};
        const Json report = {{"schema", kSchema},
                             {"checkId", info.checkId},
                             {"tool", {{"name", info.toolName}, {"version", info.toolVersion}}},
                             {"wandId", info.wandId},
                             {"operator", info.operatorName},
                             {"skywandIndex", info.skywandIndex},
                             {"skywand", "F" + std::to_string(info.skywandIndex + 1)},
                             {"numButton", result.numButton},
                             {"numJoystick", result.numJoystick},
                             {"started", isoUtc(info.startedUs)},
                             {"finished", isoUtc(info.finishedUs)},
                             {"source", source},
                             {"evidence", evidenceJson(info.evidence)},
                             {"profile", profileJson(profile)},
                             {"verdict", verdictName(result.verdict)},
                             {"failures", failures},
                             {"steps", stepsJson(result)}};
        return dump(report, 2) + "\n";
    } catch (...) {
        return std::string();
    }
}

namespace {

std::string htmlHead(const CheckReportInfo& info, const std::string& verdict)
{
    return "<!DOCTYPE html>\n<html lang=\"en\">\n<head>\n<meta charset=\"utf-8\">\n<title>Skywand "
           "check " +
           escaped(info.wandId) + ": " + verdict + "</title>\n<style>\n" +
           "body { font-family: sans-serif; margin: 2em; }\n" +
           "h1 { font-size: 3em; margin: 0 0 0.2em 0; }\n" +
           "table { border-collapse: collapse; margin-bottom: 1em; }\n" +
           "td, th { border: 1px solid #999; padding: 0.2em 0.6em; text-align: left; }\n" +
           ".num { text-align: right; }\n" +
           ".pass { color: #060; } .fail { color: #b00; font-weight: bold; } .incomplete { color: "
           "#a50; }\n" +
           "@media print { body { margin: 0; } }\n</style>\n</head>\n<body>\n";
}

// The verdict in large letters, who checked which wand from where, and what
// the figures leave out.
std::string htmlSummary(const CheckReportInfo& info, const CheckResult& r,
                        const std::string& verdict)
{
    std::string upper;
    for (const char c : verdict)
        upper += char(c >= 'a' && c <= 'z' ? c - 'a' + 'A' : c);
    std::string html = "<h1 class=\"" + verdict + "\">" + upper + "</h1>\n";
    const std::string by = info.operatorName.empty()
                               ? std::string()
                               : "checked by " + escaped(info.operatorName) + ", ";
    html += "<p>Wand <b>" + escaped(info.wandId) + "</b>, " + by + "Skywand F" +
            std::to_string(info.skywandIndex + 1) + " (" + std::to_string(r.numButton) +
            " buttons, " + std::to_string(r.numJoystick) + " joystick values), from " +
            escaped(sourceText(info)) + ".<br>Started " + isoUtc(info.startedUs) + ", finished " +
            isoUtc(info.finishedUs) + ". " + escaped(info.toolName) + " " +
            escaped(info.toolVersion) + ".</p>\n";
    const std::string leftOut = evidenceText(info.evidence);
    if (!leftOut.empty())
        html += "<p>" + escaped(leftOut) + "</p>\n";
    return html;
}

std::string htmlFailures(const CheckResult& r)
{
    std::string html = "<h2>Failures</h2>\n";
    if (r.failures.empty())
        return html + "<p>None.</p>\n";
    html += "<ol>\n";
    for (const CheckFailure& f : r.failures)
        html += "<li>" + escaped(failureText(f, r)) + "</li>\n";
    return html + "</ol>\n";
}

std::string htmlButtons(const CheckResult& r)
{
    std::string html = "<h2>Buttons <span class=\"" + std::string(verdictName(r.buttonsVerdict)) +
                       "\">" + verdictName(r.buttonsVerdict) +
                       "</span></h2>\n<table>\n<tr><th>Button</th><th></th>" +
                       "<th>Fault</th><th>Presses</th><th>Pressed at (s)</th><th>Released at "
                       "(s)</th>" +
                       "<th>Unprompted</th></tr>\n";
    for (const ButtonResult& b : r.buttons)
        html += "<tr><td class=\"num\">" + std::to_string(b.button) + "</td><td class=\"" +
                verdictName(b.verdict) + "\">" + verdictName(b.verdict) + "</td><td>" +
                escaped(b.detail.empty() ? b.reason : b.reason + ": " + b.detail) +
                "</td><td class=\"num\">" + std::to_string(b.pressCount) +
                "</td><td class=\"num\">" + shown(b.pressedAt) + "</td><td class=\"num\">" +
                shown(b.releasedAt) + "</td><td class=\"num\">" + std::to_string(b.unprompted) +
                "</td></tr>\n";
    return html + "</table>\n";
}

// The CSV file's figures; a group stands for the smallest of its figures.
constexpr CheckItem kCsvFigures[] = {
    CheckItem::Offset,           CheckItem::NoiseX,
    CheckItem::NoiseY,           CheckItem::Coverage,
    CheckItem::CircularityError, CheckItem::ReachPlusX,
    CheckItem::TrackedShare,     CheckItem::DroppedFrames,
    CheckItem::PositionSigmaMm,  CheckItem::RotationJitterDeg,
};

std::string csvFigure(const CheckResult& r, CheckItem item)
{
    const CheckItemInfo& info = checkItemInfo(item);
    if (info.whole)
        return r.stepVerdict(info.step) == Verdict::NotRun ? std::string()
                                                           : std::to_string(int64_t(r.value(item)));
    if (!info.group)
        return csvNumber(r.value(item));
    double smallest = NAN;
    for (size_t i = 0; i < kCheckItemCount; ++i) {
        const CheckItemInfo& other = checkItemInfo(CheckItem(i));
        if (other.group && std::strcmp(other.group, info.group) == 0)
            smallest = std::fmin(smallest, other.value(r));
    }
    return csvNumber(smallest);
}

} // namespace

std::string reportHtml(const CheckReportInfo& info, const CheckProfile& p, const CheckResult& r)
{
    const std::string verdict = verdictName(r.verdict);
    std::string html =
        htmlHead(info, verdict) + htmlSummary(info, r, verdict) + htmlFailures(r) + htmlButtons(r);
    html += stepTable(r, "Centre at rest", CheckStep::Rest, r.rest.verdict);
    html += stepTable(r, "Full circle", CheckStep::Circle, r.circle.verdict);
    html += stepTable(r, "Held still", CheckStep::Hold, r.hold.verdict);
    html += "<p>Unprompted presses allowed: " + std::to_string(p.maxUnpromptedPresses) + ".</p>\n";
    html += "</body>\n</html>\n";
    return html;
}

std::string reportCsvHeader()
{
    std::string header = "wandId,operator,finished,verdict,";
    for (const CheckItem item : kCsvFigures) {
        const CheckItemInfo& info = checkItemInfo(item);
        header += std::string(info.group ? info.group : info.name) + ",";
    }
    return header + "failures,report\n";
}

std::string reportCsvRow(const CheckReportInfo& info, const CheckResult& r,
                         const std::string& reportFile)
{
    std::string failures;
    for (const CheckFailure& f : r.failures)
        failures += (failures.empty() ? "" : "; ") + f.step + " " + f.item + " " + f.reason;
    std::string row = csvField(info.wandId, true) + "," + csvField(info.operatorName, true) + "," +
                      isoUtc(info.finishedUs) + "," + verdictName(r.verdict);
    for (const CheckItem item : kCsvFigures)
        row += "," + csvFigure(r, item);
    return row + "," + csvField(failures, false) + "," + csvField(reportFile, true) + "\n";
}

bool saveReport(const std::string& folder, const CheckReportInfo& info, const CheckProfile& profile,
                const CheckResult& result, SavedReport& saved, std::string& error,
                const std::string& pdf)
{
    try {
        std::error_code code;
        std::filesystem::create_directories(folder, code);
        if (!std::filesystem::is_directory(folder, code)) {
            error = folder + ": not a folder that can be created";
            return false;
        }
        const std::string json = reportJson(info, profile, result);
        const std::string html = reportHtml(info, profile, result);
        const std::string stem = fileStem(info.wandId, info.finishedUs);
        const std::string base = folder + "/";
        struct Part
        {
            const char* suffix;
            const std::string* text;
            std::string SavedReport::*path;
        };
        std::vector<Part> parts = {{".json", &json, &SavedReport::json},
                                   {".html", &html, &SavedReport::html}};
        if (!pdf.empty())
            parts.push_back({".pdf", &pdf, &SavedReport::pdf});
        // Two checks of one wand within a second get numbered names.
        for (int n = 1; n <= 100; ++n) {
            const std::string name = n == 1 ? stem : stem + "-" + std::to_string(n);
            const bool taken = std::any_of(parts.begin(), parts.end(), [&](const Part& part) {
                return std::filesystem::symlink_status(base + name + part.suffix, code).type() !=
                       std::filesystem::file_type::not_found;
            });
            if (taken)
                continue;
            SavedReport written;
            bool ok = true;
            for (const Part& part : parts) {
                const std::string path = base + name + part.suffix;
                ok = writeNew(path, *part.text, error);
                if (!ok)
                    break;
                written.*part.path = path;
            }
            if (ok)
                ok = appendRow(base + kReportCsvName, reportCsvRow(info, result, name + ".json"),
                               error);
            if (!ok) {
                for (const Part& part : parts)
                    if (!(written.*part.path).empty())
                        std::remove((written.*part.path).c_str());
                return false;
            }
            written.csv = base + kReportCsvName;
            saved = written;
            return true;
        }
        error = base + stem + ".json: a hundred reports of this wand within the same second";
        return false;
    } catch (const std::exception& e) {
        error = std::string("cannot save the report: ") + e.what();
    } catch (...) {
        error = "cannot save the report";
    }
    return false;
}
