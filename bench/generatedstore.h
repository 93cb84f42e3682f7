#pragma once

// A SQLite check store of 100,000 generated checks for the benchmarks, made
// once in a temporary folder and removed with the object.

#include <cstdint>
#include <string>

constexpr int64_t kDec1 = 1796117400000000; // 2026-12-01T09:30:00Z
constexpr int kGenerated = 100000;
constexpr int kWands = 500;

// A new folder under $TMPDIR or /tmp; empty when none can be made.
std::string benchFolder();
// A real report of a passed check, about 2 KiB, as every row carries one.
const std::string& sampleReport();

// 100,000 checks of 500 wands ("W0" .. "W499"), one every 10 minutes back
// from 2026-12-01, written in one statement; the store itself creates the
// schema first.
class GeneratedStore
{
public:
    GeneratedStore();
    ~GeneratedStore();

    std::string folder;
    std::string url;
    bool ready = false;
};
