#include "sockets.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <new>

#ifdef _WIN32
#include <winsock2.h>
#include <ws2tcpip.h>
using NativeSocket = SOCKET;
constexpr NativeSocket kInvalidSocket = INVALID_SOCKET;
using SockLen = int;
using IoLength = int;
#else
#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/select.h>
#include <sys/socket.h>
#include <sys/uio.h>
#include <unistd.h>
using NativeSocket = int;
constexpr NativeSocket kInvalidSocket = -1;
using SockLen = socklen_t;
using IoLength = size_t;
#endif

struct SocketHandle
{
    NativeSocket fd = kInvalidSocket;
};

namespace {

// Each live handle holds one start-up reference on the socket library.
int startup()
{
#ifdef _WIN32
    WSADATA data;
    return WSAStartup(0x0002, &data);
#else
    return 0;
#endif
}

void cleanup()
{
#ifdef _WIN32
    WSACleanup();
#endif
}

#ifdef _WIN32
// True when the last receive failed only because the datagram did not fit:
// WinSock reports that as an error after filling the buffer, where POSIX
// returns the truncated length.
bool lastReceiveTruncated()
{
    return WSAGetLastError() == WSAEMSGSIZE;
}
#endif

int closeNative(NativeSocket fd)
{
#ifdef _WIN32
    return closesocket(fd);
#else
    return ::close(fd);
#endif
}

int selectFirstArgument(NativeSocket fd)
{
#ifdef _WIN32
    (void)fd;
    return 64; // ignored by Windows Sockets
#else
    return fd + 1;
#endif
}

timeval splitTimeout(int32_t timeoutUs)
{
    timeval tv{};
    tv.tv_sec = timeoutUs / 1000000;
    tv.tv_usec = timeoutUs % 1000000;
    return tv;
}

// select() on one descriptor for reading or writing: 1 ready, 0 timeout,
// anything else a failure. A descriptor beyond FD_SETSIZE cannot be put into
// an fd_set without writing past it, so it counts as a failing select.
int waitFor(NativeSocket fd, bool forWriting, int32_t timeoutUs)
{
#ifndef _WIN32
    if (fd >= FD_SETSIZE)
        return -1;
#endif
#ifdef _WIN32
    fd_set set;
    FD_ZERO(&set);
    FD_SET(fd, &set);
    timeval tv = splitTimeout(timeoutUs);
    return ::select(selectFirstArgument(fd), forWriting ? nullptr : &set,
                    forWriting ? &set : nullptr, nullptr, &tv);
#else
    // A signal handled anywhere in the process can cut the wait short; that
    // is no network error, so the wait goes on for the time that is left.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::microseconds(timeoutUs);
    for (;;) {
        fd_set set;
        FD_ZERO(&set);
        FD_SET(fd, &set);
        timeval tv = splitTimeout(timeoutUs);
        const int ready = ::select(selectFirstArgument(fd), forWriting ? nullptr : &set,
                                   forWriting ? &set : nullptr, nullptr, &tv);
        if (ready >= 0 || errno != EINTR)
            return ready;
        const auto left = std::chrono::duration_cast<std::chrono::microseconds>(
                              deadline - std::chrono::steady_clock::now())
                              .count();
        timeoutUs = left > 0 ? static_cast<int32_t>(left) : 0;
    }
#endif
}

sockaddr_in makeAddress(uint32_t address, uint16_t port)
{
    sockaddr_in a;
    std::memset(&a, 0, sizeof a);
    a.sin_family = AF_INET;
    a.sin_port = htons(port);
    a.sin_addr.s_addr = htonl(address);
    return a;
}

// Allocates a handle, starts the library and creates a socket of the given
// type; on failure undoes what it had done and returns the code.
int openSocket(SocketHandle*& handle, int type)
{
    handle = new (std::nothrow) SocketHandle;
    if (!handle)
        return SocketResult::kNoMemory;
    if (startup() != 0) {
        delete handle;
        handle = nullptr;
        return SocketResult::kStartupFailed;
    }
    handle->fd = ::socket(AF_INET, type, 0);
    if (handle->fd == kInvalidSocket) {
        cleanup();
        delete handle;
        handle = nullptr;
        return SocketResult::kSocketFailed;
    }
    return SocketResult::kOk;
}

int closeHandle(SocketHandle* handle)
{
    if (!handle)
        return SocketResult::kOk;
    const int result = closeNative(handle->fd);
    cleanup();
    delete handle;
    return result < 0 ? SocketResult::kCloseFailed : SocketResult::kOk;
}

} // namespace

uint32_t resolve(const char* name)
{
    // An empty name is no host; WinSock's getaddrinfo would answer it with
    // the local machine.
    if (!name || !*name)
        return 0;
    const auto direct = inet_addr(name);
    if (direct != INADDR_NONE)
        return ntohl(direct);
    // getaddrinfo rather than gethostbyname: the same first IPv4 address,
    // without the shared static result that makes the old call unsafe to use
    // from two threads.
    addrinfo hints;
    std::memset(&hints, 0, sizeof hints);
    hints.ai_family = AF_INET;
    addrinfo* list = nullptr;
    if (getaddrinfo(name, nullptr, &hints, &list) != 0 || !list)
        return 0;
    uint32_t address = 0;
    for (const addrinfo* a = list; a; a = a->ai_next) {
        if (a->ai_family == AF_INET && a->ai_addr) {
            address = ntohl(reinterpret_cast<const sockaddr_in*>(a->ai_addr)->sin_addr.s_addr);
            break;
        }
    }
    freeaddrinfo(list);
    return address;
}

int udpOpen(SocketHandle** out, uint16_t* port)
{
    SocketHandle* handle = nullptr;
    const int opened = openSocket(handle, SOCK_DGRAM);
    if (opened != SocketResult::kOk)
        return opened;
#ifndef _WIN32
    // Each datagram then tells the address it was sent to, which a recording
    // keeps; without it the receive still works and tells 0.
    // The kernel's receive time as well: a reader that was held up (a
    // paused process, a busy thread) still learns when each datagram came.
    const int on = 1;
    ::setsockopt(handle->fd, IPPROTO_IP, IP_PKTINFO, &on, sizeof on);
    ::setsockopt(handle->fd, SOL_SOCKET, SO_TIMESTAMP, &on, sizeof on);
#endif
    sockaddr_in address = makeAddress(INADDR_ANY, *port);
    SockLen length = sizeof address;
    if (::bind(handle->fd, reinterpret_cast<sockaddr*>(&address), length) < 0) {
        udpClose(handle);
        return SocketResult::kCallFailed;
    }
    if (*port != 0) {
        *out = handle;
        return SocketResult::kOk;
    }
    if (::getsockname(handle->fd, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        udpClose(handle);
        return SocketResult::kCallFailed;
    }
    *port = ntohs(address.sin_port);
    *out = handle;
    return SocketResult::kOk;
}

int udpClose(SocketHandle* handle)
{
    return closeHandle(handle);
}
int tcpClose(SocketHandle* handle)
{
    return closeHandle(handle);
}

// A sender that never pauses could keep the drain going for ever; past this
// many datagrams in one call the newest one read so far is returned.
constexpr int kMaxDrainedDatagrams = 100000;

int udpReceive(SocketHandle* handle, char* buffer, int32_t maxLength, int32_t timeoutUs)
{
    DatagramOrigin origin;
    return udpReceiveFrom(handle, buffer, maxLength, timeoutUs, origin);
}

namespace {

// Reads up to limit datagrams of those waiting (after waiting for the first),
// each over the one before it in buffer, and returns the last one read.
int receiveDatagrams(SocketHandle* handle, char* buffer, int32_t maxLength, int32_t timeoutUs,
                     DatagramOrigin& origin, int limit)
{
    if (!handle || !buffer || maxLength < 1 || timeoutUs < 0)
        return SocketResult::kSocketFailed;
    origin.destination = 0;
    origin.arrivalUs = 0;
    sockaddr_in from;
    std::memset(&from, 0, sizeof from);
    int drained = 0;
#ifdef _WIN32
    const int ready = waitFor(handle->fd, false, timeoutUs);
    if (ready == 0)
        return SocketResult::kTimeout;
    if (ready != 1)
        return SocketResult::kSocketFailed;
    long length = 0;
    do {
        SockLen fromLength = sizeof from;
        length = ::recvfrom(handle->fd, buffer, static_cast<IoLength>(maxLength), 0,
                            reinterpret_cast<sockaddr*>(&from), &fromLength);
        if (length < 0 && lastReceiveTruncated())
            length = maxLength;
        if (length < 0)
            return SocketResult::kCallFailed;
        // Another datagram already waiting replaces this one: only the newest
        // frame counts.
    } while (++drained < limit && waitFor(handle->fd, false, 0) == 1);
#else
    // One recvmmsg call reads every datagram already waiting, up to a batch,
    // into the same buffer, so that the last one read stays there: the newest
    // frame costs one system call however many older ones queued before it.
    // The calls return at once when nothing waits; only then does select wait
    // for the first datagram. The socket itself stays blocking.
    constexpr unsigned kBatch = 64;
    iovec vector{buffer, static_cast<size_t>(maxLength)};
    mmsghdr messages[kBatch];
    sockaddr_in senders[kBatch];
    struct alignas(cmsghdr) Control
    {
        char bytes[CMSG_SPACE(sizeof(in_pktinfo)) + CMSG_SPACE(sizeof(timeval))];
    };
    Control controls[kBatch];
    std::memset(messages, 0, sizeof messages);
    for (unsigned i = 0; i < kBatch; ++i) {
        messages[i].msg_hdr.msg_iov = &vector;
        messages[i].msg_hdr.msg_iovlen = 1;
        messages[i].msg_hdr.msg_name = &senders[i];
        messages[i].msg_hdr.msg_control = controls[i].bytes;
    }
    msghdr* newest = nullptr;
    long length = -1;
    bool waited = false;
    while (drained < limit) {
        for (mmsghdr& m : messages) {
            m.msg_hdr.msg_namelen = sizeof(sockaddr_in);
            m.msg_hdr.msg_controllen = sizeof(Control);
        }
        const unsigned batch = std::min(kBatch, static_cast<unsigned>(limit - drained));
        const int count = ::recvmmsg(handle->fd, messages, batch, MSG_DONTWAIT, nullptr);
        if (count < 0 && errno == EINTR)
            continue;
        if (count < 0) {
            if (errno != EAGAIN && errno != EWOULDBLOCK)
                return SocketResult::kCallFailed;
            if (length >= 0)
                break; // the queue is empty and the newest datagram is in the buffer
            if (waited)
                return SocketResult::kCallFailed; // select said readable, yet nothing could be read
            const int ready = waitFor(handle->fd, false, timeoutUs);
            if (ready == 0)
                return SocketResult::kTimeout;
            if (ready != 1)
                return SocketResult::kSocketFailed;
            waited = true;
            continue;
        }
        length = static_cast<long>(messages[count - 1].msg_len);
        from = senders[count - 1];
        newest = &messages[count - 1].msg_hdr;
        drained += count;
        if (static_cast<unsigned>(count) < batch)
            break;
    }
    // A later batch reuses the controls, so the newest datagram's are read
    // only once the drain is over.
    for (cmsghdr* c = newest ? CMSG_FIRSTHDR(newest) : nullptr; c; c = CMSG_NXTHDR(newest, c)) {
        if (c->cmsg_level == IPPROTO_IP && c->cmsg_type == IP_PKTINFO) {
            in_pktinfo info;
            std::memcpy(&info, CMSG_DATA(c), sizeof info);
            origin.destination = ntohl(info.ipi_addr.s_addr);
        } else if (c->cmsg_level == SOL_SOCKET && c->cmsg_type == SCM_TIMESTAMP) {
            timeval stamp;
            std::memcpy(&stamp, CMSG_DATA(c), sizeof stamp);
            origin.arrivalUs = int64_t(stamp.tv_sec) * 1000000 + stamp.tv_usec;
        }
    }
#endif
    origin.address = ntohl(from.sin_addr.s_addr);
    origin.port = ntohs(from.sin_port);
    origin.discarded = drained - 1;
    return length >= maxLength ? SocketResult::kTooLong : static_cast<int>(length);
}

} // namespace

int udpReceiveFrom(SocketHandle* handle, char* buffer, int32_t maxLength, int32_t timeoutUs,
                   DatagramOrigin& origin)
{
    return receiveDatagrams(handle, buffer, maxLength, timeoutUs, origin, kMaxDrainedDatagrams);
}

int udpReceiveNext(SocketHandle* handle, char* buffer, int32_t maxLength, int32_t timeoutUs,
                   DatagramOrigin& origin)
{
    return receiveDatagrams(handle, buffer, maxLength, timeoutUs, origin, 1);
}

int udpSetReceiveBuffer(SocketHandle* handle, int32_t bytes)
{
    if (!handle || bytes < 1)
        return SocketResult::kSocketFailed;
    const int size = bytes;
    if (::setsockopt(handle->fd, SOL_SOCKET, SO_RCVBUF, reinterpret_cast<const char*>(&size),
                     sizeof size) != 0)
        return SocketResult::kCallFailed;
    return SocketResult::kOk;
}

int tcpConnect(SocketHandle** out, uint32_t address, uint16_t port)
{
    SocketHandle* handle = nullptr;
    const int opened = openSocket(handle, SOCK_STREAM);
    if (opened != SocketResult::kOk)
        return opened;
    sockaddr_in peer = makeAddress(address, port);
    if (::connect(handle->fd, reinterpret_cast<sockaddr*>(&peer), sizeof peer) != 0) {
        tcpClose(handle);
        return SocketResult::kCallFailed;
    }
    *out = handle;
    return SocketResult::kOk;
}

int tcpReceive(SocketHandle* handle, char* buffer, int32_t maxLength, int32_t timeoutUs)
{
    if (!handle || !buffer || maxLength < 1 || timeoutUs < 0)
        return SocketResult::kSocketFailed;
    const int ready = waitFor(handle->fd, false, timeoutUs);
    if (ready == 0)
        return SocketResult::kTimeout;
    if (ready != 1)
        return SocketResult::kSocketFailed;
    const long length = ::recv(handle->fd, buffer, static_cast<IoLength>(maxLength), 0);
    if (length == 0)
        return SocketResult::kPeerClosed;
    if (length < 0)
        return SocketResult::kCallFailed;
    return length >= maxLength ? SocketResult::kTooLong : static_cast<int>(length);
}

int tcpSend(SocketHandle* handle, const char* data, int32_t length, int32_t timeoutUs)
{
    if (!handle || !data || length < 0 || timeoutUs < 0)
        return SocketResult::kSocketFailed;
    const int ready = waitFor(handle->fd, true, timeoutUs);
    if (ready == 0)
        return SocketResult::kTimeout;
    if (ready != 1)
        return SocketResult::kSocketFailed;
#ifdef MSG_NOSIGNAL
    const int flags = MSG_NOSIGNAL; // a closed peer must not kill the process with SIGPIPE
#else
    const int flags = 0;
#endif
    const long sent = ::send(handle->fd, data, static_cast<IoLength>(length), flags);
    return sent < length ? SocketResult::kCallFailed : SocketResult::kOk;
}
