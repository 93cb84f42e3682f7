#pragma once

#include <cstddef>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

class TrackingSdk;

// Datagrams handed from the receiver thread to the GUI thread, each with its
// arrival on the steady clock. The SDK keeps only the newest frame, and a
// slot that runs late sees that one; a reader that must judge every frame
// (the check) takes them all from here instead. Bounded by kMaxPendingBytes:
// what does not fit is counted and left out.
class FrameInbox
{
public:
    struct Entry
    {
        int64_t arrivalUs = 0; // steady clock, whole microseconds
        std::string bytes;
    };
    // About 80 s of 200-byte frames at 1 kHz; the GUI thread takes them
    // every few milliseconds.
    static constexpr size_t kMaxPendingBytes = 16 * 1024 * 1024;

    static int64_t steadyUs();

    // On the receiver thread, right after a receive decoded a frame.
    void push(const TrackingSdk& sdk);
    void push(int64_t arrivalUs, std::string bytes);
    // Moves everything pending into out, oldest first.
    void take(std::vector<Entry>& out);
    void clear();
    int64_t lost() const;

private:
    mutable std::mutex mutex;
    std::vector<Entry> pending;
    size_t pendingBytes = 0;
    int64_t lostCount = 0;
};
