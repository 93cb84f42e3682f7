// A filed report from any bytes, as the check history imports it. Beyond
// crashes it checks that an accepted record has a check id of UUID shape,
// the same one for the same text, the report's text whole, and figures that
// are finite or NaN (absent).

#include "checkstore.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <string>

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
    if (!uuidShaped(record.checkId) ||
        std::any_of(record.checkId.begin(), record.checkId.end(),
                    [](char c) { return c >= 'A' && c <= 'F'; }) ||
        record.reportJson != text || record.bench != "bench" || record.skywandIndex < 0 ||
        record.source.empty())
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
