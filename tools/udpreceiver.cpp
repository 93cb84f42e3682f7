#include "udpreceiver.h"

#include "netio.h"

#include <chrono>
#include <climits>

UdpReceiver::~UdpReceiver()
{
    udpClose(handle);
}

bool UdpReceiver::open(uint16_t port, std::string& error)
{
    uint16_t bound = port;
    if (udpOpen(&handle, &bound) != SocketResult::kOk) {
        handle = nullptr;
        error = "cannot open UDP port " + std::to_string(port) + ": " + udpPortRefusal(port);
        return false;
    }
    // The system may grant less; the default still works, with less room.
    udpSetReceiveBuffer(handle, kUdpStreamReceiveBuffer);
    boundPort = bound;
    return true;
}

UdpReceiver::Result UdpReceiver::receive(char* buffer, size_t capacity, int timeoutMs,
                                         size_t& length, DatagramOrigin& origin)
{
    length = 0;
    if (!handle || !buffer || capacity == 0 || timeoutMs < 0 || timeoutMs > INT32_MAX / 1000)
        return Result::Failed;
    // The socket layer counts in int32_t; a larger buffer is used in part.
    const int32_t usable = capacity > size_t(INT32_MAX) ? INT32_MAX : int32_t(capacity);
    origin = DatagramOrigin();
    const int n = udpReceiveNext(handle, buffer, usable, timeoutMs * 1000, origin);
    if (n == SocketResult::kTimeout)
        return Result::Timeout;
    if (n != SocketResult::kTooLong && n < 0)
        return Result::Failed;
    if (origin.arrivalUs == 0)
        origin.arrivalUs = std::chrono::duration_cast<std::chrono::microseconds>(
                               std::chrono::system_clock::now().time_since_epoch())
                               .count();
    if (n == SocketResult::kTooLong)
        return Result::TooLong;
    length = size_t(n);
    return Result::Datagram;
}
