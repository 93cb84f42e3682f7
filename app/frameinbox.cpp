#include "frameinbox.h"

#include "trackingsdk.h"

#include <chrono>
#include <utility>

int64_t FrameInbox::steadyUs()
{
    return std::chrono::duration_cast<std::chrono::microseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

void FrameInbox::push(const TrackingSdk& sdk)
{
    const int64_t arrival = steadyUs();
    ReceivedDatagram datagram;
    if (sdk.getLastDatagram(datagram))
        push(arrival, std::move(datagram.bytes));
}

void FrameInbox::push(int64_t arrivalUs, std::string bytes)
{
    std::lock_guard<std::mutex> lock(mutex);
    if (pendingBytes + bytes.size() > kMaxPendingBytes) {
        ++lostCount;
        return;
    }
    pendingBytes += bytes.size();
    pending.push_back({arrivalUs, std::move(bytes)});
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
