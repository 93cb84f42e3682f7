#include "frameinbox.h"

#include "trackingsdk.h"

#include <chrono>
#include <utility>

int64_t FrameInbox::wallUs()
{
    return std::chrono::duration_cast<std::chrono::microseconds>(
               std::chrono::system_clock::now().time_since_epoch())
        .count();
}

FrameInbox::FrameInbox(int skywandIndex) : skywandIndex(skywandIndex) {}

void FrameInbox::push(const TrackingSdk& sdk, int64_t waitStartUs)
{
    Entry entry;
    bool keep = false;
    sdk.readLastReceive(
        [&](ErrorState outcome, const FrameData& frame, const ReceivedDatagram* datagram) {
            if (datagram) {
                entry.arrivalUs = datagram->arrivalUs;
                entry.decoded = true;
                entry.frame = DecodedFrame::read(outcome, frame, skywandIndex.load());
                entry.sourceAddress = datagram->sourceAddress;
                entry.sourcePort = datagram->sourcePort;
                keep = true;
            } else if (outcome == ErrorState::Timeout) {
                entry.arrivalUs = waitStartUs;
                entry.quiet = true;
                keep = true;
            }
        });
    if (!keep)
        return;
    if (entry.decoded)
        entry.port = sdk.getDataPort();
    push(std::move(entry));
}

void FrameInbox::push(int64_t arrivalUs, std::string bytes)
{
    Entry entry;
    entry.arrivalUs = arrivalUs;
    entry.bytes = std::move(bytes);
    push(std::move(entry));
}

void FrameInbox::push(Entry entry)
{
    std::lock_guard<std::mutex> lock(mutex);
    // A quiet entry only moves the time on; one in a row is enough.
    if (entry.quiet && !pending.empty() && pending.back().quiet) {
        pending.back().arrivalUs = entry.arrivalUs;
        return;
    }
    const size_t size = sizeof(Entry) + entry.bytes.size();
    if (pendingBytes + size > kMaxPendingBytes) {
        ++lostCount;
        return;
    }
    pendingBytes += size;
    pending.push_back(std::move(entry));
}

void FrameInbox::take(std::vector<Entry>& out)
{
    out.clear();
    std::lock_guard<std::mutex> lock(mutex);
    out.swap(pending);
    pendingBytes = 0;
}

void FrameInbox::clear()
{
    std::lock_guard<std::mutex> lock(mutex);
    pending.clear();
    pendingBytes = 0;
    lostCount = 0;
}

int64_t FrameInbox::lost() const
{
    std::lock_guard<std::mutex> lock(mutex);
    return lostCount;
}
