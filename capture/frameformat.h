#pragma once

// Telling the controller's frames from other traffic. The decoder skips every
// line it does not know, so random bytes or an HTTP request decode as an empty
// frame; a datagram counts as the controller's only when the decoder also saw
// a line it knows (FrameData::controllerLines).

#include <cstddef>

struct FrameData;

// True when the datagram decodes and holds such a line. scratch receives the
// decoded records; reusing one keeps a stream of checks from allocating.
bool looksLikeControllerFrame(FrameData& scratch, const char* text, size_t length);
