#pragma once

// Reading and writing big-endian (network order) numbers in byte buffers.
// The caller guarantees that the bytes are there.

#include <cstdint>

inline uint16_t be16(const uint8_t* p)
{
    return uint16_t(p[0] << 8 | p[1]);
}

inline uint32_t be32(const uint8_t* p)
{
    return uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | p[3];
}

inline void putBe16(uint8_t* p, uint16_t v)
{
    p[0] = uint8_t(v >> 8);
    p[1] = uint8_t(v);
}

inline void putBe32(uint8_t* p, uint32_t v)
{
    putBe16(p, uint16_t(v >> 16));
    putBe16(p + 2, uint16_t(v));
}
