#pragma once

// Test-side peers on 127.0.0.1, written with the plain socket API so that the
// socket layer under test is checked against something independent of it.
// The few calls that differ between POSIX and WinSock are wrapped below.

#ifdef _WIN32
#include <winsock2.h>
#include <ws2tcpip.h>

// The test peers open sockets before and after any SDK handle exists, so the
// test program holds WinSock open for its whole run.
struct WinsockSession
{
    WinsockSession()
    {
        WSADATA data;
        WSAStartup(MAKEWORD(2, 2), &data);
    }
    ~WinsockSession() { WSACleanup(); }
};
inline const WinsockSession kWinsockSession;

inline int closeSocket(SOCKET fd)
{
    return ::closesocket(fd);
}
// True when fd has data (or a closed connection) to read within timeoutMs.
inline bool waitReadable(SOCKET fd, int timeoutMs)
{
    WSAPOLLFD p{fd, POLLRDNORM, 0};
    return ::WSAPoll(&p, 1, timeoutMs) == 1;
}
constexpr int kNoSignal = 0; // WinSock never raises SIGPIPE
#else
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

inline int closeSocket(int fd)
{
    return ::close(fd);
}
inline bool waitReadable(int fd, int timeoutMs)
{
    pollfd p{fd, POLLIN, 0};
    return ::poll(&p, 1, timeoutMs) == 1;
}
constexpr int kNoSignal = MSG_NOSIGNAL;
#endif

#include <cstdint>
#include <cstring>
#include <string>

class UdpSender
{
public:
    explicit UdpSender(uint16_t port) : fd(::socket(AF_INET, SOCK_DGRAM, 0))
    {
        std::memset(&to, 0, sizeof to);
        to.sin_family = AF_INET;
        to.sin_port = htons(port);
        to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    }
    ~UdpSender() { closeSocket(fd); }
    UdpSender(const UdpSender&) = delete;
    UdpSender& operator=(const UdpSender&) = delete;

    bool send(const std::string& payload) const
    {
        return ::sendto(fd, payload.data(), static_cast<int>(payload.size()), 0,
                        reinterpret_cast<const sockaddr*>(&to),
                        sizeof to) == static_cast<ssize_t>(payload.size());
    }

private:
    int fd;
    sockaddr_in to;
};

// A listening TCP socket on a free loopback port.
class TcpListener
{
public:
    TcpListener() : fd(::socket(AF_INET, SOCK_STREAM, 0))
    {
        sockaddr_in a;
        std::memset(&a, 0, sizeof a);
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        ::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
        ::listen(fd, 4);
        socklen_t len = sizeof a;
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len);
        port = ntohs(a.sin_port);
    }
    ~TcpListener() { closeSocket(fd); }
    TcpListener(const TcpListener&) = delete;
    TcpListener& operator=(const TcpListener&) = delete;

    // The connection is already complete in the backlog, so this never blocks
    // after a successful connect.
    int accept() const { return ::accept(fd, nullptr, nullptr); }

    int fd;
    uint16_t port = 0;
};

// A loopback port that nothing listens on: bound, then closed.
inline uint16_t closedTcpPort()
{
    TcpListener l;
    return l.port;
}
