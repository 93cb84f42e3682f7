#pragma once

// A UDP socket that hands out every datagram in the order it arrived, one
// per call. TrackingSdk::receive keeps only the newest of those waiting, as a
// display wants; a check that counts the frames it missed must see each one,
// or the count tells of its own load instead of the stream. It reads through
// the SDK's socket layer. Nothing here throws.

#include "sockets.h"

#include <cstddef>
#include <cstdint>
#include <string>

class UdpReceiver
{
public:
    enum class Result
    {
        Datagram, // length bytes in the buffer
        TooLong,  // a datagram that did not fit was read and dropped
        Timeout,
        Failed,
    };

    UdpReceiver() = default;
    ~UdpReceiver();
    UdpReceiver(const UdpReceiver&) = delete;
    UdpReceiver& operator=(const UdpReceiver&) = delete;

    // Binds port on all local addresses; 0 picks a free port. False with a
    // readable reason in error.
    bool open(uint16_t port, std::string& error);
    uint16_t port() const { return boundPort; }
    // Waits up to timeoutMs for the oldest waiting datagram and reads it;
    // origin tells its sender and when the system received it (the wall
    // clock where the system does not tell).
    Result receive(char* buffer, size_t capacity, int timeoutMs, size_t& length,
                   DatagramOrigin& origin);

private:
    SocketHandle* handle = nullptr;
    uint16_t boundPort = 0;
};
