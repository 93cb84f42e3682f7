#include "checkprofile.h"
#include "profilejson.h"

#include "filehelpers.h"

#include <algorithm>
#include <cmath>
#include <set>
#include <vector>

namespace {

std::string quoted(const std::string& key)
{
    return "\"" + key + "\"";
}

// The key may hold any bytes; only a short, printable one is shown.
std::string shownKey(const std::string& key)
{
    const bool showable = key.size() <= 40 && std::all_of(key.begin(), key.end(), [](char c) {
                              return c >= 0x20 && c < 0x7f;
                          });
    return showable ? quoted(key) : std::string("(not shown)");
}

} // namespace

bool CheckProfile::parse(const std::string& text, std::string& error)
{
    try {
        // The parser keeps the last of two equal keys; a profile that names a
        // limit twice is more likely a mistake than a choice, so it is refused.
        std::vector<std::set<std::string>> keys;
        std::string duplicate;
        bool duplicated = false;
        const auto watch = [&](int, nlohmann::json::parse_event_t event, nlohmann::json& parsed) {
            using Event = nlohmann::json::parse_event_t;
            if (event == Event::object_start) {
                keys.emplace_back();
            } else if (event == Event::object_end && !keys.empty()) {
                keys.pop_back();
            } else if (event == Event::key && !keys.empty() && !duplicated && parsed.is_string()) {
                duplicated = !keys.back().insert(parsed.get<std::string>()).second;
                if (duplicated)
                    duplicate = parsed.get<std::string>();
            }
            return true;
        };
        const nlohmann::json document = nlohmann::json::parse(text, watch, false);
        if (document.is_discarded()) {
            error = "not valid JSON";
            return false;
        }
        if (duplicated) {
            error = "duplicate key " + shownKey(duplicate);
            return false;
        }
        if (!document.is_object()) {
            error = "not a JSON object";
            return false;
        }
        CheckProfile read = *this;
        for (const auto& [key, value] : document.items()) {
            if (key == kUnpromptedKey) {
                if (!value.is_number_integer() || value.get<int64_t>() < 0) {
                    error = quoted(key) + " must be a whole number, 0 or more";
                    return false;
                }
                read.maxUnpromptedPresses = value.get<int64_t>();
                continue;
            }
            const RealLimit* limit = nullptr;
            for (const RealLimit& candidate : kRealLimits)
                if (key == candidate.key)
                    limit = &candidate;
            if (!limit) {
                error = "unknown key " + shownKey(key);
                return false;
            }
            const double number = value.is_number() ? value.get<double>() : NAN;
            if (!(number >= 0.0 && number <= limit->max)) {
                error = quoted(key) + (limit->max == 1.0 ? " must be a number from 0 to 1"
                                                         : " must be a finite number, 0 or more");
                return false;
            }
            read.*limit->member = number;
        }
        *this = read;
        return true;
    } catch (const std::exception& e) {
        error = std::string("cannot read the profile: ") + e.what();
    } catch (...) {
        error = "cannot read the profile";
    }
    return false;
}

bool CheckProfile::load(const std::string& path, std::string& error)
{
    ReadOptions options;
    options.maxBytes = size_t(kMaxFileSize);
    std::string text;
    int errorCode = 0;
    switch (readRegularFile(path, options, text, errorCode)) {
    case FileResult::Ok:
        break;
    case FileResult::NotRegular:
        error = path + ": not a regular file";
        return false;
    case FileResult::TooLarge:
        error = path + ": larger than " + std::to_string(kMaxFileSize) + " bytes";
        return false;
    default:
        error = path + ": " + fileErrorText(errorCode);
        return false;
    }
    if (!parse(text, error)) {
        error = path + ": " + error;
        return false;
    }
    return true;
}
