#pragma once

// One failure of a check in the words a technician uses, with the figure's
// name (or the kind of fault) in brackets for those who search the report
// files: "The stick's edge is 10.3 % out of round, at most 10 % allowed
// (circularityError)". The wizard, the printed report and kestrel-check all
// show this text; the JSON report keeps its own fields unchanged.

#include "checkresult.h"

#include <string>

std::string failureText(const CheckFailure& failure, const CheckResult& result);

// A count's limit as the largest whole count that meets it: 49 for 49.99
// dropped frames allowed.
int64_t wholeLimit(double limit);
