#pragma once

#include <cstdint>

// A thin layer over the platform's socket API: IPv4, blocking sockets, no
// socket options. Every function returns a small integer code and undoes, on
// each failure path, whatever it had done before. Nothing throws or prints.
//
// Result codes:
//   >= 0  success (0, or a byte count that is always below maxLength)
//   -1    socket library start-up failed; for waits: timeout
//   -2    socket creation or select failed
//   -3    bind, getsockname, connect, recv or send failed (or a partial send)
//   -4    the received message did not fit: recv returned maxLength or more
//   -9    TCP only: the peer closed the connection
//   -11   no memory for the SocketHandle

struct SocketHandle;

// IPv4 address of a dotted address or host name, in host byte order; 0 when
// the name cannot be resolved.
uint32_t resolve(const char* name);

// Binds a UDP socket to *port on all local addresses. When *port is 0 the
// port the system chose is written back. On failure *out and *port keep the
// values they came in with and no socket stays open.
int udpOpen(SocketHandle** out, uint16_t* port);

// Closes the socket and frees the handle (also when closing fails: -1).
// A null handle is accepted and gives 0.
int udpClose(SocketHandle* handle);

// Waits up to timeoutUs for a datagram, then reads every datagram already
// waiting into buffer so that only the newest counts. Returns its length
// (0 .. maxLength - 1), -1 on timeout, -2, -3 or -4 on failure.
int udpReceive(SocketHandle* handle, char* buffer, int32_t maxLength, int32_t timeoutUs);

// Connects a TCP socket to address:port (host byte order). Blocks for as long
// as the platform's connect takes.
int tcpConnect(SocketHandle** out, uint32_t address, uint16_t port);

int tcpClose(SocketHandle* handle);

// Waits up to timeoutUs, then makes exactly one recv. Returns the number of
// bytes read (1 .. maxLength - 1), -1, -2, -3, -4, or -9 when the peer closed.
int tcpReceive(SocketHandle* handle, char* buffer, int32_t maxLength, int32_t timeoutUs);

// Waits up to timeoutUs for the socket to be writable, then makes exactly one
// send. Returns 0 when every byte went out, -1, -2 or -3.
int tcpSend(SocketHandle* handle, const char* data, int32_t length, int32_t timeoutUs);
