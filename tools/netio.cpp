#include "netio.h"

#include "sockets.h"

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

namespace {

sockaddr_in makeAddress(uint32_t address, uint16_t port)
{
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(address);
    a.sin_port = htons(port);
    return a;
}

// 1 readable, 0 timeout, -1 failure. A signal counts as a timeout so that
// callers get back to their stop flag promptly.
int waitReadable(int fd, int32_t timeoutUs)
{
    pollfd p{fd, POLLIN, 0};
    const int timeoutMs = timeoutUs <= 0 ? 0 : (timeoutUs + 999) / 1000;
    const int r = ::poll(&p, 1, timeoutMs);
    if (r < 0)
        return errno == EINTR ? 0 : -1;
    if (r == 0)
        return 0;
    return (p.revents & (POLLIN | POLLERR)) ? 1 : -1;
}

int64_t nowUs()
{
    using namespace std::chrono;
    return duration_cast<microseconds>(system_clock::now().time_since_epoch()).count();
}

// A peer that never stops sending must not keep the drain loop going forever.
constexpr int kMaxDrain = 100000;

} // namespace

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
    const sockaddr_in to = makeAddress(address, port);
    for (;;) {
        const ssize_t n = ::sendto(fd, data, length, 0, reinterpret_cast<const sockaddr*>(&to),
                                   sizeof to);
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

UdpReceiver::~UdpReceiver()
{
    if (fd >= 0)
        ::close(fd);
}

bool UdpReceiver::open(uint16_t requestedPort, std::string& error)
{
    fd = ::socket(AF_INET, SOCK_DGRAM, 0);
    if (fd < 0) {
        error = std::string("cannot create a UDP socket: ") + std::strerror(errno);
        return false;
    }
    // Asks for each datagram's destination address, which a recording needs.
    const int on = 1;
    ::setsockopt(fd, IPPROTO_IP, IP_PKTINFO, &on, sizeof on);
    sockaddr_in local = makeAddress(INADDR_ANY, requestedPort);
    socklen_t length = sizeof local;
    if (::bind(fd, reinterpret_cast<sockaddr*>(&local), sizeof local) != 0
        || ::getsockname(fd, reinterpret_cast<sockaddr*>(&local), &length) != 0) {
        error = "cannot bind UDP port " + std::to_string(requestedPort) + ": "
                + std::strerror(errno);
        ::close(fd);
        fd = -1;
        return false;
    }
    port = ntohs(local.sin_port);
    return true;
}

int UdpReceiver::receive(char* buffer, int32_t maxLength, int32_t timeoutUs, bool newestOnly,
                         DatagramInfo& info)
{
    info = DatagramInfo{};
    if (fd < 0 || !buffer || maxLength < 1 || timeoutUs < 0)
        return SocketResult::kSocketFailed;
    const int ready = waitReadable(fd, timeoutUs);
    if (ready == 0)
        return SocketResult::kTimeout;
    if (ready < 0)
        return SocketResult::kSocketFailed;
    ssize_t length = 0;
    int reads = 0;
    do {
        sockaddr_in from{};
        iovec io{buffer, static_cast<size_t>(maxLength)};
        alignas(cmsghdr) char control[CMSG_SPACE(sizeof(in_pktinfo))];
        msghdr message{};
        message.msg_name = &from;
        message.msg_namelen = sizeof from;
        message.msg_iov = &io;
        message.msg_iovlen = 1;
        message.msg_control = control;
        message.msg_controllen = sizeof control;
        do
            length = ::recvmsg(fd, &message, 0);
        while (length < 0 && errno == EINTR);
        if (length < 0)
            return SocketResult::kCallFailed;
        info.arrivalUs = nowUs();
        info.sourceAddress = ntohl(from.sin_addr.s_addr);
        info.sourcePort = ntohs(from.sin_port);
        info.destinationPort = port;
        info.destinationAddress = INADDR_LOOPBACK;
        for (cmsghdr* c = CMSG_FIRSTHDR(&message); c; c = CMSG_NXTHDR(&message, c)) {
            if (c->cmsg_level == IPPROTO_IP && c->cmsg_type == IP_PKTINFO) {
                in_pktinfo pi;
                std::memcpy(&pi, CMSG_DATA(c), sizeof pi);
                info.destinationAddress = ntohl(pi.ipi_addr.s_addr);
            }
        }
        ++reads;
    } while (newestOnly && reads < kMaxDrain && waitReadable(fd, 0) == 1);
    info.discarded = reads - 1;
    return length >= maxLength ? SocketResult::kTooLong : static_cast<int>(length);
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
