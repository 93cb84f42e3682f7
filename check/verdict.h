#pragma once

enum class Verdict
{
    NotRun,     // the check ended before this part began
    Pass,       // every figure within its limit
    Fail,       // at least one failure
    Incomplete, // the check ended while this part ran, or its data could not support a figure
};

// "not run", "pass", "fail", "incomplete".
const char* verdictName(Verdict verdict);
