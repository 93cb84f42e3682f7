#pragma once

// The tools' own contact with the platform's socket API, for what the SDK
// does not do: sending UDP datagrams, and the TCP server side of the command
// peer. Receiving goes through TrackingSdk. IPv4 only. Nothing here throws.

#include <cstddef>
#include <cstdint>
#include <string>

class UdpSender
{
public:
    UdpSender() = default;
    ~UdpSender();
    UdpSender(const UdpSender&) = delete;
    UdpSender& operator=(const UdpSender&) = delete;

    // Resolves host (dotted IPv4 or name) and opens the socket. False with
    // a readable reason in error on failure.
    bool open(const std::string& host, uint16_t port, std::string& error);
    // Sends one datagram. False when the system refused it; failure() says why.
    bool send(const char* data, size_t length);
    const std::string& failure() const { return lastFailure; }

private:
    std::string lastFailure;
    int fd = -1;
    uint32_t address = 0;
    uint16_t port = 0;
};

// Why a UDP port cannot be opened for receiving, for the person who asked
// for it: "in use by another program", the system's reason, or a general
// one when a second try succeeds. Ends with a pointer to --diagnose.
std::string udpPortRefusal(uint16_t port);

// ---------------------------------------------------------------------------
// TCP server side, used by the command peer (commandpeer.h): listening,
// accepting, bounded reads and sends with a time limit, and a wake-up pipe
// that ends a wait from another thread. Descriptors are plain ints, -1 when
// absent.

// Listens on address (dotted IPv4) and port; 0 lets the system choose, and
// port then receives the chosen one. Returns the descriptor, or -1 with a
// readable reason in error.
int netTcpListen(const std::string& address, uint16_t& port, std::string& error);
// Accepts one waiting connection; -1 when none could be taken.
int netTcpAccept(int listenFd);
// One read of at most size bytes without blocking: the byte count, 0 when
// the peer closed, -1 on failure or when nothing was waiting.
long netTcpRecv(int fd, char* buffer, size_t size);
// Sends every byte, waiting at most timeoutMs for the peer to take each part.
bool netTcpSendAll(int fd, const char* data, size_t length, int timeoutMs);
// Waits until one of the count descriptors is readable (or closed), or
// timeoutMs has passed (-1: no limit); ready[i] tells which. Returns how
// many are ready, 0 on timeout, -1 on failure.
int netWaitReadable(const int* fds, bool* ready, size_t count, int timeoutMs);
// A pipe whose write end wakes a netWaitReadable on its read end.
bool netWakePipe(int& readFd, int& writeFd);
void netWake(int writeFd);
void netCloseFd(int fd);
