#include "verdict.h"

const char* verdictName(Verdict verdict)
{
    switch (verdict) {
    case Verdict::NotRun:
        return "not run";
    case Verdict::Pass:
        return "pass";
    case Verdict::Fail:
        return "fail";
    case Verdict::Incomplete:
        return "incomplete";
    }
    return "incomplete";
}
