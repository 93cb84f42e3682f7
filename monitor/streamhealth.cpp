#include "streamhealth.h"

#include "framedecoder.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace {

constexpr double kBucketSeconds = StreamHealth::kWindow / StreamHealth::kBuckets;
// Times beyond this (about 30000 years) are taken as this, so that a slot
// number always fits its integer.
constexpr double kLatestTime = 1e12;

int64_t slotOf(double time)
{
    return static_cast<int64_t>(std::floor(time / kBucketSeconds));
}

double saneTime(double time)
{
    if (std::isnan(time))
        return 0.0;
    return std::clamp(time, -kLatestTime, kLatestTime);
}

} // namespace

std::string endpointText(const Endpoint& endpoint)
{
    if (!endpoint.known())
        return "unknown";
    char text[32];
    std::snprintf(text, sizeof text, "%u.%u.%u.%u:%u", (endpoint.address >> 24) & 255u,
                  (endpoint.address >> 16) & 255u, (endpoint.address >> 8) & 255u,
                  endpoint.address & 255u, unsigned(endpoint.port));
    return text;
}

StreamCounts& StreamCounts::operator+=(const StreamCounts& other)
{
    datagrams += other.datagrams;
    frames += other.frames;
    foreign += other.foreign;
    timeouts += other.timeouts;
    netErrors += other.netErrors;
    parseErrors += other.parseErrors;
    gaps += other.gaps;
    missedFrames += other.missedFrames;
    repeated += other.repeated;
    backward += other.backward;
    return *this;
}

StreamHealth::StreamHealth(double start) : start(saneTime(start)), latest(this->start) {}

double StreamHealth::advance(double now)
{
    // A clock that goes back (or a time that is no number) counts as no time
    // passing, so the window never runs backwards.
    if (!std::isnan(now))
        latest = std::max(latest, saneTime(now));
    return latest;
}

void StreamHealth::commit(double now, const StreamCounts& delta)
{
    const int64_t slot = slotOf(now);
    Bucket& bucket = buckets[static_cast<size_t>(((slot % kBuckets) + kBuckets) % kBuckets)];
    if (bucket.slot != slot) {
        bucket.slot = slot;
        bucket.counts = StreamCounts{};
    }
    bucket.counts += delta;
    total += delta;
}

void StreamHealth::noteSender(double now, const Endpoint& from)
{
    if (!from.known())
        return;
    if (sender.known() && from != sender) {
        otherSender = sender;
        otherSenderTime = now;
        ++senderChanges;
    }
    sender = from;
}

void StreamHealth::trackCounter(double now, uint32_t counter, StreamCounts& delta)
{
    lastCounterFrameTime = now;
    if (!haveCounter) {
        haveCounter = true;
        lastCounter = counter;
        counterChangeTime = now;
        return;
    }
    // Steps are taken modulo 2^32 so that the counter may wrap; a step of
    // half the range or more is read as going back.
    const uint32_t step = counter - lastCounter;
    if (step == 0) {
        ++delta.repeated;
        return;
    }
    if (step < 0x80000000u) {
        if (step > 1) {
            ++delta.gaps;
            delta.missedFrames += step - 1;
        }
    } else {
        ++delta.backward;
    }
    lastCounter = counter;
    counterChangeTime = now;
}

void StreamHealth::trackSkywands(double now, const FrameEvent& frame)
{
    const auto count =
        static_cast<size_t>(std::clamp(frame.numSkywand, 0, FrameLimits::kMaxSkywands));
    skywands.resize(count);
    for (size_t i = 0; i < count; ++i) {
        SkywandHealth& s = skywands[i];
        s.quality = frame.skywandQuality ? frame.skywandQuality[i] : -1.0f;
        s.inLastFrame = static_cast<int64_t>(i) < frame.skywandsInFrame;
        if (s.inLastFrame)
            s.lastSeen = now;
    }
}

void StreamHealth::recordFrame(double now, const FrameEvent& frame)
{
    now = advance(now);
    StreamCounts delta;
    ++delta.datagrams;
    noteSender(now, frame.sender);
    if (!frame.controllerLines) {
        ++delta.foreign;
        commit(now, delta);
        return;
    }
    ++delta.frames;
    haveFrame = true;
    lastFrameTime = now;
    if (frame.frameCounter != 0)
        trackCounter(now, frame.frameCounter, delta);
    trackSkywands(now, frame);
    commit(now, delta);
}

void StreamHealth::recordReceive(double now, ErrorState outcome, const FrameData& frame,
                                 const Endpoint& from)
{
    switch (outcome) {
    case ErrorState::Timeout:
        recordTimeout(now);
        return;
    case ErrorState::NetError:
        recordNetError(now);
        return;
    case ErrorState::ParseError:
        recordParseError(now, from);
        return;
    case ErrorState::NoError:
        break;
    }
    const int32_t count =
        std::clamp<int32_t>(std::min<int32_t>(frame.numSkywand, int32_t(frame.skywands.size())), 0,
                            FrameLimits::kMaxSkywands);
    qualityScratch.resize(size_t(count));
    for (int32_t i = 0; i < count; ++i)
        qualityScratch[size_t(i)] = frame.skywands[size_t(i)].quality;
    FrameEvent event;
    event.frameCounter = frame.frameCounter;
    event.controllerLines = frame.controllerLines;
    event.sender = from;
    event.numSkywand = count;
    event.skywandsInFrame = frame.skywandsInFrame;
    event.skywandQuality = qualityScratch.data();
    recordFrame(now, event);
}

void StreamHealth::recordParseError(double now, const Endpoint& from)
{
    now = advance(now);
    StreamCounts delta;
    ++delta.datagrams;
    ++delta.parseErrors;
    noteSender(now, from);
    commit(now, delta);
}

void StreamHealth::recordTimeout(double now)
{
    now = advance(now);
    StreamCounts delta;
    ++delta.timeouts;
    commit(now, delta);
}

void StreamHealth::recordNetError(double now)
{
    now = advance(now);
    StreamCounts delta;
    ++delta.netErrors;
    commit(now, delta);
}

HealthFigures StreamHealth::figures(double now) const
{
    HealthFigures f;
    now = std::isnan(now) ? latest : std::max(latest, saneTime(now));
    f.now = now;
    f.since = start;
    f.total = total;

    const int64_t nowSlot = slotOf(now);
    for (const Bucket& bucket : buckets) {
        if (bucket.slot > nowSlot - kBuckets && bucket.slot <= nowSlot)
            f.lastSecond += bucket.counts;
    }
    // The buckets cover from the start of the oldest slot to now; before a
    // whole window has passed, only the time since the start counts.
    const double windowStart = static_cast<double>(nowSlot - kBuckets + 1) * kBucketSeconds;
    const double span = now - std::max(windowStart, start);
    if (span > 0.0) {
        f.datagramsPerSecond = static_cast<double>(f.lastSecond.datagrams) / span;
        f.framesPerSecond = static_cast<double>(f.lastSecond.frames) / span;
    }

    f.haveFrame = haveFrame;
    if (haveFrame) {
        f.frameCounter = lastCounter;
        f.dataAge = now - lastFrameTime;
    }
    if (!haveFrame || f.dataAge >= kStaleAfter)
        f.staleness = Staleness::NoFrame;
    else if (haveCounter && now - lastCounterFrameTime < kStaleAfter &&
             now - counterChangeTime >= kStaleAfter)
        f.staleness = Staleness::CounterFrozen;
    else
        f.staleness = Staleness::Fresh;

    f.sender = sender;
    if (otherSender.known() && now - otherSenderTime < kWindow)
        f.otherSender = otherSender;
    f.senderChanges = senderChanges;
    f.skywands = skywands;
    return f;
}
