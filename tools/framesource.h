#pragma once

// Where kestrel-dump's frames come from: the live data port, read either
// through TrackingSdk or through the tools' own socket when the datagrams'
// bytes are needed for a recording. Both follow receive()'s contract.

#include "capture.h"
#include "framedecoder.h"
#include "framejson.h"

#include <cstdint>
#include <memory>
#include <string>

// The window's receive settings.
namespace ReceiveSettings {
constexpr int32_t kBufferSize = 20000;
constexpr int32_t kDataTimeoutUs = 1000000;
constexpr int32_t kServerTimeoutUs = 10000000;
} // namespace ReceiveSettings

// What receive() does with a datagram of length bytes once it has it: empty
// or not fitting a buffer of bufferSize bytes (NUL included) is Net,
// otherwise it is decoded into frame. The caller has already called
// frame.beginFrame(), as receive() does before it waits.
ReceiveOutcome decodeDatagram(FrameData& frame, const char* data, size_t length,
                              int32_t bufferSize);

class FrameSource
{
public:
    virtual ~FrameSource() = default;
    virtual uint16_t port() const = 0;
    // One receive-and-decode cycle.
    virtual ReceiveOutcome receive() = 0;
    // The frame data after the last receive, as the accessors hand it out.
    virtual const FrameData& frame() const = 0;
    // The datagram the last receive handed to the decoder, or null when it
    // handed none (timeout, net error) or this source cannot see the bytes.
    virtual const UdpPacket* lastDatagram() const = 0;
    // Datagrams dropped in the last receive because a newer one was waiting;
    // -1 when this source cannot tell.
    virtual int discarded() const = 0;
};

// Receives through TrackingSdk; lastDatagram() is always null.
std::unique_ptr<FrameSource> makeSdkFrameSource(uint16_t port, std::string& error);
// Receives through the tools' own socket and the SDK's decoder, keeping the
// bytes of each datagram that reached the decoder.
std::unique_ptr<FrameSource> makeSocketFrameSource(uint16_t port, std::string& error);
