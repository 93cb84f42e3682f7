#include "sockets.h"

#include "loopback.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <string>
#include <thread>

#ifndef _WIN32
#include <csignal>
#include <pthread.h>
#endif

namespace {

using namespace SocketResult;

constexpr uint32_t kLoopback = 0x7F000001;

struct UdpSocket
{
    UdpSocket() { result = udpOpen(&handle, &port); }
    ~UdpSocket() { udpClose(handle); }
    SocketHandle* handle = nullptr;
    uint16_t port = 0;
    int result = 0;
};

TEST(Sockets, UdpOpenWritesBackTheChosenPortAndRefusesAHeldOne)
{
    UdpSocket a;
    ASSERT_EQ(a.result, kOk);
    ASSERT_NE(a.handle, nullptr);
    EXPECT_NE(a.port, 0);

    SocketHandle* second = nullptr;
    uint16_t port = a.port;
    EXPECT_EQ(udpOpen(&second, &port), kCallFailed);
    EXPECT_EQ(second, nullptr) << "out is written only on success";
    EXPECT_EQ(port, a.port);

    // Nothing was left open by the failure: after closing the first socket
    // the port can be bound again.
    EXPECT_EQ(udpClose(a.handle), kOk);
    a.handle = nullptr;
    EXPECT_EQ(udpOpen(&second, &port), kOk);
    EXPECT_EQ(udpClose(second), kOk);
    EXPECT_EQ(udpClose(nullptr), kOk);
    EXPECT_EQ(tcpClose(nullptr), kOk);
}

TEST(Sockets, UdpReceiveTimesOutAndPolls)
{
    UdpSocket s;
    char buffer[64];
    auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(udpReceive(s.handle, buffer, sizeof buffer, 0), kTimeout);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(50));
    start = std::chrono::steady_clock::now();
    EXPECT_EQ(udpReceive(s.handle, buffer, sizeof buffer, 150000), kTimeout);
    const auto waited = std::chrono::steady_clock::now() - start;
    EXPECT_GE(waited, std::chrono::milliseconds(140));
    EXPECT_LT(waited, std::chrono::milliseconds(1000));
}

#ifndef _WIN32
std::atomic<int> handledSignals{0};
void countSignal(int)
{
    ++handledSignals;
}

// A signal handled by the process while the receiver waits (a debugger, a
// profiler, a child ending) cuts select short with EINTR. That is no network
// error: the wait goes on and still gets the datagram, or times out on time.
TEST(Sockets, UdpReceiveWaitsOnThroughAHandledSignal)
{
    struct sigaction action = {};
    struct sigaction previous = {};
    action.sa_handler = countSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = 0; // no SA_RESTART: select would give up at once
    ASSERT_EQ(sigaction(SIGUSR1, &action, &previous), 0);

    UdpSocket s;
    ASSERT_EQ(s.result, kOk);
    std::atomic<int> result{0};
    std::atomic<bool> waiting{false};
    char buffer[64] = {};
    std::thread receiver([&] {
        waiting = true;
        result = udpReceive(s.handle, buffer, sizeof buffer, 2000000);
    });
    while (!waiting)
        std::this_thread::yield();
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    const int before = handledSignals;
    pthread_kill(receiver.native_handle(), SIGUSR1);
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    UdpSender tx(s.port);
    ASSERT_TRUE(tx.send("after"));
    receiver.join();
    EXPECT_EQ(handledSignals, before + 1);
    EXPECT_EQ(result, 5);
    EXPECT_EQ(std::string(buffer, 5), "after");

    // Interrupted and then silent: the timeout still counts from the start.
    std::thread silent([&] { result = udpReceive(s.handle, buffer, sizeof buffer, 300000); });
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    const auto start = std::chrono::steady_clock::now();
    pthread_kill(silent.native_handle(), SIGUSR1);
    silent.join();
    const auto rest = std::chrono::steady_clock::now() - start;
    EXPECT_EQ(result, kTimeout);
    EXPECT_GE(rest, std::chrono::milliseconds(100));
    EXPECT_LT(rest, std::chrono::milliseconds(1000));
    sigaction(SIGUSR1, &previous, nullptr);
}
#endif

TEST(Sockets, UdpReceiveKeepsOnlyTheNewestDatagram)
{
    UdpSocket s;
    UdpSender tx(s.port);
    ASSERT_TRUE(tx.send("first"));
    ASSERT_TRUE(tx.send("second"));
    ASSERT_TRUE(tx.send("third!!"));
    char buffer[64] = {};
    // Datagrams on loopback are queued as soon as sendto returns.
    EXPECT_EQ(udpReceive(s.handle, buffer, sizeof buffer, 1000000), 7);
    EXPECT_EQ(std::string(buffer, 7), "third!!");
    EXPECT_EQ(udpReceive(s.handle, buffer, sizeof buffer, 0), kTimeout) << "the queue was drained";
}

TEST(Sockets, UdpReceiveNextReadsEveryDatagramInOrder)
{
    UdpSocket s;
    EXPECT_EQ(udpSetReceiveBuffer(s.handle, 1 << 20), kOk);
    UdpSender tx(s.port);
    const std::string sent[] = {"first", "second", "third!!"};
    for (const std::string& text : sent)
        ASSERT_TRUE(tx.send(text));
    char buffer[64] = {};
    for (const std::string& text : sent) {
        DatagramOrigin origin;
        const int n = udpReceiveNext(s.handle, buffer, sizeof buffer, 1000000, origin);
        ASSERT_EQ(n, int(text.size()));
        EXPECT_EQ(std::string(buffer, n), text);
        EXPECT_EQ(origin.discarded, 0);
    }
    DatagramOrigin origin;
    EXPECT_EQ(udpReceiveNext(s.handle, buffer, sizeof buffer, 0, origin), kTimeout);
}

TEST(Sockets, UdpReceiveLengthLimits)
{
    UdpSocket s;
    UdpSender tx(s.port);
    char buffer[32];
    ASSERT_TRUE(tx.send(""));
    EXPECT_EQ(udpReceive(s.handle, buffer, 16, 1000000), 0);
    ASSERT_TRUE(tx.send(std::string(15, 'a')));
    EXPECT_EQ(udpReceive(s.handle, buffer, 16, 1000000), 15);
    ASSERT_TRUE(tx.send(std::string(16, 'b')));
    EXPECT_EQ(udpReceive(s.handle, buffer, 16, 1000000), kTooLong);
    ASSERT_TRUE(tx.send(std::string(30, 'c')));
    EXPECT_EQ(udpReceive(s.handle, buffer, 16, 1000000), kTooLong);
    for (int i = 16; i < 32; ++i)
        buffer[i] = 'z';
    ASSERT_TRUE(tx.send(std::string(30, 'd')));
    udpReceive(s.handle, buffer, 16, 1000000);
    EXPECT_EQ(buffer[16], 'z') << "nothing written beyond maxLength";
}

TEST(Sockets, ResolveDottedAndNamedHosts)
{
    EXPECT_EQ(resolve("127.0.0.1"), kLoopback);
    EXPECT_EQ(resolve("10.1.2.3"), 0x0A010203u);
    EXPECT_EQ(resolve("0.0.0.0"), 0u);
    EXPECT_EQ(resolve("localhost"), kLoopback);
    EXPECT_EQ(resolve("no-such-host.invalid"), 0u);
    EXPECT_EQ(resolve(""), 0u);
}

TEST(Sockets, TcpConnectRefusedLeavesNothing)
{
    SocketHandle* h = nullptr;
    EXPECT_EQ(tcpConnect(&h, kLoopback, closedTcpPort()), kCallFailed);
    EXPECT_EQ(h, nullptr);
}

TEST(Sockets, TcpSendReceiveAndPeerClose)
{
    TcpListener listener;
    SocketHandle* h = nullptr;
    ASSERT_EQ(tcpConnect(&h, kLoopback, listener.port), kOk);
    const int peer = listener.accept();
    ASSERT_GE(peer, 0);

    EXPECT_EQ(tcpSend(h, "ping", 5, 1000000), kOk);
    char got[8] = {};
    ASSERT_EQ(::recv(peer, got, 5, MSG_WAITALL), 5);
    EXPECT_STREQ(got, "ping");

    char buffer[8];
    EXPECT_EQ(tcpReceive(h, buffer, sizeof buffer, 0), kTimeout);
    ASSERT_EQ(::send(peer, "0123456789", 10, 0), 10);
    EXPECT_EQ(tcpReceive(h, buffer, sizeof buffer, 1000000), kTooLong)
        << "a full buffer means it did not fit";
    EXPECT_EQ(tcpReceive(h, buffer, sizeof buffer, 1000000), 2);
    closeSocket(peer);
    EXPECT_EQ(tcpReceive(h, buffer, sizeof buffer, 1000000), kPeerClosed);
    // Writing to the closed peer fails with kCallFailed once the reset arrives, and
    // must not kill the process with SIGPIPE.
    int sendResult = kOk;
    for (int i = 0; i < 3 && sendResult == kOk; ++i)
        sendResult = tcpSend(h, "x", 1, 1000000);
    EXPECT_EQ(sendResult, kCallFailed);
    EXPECT_EQ(tcpClose(h), kOk);
}

} // namespace
