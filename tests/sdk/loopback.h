#pragma once

// Test-side peers on 127.0.0.1, written with the plain POSIX API so that the
// socket layer under test is checked against something independent of it.

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

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
    ~UdpSender() { ::close(fd); }
    UdpSender(const UdpSender&) = delete;
    UdpSender& operator=(const UdpSender&) = delete;

    bool send(const std::string& payload) const
    {
        return ::sendto(fd, payload.data(), payload.size(), 0, reinterpret_cast<const sockaddr*>(&to),
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
    ~TcpListener() { ::close(fd); }
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
