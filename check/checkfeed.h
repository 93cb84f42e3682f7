#pragma once

// The one way datagrams become the check's input, for the window and for
// kestrel-check alike: it decodes each datagram, decides whether it is a
// frame of the judged wand's stream, and hands the engine only those, in
// counter order. Everything else is left out of the figures and counted in
// FeedEvidence: another program's datagrams, frames of another sender,
// frames that arrived after a later one (they still fill the gap they left)
// and counters seen before. Times are whole microseconds on any clock the
// caller keeps for every call (a capture's times, the kernel's receive
// times); the engine gets seconds since the first datagram, so that the same
// datagrams at the same times give the same figures wherever they come from.
// Never throws.

#include "errorstate.h"
#include "framerecords.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

class SkywandCheck;
struct FrameData;

struct DatagramSender
{
    uint32_t address = 0; // host byte order
    uint16_t port = 0;

    bool operator==(const DatagramSender& other) const
    {
        return address == other.address && port == other.port;
    }
    bool operator!=(const DatagramSender& other) const { return !(*this == other); }
    // "192.168.1.20:5001".
    std::string text() const;
};

// What arrived and what the check made of it.
struct FeedEvidence
{
    int64_t datagrams = 0;   // every datagram handed in
    int64_t judged = 0;      // frames of the stream handed to the engine in order
    int64_t late = 0;        // frames of the stream that arrived after a later one
    int64_t repeated = 0;    // counters seen before, or too far behind to tell
    int64_t foreign = 0;     // no line of the controller's format, or no frame counter
    int64_t undecodable = 0; // controller lines that did not decode, empty or too long
    int64_t otherSender = 0; // frames of a sender other than the judged one
    bool haveSender = false;
    DatagramSender sender;        // the judged stream's sender, once haveSender
    std::optional<uint16_t> port; // the port the judged frames came on, where known
    bool haveOther = false;
    DatagramSender other; // the first other sender seen, once haveOther
};

// What the check takes from one datagram once it is decoded, so that a
// datagram a receive has decoded need not be decoded again.
struct DecodedFrame
{
    bool decoded = false;          // neither empty, too long nor failing to decode
    bool controllerLines = false;  // it held a line of the controller's format
    bool frameCounterRead = false; // it held a frame counter line
    uint32_t frameCounter = 0;
    bool present = false; // it wrote the judged Skywand's record
    SkywandRecord record; // that record, when present

    // What decodeDatagram's outcome and the frame it decoded into hold for
    // the Skywand at skywandIndex (from 0).
    static DecodedFrame read(ErrorState outcome, const FrameData& frame, int skywandIndex);
};

class CheckFeed
{
public:
    // Counters remembered behind the newest one, to tell a late frame from a
    // repeat: 65536 bits, 8 KiB, over a minute of frames at 1 kHz.
    static constexpr uint32_t kCounterMemory = 65536;
    // The bytes a datagram may hold, as the SDK's receive buffer takes them.
    static constexpr int32_t kBufferSize = 65536;

    // check and skywandIndex (from 0) are the engine and the Skywand it
    // judges; check must outlive the feed.
    CheckFeed(SkywandCheck& check, int skywandIndex);
    ~CheckFeed();
    CheckFeed(const CheckFeed&) = delete;
    CheckFeed& operator=(const CheckFeed&) = delete;

    // One datagram as it arrived: its bytes, when, from whom and on which
    // port, where known.
    void datagram(const char* data, size_t length, int64_t arrivalUs, const DatagramSender& from,
                  std::optional<uint16_t> port = std::nullopt);
    // The same for a datagram decoded already, by DecodedFrame::read for
    // this feed's Skywand.
    void decoded(const DecodedFrame& datagram, int64_t arrivalUs, const DatagramSender& from,
                 std::optional<uint16_t> port = std::nullopt);
    // Nothing more arrived up to untilUs; only a time before the next
    // datagram's arrival may be passed, or that datagram counts as later.
    void quiet(int64_t untilUs);
    // Ends the check as incomplete at atUs, with why as its reason.
    void stop(int64_t atUs, const std::string& why);

    const FeedEvidence& evidence() const { return counts; }
    // The record of the judged Skywand in the latest frame handed to the
    // engine; null when that frame held none. Valid until the next call.
    const SkywandRecord* latestRecord() const;
    // The first datagram's arrival, the engine's time 0; false before it.
    bool started(int64_t& originUs) const;
    // The latest time handed to the engine, in its seconds; 0 before any.
    double latestSeconds() const { return lastSeconds; }

private:
    enum class Order
    {
        Ahead,
        Late,
        Repeated
    };
    double seconds(int64_t us);
    Order place(uint32_t counter);
    void rememberOnly(uint32_t counter);
    void forget(uint32_t first, uint32_t count);

    SkywandCheck& check;
    int index;
    // The judged sender's decoding state, and everyone else's: records a
    // frame lacks carry over from the sender's own earlier frames only.
    std::unique_ptr<FrameData> frame;
    std::unique_ptr<FrameData> otherFrame;
    std::unique_ptr<SkywandRecord> latest;
    FeedEvidence counts;
    bool haveOrigin = false;
    int64_t origin = 0;
    double lastSeconds = 0.0;
    bool listening = false;
    int64_t listenStart = 0;
    bool latestHeld = false;
    bool haveNewest = false;
    uint32_t newest = 0;
    std::vector<uint64_t> seen; // bit (counter % kCounterMemory)
};
