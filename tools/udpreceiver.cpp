#include "udpreceiver.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace {

// Room for a second or so of a fast stream while the reader is held up.
constexpr int kReceiveBufferBytes = 4 << 20;

} // namespace

UdpReceiver::~UdpReceiver()
{
    if (fd >= 0)
        ::close(fd);
}

bool UdpReceiver::open(uint16_t port, std::string& error)
{
    fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        error = std::string("cannot open a UDP socket: ") + std::strerror(errno);
        return false;
    }
    const int size = kReceiveBufferBytes;
    // The system may grant less; the default still works, with less room.
    ::setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &size, sizeof size);
    sockaddr_in address;
    std::memset(&address, 0, sizeof address);
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_ANY);
    address.sin_port = htons(port);
    socklen_t length = sizeof address;
    if (::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        error = "cannot receive on UDP port " + std::to_string(port) + ": " + std::strerror(errno);
        ::close(fd);
        fd = -1;
        return false;
    }
    boundPort = ntohs(address.sin_port);
    return true;
}

UdpReceiver::Result UdpReceiver::receive(char* buffer, size_t capacity, int timeoutMs,
                                         size_t& length, uint32_t& sourceAddress,
                                         uint16_t& sourcePort)
{
    length = 0;
    if (fd < 0 || !buffer || capacity == 0)
        return Result::Failed;
    pollfd wait{fd, POLLIN, 0};
    const int ready = ::poll(&wait, 1, timeoutMs);
    if (ready == 0 || (ready < 0 && errno == EINTR))
        return Result::Timeout;
    if (ready < 0)
        return Result::Failed;
    sockaddr_in from;
    std::memset(&from, 0, sizeof from);
    socklen_t fromLength = sizeof from;
    // MSG_TRUNC returns the datagram's real length, so one that did not fit
    // is told apart from one that filled the buffer exactly.
    const ssize_t n = ::recvfrom(fd, buffer, capacity, MSG_TRUNC | MSG_DONTWAIT,
                                 reinterpret_cast<sockaddr*>(&from), &fromLength);
    if (n < 0)
        return errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR ? Result::Timeout
                                                                         : Result::Failed;
    sourceAddress = ntohl(from.sin_addr.s_addr);
    sourcePort = ntohs(from.sin_port);
    if (size_t(n) > capacity)
        return Result::TooLong;
    length = size_t(n);
    return Result::Datagram;
}
