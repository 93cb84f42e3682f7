#pragma once

// Every Skywand of a stream at once, for the bench overview and for
// kestrel-dump --summary --skywand: what the current frame holds for each
// wand and, over the last ten seconds, its tracked share and the frames
// missing for it. Fed with the caller's clock; memory stays bounded by
// FrameLimits::kMaxSkywands whatever the stream sends.

#include "errorstate.h"
#include "framerecords.h"

#include <array>
#include <cstdint>
#include <string>
#include <vector>

struct FrameData;

// One Skywand as the shelf sees it.
struct ShelfWand
{
    // The current frame wrote this wand's record; when false the record is
    // the default one, so nothing stale reaches a reader.
    bool inFrame = false;
    SkywandRecord record;
    double dataAge = -1.0; // seconds since a frame last wrote its record; -1 never
    // Over the last kSeconds: frames that counted this wand, those that held
    // a record with data for it, and frames without its record (including
    // frames the counter skipped).
    uint32_t frames = 0;
    uint32_t tracked = 0;
    uint32_t missing = 0;
    // tracked / frames; -1 when no frame counted it.
    double trackedShare() const { return frames ? double(tracked) / double(frames) : -1.0; }
};

// Not thread-safe: feed and read it on one thread, or lock around both.
class SkywandShelf
{
public:
    static constexpr int kSeconds = 10; // the span of the figures, in one-second buckets

    // One receive outcome as the decoder left it; only decoded frames of the
    // controller's format count.
    void recordReceive(double now, ErrorState outcome, const FrameData& frame);
    void recordFrame(double now, const FrameData& frame);

    // The Skywand count of the last frame (at most kMaxSkywands).
    int count() const { return numSkywand; }
    // The wand at index (F1 is 0) as it stands at now; the default for an
    // index outside 0 .. count() - 1.
    ShelfWand wand(int index, double now) const;
    // Every wand at once, for a window's repaint.
    void snapshot(double now, std::vector<ShelfWand>& out) const;

private:
    struct Counts
    {
        uint32_t frames = 0;
        uint32_t tracked = 0;
        uint32_t missing = 0;
    };
    struct Wand
    {
        bool inFrame = false;
        SkywandRecord record;
        double lastSeen = -1.0;
        std::array<Counts, kSeconds> buckets{};
    };

    // Moves to the bucket of now's second, clearing buckets that fell out.
    size_t advance(double now);
    void fill(const Wand& from, double now, ShelfWand& to) const;

    std::vector<Wand> wands;
    std::array<int64_t, kSeconds> bucketSlots{};
    int64_t currentSlot = INT64_MIN;
    double latest = 0.0;
    int32_t numSkywand = 0;
    bool haveCounter = false;
    uint32_t lastCounter = 0;
};

// "F3 tracked 97.5 % missing 12 frames age 0.010 s" (with "no frame yet" or
// "not in the stream" where those hold): the words the overview's tooltip
// and kestrel-dump --summary --skywand share.
std::string shelfFiguresText(int index, const ShelfWand& wand);
