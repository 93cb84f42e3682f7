#pragma once

// kestrel-dump's live frames: TrackingSdk's receive with the window's
// settings, the frame data as its accessors hand it out, and the datagram
// each receive read, for a recording.

#include "capture.h"
#include "framedecoder.h"
#include "trackingsdk.h"

#include <cstdint>
#include <memory>
#include <string>

class FrameSource
{
public:
    // Opens the data port (0 lets the system choose); false with a readable
    // reason in error.
    bool open(uint16_t port, std::string& error);
    uint16_t port() const;

    // Off (the default): each receive takes the newest datagram waiting, as
    // the window's panel does. On: every datagram in turn, for figures that
    // must tell the stream's gaps from the reader's own lag.
    void setEveryDatagram(bool on);
    // One receive-and-decode cycle.
    ErrorState receive();
    // The frame data after the last receive, as the accessors hand it out.
    const FrameData& frame() const { return copy; }
    // The datagram the last receive handed to the decoder, or null when it
    // handed none (a timeout, or a net error such as an empty datagram).
    const UdpPacket* lastDatagram() const { return handed ? &packet : nullptr; }
    // Where the last receive's datagram failed to decode; line 0 unless the
    // outcome was a parse error.
    const ParseFailure& parseFailure() const { return failure; }
    // Datagrams the last receive dropped because a newer one was waiting.
    int discarded() const { return datagram.discarded; }

private:
    void snapshot();

    std::unique_ptr<TrackingSdk> sdk;
    FrameData copy;
    ReceivedDatagram datagram;
    UdpPacket packet;
    ParseFailure failure;
    bool handed = false;
};
