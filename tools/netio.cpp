#include "netio.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <vector>

UdpSender::~UdpSender()
{
    if (fd >= 0)
        ::close(fd);
}

bool UdpSender::open(const std::string& host, uint16_t destinationPort, std::string& error)
{
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_DGRAM;
    addrinfo* found = nullptr;
    const int r = ::getaddrinfo(host.c_str(), nullptr, &hints, &found);
    if (r != 0 || !found) {
        error = "cannot resolve host '" + host + "': " + ::gai_strerror(r);
        return false;
    }
    address = ntohl(reinterpret_cast<sockaddr_in*>(found->ai_addr)->sin_addr.s_addr);
    ::freeaddrinfo(found);
    port = destinationPort;
    fd = ::socket(AF_INET, SOCK_DGRAM, 0);
    if (fd < 0) {
        error = std::string("cannot create a UDP socket: ") + std::strerror(errno);
        return false;
    }
    return true;
}

bool UdpSender::send(const char* data, size_t length)
{
    if (fd < 0) {
        lastFailure = "no socket";
        return false;
    }
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_addr.s_addr = htonl(address);
    to.sin_port = htons(port);
    for (;;) {
        const ssize_t n =
            ::sendto(fd, data, length, 0, reinterpret_cast<const sockaddr*>(&to), sizeof to);
        if (n >= 0) {
            lastFailure = "the datagram went out cut short";
            return static_cast<size_t>(n) == length;
        }
        if (errno != EINTR) {
            lastFailure = std::strerror(errno);
            return false;
        }
    }
}

std::string udpPortRefusal(uint16_t port)
{
    std::string why = "the system refused it";
    const int fd = ::socket(AF_INET, SOCK_DGRAM, 0);
    if (fd < 0) {
        why = std::strerror(errno);
    } else {
        sockaddr_in at{};
        at.sin_family = AF_INET;
        at.sin_addr.s_addr = htonl(INADDR_ANY);
        at.sin_port = htons(port);
        if (::bind(fd, reinterpret_cast<const sockaddr*>(&at), sizeof at) != 0)
            why = errno == EADDRINUSE ? "in use by another program"
                  : errno == EACCES   ? "this user may not open it"
                                      : std::strerror(errno);
        ::close(fd);
    }
    return why + " (kestrel-dump --diagnose --port " + std::to_string(port) + " tells more)";
}

// ---------------------------------------------------------------------------
// TCP server side of the command peer.

int netTcpListen(const std::string& address, uint16_t& port, std::string& error)
{
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(port);
    if (::inet_pton(AF_INET, address.c_str(), &a.sin_addr) != 1) {
        error = "not a dotted IPv4 address: " + address;
        return -1;
    }
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        error = "cannot create a TCP socket";
        return -1;
    }
    // A restarted peer must not wait for the previous run's connections to
    // leave TIME_WAIT before it can listen on the same port again.
    const int on = 1;
    ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    socklen_t length = sizeof a;
    if (::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 || ::listen(fd, 8) != 0 ||
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &length) != 0) {
        error = "cannot listen on " + address + " port " + std::to_string(port);
        ::close(fd);
        return -1;
    }
    port = ntohs(a.sin_port);
    return fd;
}

int netTcpAccept(int listenFd)
{
    const int fd = ::accept4(listenFd, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
    return fd < 0 ? -1 : fd;
}

long netTcpRecv(int fd, char* buffer, size_t size)
{
    const ssize_t n = ::recv(fd, buffer, size, MSG_DONTWAIT);
    return n < 0 ? -1 : static_cast<long>(n);
}

bool netTcpSendAll(int fd, const char* data, size_t length, int timeoutMs)
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (length > 0) {
        const ssize_t n = ::send(fd, data, length, MSG_DONTWAIT | MSG_NOSIGNAL);
        if (n > 0) {
            data += n;
            length -= static_cast<size_t>(n);
            continue;
        }
        if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR)
            return false;
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0)
            return false;
        pollfd p{fd, POLLOUT, 0};
        if (::poll(&p, 1, static_cast<int>(left.count())) < 0 && errno != EINTR)
            return false;
    }
    return true;
}

int netWaitReadable(const int* fds, bool* ready, size_t count, int timeoutMs)
{
    std::vector<pollfd> polls(count);
    for (size_t i = 0; i < count; ++i)
        polls[i] = pollfd{fds[i], POLLIN, 0};
    const int n = ::poll(polls.data(), static_cast<nfds_t>(count), timeoutMs);
    for (size_t i = 0; i < count; ++i)
        ready[i] = n > 0 && (polls[i].revents & (POLLIN | POLLHUP | POLLERR)) != 0;
    if (n < 0)
        return errno == EINTR ? 0 : -1;
    return n;
}

bool netWakePipe(int& readFd, int& writeFd)
{
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC | O_NONBLOCK) != 0)
        return false;
    readFd = fds[0];
    writeFd = fds[1];
    return true;
}

void netWake(int writeFd)
{
    const char byte = 1;
    [[maybe_unused]] const ssize_t n = ::write(writeFd, &byte, 1);
}

void netCloseFd(int fd)
{
    if (fd >= 0)
        ::close(fd);
}
