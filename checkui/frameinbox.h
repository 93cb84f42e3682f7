#pragma once

#include "checkfeed.h"

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

class TrackingSdk;

// Datagrams handed from the receiver thread to the GUI thread, each with the
// time the system received it, its sender and the port it came on, and
// between them the times up to which nothing arrived. The SDK keeps only the
// newest frame, and a slot that runs late sees that one; a reader that must
// judge every datagram (the check) takes them all from here instead. A
// datagram the receive decoded comes as what the check takes from it, so
// that it is not decoded twice. Bounded by kMaxPendingBytes: what does not
// fit is counted and left out.
class FrameInbox
{
public:
    struct Entry
    {
        // Wall clock, microseconds since the Unix epoch: the datagram's
        // arrival, or for a quiet entry the time up to which none arrived.
        int64_t arrivalUs = 0;
        bool quiet = false;
        // True when frame holds the receive's decode of the datagram;
        // otherwise bytes hold the datagram for the check to decode.
        bool decoded = false;
        DecodedFrame frame;
        std::string bytes;
        uint32_t sourceAddress = 0; // host byte order
        uint16_t sourcePort = 0;
        int port = -1; // the data port it came on; -1 where unknown
    };
    // About 70 s of entries at 1 kHz; the GUI thread takes them every few
    // milliseconds.
    static constexpr size_t kMaxPendingBytes = 16 * 1024 * 1024;

    // skywandIndex (from 0): the Skywand whose records the decoded entries
    // keep.
    explicit FrameInbox(int skywandIndex = 0);

    static int64_t wallUs();
    // From any thread; the datagrams pushed from then on keep this
    // Skywand's records.
    void setSkywandIndex(int index) { skywandIndex.store(index); }

    // On the receiver thread, after each receive that began to wait at
    // waitStartUs: what it decoded of the datagram it read, or after a
    // timeout a quiet entry.
    void push(const TrackingSdk& sdk, int64_t waitStartUs);
    void push(Entry entry);
    // A datagram from an unknown sender.
    void push(int64_t arrivalUs, std::string bytes);
    // Moves everything pending into out, oldest first.
    void take(std::vector<Entry>& out);
    void clear();
    int64_t lost() const;

private:
    std::atomic<int> skywandIndex;
    mutable std::mutex mutex;
    std::vector<Entry> pending;
    size_t pendingBytes = 0;
    int64_t lostCount = 0;
};
