#pragma once

// The straightforward decoder the benchmark compares against: the same line
// types and records as decodeFrame for the lines the benchmark frames carry
// ("fr ", "ts ", "6dcal ", "6d ", "6df2 ", "3d "), every number read with
// strtol or strtod. It checks nothing beyond what it needs to walk the text.

#include "framedecoder.h"

bool referenceDecode(FrameData& frame, const char* text);
