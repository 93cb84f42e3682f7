#pragma once

#include "checkresult.h"
#include "runningstats.h"

#include <cstdint>

// The rest step's sampling: the joystick's values in the rest window, and
// its centre and noise from them.
class RestPart
{
public:
    // One record's joystick values in the window; valid when both are finite.
    void sample(bool present, bool valid, double x, double y)
    {
        if (!present)
            return;
        ++presentCount;
        if (!valid)
            return;
        xs.add(x);
        ys.add(y);
    }
    // Records with joystick values in the window, finite or not.
    int64_t present() const { return presentCount; }
    // The samples counted, and the centre and noise once at least
    // minSamples finite ones came.
    void finish(RestResult& rest, int64_t minSamples) const;

private:
    int64_t presentCount = 0;
    RunningStats xs, ys;
};
