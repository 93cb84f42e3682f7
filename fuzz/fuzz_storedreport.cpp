// A filed report from any bytes, as the check history imports it. Beyond
// crashes it checks that an accepted record has a check id of UUID shape,
// the same one for the same text, the report's text whole, and figures that
// are finite or NaN (absent).

#include "checkstore.h"

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <string>

namespace {

bool uuidShaped(const std::string& id)
{
    if (id.size() != 36)
        return false;
    for (size_t i = 0; i < id.size(); ++i) {
        const char c = id[i];
        const bool dash = i == 8 || i == 13 || i == 18 || i == 23;
        if (dash ? c != '-' : !((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f')))
            return false;
    }
    return true;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::string text(reinterpret_cast<const char*>(data), size);
    CheckRecord record;
    std::string error;
    if (!recordFromReport(text, "bench", record, error)) {
        if (error.empty() || !record.checkId.empty())
            std::abort();
        return 0;
    }
    if (!uuidShaped(record.checkId) || record.reportJson != text || record.bench != "bench" ||
        record.skywandIndex < 0 || record.source.empty())
        std::abort();
    for (double v : {record.offset, record.noiseX, record.noiseY, record.coverage,
                     record.circularityError, record.reachMin, record.droppedFrames,
                     record.trackedShare, record.positionSigmaMm, record.rotationJitterDeg})
        if (std::isinf(v))
            std::abort();
    CheckRecord again;
    if (!recordFromReport(text, "bench", again, error) || again.checkId != record.checkId)
        std::abort();
    return 0;
}
