#include "frameformat.h"

#include "framedecoder.h"
#include "textreaders.h"

#include <cstring>

bool hasControllerLine(const char* text, size_t length)
{
    static const char* const kLineTypes[] = {"fr ",   "ts ",   "6dcal ", "6d ", "6df ",
                                             "6df2 ", "6dmt ", "glcal ", "gl ", "3d "};
    const void* nul = std::memchr(text, '\0', length);
    const char* end = nul ? static_cast<const char*>(nul) : text + length;
    for (const char* p = text; p && p < end; p = nextLine(p, end)) {
        for (const char* type : kLineTypes) {
            const size_t n = std::strlen(type);
            if (static_cast<size_t>(end - p) >= n && std::memcmp(p, type, n) == 0)
                return true;
        }
    }
    return false;
}

bool looksLikeControllerFrame(FrameData& scratch, const char* text, size_t length)
{
    return length > 0 && decodeFrame(scratch, text, length) && hasControllerLine(text, length);
}
