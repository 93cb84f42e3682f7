#include "checkfeed.h"

#include "framedecoder.h"
#include "skywandcheck.h"

#include <algorithm>
#include <cstdio>

std::string DatagramSender::text() const
{
    char buffer[32];
    std::snprintf(buffer, sizeof buffer, "%u.%u.%u.%u:%u", unsigned(address >> 24),
                  unsigned((address >> 16) & 0xff), unsigned((address >> 8) & 0xff),
                  unsigned(address & 0xff), unsigned(port));
    return buffer;
}

CheckFeed::CheckFeed(SkywandCheck& engine, int skywandIndex)
    : check(engine), index(skywandIndex), frame(std::make_unique<FrameData>()),
      otherFrame(std::make_unique<FrameData>()), latest(std::make_unique<SkywandRecord>()),
      seen(kCounterMemory / 64, 0)
{
}

CheckFeed::~CheckFeed() = default;

double CheckFeed::seconds(int64_t us)
{
    lastSeconds = std::max(lastSeconds, double(us - origin) / 1e6);
    return double(us - origin) / 1e6;
}

bool CheckFeed::started(int64_t& originUs) const
{
    originUs = origin;
    return haveOrigin;
}

const SkywandRecord* CheckFeed::latestRecord() const
{
    return latestHeld ? latest.get() : nullptr;
}

void CheckFeed::rememberOnly(uint32_t counter)
{
    haveNewest = true;
    newest = counter;
    std::fill(seen.begin(), seen.end(), 0);
    const uint32_t slot = counter % kCounterMemory;
    seen[slot / 64] |= uint64_t(1) << (slot % 64);
}

// Clears count slots from first's on, a word at a time, so that a sender
// whose counters leap costs no more than one that steps.
void CheckFeed::forget(uint32_t first, uint32_t count)
{
    uint32_t slot = first % kCounterMemory;
    while (count > 0) {
        const uint32_t bit = slot % 64;
        const uint32_t take = std::min<uint32_t>(count, 64 - bit);
        const uint64_t mask = take == 64 ? ~uint64_t(0) : ((uint64_t(1) << take) - 1) << bit;
        seen[slot / 64] &= ~mask;
        count -= take;
        slot = (slot + take) % kCounterMemory;
    }
}

// Counters step modulo 2^32: one less than half the range ahead is ahead,
// anything else is behind.
CheckFeed::Order CheckFeed::place(uint32_t counter)
{
    const uint32_t ahead = counter - newest;
    if (ahead != 0 && ahead < 0x80000000u) {
        // The slots the newest counter moves over held counters a whole
        // memory behind; they are forgotten.
        if (ahead >= kCounterMemory)
            std::fill(seen.begin(), seen.end(), 0);
        else
            forget(newest + 1, ahead - 1);
        newest = counter;
        const uint32_t slot = counter % kCounterMemory;
        seen[slot / 64] |= uint64_t(1) << (slot % 64);
        return Order::Ahead;
    }
    const uint32_t behind = newest - counter;
    if (behind == 0 || behind >= kCounterMemory)
        return Order::Repeated;
    const uint32_t slot = counter % kCounterMemory;
    uint64_t& word = seen[slot / 64];
    const uint64_t bit = uint64_t(1) << (slot % 64);
    if (word & bit)
        return Order::Repeated;
    word |= bit;
    return Order::Late;
}

DecodedFrame DecodedFrame::read(ErrorState outcome, const FrameData& frame, int skywandIndex)
{
    DecodedFrame out;
    out.decoded = outcome == ErrorState::NoError;
    out.controllerLines = frame.controllerLines;
    out.frameCounterRead = frame.frameCounterRead;
    out.frameCounter = frame.frameCounter;
    // As TrackingSdk::getCurrentSkywand tells it.
    out.present = out.decoded && skywandIndex >= 0 && skywandIndex < frame.skywandsInFrame &&
                  skywandIndex < frame.numSkywand && size_t(skywandIndex) < frame.skywands.size();
    if (out.present)
        out.record = frame.skywands[size_t(skywandIndex)];
    return out;
}

void CheckFeed::datagram(const char* data, size_t length, int64_t arrivalUs,
                         const DatagramSender& from, std::optional<uint16_t> port)
{
    if (check.finished())
        return;
    FrameData& target = !counts.haveSender || from == counts.sender ? *frame : *otherFrame;
    target.beginFrame();
    const ErrorState outcome = decodeDatagram(target, data, length, kBufferSize);
    decoded(DecodedFrame::read(outcome, target, index), arrivalUs, from, port);
}

void CheckFeed::decoded(const DecodedFrame& datagram, int64_t arrivalUs, const DatagramSender& from,
                        std::optional<uint16_t> port)
{
    if (check.finished())
        return;
    ++counts.datagrams;
    if (!haveOrigin) {
        haveOrigin = true;
        origin = arrivalUs;
    }
    const double time = seconds(arrivalUs);
    const bool judgedSender = !counts.haveSender || from == counts.sender;
    if (!datagram.decoded) {
        ++counts.undecodable;
        check.tick(time);
        return;
    }
    if (!datagram.controllerLines || !datagram.frameCounterRead) {
        ++counts.foreign;
        check.tick(time);
        return;
    }
    const bool present = datagram.present;
    const uint32_t counter = datagram.frameCounter;
    if (!judgedSender) {
        ++counts.otherSender;
        if (!counts.haveOther) {
            counts.haveOther = true;
            counts.other = from;
        }
        if (present) {
            check.stop(time, "frames of Skywand F" + std::to_string(index + 1) +
                                 " come from two senders, " + counts.sender.text() + " and " +
                                 from.text() + "; the check judges one wand's stream");
            return;
        }
        check.tick(time);
        return;
    }
    if (!counts.haveSender) {
        // The stream is the first sender's whose frame holds the Skywand;
        // frames before it only tell that time passes.
        if (!present) {
            check.tick(time);
            return;
        }
        counts.haveSender = true;
        counts.sender = from;
        counts.port = port;
        rememberOnly(counter);
    } else {
        switch (place(counter)) {
        case Order::Ahead:
            break;
        case Order::Late:
            ++counts.late;
            check.lateFrame(counter);
            check.tick(time);
            return;
        case Order::Repeated:
            ++counts.repeated;
            check.tick(time);
            return;
        }
    }
    ++counts.judged;
    latestHeld = present;
    if (present)
        *latest = datagram.record;
    check.frame(counter, time, present ? latest.get() : nullptr);
}

void CheckFeed::quiet(int64_t untilUs)
{
    if (check.finished())
        return;
    if (haveOrigin) {
        check.tick(seconds(untilUs));
        return;
    }
    // Nothing has arrived yet: the wait for the first record runs from the
    // first call all the same.
    if (!listening) {
        listening = true;
        listenStart = untilUs;
    }
    const double waited = double(untilUs - listenStart) / 1e6;
    if (waited >= SkywandCheck::kFirstRecordWait) {
        check.tick(0.0);
        check.tick(waited);
    }
}

void CheckFeed::stop(int64_t atUs, const std::string& why)
{
    if (check.finished())
        return;
    check.stop(haveOrigin ? seconds(atUs) : 0.0, why);
}
