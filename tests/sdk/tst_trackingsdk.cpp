#include "trackingsdk.h"

#include "loopback.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <clocale>
#include <string>
#include <thread>

namespace {

constexpr int32_t kBuffer = 20000;

std::unique_ptr<TrackingSdk> makeSdk(int32_t timeoutUs = 1000000, uint16_t port = 0)
{
    return std::make_unique<TrackingSdk>("", 0, port, kBuffer, timeoutUs, 10000000);
}

const std::string kPose = "[1 2 3][1 0 0 0 1 0 0 0 1]";

TEST(TrackingSdk, ValidOnAFreePortInvalidOnAHeldOne)
{
    auto sdk = makeSdk();
    ASSERT_TRUE(sdk->isValid());
    EXPECT_NE(sdk->getDataPort(), 0);
    EXPECT_TRUE(sdk->isCommandChannelClosed());
    EXPECT_FALSE(sdk->isDataTimeout() || sdk->isDataNetError() || sdk->isDataParseError());
    EXPECT_EQ(sdk->getFrameCounter(), 0u);
    EXPECT_EQ(sdk->getTimestamp(), -1.0);

    TrackingSdk second("", 0, sdk->getDataPort(), kBuffer, 1000000, 10000000);
    EXPECT_FALSE(second.isValid());
    EXPECT_EQ(second.getDataPort(), 0);
    EXPECT_FALSE(second.receive());
    EXPECT_TRUE(second.isDataNetError());
}

TEST(TrackingSdk, ABufferTooSmallForAByteAndItsNulMakesTheObjectInvalid)
{
    for (const int32_t size : {-5, 0, 1}) {
        TrackingSdk sdk("", 0, 0, size, 1000, 1000);
        EXPECT_FALSE(sdk.isValid()) << size;
        EXPECT_EQ(sdk.getDataPort(), 0) << size;
        EXPECT_FALSE(sdk.receive());
        EXPECT_TRUE(sdk.isDataNetError());
    }
    TrackingSdk smallest("", 0, 0, 2, 1000, 1000);
    EXPECT_TRUE(smallest.isValid());
}

TEST(TrackingSdk, CommandHostThatFailsMakesTheObjectInvalid)
{
    TrackingSdk unresolved("no-such-host.invalid", 0, 0, kBuffer, 1000000, 1000000);
    EXPECT_FALSE(unresolved.isValid());
    EXPECT_EQ(unresolved.getDataPort(), 0);

    TrackingSdk refused("127.0.0.1", closedTcpPort(), 0, kBuffer, 1000000, 1000000);
    EXPECT_FALSE(refused.isValid());

    TcpListener listener;
    TrackingSdk connected("127.0.0.1", listener.port, 0, kBuffer, 1000000, 1000000);
    EXPECT_TRUE(connected.isValid());
    EXPECT_FALSE(connected.isCommandChannelClosed());
}

TEST(TrackingSdk, TimeoutKeepsThePreviousRecords)
{
    auto sdk = makeSdk(100000);
    UdpSender tx(sdk->getDataPort());
    ASSERT_TRUE(tx.send("fr 5\nts 1.5\n6d 1 [0 0.75]" + kPose));
    ASSERT_TRUE(sdk->receive());
    EXPECT_EQ(sdk->getFrameCounter(), 5u);

    EXPECT_FALSE(sdk->receive());
    EXPECT_TRUE(sdk->isDataTimeout());
    EXPECT_EQ(sdk->getFrameCounter(), 0u);
    EXPECT_EQ(sdk->getTimestamp(), -1.0);
    EXPECT_EQ(sdk->getNumBody(), 1);
    EXPECT_EQ(sdk->getBody(0).quality, 0.75f);
}

TEST(TrackingSdk, EmptyAndOversizedDatagramsAreNetErrors)
{
    auto sdk = makeSdk();
    UdpSender tx(sdk->getDataPort());
    ASSERT_TRUE(tx.send(""));
    EXPECT_FALSE(sdk->receive());
    EXPECT_TRUE(sdk->isDataNetError());

    ASSERT_TRUE(tx.send("fr 1" + std::string(kBuffer - 1 - 4, ' ')));
    EXPECT_FALSE(sdk->receive());
    EXPECT_TRUE(sdk->isDataNetError());

    ASSERT_TRUE(tx.send("fr 2" + std::string(kBuffer - 2 - 4, ' ')));
    EXPECT_TRUE(sdk->receive()) << "buffer size minus two bytes is the longest datagram";
    EXPECT_EQ(sdk->getFrameCounter(), 2u);
    EXPECT_FALSE(sdk->isDataTimeout() || sdk->isDataNetError() || sdk->isDataParseError());
}

TEST(TrackingSdk, OnlyTheLastOfThreeQueuedDatagramsIsDecoded)
{
    auto sdk = makeSdk();
    UdpSender tx(sdk->getDataPort());
    ASSERT_TRUE(tx.send("fr 1\n3d 1 [1 1][0 0 0]"));
    ASSERT_TRUE(tx.send("fr 2\n3d 2 [1 1][0 0 0] [2 1][0 0 0]"));
    ASSERT_TRUE(tx.send("fr 3"));
    ASSERT_TRUE(sdk->receive());
    EXPECT_EQ(sdk->getFrameCounter(), 3u);
    EXPECT_EQ(sdk->getNumMarker(), 0) << "the markers of the skipped frames never arrived";
}

TEST(TrackingSdk, EveryDatagramModeDecodesEachInTurn)
{
    auto sdk = makeSdk();
    sdk->setReceiveEveryDatagram(true);
    UdpSender tx(sdk->getDataPort());
    for (const char* frame : {"fr 1", "fr 2", "fr 3"})
        ASSERT_TRUE(tx.send(frame));
    for (uint32_t counter = 1; counter <= 3; ++counter) {
        ASSERT_TRUE(sdk->receive());
        EXPECT_EQ(sdk->getFrameCounter(), counter);
    }
}

TEST(TrackingSdk, LastDatagramTellsWhoSentWhatAndWhen)
{
    const auto wallUs = [] {
        return std::chrono::duration_cast<std::chrono::microseconds>(
                   std::chrono::system_clock::now().time_since_epoch())
            .count();
    };
    auto sdk = makeSdk(100000);
    ReceivedDatagram d;
    EXPECT_FALSE(sdk->getLastDatagram(d)) << "nothing received yet";
    UdpSender tx(sdk->getDataPort());
    // The arrival is when the system received the datagram, not when the
    // receive read it.
    const int64_t before = wallUs();
    ASSERT_TRUE(tx.send("fr 1"));
    ASSERT_TRUE(tx.send("fr 2\n6d x"));
    EXPECT_FALSE(sdk->receive());
    const int64_t after = wallUs();
    ASSERT_TRUE(sdk->getLastDatagram(d)) << "a datagram that fails to decode was still read";
    EXPECT_EQ(d.bytes, "fr 2\n6d x");
    EXPECT_EQ(d.sourceAddress, uint32_t(INADDR_LOOPBACK));
#ifndef _WIN32
    // WinSock gives no destination address for a datagram; it stays 0 there.
    EXPECT_EQ(d.destinationAddress, uint32_t(INADDR_LOOPBACK));
#endif
    EXPECT_TRUE(d.controllerLines);
    EXPECT_NE(d.sourcePort, 0);
    EXPECT_EQ(d.discarded, 1);
    ParseFailure failure;
    ASSERT_TRUE(sdk->getLastParseFailure(failure));
    EXPECT_EQ(failure.line, 2);
    EXPECT_EQ(failure.column, 4);
    EXPECT_EQ(failure.reason, "number missing");
    EXPECT_GE(d.arrivalUs, before);
    EXPECT_LE(d.arrivalUs, after);

    ASSERT_TRUE(tx.send(""));
    EXPECT_FALSE(sdk->receive());
    ASSERT_TRUE(sdk->getLastDatagram(d));
    EXPECT_TRUE(d.bytes.empty());
    EXPECT_EQ(d.discarded, 0);
    EXPECT_FALSE(sdk->getLastParseFailure(failure)) << "every receive clears the failure";
    EXPECT_EQ(failure.line, 0);

    EXPECT_FALSE(sdk->receive());
    EXPECT_TRUE(sdk->isDataTimeout());
    EXPECT_FALSE(sdk->getLastDatagram(d));
    EXPECT_EQ(d.sourcePort, 0);

#ifndef _WIN32
    // A reader that was held up (a paused process) still learns when the
    // datagram came, from the system's receive time.
    ASSERT_TRUE(tx.send("fr 3"));
    const int64_t sent = wallUs();
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    EXPECT_TRUE(sdk->receive());
    ASSERT_TRUE(sdk->getLastDatagram(d));
    EXPECT_LT(d.arrivalUs, sent + 150000);
#endif
}

TEST(TrackingSdk, ParseErrorKeepsWhatEarlierLinesWrote)
{
    auto sdk = makeSdk();
    UdpSender tx(sdk->getDataPort());
    ASSERT_TRUE(tx.send("fr 8\n3d 1 [4 0.5][1 2 3]\n6d 1 [0 1]"));
    EXPECT_FALSE(sdk->receive());
    EXPECT_TRUE(sdk->isDataParseError());
    EXPECT_EQ(sdk->getFrameCounter(), 8u);
    EXPECT_EQ(sdk->getMarker(0).id, 4);
}

TEST(TrackingSdk, AccessorsOutOfRangeGiveDefaultRecords)
{
    auto sdk = makeSdk();
    UdpSender tx(sdk->getDataPort());
    ASSERT_TRUE(tx.send("6df2 2 2 [0 0.5 6 2]" + kPose + "[1 0.5 0] [1 0.5 6 2]" + kPose +
                        "[0 0 0]\n3d 1 [42 1][0 0 0]"));
    ASSERT_TRUE(sdk->receive());
    ASSERT_EQ(sdk->getNumSkywand(), 2);
    const SkywandRecord past = sdk->getSkywand(2);
    EXPECT_EQ(past.id, 2);
    EXPECT_EQ(past.quality, -1.0f);
    EXPECT_EQ(past.numButton, 0);
    EXPECT_EQ(past.location[0], 0.0f);
    EXPECT_EQ(sdk->getSkywand(0).button[0], 1);
    EXPECT_EQ(sdk->getSkywand(-3).id, -3);
    EXPECT_EQ(sdk->getBody(7).id, 7);
    EXPECT_EQ(sdk->getHand(1).quality, -1.0f);
    EXPECT_EQ(sdk->getMeasurementTool(0).id, 0);
    const MarkerRecord m = sdk->getMarker(-1);
    EXPECT_EQ(m.id, 0);
    EXPECT_EQ(m.quality, -1.0f);
    EXPECT_EQ(sdk->getMarker(0).id, 42);
}

TEST(TrackingSdk, RealsDecodeUnderADecimalCommaLocale)
{
    const std::string previous = std::setlocale(LC_ALL, nullptr);
#ifdef _WIN32
    const char* const commaLocale = "German_Germany.1252";
#else
    const char* const commaLocale = "de_DE.UTF-8";
#endif
    ASSERT_NE(std::setlocale(LC_ALL, commaLocale), nullptr)
        << commaLocale << " is missing: scripts/bootstrap generates it";
    auto sdk = makeSdk();
    UdpSender tx(sdk->getDataPort());
    ASSERT_TRUE(
        tx.send("ts 12.625\n6df2 1 1 [0 0.5 0 2][0.25 1.5 -2.75][1 0 0 0 1 0 0 0 1][0.5 -0.125]"));
    const bool ok = sdk->receive();
    std::setlocale(LC_ALL, previous.c_str());
    ASSERT_TRUE(ok);
    EXPECT_EQ(sdk->getTimestamp(), 12.625);
    const SkywandRecord s = sdk->getSkywand(0);
    EXPECT_EQ(s.quality, 0.5f);
    EXPECT_EQ(s.location[2], -2.75f);
    EXPECT_EQ(s.joystickValue[0], 0.5f);
    EXPECT_EQ(s.joystickValue[1], -0.125f);
}

TEST(TrackingSdk, HostileDatagramsOfTheLongestSize)
{
    auto sdk = makeSdk();
    UdpSender tx(sdk->getDataPort());
    // Bare brackets or digits are an unknown line and skipped; behind a line
    // type they must fail cleanly.
    const std::pair<std::string, bool> cases[] = {{std::string(19998, '['), true},
                                                  {std::string(19998, '9'), true},
                                                  {"6d " + std::string(19995, '['), false},
                                                  {"3d " + std::string(19995, '9'), false},
                                                  {"6df2 1 1 " + std::string(19989, '['), false}};
    for (const auto& [text, decodes] : cases) {
        ASSERT_TRUE(tx.send(text));
        EXPECT_EQ(sdk->receive(), decodes);
        EXPECT_EQ(sdk->isDataParseError(), !decodes);
    }
}

// One thread receives from a fast sender while another copies records in a
// loop; run under ThreadSanitizer this proves the accessors never overlap a
// decode.
TEST(TrackingSdk, ReceiveAndAccessorsOnTwoThreads)
{
    auto sdk = makeSdk(100000);
    const uint16_t port = sdk->getDataPort();
    std::atomic<bool> done{false};
    std::thread sender([port, &done] {
        UdpSender tx(port);
        for (uint32_t i = 1; !done.load(); ++i) {
            tx.send("fr " + std::to_string(i) +
                    "\n6df2 1 1 [0 0.5 6 2][1 2 3][1 0 0 0 1 0 0 0 1][" + std::to_string(i % 64) +
                    " 0.5 -0.5]\n6d 2 [0 1][1 2 3][1 0 0 0 1 0 0 0 1] [1 1]" +
                    "[1 2 3][1 0 0 0 1 0 0 0 1]");
            std::this_thread::yield();
        }
    });
    std::thread reader([&sdk, &done] {
        while (!done.load()) {
            const SkywandRecord s = sdk->getSkywand(0);
            const BodyRecord b = sdk->getBody(1);
            // A copy is never half-written: the joystick pair is always the
            // one the sender wrote, or the zero of the first state.
            if (s.numJoystick == 2) {
                EXPECT_EQ(s.joystickValue[0], -s.joystickValue[1]);
            }
            (void)b;
            (void)sdk->getFrameCounter();
            (void)sdk->isDataParseError();
        }
    });
    int decoded = 0;
    for (int i = 0; i < 300; ++i)
        decoded += sdk->receive() ? 1 : 0;
    done = true;
    sender.join();
    reader.join();
    EXPECT_GT(decoded, 0);
}

} // namespace
