#include "frameformat.h"

#include "framedecoder.h"

bool looksLikeControllerFrame(FrameData& scratch, const char* text, size_t length)
{
    return length > 0 && decodeFrame(scratch, text, length) && scratch.controllerLines;
}
