#pragma once

// The tools' only contact with the platform's socket API: UDP sending to a
// host and port, and UDP reception that keeps the source and destination
// addresses for recording. IPv4 only. Nothing here throws.

#include <cstddef>
#include <cstdint>
#include <string>

// Where a received datagram came from and went to, in host byte order.
struct DatagramInfo
{
    uint32_t sourceAddress = 0;
    uint16_t sourcePort = 0;
    uint32_t destinationAddress = 0;
    uint16_t destinationPort = 0;
    // Wall-clock arrival time, microseconds since the Unix epoch.
    int64_t arrivalUs = 0;
    // Datagrams read and discarded before this one because a newer one was
    // already waiting.
    int discarded = 0;
};

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

class UdpReceiver
{
public:
    UdpReceiver() = default;
    ~UdpReceiver();
    UdpReceiver(const UdpReceiver&) = delete;
    UdpReceiver& operator=(const UdpReceiver&) = delete;

    // Binds to port on all local addresses; 0 lets the system choose.
    bool open(uint16_t port, std::string& error);
    uint16_t boundPort() const { return port; }

    // Same contract as the SDK's udpReceive: waits up to timeoutUs, returns
    // the length of the datagram (0 .. maxLength - 1) copied to buffer, or
    // SocketResult::kTimeout, kSocketFailed (the wait failed), kCallFailed
    // (the read failed) or kTooLong (maxLength bytes or more). With newestOnly every
    // datagram already waiting replaces the previous one.
    int receive(char* buffer, int32_t maxLength, int32_t timeoutUs, bool newestOnly,
                DatagramInfo& info);

private:
    int fd = -1;
    uint16_t port = 0;
};

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
