#include "profilejson.h"

nlohmann::ordered_json profileJson(const CheckProfile& profile)
{
    nlohmann::ordered_json out = nlohmann::ordered_json::object();
    for (const RealLimit& limit : kRealLimits)
        out[limit.key] = profile.*limit.member;
    out[kUnpromptedKey] = profile.maxUnpromptedPresses;
    return out;
}
