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

void FrameInbox::push(const TrackingSdk& sdk, int64_t waitStartUs)
{
    ReceivedDatagram datagram;
    if (sdk.getLastDatagram(datagram)) {
        Entry entry;
        entry.arrivalUs = datagram.arrivalUs;
        entry.bytes = std::move(datagram.bytes);
        entry.sourceAddress = datagram.sourceAddress;
        entry.sourcePort = datagram.sourcePort;
        entry.port = sdk.getDataPort();
        push(std::move(entry));
        return;
    }
    if (!sdk.isDataTimeout())
        return;
    Entry entry;
    entry.arrivalUs = waitStartUs;
    entry.quiet = true;
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
    if (pendingBytes + entry.bytes.size() > kMaxPendingBytes) {
        ++lostCount;
        return;
    }
    pendingBytes += entry.bytes.size();
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
