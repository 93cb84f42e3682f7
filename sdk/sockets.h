#pragma once

#include <cstdint>

// A thin layer over the platform's socket API: IPv4, blocking sockets, no
// socket options but the one that tells a datagram's destination (Linux) and
// a receive buffer size on request. Every function returns a small integer
// code and undoes, on each failure path, whatever it had done before.
// Nothing throws or prints.

// Result codes. Success is kOk or, for the receives, a byte count that is
// always below maxLength. -1 means one thing when opening, another when
// closing and a third when waiting.
namespace SocketResult {
constexpr int kOk = 0;             // the call succeeded
constexpr int kStartupFailed = -1; // opening: the socket library did not start
constexpr int kCloseFailed = -1;   // closing: close failed; the handle is freed all the same
constexpr int kTimeout = -1;       // waiting: nothing happened within the time limit
constexpr int kSocketFailed = -2;  // socket creation or select failed, or a bad argument
constexpr int kCallFailed = -3;    // bind, getsockname, connect, recv or send failed; partial send
constexpr int kTooLong = -4;       // the message did not fit: recv returned maxLength or more
constexpr int kPeerClosed = -9;    // TCP only: the peer closed the connection
constexpr int kNoMemory = -11;     // no memory for the SocketHandle
} // namespace SocketResult

struct SocketHandle;

// IPv4 address of a dotted address or host name, in host byte order; 0 when
// the name cannot be resolved.
uint32_t resolve(const char* name);

// Binds a UDP socket to *port on all local addresses. When *port is 0 the
// port the system chose is written back. On failure *out and *port keep the
// values they came in with and no socket stays open. Returns kOk, kNoMemory,
// kStartupFailed, kSocketFailed or kCallFailed.
int udpOpen(SocketHandle** out, uint16_t* port);

// Closes the socket and frees the handle: kOk or kCloseFailed. A null handle
// is accepted and gives kOk.
int udpClose(SocketHandle* handle);

// Waits up to timeoutUs for a datagram, then reads every datagram already
// waiting into buffer so that only the newest counts. Returns its length
// (0 .. maxLength - 1), kTimeout, or kSocketFailed, kCallFailed or kTooLong.
int udpReceive(SocketHandle* handle, char* buffer, int32_t maxLength, int32_t timeoutUs);

// Where the datagram a receive returned came from, and how many datagrams
// read before it in the same call were dropped for it.
struct DatagramOrigin
{
    uint32_t address = 0; // host byte order
    uint16_t port = 0;
    uint32_t destination = 0; // the address it was sent to; 0 where unknown (Windows)
    // When the system received it, microseconds since the Unix epoch; 0
    // where the system does not tell (Windows).
    int64_t arrivalUs = 0;
    int32_t discarded = 0;
};

// As udpReceive; when a datagram was read (also one that did not fit),
// *origin tells where it came from.
int udpReceiveFrom(SocketHandle* handle, char* buffer, int32_t maxLength, int32_t timeoutUs,
                   DatagramOrigin& origin);

// As udpReceiveFrom, but reads only the oldest waiting datagram, for a reader
// that must see every one in the order it arrived; discarded stays 0.
int udpReceiveNext(SocketHandle* handle, char* buffer, int32_t maxLength, int32_t timeoutUs,
                   DatagramOrigin& origin);

// Asks for a receive buffer of bytes (the system may grant less): kOk,
// kSocketFailed for a bad argument, or kCallFailed.
int udpSetReceiveBuffer(SocketHandle* handle, int32_t bytes);
// What a reader of a fast stream asks for: room for a second or so of it
// while the reader is held up, so that a busy machine does not drop frames.
constexpr int32_t kUdpStreamReceiveBuffer = 4 << 20;

// Connects a TCP socket to address:port (host byte order). Blocks for as long
// as the platform's connect takes. Returns what udpOpen does.
int tcpConnect(SocketHandle** out, uint32_t address, uint16_t port);

// As udpClose.
int tcpClose(SocketHandle* handle);

// Waits up to timeoutUs, then makes exactly one recv. Returns the number of
// bytes read (1 .. maxLength - 1), kTimeout, kSocketFailed, kCallFailed,
// kTooLong, or kPeerClosed.
int tcpReceive(SocketHandle* handle, char* buffer, int32_t maxLength, int32_t timeoutUs);

// Waits up to timeoutUs for the socket to be writable, then makes exactly one
// send. Returns kOk when every byte went out, kTimeout, kSocketFailed or
// kCallFailed.
int tcpSend(SocketHandle* handle, const char* data, int32_t length, int32_t timeoutUs);
