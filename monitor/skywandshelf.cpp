#include "skywandshelf.h"

#include "framedecoder.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

void SkywandShelf::recordReceive(double now, ErrorState outcome, const FrameData& frame)
{
    if (outcome == ErrorState::NoError && frame.controllerLines)
        recordFrame(now, frame);
}

size_t SkywandShelf::advance(double now)
{
    if (now > latest || currentSlot == INT64_MIN)
        latest = now;
    const int64_t slot = int64_t(std::floor(latest));
    if (slot != currentSlot) {
        // Bounded: at most kSeconds buckets are cleared, however long the pause.
        const int64_t from = currentSlot == INT64_MIN
                                 ? slot - kSeconds + 1
                                 : std::max(currentSlot + 1, slot - kSeconds + 1);
        for (int64_t s = from; s <= slot; ++s) {
            const size_t b = size_t(((s % kSeconds) + kSeconds) % kSeconds);
            bucketSlots[b] = s;
            for (Wand& w : wands)
                w.buckets[b] = Counts{};
        }
        currentSlot = slot;
    }
    return size_t(((slot % kSeconds) + kSeconds) % kSeconds);
}

void SkywandShelf::recordFrame(double now, const FrameData& frame)
{
    const size_t b = advance(now);
    numSkywand = std::clamp(frame.numSkywand, 0, int32_t(FrameLimits::kMaxSkywands));
    if (wands.size() < size_t(numSkywand))
        wands.resize(size_t(numSkywand));
    // Frames the counter skipped held nothing for any wand.
    uint32_t skipped = 0;
    if (frame.frameCounterRead && frame.frameCounter != 0) {
        if (haveCounter && frame.frameCounter > lastCounter + 1 && lastCounter + 1 != 0)
            skipped = frame.frameCounter - lastCounter - 1;
        haveCounter = true;
        lastCounter = frame.frameCounter;
    }
    const int written =
        std::clamp(frame.skywandsInFrame, 0, std::min(numSkywand, int32_t(frame.skywands.size())));
    for (int i = 0; i < int(wands.size()); ++i) {
        Wand& w = wands[size_t(i)];
        Counts& c = w.buckets[b];
        if (i >= numSkywand) {
            w.inFrame = false;
            w.record = SkywandRecord{};
            continue;
        }
        c.frames += 1 + skipped;
        c.missing += skipped;
        w.inFrame = i < written;
        if (!w.inFrame) {
            w.record = SkywandRecord{};
            ++c.missing;
            continue;
        }
        w.record = frame.skywands[size_t(i)];
        w.lastSeen = latest;
        if (w.record.quality >= 0.0f)
            ++c.tracked;
    }
}

void SkywandShelf::fill(const Wand& from, double now, ShelfWand& to) const
{
    to.inFrame = from.inFrame;
    to.record = from.record;
    to.dataAge = from.lastSeen < 0.0 ? -1.0 : std::max(0.0, now - from.lastSeen);
    to.frames = to.tracked = to.missing = 0;
    const int64_t nowSlot = int64_t(std::floor(std::max(now, latest)));
    for (size_t b = 0; b < size_t(kSeconds); ++b) {
        if (currentSlot == INT64_MIN || bucketSlots[b] <= nowSlot - kSeconds ||
            bucketSlots[b] > nowSlot)
            continue;
        to.frames += from.buckets[b].frames;
        to.tracked += from.buckets[b].tracked;
        to.missing += from.buckets[b].missing;
    }
}

ShelfWand SkywandShelf::wand(int index, double now) const
{
    ShelfWand out;
    if (index >= 0 && index < numSkywand && size_t(index) < wands.size())
        fill(wands[size_t(index)], now, out);
    return out;
}

void SkywandShelf::snapshot(double now, std::vector<ShelfWand>& out) const
{
    out.resize(size_t(numSkywand));
    for (int i = 0; i < numSkywand; ++i)
        fill(wands[size_t(i)], now, out[size_t(i)]);
}

std::string shelfFiguresText(int index, const ShelfWand& wand)
{
    char text[160];
    int n = 0;
    if (wand.frames == 0) {
        n = std::snprintf(text, sizeof text, "F%d not in the stream", index + 1);
    } else {
        n = std::snprintf(text, sizeof text, "F%d tracked %.1f %% missing %u frames", index + 1,
                          wand.trackedShare() * 100.0, unsigned(wand.missing));
        if (n > 0 && size_t(n) < sizeof text) {
            const int more =
                wand.dataAge < 0.0
                    ? std::snprintf(text + n, sizeof text - size_t(n), " no frame yet")
                    : std::snprintf(text + n, sizeof text - size_t(n), " age %.3f s", wand.dataAge);
            n += std::max(more, 0);
        }
    }
    return std::string(text, size_t(std::clamp(n, 0, int(sizeof text) - 1)));
}
