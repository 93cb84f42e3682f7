#pragma once

// Telling the controller's frames from other traffic. The decoder skips every
// line it does not know, so random bytes or an HTTP request decode as an empty
// frame; a datagram counts as the controller's only when it also holds a line
// the decoder knows.

#include <cstddef>

struct FrameData;

// True when one line of text (up to length or the first NUL byte) starts
// with a line type of the controller's format ("fr ", "6df2 ", ...). Never
// reads outside [text, text + length).
bool hasControllerLine(const char* text, size_t length);

// True when the datagram decodes and holds such a line. scratch receives the
// decoded records; reusing one keeps a stream of checks from allocating.
bool looksLikeControllerFrame(FrameData& scratch, const char* text, size_t length);
