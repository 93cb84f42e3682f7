// A check record from a filed "skywand-check/1" report.

#include "checkstore.h"
#include "schema.h"
#include "storeurl.h"
#include "textreaders.h"

#include <nlohmann/json.hpp>

#include <algorithm>

namespace {

using Json = nlohmann::json;

// Reports are a few kilobytes; anything near this is not one.
constexpr size_t kMaxReportSize = 1024 * 1024;

const Json* member(const Json& object, const char* key)
{
    if (!object.is_object())
        return nullptr;
    const auto found = object.find(key);
    return found == object.end() ? nullptr : &*found;
}

const Json* path(const Json& root, std::initializer_list<const char*> keys)
{
    const Json* at = &root;
    for (const char* key : keys) {
        at = member(*at, key);
        if (!at)
            return nullptr;
    }
    return at;
}

double number(const Json& root, std::initializer_list<const char*> keys)
{
    const Json* at = path(root, keys);
    return at && at->is_number() ? at->get<double>() : NAN;
}

bool text(const Json& root, const char* key, std::string& out)
{
    const Json* at = member(root, key);
    if (!at || !at->is_string())
        return false;
    out = at->get<std::string>();
    return true;
}

// A stable id for a report without one: 128-bit FNV-1a over its text, shaped
// as a UUID of version 8 (its bits are ours, not random).
std::string derivedCheckId(const std::string& report)
{
    __extension__ typedef unsigned __int128 U128;
    const U128 prime = (U128(0x0000000001000000ULL) << 64) | 0x000000000000013BULL;
    U128 hash = (U128(0x6c62272e07bb0142ULL) << 64) | 0x62b821756295c58dULL;
    for (const unsigned char c : report) {
        hash ^= c;
        hash *= prime;
    }
    unsigned char bytes[16];
    for (int i = 15; i >= 0; --i) {
        bytes[i] = static_cast<unsigned char>(hash & 0xff);
        hash >>= 8;
    }
    bytes[6] = (bytes[6] & 0x0f) | 0x80;
    bytes[8] = (bytes[8] & 0x3f) | 0x80;
    return uuidText(bytes);
}

// UUIDs are read in either case; the store keeps them in lowercase, as
// uuidText writes them, so that one check is one key.
std::string lowercase(std::string text)
{
    for (char& c : text)
        if (c >= 'A' && c <= 'Z')
            c = char(c - 'A' + 'a');
    return text;
}

std::string sourceText(const Json& source)
{
    const Json* port = member(source, "port");
    if (port && port->is_number_integer())
        return "UDP port " + std::to_string(port->get<int64_t>());
    const Json* capture = member(source, "capture");
    if (capture && capture->is_string())
        return "capture " + capture->get<std::string>();
    return std::string();
}

} // namespace

bool uuidShaped(const std::string& id)
{
    if (id.size() != 36)
        return false;
    for (size_t i = 0; i < id.size(); ++i) {
        const char c = id[i];
        const bool dash = i == 8 || i == 13 || i == 18 || i == 23;
        if (dash ? c != '-' : digitValue(c) >= 16)
            return false;
    }
    return true;
}

bool recordFromReport(const std::string& reportJson, const std::string& bench, CheckRecord& record,
                      std::string& error)
{
    if (reportJson.size() > kMaxReportSize) {
        error = "the report is larger than 1 MiB";
        return false;
    }
    const Json report = Json::parse(reportJson, nullptr, false);
    if (report.is_discarded() || !report.is_object()) {
        error = "the report is not a JSON object";
        return false;
    }
    const Json* schema = member(report, "schema");
    if (!schema || *schema != "skywand-check/1") {
        error = "the report is not of schema skywand-check/1";
        return false;
    }
    CheckRecord r;
    std::string started;
    std::string finished;
    const Json* index = member(report, "skywandIndex");
    const Json* source = member(report, "source");
    const Json* profile = member(report, "profile");
    const char* missing = nullptr;
    if (!text(report, "wandId", r.wandId))
        missing = "wandId";
    else if (!text(report, "operator", r.operatorName))
        missing = "operator";
    else if (!index || !index->is_number_integer() || index->get<int64_t>() < 0 ||
             index->get<int64_t>() > 1000000)
        missing = "skywandIndex";
    else if (!text(report, "started", started) || !parseStoredTime(started, r.startedUs))
        missing = "started";
    else if (!text(report, "finished", finished) || !parseStoredTime(finished, r.finishedUs))
        missing = "finished";
    else if (!text(report, "verdict", r.verdict))
        missing = "verdict";
    else if (!source || (r.source = sourceText(*source)).empty())
        missing = "source";
    else if (!profile || !profile->is_object())
        missing = "profile";
    if (missing) {
        error = std::string("the report's \"") + missing + "\" is missing or not valid";
        return false;
    }
    const Json* checkId = member(report, "checkId");
    // A report filed without an id has an empty one; it is named by its
    // content then, as older reports without the key are.
    if (checkId && checkId->is_string() && checkId->get<std::string>().empty())
        checkId = nullptr;
    if (checkId && (!checkId->is_string() || !uuidShaped(checkId->get<std::string>()))) {
        error = "the report's \"checkId\" is not valid";
        return false;
    }
    r.checkId = checkId ? lowercase(checkId->get<std::string>()) : derivedCheckId(reportJson);
    r.skywandIndex = int(index->get<int64_t>());
    r.bench = bench;
    r.profileJson = profile->dump(-1, ' ', false, Json::error_handler_t::replace);
    r.offset = number(report, {"steps", "rest", "offset"});
    r.noiseX = number(report, {"steps", "rest", "noiseX"});
    r.noiseY = number(report, {"steps", "rest", "noiseY"});
    r.coverage = number(report, {"steps", "circle", "coverage"});
    r.circularityError = number(report, {"steps", "circle", "circularityError"});
    for (const char* direction : {"+x", "-x", "+y", "-y"}) {
        const double reach = number(report, {"steps", "circle", "reach", direction});
        if (std::isfinite(reach))
            r.reachMin = std::isfinite(r.reachMin) ? std::min(r.reachMin, reach) : reach;
    }
    r.droppedFrames = number(report, {"steps", "hold", "droppedFrames"});
    r.trackedShare = number(report, {"steps", "hold", "trackedShare"});
    r.positionSigmaMm = number(report, {"steps", "hold", "positionSigmaMm"});
    r.rotationJitterDeg = number(report, {"steps", "hold", "rotationJitterDeg"});
    r.reportJson = reportJson;
    record = std::move(r);
    return true;
}
