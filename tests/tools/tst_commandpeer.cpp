#include "commandpeer.h"
#include "trackingsdk.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <memory>
#include <string>
#include <vector>

namespace {

using namespace std::string_literals;

struct ProtocolCase
{
    const char* name;
    std::string request;
    std::string answer;
};

class PeerProtocolTest : public ::testing::TestWithParam<ProtocolCase>
{
};

TEST_P(PeerProtocolTest, AnswersOneRequest)
{
    CommandPeer peer;
    EXPECT_EQ(peer.answer(GetParam().request), GetParam().answer);
}

INSTANTIATE_TEST_SUITE_P(
    CommandPeer, PeerProtocolTest,
    ::testing::Values(
        ProtocolCase{"GetEchoesWithoutLeadingZeros", "kestrel get output ch01",
                     "kestrel set output ch1  off"},
        ProtocolCase{"GetEchoesWithSingleSpaces", "kestrel get   output    ch1 ",
                     "kestrel set output ch1  off"},
        ProtocolCase{"GetKeepsAZeroChannel", "kestrel get output ch00",
                     "kestrel set output ch0  off"},
        ProtocolCase{"GetUnknown", "kestrel get output ch10",
                     "kestrel err 3 \"unknown parameter\""},
        ProtocolCase{"GetNothing", "kestrel get", "kestrel err 3 \"unknown parameter\""},
        ProtocolCase{"SetKnown", "kestrel set tracking rate 120", "kestrel ok"},
        ProtocolCase{"SetUnknown", "kestrel set output ch9 on",
                     "kestrel err 3 \"unknown parameter\""},
        ProtocolCase{"SetWithoutValue", "kestrel set tracking",
                     "kestrel err 4 \"missing parameter or value\""},
        ProtocolCase{"SetValueTooLong", "kestrel set tracking rate " + std::string(65, '9'),
                     "kestrel err 5 \"value too long\""},
        ProtocolCase{"PlainCommand", "kestrel ping", "kestrel ok"},
        ProtocolCase{"UnknownCommand", "kestrel launch", "kestrel err 2 \"unknown command\""},
        ProtocolCase{"NotKestrel", "hello", "kestrel err 1 \"not a kestrel request\""},
        ProtocolCase{"EmptyKestrel", "kestrel ", "kestrel err 1 \"empty request\""},
        ProtocolCase{"NoMessagePending", "kestrel getmsg", "kestrel ok"}),
    [](const ::testing::TestParamInfo<ProtocolCase>& info) {
        return std::string(info.param.name);
    });

TEST(CommandPeer, StoreAndMessageQueue)
{
    CommandPeer peer;
    EXPECT_EQ(peer.answer("kestrel set output ch02 on"), "kestrel ok");
    EXPECT_EQ(peer.parameter("output  ch2"), "on");
    EXPECT_EQ(peer.answer("kestrel get output ch2"), "kestrel set output ch2  on");

    // Fields that would break the answer's format are made harmless.
    peer.queueMessage({"two words", "", 7, 0xFFFFFFFF, "say \"hi\""});
    EXPECT_EQ(peer.answer("kestrel tracking start"), "kestrel ok");
    EXPECT_EQ(peer.answer("kestrel getmsg"), "kestrel msg two_words - 7 4294967295 \"say _hi_\"");
    EXPECT_EQ(peer.answer("kestrel getmsg"), "kestrel msg tracking info 1 0 \"tracking started\"");
    EXPECT_EQ(peer.answer("kestrel getmsg"), "kestrel ok");

    for (uint32_t i = 0; i < CommandPeer::kMaxQueuedMessages + 3; ++i)
        peer.queueMessage({"w", "w", i, 0, std::string(500, 't')});
    const std::string first = peer.answer("kestrel getmsg");
    EXPECT_EQ(first.rfind("kestrel msg w w 3 0 \"", 0), 0u) << "the oldest were dropped";
    EXPECT_LT(first.size(), 200u);
}

// A raw client, so that split, joined and hostile requests can be sent.
class RawClient
{
public:
    explicit RawClient(uint16_t port) : fd(::socket(AF_INET, SOCK_STREAM, 0))
    {
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_port = htons(port);
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        connected = ::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
    }
    ~RawClient() { ::close(fd); }

    bool send(const std::string& bytes) const
    {
        return ::send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL) ==
               static_cast<ssize_t>(bytes.size());
    }

    // Reads until count zero bytes arrived; false on close or after 10 s.
    bool readAnswers(size_t count, std::string& out) const
    {
        out.clear();
        while (static_cast<size_t>(std::count(out.begin(), out.end(), '\0')) < count) {
            pollfd p{fd, POLLIN, 0};
            char chunk[512];
            if (::poll(&p, 1, 10000) != 1)
                return false;
            const ssize_t n = ::recv(fd, chunk, sizeof chunk, 0);
            if (n <= 0)
                return false;
            out.append(chunk, static_cast<size_t>(n));
        }
        return true;
    }

    // True when the peer closed the connection within 10 s.
    bool closedByPeer() const
    {
        char chunk[512];
        for (;;) {
            pollfd p{fd, POLLIN, 0};
            if (::poll(&p, 1, 10000) != 1)
                return false;
            const ssize_t n = ::recv(fd, chunk, sizeof chunk, 0);
            if (n <= 0)
                return true;
        }
    }

    int fd;
    bool connected = false;
};

class ServingPeer : public ::testing::Test
{
protected:
    void SetUp() override
    {
        std::string error;
        ASSERT_TRUE(peer.start(0, error)) << error;
        ASSERT_NE(peer.port(), 0);
    }
    CommandPeer peer;
};

TEST_F(ServingPeer, AnswersJoinedAndSplitRequestsInOrder)
{
    RawClient client(peer.port());
    ASSERT_TRUE(client.connected);
    std::string answers;
    ASSERT_TRUE(client.send("kestrel ping\0kestrel get output ch1\0kestrel get nope\0"s));
    ASSERT_TRUE(client.readAnswers(3, answers));
    EXPECT_EQ(answers,
              "kestrel ok\0kestrel set output ch1  off\0kestrel err 3 \"unknown parameter\"\0"s);

    ASSERT_TRUE(client.send("kestrel pi"));
    ASSERT_TRUE(client.send("ng"));
    ASSERT_TRUE(client.send("\0kestrel ge"s));
    ASSERT_TRUE(client.send("tmsg\0"s));
    ASSERT_TRUE(client.readAnswers(2, answers));
    EXPECT_EQ(answers, "kestrel ok\0kestrel ok\0"s);
}

TEST_F(ServingPeer, DropsAClientWhoseRequestNeverEndsAndKeepsServingOthers)
{
    RawClient hostile(peer.port());
    RawClient quitter(peer.port());
    ASSERT_TRUE(hostile.connected && quitter.connected);
    ASSERT_TRUE(quitter.send("kestrel get outp"));
    ::shutdown(quitter.fd, SHUT_RDWR);
    ASSERT_TRUE(hostile.send(std::string(CommandPeer::kMaxRequest + 600, 'x')));
    EXPECT_TRUE(hostile.closedByPeer());

    RawClient good(peer.port());
    std::string answers;
    ASSERT_TRUE(good.send("kestrel ping\0"s));
    ASSERT_TRUE(good.readAnswers(1, answers));
    EXPECT_EQ(answers, "kestrel ok\0"s);
}

TEST(CommandPeer, DropsIdleClientsSoOthersGetIn)
{
    CommandPeer peer;
    peer.setIdleTimeout(std::chrono::milliseconds(200));
    std::string error;
    ASSERT_TRUE(peer.start(0, error)) << error;
    std::vector<std::unique_ptr<RawClient>> idle;
    for (size_t i = 0; i < CommandPeer::kMaxClients; ++i) {
        idle.push_back(std::make_unique<RawClient>(peer.port()));
        ASSERT_TRUE(idle.back()->connected);
    }
    for (const auto& client : idle)
        ASSERT_TRUE(client->closedByPeer());

    RawClient good(peer.port());
    std::string answers;
    ASSERT_TRUE(good.send("kestrel ping\0"s));
    ASSERT_TRUE(good.readAnswers(1, answers));
    EXPECT_EQ(answers, "kestrel ok\0"s);
}

TEST_F(ServingPeer, ServesTheSdkCommandChannel)
{
    TrackingSdk sdk("127.0.0.1", peer.port(), 0, 64, 1000, 5000000);
    ASSERT_TRUE(sdk.isValid());
    std::string value;
    EXPECT_TRUE(sdk.getParam("output", "ch01", value));
    EXPECT_EQ(value, "off");
    EXPECT_TRUE(sdk.setParam("output", "ch003", "on"));
    EXPECT_TRUE(sdk.getParam("output   ch3", value));
    EXPECT_EQ(value, "on");
    EXPECT_TRUE(sdk.getParam("output ch0", value));
    EXPECT_EQ(value, "off");

    int32_t code = 0;
    std::string text;
    EXPECT_FALSE(sdk.sendCommand("launch"));
    ASSERT_TRUE(sdk.getLastServerErrorCode(code));
    ASSERT_TRUE(sdk.getLastServerErrorText(text));
    EXPECT_EQ(code, CommandPeer::kUnknownCommand);
    EXPECT_EQ(text, "unknown command");

    EXPECT_FALSE(sdk.getMessage());
    EXPECT_FALSE(sdk.getLastServerErrorCode(code));
    peer.queueMessage({"camera", "warn", 3, 0x10, "camera 3 lost"});
    ASSERT_TRUE(sdk.getMessage());
    EXPECT_EQ(sdk.getMessageWord1(), "camera");
    EXPECT_EQ(sdk.getMessageWord2(), "warn");
    EXPECT_EQ(sdk.getMessageNumber1(), 3u);
    EXPECT_EQ(sdk.getMessageNumber2(), 16u);
    EXPECT_EQ(sdk.getMessageText(), "camera 3 lost");

    // Stopping the peer closes the connection: the SDK drops its handle.
    peer.stop();
    EXPECT_FALSE(sdk.sendCommand("ping"));
    EXPECT_TRUE(sdk.isCommandChannelClosed());
    EXPECT_TRUE(sdk.isServerNetError());
}

} // namespace
