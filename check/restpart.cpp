#include "restpart.h"

void RestPart::finish(RestResult& rest, int64_t minSamples) const
{
    rest.samples = xs.n;
    // Enough values came but too few of them finite: the wand's own values
    // cannot be measured, and the figures fail as not measured.
    if (xs.n < minSamples)
        return;
    rest.centreX = xs.mean;
    rest.centreY = ys.mean;
    rest.offset = std::hypot(rest.centreX, rest.centreY);
    rest.noiseX = std::sqrt(xs.variance());
    rest.noiseY = std::sqrt(ys.variance());
}
