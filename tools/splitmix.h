#pragma once

#include <cstdint>

// splitmix64: a small, well-mixed hash, so that the simulator's noise and
// damage depend on the seed, the frame and the value's slot only.
inline uint64_t splitMix(uint64_t x)
{
    x += 0x9E3779B97F4A7C15ull;
    x = (x ^ (x >> 30)) * 0xBF58476D1CE4E5B9ull;
    x = (x ^ (x >> 27)) * 0x94D049BB133111EBull;
    return x ^ (x >> 31);
}
