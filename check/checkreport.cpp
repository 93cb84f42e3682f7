#include "checkreport.h"
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
constexpr const char* kReach[] = {"+x", "-x", "+y", "-y"};

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

Json stepsJson(const CheckResult& result)
{
    const RestResult& rest = result.rest;
    const CircleResult& circle = result.circle;
    const HoldResult& hold = result.hold;
    Json quadrants = Json::array();
    for (const double q : circle.circularityErrorQuadrant)
        quadrants.push_back(figure(q));
    Json reach = Json::object();
    for (size_t i = 0; i < 4; ++i)
        reach[kReach[i]] = figure(circle.reach[i]);
    return {{"buttons", buttonsJson(result)},
            {"rest",
             {{"verdict", verdictName(rest.verdict)},
              {"centreX", figure(rest.centreX)},
              {"centreY", figure(rest.centreY)},
              {"offset", figure(rest.offset)},
              {"noiseX", figure(rest.noiseX)},
              {"noiseY", figure(rest.noiseY)}}},
            {"circle",
             {{"verdict", verdictName(circle.verdict)},
              {"coverage", figure(circle.coverage)},
              {"circularityError", figure(circle.circularityError)},
              {"circularityErrorQuadrant", quadrants},
              {"reach", reach}}},
            {"hold",
             {{"verdict", verdictName(hold.verdict)},
              {"frames", hold.frames},
              {"droppedFrames", hold.droppedFrames},
              {"lateFrames", hold.lateFrames},
              {"trackedShare", figure(hold.trackedShare)},
              {"qualityMin", figure(hold.qualityMin)},
              {"qualityMean", figure(hold.qualityMean)},
              {"positionSigmaMm", figure(hold.positionSigmaMm)},
              {"positionJitterMm", figure(hold.positionJitterMm)},
              {"rotationJitterDeg", figure(hold.rotationJitterDeg)},
              {"largestJumpMm", figure(hold.largestJumpMm)}}}};
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
    return info.port >= 0 ? "UDP port " + std::to_string(info.port) : "capture " + info.capture;
}

// One row of a figure table: the value beside its limit and whether it met it.
std::string figureRow(const char* name, double value, const std::string& limit, Verdict verdict)
{
    return "<tr><td>" + std::string(name) + "</td><td class=\"num\">" + shown(value) +
           "</td><td class=\"num\">" + limit + "</td><td class=\"" + verdictName(verdict) + "\">" +
           verdictName(verdict) + "</td></tr>\n";
}

Verdict met(double value, double limit, bool atMost)
{
    if (std::isnan(value))
        return Verdict::Fail;
    return (atMost ? value <= limit : value >= limit) ? Verdict::Pass : Verdict::Fail;
}

Verdict shownVerdict(Verdict step, Verdict figure)
{
    return step == Verdict::NotRun ? Verdict::NotRun : figure;
}

std::string stepTable(const char* title, Verdict verdict, const std::string& rows)
{
    return "<h2>" + std::string(title) + " <span class=\"" + verdictName(verdict) + "\">" +
           verdictName(verdict) + "</span></h2>\n<table>\n<tr><th>Figure</th><th>Measured</th>" +
           "<th>Limit</th><th></th></tr>\n" + rows + "</table>\n";
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
            info.port >= 0 ? Json{{"port", info.port}} : Json{{"capture", info.capture}};
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

std::string reportHtml(const CheckReportInfo& info, const CheckProfile& p, const CheckResult& r)
{
    std::string verdict = verdictName(r.verdict);
    std::string upper;
    for (const char c : verdict)
        upper += char(c >= 'a' && c <= 'z' ? c - 'a' + 'A' : c);
    std::string html =
        "<!DOCTYPE html>\n<html lang=\"en\">\n<head>\n<meta charset=\"utf-8\">\n<title>Skywand "
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
    html += "<h1 class=\"" + verdict + "\">" + upper + "</h1>\n";
    html += "<p>Wand <b>" + escaped(info.wandId) + "</b>, checked by " +
            escaped(info.operatorName) + ", Skywand F" + std::to_string(info.skywandIndex + 1) +
            " (" + std::to_string(r.numButton) + " buttons, " + std::to_string(r.numJoystick) +
            " joystick values), from " + escaped(sourceText(info)) + ".<br>Started " +
            isoUtc(info.startedUs) + ", finished " + isoUtc(info.finishedUs) + ". " +
            escaped(info.toolName) + " " + escaped(info.toolVersion) + ".</p>\n";
    const std::string leftOut = evidenceText(info.evidence);
    if (!leftOut.empty())
        html += "<p>" + escaped(leftOut) + "</p>\n";

    html += "<h2>Failures</h2>\n";
    if (r.failures.empty()) {
        html += "<p>None.</p>\n";
    } else {
        html += "<ol>\n";
        for (const CheckFailure& f : r.failures)
            html += "<li><b>" + escaped(f.step) + ", " + escaped(f.item) +
                    "</b>: " + escaped(f.reason) + " (" + escaped(f.detail) + ")</li>\n";
        html += "</ol>\n";
    }

    html += "<h2>Buttons <span class=\"" + std::string(verdictName(r.buttonsVerdict)) + "\">" +
            verdictName(r.buttonsVerdict) + "</span></h2>\n<table>\n<tr><th>Button</th><th></th>" +
            "<th>Fault</th><th>Presses</th><th>Pressed at (s)</th><th>Released at (s)</th>" +
            "<th>Unprompted</th></tr>\n";
    for (const ButtonResult& b : r.buttons)
        html += "<tr><td class=\"num\">" + std::to_string(b.button) + "</td><td class=\"" +
                verdictName(b.verdict) + "\">" + verdictName(b.verdict) + "</td><td>" +
                escaped(b.detail.empty() ? b.reason : b.reason + ": " + b.detail) +
                "</td><td class=\"num\">" + std::to_string(b.pressCount) +
                "</td><td class=\"num\">" + shown(b.pressedAt) + "</td><td class=\"num\">" +
                shown(b.releasedAt) + "</td><td class=\"num\">" + std::to_string(b.unprompted) +
                "</td></tr>\n";
    html += "</table>\n";

    const auto atMost = [](double limit) { return "≤ " + shown(limit); };
    const auto atLeast = [](double limit) { return "≥ " + shown(limit); };
    const RestResult& rest = r.rest;
    html += stepTable(
        "Centre at rest", rest.verdict,
        figureRow("centreX", rest.centreX, "", shownVerdict(rest.verdict, Verdict::NotRun)) +
            figureRow("centreY", rest.centreY, "", shownVerdict(rest.verdict, Verdict::NotRun)) +
            figureRow("offset", rest.offset, atMost(p.maxOffset),
                      shownVerdict(rest.verdict, met(rest.offset, p.maxOffset, true))) +
            figureRow("noiseX", rest.noiseX, atMost(p.maxNoise),
                      shownVerdict(rest.verdict, met(rest.noiseX, p.maxNoise, true))) +
            figureRow("noiseY", rest.noiseY, atMost(p.maxNoise),
                      shownVerdict(rest.verdict, met(rest.noiseY, p.maxNoise, true))));

    const CircleResult& circle = r.circle;
    std::string rows =
        figureRow("coverage", circle.coverage, atLeast(p.minCoverage),
                  shownVerdict(circle.verdict, met(circle.coverage, p.minCoverage, false))) +
        figureRow("circularityError (%)", circle.circularityError, atMost(p.maxCircularityError),
                  shownVerdict(circle.verdict,
                               met(circle.circularityError, p.maxCircularityError, true)));
    static const char* const kQuadrants[] = {
        "circularityError, sectors 0-17 (%)", "circularityError, sectors 18-35 (%)",
        "circularityError, sectors 36-53 (%)", "circularityError, sectors 54-71 (%)"};
    for (size_t q = 0; q < 4; ++q)
        rows += figureRow(kQuadrants[q], circle.circularityErrorQuadrant[q], "", Verdict::NotRun);
    static const char* const kReachNames[] = {"reach +x", "reach -x", "reach +y", "reach -y"};
    for (size_t i = 0; i < 4; ++i)
        rows += figureRow(kReachNames[i], circle.reach[i], atLeast(p.minReach),
                          shownVerdict(circle.verdict, met(circle.reach[i], p.minReach, false)));
    html += stepTable("Full circle", circle.verdict, rows);

    const HoldResult& hold = r.hold;
    const double droppedLimit = p.maxDroppedShare * double(hold.frames);
    html += stepTable(
        "Held still", hold.verdict,
        figureRow("frames", double(hold.frames), "", Verdict::NotRun) +
            figureRow("droppedFrames", double(hold.droppedFrames), atMost(droppedLimit),
                      shownVerdict(hold.verdict,
                                   hold.frames > 0 && double(hold.droppedFrames) <= droppedLimit
                                       ? Verdict::Pass
                                       : Verdict::Fail)) +
            figureRow(
                "trackedShare", hold.trackedShare, atLeast(p.minTrackedShare),
                shownVerdict(hold.verdict, met(hold.trackedShare, p.minTrackedShare, false))) +
            figureRow("qualityMin", hold.qualityMin, "", Verdict::NotRun) +
            figureRow("qualityMean", hold.qualityMean, "", Verdict::NotRun) +
            figureRow(
                "positionSigmaMm", hold.positionSigmaMm, atMost(p.maxPositionSigmaMm),
                shownVerdict(hold.verdict, met(hold.positionSigmaMm, p.maxPositionSigmaMm, true))) +
            figureRow("positionJitterMm", hold.positionJitterMm, "", Verdict::NotRun) +
            figureRow("rotationJitterDeg", hold.rotationJitterDeg, atMost(p.maxRotationJitterDeg),
                      shownVerdict(hold.verdict,
                                   met(hold.rotationJitterDeg, p.maxRotationJitterDeg, true))) +
            figureRow("largestJumpMm", hold.largestJumpMm, "", Verdict::NotRun));
    html += "<p>Unprompted presses allowed: " + std::to_string(p.maxUnpromptedPresses) + ".</p>\n";
    html += "</body>\n</html>\n";
    return html;
}

std::string reportCsvHeader()
{
    return "wandId,operator,finished,verdict,offset,noiseX,noiseY,coverage,circularityError,"
           "reach,trackedShare,droppedFrames,positionSigmaMm,rotationJitterDeg,failures,report\n";
}

std::string reportCsvRow(const CheckReportInfo& info, const CheckResult& r,
                         const std::string& reportFile)
{
    double reach = NAN;
    for (const double value : r.circle.reach)
        reach = std::fmin(reach, value);
    std::string failures;
    for (const CheckFailure& f : r.failures)
        failures += (failures.empty() ? "" : "; ") + f.step + " " + f.item + " " + f.reason;
    const std::string fields[] = {
        csvField(info.wandId, true),
        csvField(info.operatorName, true),
        isoUtc(info.finishedUs),
        verdictName(r.verdict),
        csvNumber(r.rest.offset),
        csvNumber(r.rest.noiseX),
        csvNumber(r.rest.noiseY),
        csvNumber(r.circle.coverage),
        csvNumber(r.circle.circularityError),
        csvNumber(reach),
        csvNumber(r.hold.trackedShare),
        r.hold.verdict == Verdict::NotRun ? std::string() : std::to_string(r.hold.droppedFrames),
        csvNumber(r.hold.positionSigmaMm),
        csvNumber(r.hold.rotationJitterDeg),
        csvField(failures, false),
        csvField(reportFile, true),
    };
    std::string row;
    for (const std::string& field : fields)
        row += (row.empty() ? "" : ",") + field;
    return row + "\n";
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
