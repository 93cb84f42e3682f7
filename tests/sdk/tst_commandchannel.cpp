#include "trackingsdk.h"

#include "loopback.h"

#include <gtest/gtest.h>

#include <condition_variable>
#include <cstring>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace {

using namespace std::string_literals;

// What the scripted controller does after it has read one request.
struct Step
{
    enum Kind
    {
        Reply,
        Close,
        Silent,
        ReplyWhenReleased
    };
    Kind kind = Reply;
    std::string bytes;
    // Sent one after another after bytes, each after a pause, so that the
    // answer arrives in parts as it may over a network. The result must not
    // depend on whether the parts do arrive apart.
    std::vector<std::string> laterParts = {};
};

// The controller ends every answer with a zero byte.
Step reply(const std::string& bytes)
{
    return {Step::Reply, bytes + '\0'};
}

// A misbehaving controller on 127.0.0.1 written with plain POSIX sockets, so
// that the channel is checked against something independent of the SDK. It
// accepts one connection, reads each request up to its zero byte and acts as
// its script says. Every wait is bounded, so a fault in the code under test
// fails the test instead of hanging it.
class ScriptedPeer
{
public:
    explicit ScriptedPeer(std::vector<Step> script) : steps(std::move(script))
    {
        listenFd = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t len = sizeof a;
        if (::bind(listenFd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0 &&
            ::listen(listenFd, 1) == 0 &&
            ::getsockname(listenFd, reinterpret_cast<sockaddr*>(&a), &len) == 0)
            listenPort = ntohs(a.sin_port);
        worker = std::thread([this] { run(); });
    }

    ~ScriptedPeer()
    {
        {
            std::lock_guard<std::mutex> lock(mutex);
            released = true;
        }
        changed.notify_all();
        worker.join();
        closeSocket(listenFd);
    }

    uint16_t port() const { return listenPort; }

    // Lets a ReplyWhenReleased step send its bytes and waits until they are out.
    void releaseAndWaitSent()
    {
        std::unique_lock<std::mutex> lock(mutex);
        released = true;
        changed.notify_all();
        changed.wait_for(lock, std::chrono::seconds(10), [this] { return sent; });
    }

    std::vector<std::string> requests()
    {
        std::lock_guard<std::mutex> lock(mutex);
        return received;
    }

private:
    static bool readable(int fd) { return waitReadable(fd, 10000); }

    // Reads one request up to its zero byte; false when the client went away.
    bool readRequest(int fd, std::string& pending, std::string& request)
    {
        for (;;) {
            const size_t zero = pending.find('\0');
            if (zero != std::string::npos) {
                request = pending.substr(0, zero);
                pending.erase(0, zero + 1);
                return true;
            }
            if (pending.size() > 4096 || !readable(fd))
                return false;
            char chunk[512];
            const ssize_t n = ::recv(fd, chunk, sizeof chunk, 0);
            if (n <= 0)
                return false;
            pending.append(chunk, static_cast<size_t>(n));
        }
    }

    void run()
    {
        if (!readable(listenFd))
            return;
        const int fd = ::accept(listenFd, nullptr, nullptr);
        if (fd < 0)
            return;
        std::string pending;
        std::string request;
        for (const Step& step : steps) {
            if (!readRequest(fd, pending, request))
                break;
            {
                std::lock_guard<std::mutex> lock(mutex);
                received.push_back(request);
            }
            if (step.kind == Step::Close) {
                closeSocket(fd);
                return;
            }
            if (step.kind == Step::ReplyWhenReleased) {
                std::unique_lock<std::mutex> lock(mutex);
                changed.wait_for(lock, std::chrono::seconds(10), [this] { return released; });
            }
            if (step.kind != Step::Silent)
                ::send(fd, step.bytes.data(), static_cast<int>(step.bytes.size()), kNoSignal);
            for (const std::string& part : step.laterParts) {
                std::this_thread::sleep_for(std::chrono::milliseconds(30));
                ::send(fd, part.data(), static_cast<int>(part.size()), kNoSignal);
            }
            if (step.kind == Step::ReplyWhenReleased) {
                std::lock_guard<std::mutex> lock(mutex);
                sent = true;
                changed.notify_all();
            }
        }
        // Further requests after the script are recorded but not answered;
        // the loop ends when the client closes.
        while (readRequest(fd, pending, request)) {
            std::lock_guard<std::mutex> lock(mutex);
            received.push_back(request);
        }
        closeSocket(fd);
    }

    std::vector<Step> steps;
    int listenFd = -1;
    uint16_t listenPort = 0;
    std::thread worker;
    std::mutex mutex;
    std::condition_variable changed;
    std::vector<std::string> received;
    bool released = false;
    bool sent = false;
};

constexpr int32_t kServerTimeoutUs = 5000000;

std::unique_ptr<TrackingSdk> connectTo(const ScriptedPeer& peer,
                                       int32_t timeoutUs = kServerTimeoutUs)
{
    return std::make_unique<TrackingSdk>("127.0.0.1", peer.port(), 0, 64, 1000, timeoutUs);
}

enum class Op
{
    Command,
    SetParam3,
    SetParam1,
    GetParam2,
    GetParam1,
    Message
};

struct AnswerCase
{
    const char* name;
    Op op;
    std::string argument; // command, parameter, or "category name value"
    std::string answer;   // bytes the controller sends back
    std::string request;  // what must arrive at the controller
    bool result;
    ErrorState error;
    int32_t code; // 0: getLastServerErrorCode must return false
    std::string text;
    std::string value; // value of a get
};

bool serverErrorIs(const TrackingSdk& sdk, ErrorState e)
{
    const int state = sdk.isServerTimeout()      ? 1
                      : sdk.isServerNetError()   ? 2
                      : sdk.isServerParseError() ? 3
                                                 : 0;
    return state == static_cast<int>(e);
}

void PrintTo(const AnswerCase& c, std::ostream* os)
{
    *os << c.name;
}

class AnswerTest : public ::testing::TestWithParam<AnswerCase>
{
};

TEST_P(AnswerTest, ResultErrorAndValue)
{
    const AnswerCase& c = GetParam();
    ScriptedPeer peer({reply(c.answer)});
    auto sdk = connectTo(peer);
    ASSERT_TRUE(sdk->isValid());
    ASSERT_FALSE(sdk->isCommandChannelClosed());

    std::string value = "stale";
    bool result = false;
    switch (c.op) {
    case Op::Command:
        result = sdk->sendCommand(c.argument);
        break;
    case Op::SetParam1:
        result = sdk->setParam(c.argument);
        break;
    case Op::SetParam3:
        result = sdk->setParam("cat", "name", c.argument);
        break;
    case Op::GetParam1:
        result = sdk->getParam(c.argument, value);
        break;
    case Op::GetParam2:
        result = sdk->getParam("cat", c.argument, value);
        break;
    case Op::Message:
        result = sdk->getMessage();
        break;
    }
    EXPECT_EQ(result, c.result);
    EXPECT_TRUE(serverErrorIs(*sdk, c.error));
    int32_t code = 12345;
    std::string text = "untouched";
    EXPECT_EQ(sdk->getLastServerErrorCode(code), c.code != 0);
    EXPECT_EQ(sdk->getLastServerErrorText(text), c.code != 0);
    if (c.code != 0) {
        EXPECT_EQ(code, c.code);
        EXPECT_EQ(text, c.text);
    } else {
        EXPECT_EQ(code, 12345);
        EXPECT_EQ(text, "untouched");
    }
    if (c.op == Op::GetParam1 || c.op == Op::GetParam2) {
        EXPECT_EQ(value, c.value);
    }
    EXPECT_FALSE(sdk->isCommandChannelClosed());

    sdk.reset();
    const auto requests = peer.requests();
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0], c.request);
}

const ErrorState kOk = ErrorState::NoError;
const ErrorState kParse = ErrorState::ParseError;

INSTANTIATE_TEST_SUITE_P(
    CommandChannel, AnswerTest,
    ::testing::Values(
        AnswerCase{"CommandOk", Op::Command, "tracking start", "kestrel ok"s,
                   "kestrel tracking start", true, kOk, 0, "", ""},
        AnswerCase{"OkUpToTheFirstZeroByte", Op::Command, "x", "kestrel ok\0junk"s, "kestrel x",
                   true, kOk, 0, "", ""},
        AnswerCase{"OkWithTrailingText", Op::Command, "x", "kestrel ok then", "kestrel x", false,
                   kOk, 0, "", ""},
        AnswerCase{"UnexpectedForm", Op::Command, "x", "hello", "kestrel x", false, kOk, 0, "", ""},
        AnswerCase{"SetParamThreeParts", Op::SetParam3, "on", "kestrel ok",
                   "kestrel set cat name on", true, kOk, 0, "", ""},
        AnswerCase{"SetParamOnePart", Op::SetParam1, "output ch1 on", "kestrel ok",
                   "kestrel set output ch1 on", true, kOk, 0, "", ""},
        AnswerCase{"HexCode", Op::Command, "x", "kestrel err 0x10 \"hex\"", "kestrel x", false, kOk,
                   16, "hex", ""},
        AnswerCase{"OctalCode", Op::Command, "x", "kestrel err 010 \"octal\"", "kestrel x", false,
                   kOk, 8, "octal", ""},
        AnswerCase{"NegativeCodeEmptyText", Op::SetParam1, "a b", "kestrel err -3 \"\"",
                   "kestrel set a b", false, kOk, -3, "", ""},
        AnswerCase{"CodeZeroReadsAsNoError", Op::Command, "x", "kestrel err 0 \"zero\"",
                   "kestrel x", false, kOk, 0, "", ""},
        AnswerCase{"ErrWithoutCode", Op::Command, "x", "kestrel err \"text\"", "kestrel x", false,
                   kParse, -1111, "internal SDK error", ""},
        AnswerCase{"ErrWithoutText", Op::Command, "x", "kestrel err 5", "kestrel x", false, kParse,
                   -1111, "internal SDK error", ""},
        AnswerCase{"ErrWithOneQuote", Op::Command, "x", "kestrel err 5 \"open", "kestrel x", false,
                   kParse, -1111, "internal SDK error", ""},
        AnswerCase{"EchoWithoutLeadingZero", Op::GetParam1, "output ch01",
                   "kestrel set output ch1 on", "kestrel get output ch01", true, kOk, 0, "", "on"},
        AnswerCase{"EchoWithOwnSpacing", Op::GetParam2, "ch01", "kestrel set cat   ch1    on off",
                   "kestrel get cat ch01", true, kOk, 0, "", "on off"},
        AnswerCase{"EchoShorterNumber", Op::GetParam1, "ch10", "kestrel set ch1 on",
                   "kestrel get ch10", false, kParse, 0, "", ""},
        AnswerCase{"EchoLongerNumber", Op::GetParam1, "ch1", "kestrel set ch10 on",
                   "kestrel get ch1", false, kParse, 0, "", ""},
        AnswerCase{"EchoOtherName", Op::GetParam1, "ch1", "kestrel set ch2 on", "kestrel get ch1",
                   false, kParse, 0, "", ""},
        AnswerCase{"EchoWithoutValue", Op::GetParam1, "ch1", "kestrel set ch1", "kestrel get ch1",
                   true, kOk, 0, "", ""},
        AnswerCase{"EchoOfZeroChannel", Op::GetParam1, "ch0", "kestrel set ch0 off",
                   "kestrel get ch0", true, kOk, 0, "", "off"},
        AnswerCase{"EchoOfZerosChannel", Op::GetParam1, "ch00", "kestrel set ch0 off",
                   "kestrel get ch00", true, kOk, 0, "", "off"},
        AnswerCase{"EchoDropsZeroChannel", Op::GetParam1, "ch0", "kestrel set ch off",
                   "kestrel get ch0", false, kParse, 0, "", ""},
        AnswerCase{"GetAnsweredOk", Op::GetParam1, "ch1", "kestrel ok", "kestrel get ch1", true,
                   kOk, 0, "", ""},
        AnswerCase{"GetRefused", Op::GetParam1, "nope", "kestrel err 2 \"unknown parameter\"",
                   "kestrel get nope", false, kOk, 2, "unknown parameter", ""},
        AnswerCase{"GetUnexpected", Op::GetParam1, "ch1", "kestrel msg a b 1 2 \"t\"",
                   "kestrel get ch1", false, kOk, 0, "", ""},
        AnswerCase{"MessageNonePending", Op::Message, "", "kestrel ok", "kestrel getmsg", false,
                   kOk, 0, "", ""},
        AnswerCase{"MessageRefused", Op::Message, "", "kestrel err 7 \"busy\"", "kestrel getmsg",
                   false, kOk, 7, "busy", ""},
        AnswerCase{"MessageUnexpected", Op::Message, "", "kestrel set x 1", "kestrel getmsg", false,
                   kParse, 0, "", ""},
        AnswerCase{"MessageNotAnAnswer", Op::Message, "", "hello", "kestrel getmsg", false, kParse,
                   0, "", ""}),
    [](const ::testing::TestParamInfo<AnswerCase>& info) { return std::string(info.param.name); });

TEST(CommandChannel, MessageWithEveryField)
{
    ScriptedPeer peer({reply("kestrel msg tracking warn 0x10 010 \"camera 3 lost\"")});
    auto sdk = connectTo(peer);
    ASSERT_TRUE(sdk->getMessage());
    EXPECT_TRUE(serverErrorIs(*sdk, ErrorState::NoError));
    EXPECT_EQ(sdk->getMessageWord1(), "tracking");
    EXPECT_EQ(sdk->getMessageWord2(), "warn");
    EXPECT_EQ(sdk->getMessageNumber1(), 16u);
    EXPECT_EQ(sdk->getMessageNumber2(), 8u);
    EXPECT_EQ(sdk->getMessageText(), "camera 3 lost");
}

class BrokenMessageTest : public ::testing::TestWithParam<const char*>
{
};

// A message missing a field fails as a parse error and leaves the previous
// message whole instead of mixing the two.
TEST_P(BrokenMessageTest, FailsAndKeepsThePreviousMessage)
{
    ScriptedPeer peer({reply("kestrel msg a b 1 2 \"first\""), reply(GetParam())});
    auto sdk = connectTo(peer);
    ASSERT_TRUE(sdk->getMessage());
    EXPECT_FALSE(sdk->getMessage());
    EXPECT_TRUE(sdk->isServerParseError());
    int32_t code = 0;
    EXPECT_FALSE(sdk->getLastServerErrorCode(code));
    EXPECT_EQ(sdk->getMessageWord1(), "a");
    EXPECT_EQ(sdk->getMessageWord2(), "b");
    EXPECT_EQ(sdk->getMessageNumber1(), 1u);
    EXPECT_EQ(sdk->getMessageNumber2(), 2u);
    EXPECT_EQ(sdk->getMessageText(), "first");
}

INSTANTIATE_TEST_SUITE_P(CommandChannel, BrokenMessageTest,
                         ::testing::Values("kestrel msg ", "kestrel msg x", "kestrel msg x y",
                                           "kestrel msg x y 5", "kestrel msg x y 5 6",
                                           "kestrel msg x y 5 6 \"open",
                                           "kestrel msg x y z 6 \"t\""));

TEST(CommandChannel, EmptyHostFailsEveryOperationWithNetError)
{
    TrackingSdk sdk("", 0, 0, 64, 1000, 1000000);
    ASSERT_TRUE(sdk.isValid());
    EXPECT_TRUE(sdk.isCommandChannelClosed());
    std::string value = "stale";
    int32_t code = 0;
    EXPECT_FALSE(sdk.sendCommand("x"));
    EXPECT_TRUE(sdk.isServerNetError());
    EXPECT_FALSE(sdk.setParam("a", "b", "c"));
    EXPECT_FALSE(sdk.setParam("a b"));
    EXPECT_FALSE(sdk.getParam("a", "b", value));
    EXPECT_FALSE(sdk.getParam("a", value));
    EXPECT_EQ(value, "");
    EXPECT_FALSE(sdk.getMessage());
    EXPECT_TRUE(sdk.isServerNetError());
    EXPECT_FALSE(sdk.getLastServerErrorCode(code));
}

TEST(CommandChannel, RequestOfTwoHundredIsSentOneMoreIsRefusedUnsent)
{
    ScriptedPeer peer({reply("kestrel ok"), reply("kestrel ok")});
    auto sdk = connectTo(peer);
    const std::string command200(200 - std::strlen("kestrel "), 'a');
    const std::string command201(201 - std::strlen("kestrel "), 'b');

    EXPECT_TRUE(sdk->sendCommand(command200));
    EXPECT_FALSE(sdk->sendCommand(command201));
    EXPECT_TRUE(sdk->isServerNetError());
    EXPECT_FALSE(sdk->sendCommand("with\0zero"s));
    EXPECT_TRUE(sdk->isServerNetError());
    EXPECT_TRUE(sdk->sendCommand("short"));
    EXPECT_TRUE(serverErrorIs(*sdk, ErrorState::NoError));

    sdk.reset();
    const auto requests = peer.requests();
    ASSERT_EQ(requests.size(), 2u);
    // The peer reads up to the zero byte, so 200 characters arrived with it.
    EXPECT_EQ(requests[0], "kestrel " + command200);
    EXPECT_EQ(requests[0].size(), 200u);
    EXPECT_EQ(requests[1], "kestrel short");
}

TEST(CommandChannel, AnswerOfTwoHundredBytesFailsAndItsRestIsNotTakenForTheNextAnswer)
{
    const std::string oversized = "kestrel err 1 \"" + std::string(300, 'x') + "\"";
    ScriptedPeer peer({reply(oversized), reply("kestrel ok")});
    auto sdk = connectTo(peer);
    EXPECT_FALSE(sdk->sendCommand("first"));
    EXPECT_TRUE(sdk->isServerNetError());
    int32_t code = 0;
    EXPECT_FALSE(sdk->getLastServerErrorCode(code));
    EXPECT_FALSE(sdk->isCommandChannelClosed());

    EXPECT_TRUE(sdk->sendCommand("second"));
    EXPECT_TRUE(serverErrorIs(*sdk, ErrorState::NoError));
}

TEST(CommandChannel, AnswerOfExactlyTwoHundredBytesFails)
{
    const std::string answer = "kestrel err 1 \"" + std::string(200 - 16, 'x') + "\"";
    ASSERT_EQ(answer.size(), 200u);
    ScriptedPeer peer({{Step::Reply, answer}});
    auto sdk = connectTo(peer);
    EXPECT_FALSE(sdk->sendCommand("x"));
    EXPECT_TRUE(sdk->isServerNetError());
}

struct PartsCase
{
    const char* name;
    Op op; // Command, GetParam1 or Message
    std::vector<std::string> parts;
    bool result;
    ErrorState error;
    std::string value; // the value of a get, the text of a message
    int32_t timeoutUs = kServerTimeoutUs;
};

void PrintTo(const PartsCase& c, std::ostream* os)
{
    *os << c.name;
}

class AnswerInPartsTest : public ::testing::TestWithParam<PartsCase>
{
};

// An answer is read up to its zero byte however it is cut, within the answer
// size (199 bytes with the zero) and one server timeout for all parts.
TEST_P(AnswerInPartsTest, IsReadUpToItsZeroByte)
{
    const PartsCase& c = GetParam();
    Step step{Step::Reply, c.parts.front()};
    step.laterParts.assign(c.parts.begin() + 1, c.parts.end());
    ScriptedPeer peer({step});
    auto sdk = connectTo(peer, c.timeoutUs);
    std::string value;
    bool result = false;
    if (c.op == Op::Command) {
        result = sdk->sendCommand("x");
    } else if (c.op == Op::GetParam1) {
        result = sdk->getParam("output ch1", value);
    } else {
        result = sdk->getMessage();
        value = sdk->getMessageText();
    }
    EXPECT_EQ(result, c.result);
    EXPECT_TRUE(serverErrorIs(*sdk, c.error));
    EXPECT_EQ(value, c.value);
}

const std::string kLongError = "kestrel err 1 \"" + std::string(182, 'x') + "\"";

INSTANTIATE_TEST_SUITE_P(
    CommandChannel, AnswerInPartsTest,
    ::testing::Values(
        PartsCase{"ValueCutShort",
                  Op::GetParam1,
                  {"kestrel set output ch1  o", "n"s + '\0'},
                  true,
                  kOk,
                  "on"},
        PartsCase{"OkCutAfterPrefix", Op::Command, {"kestrel ", "ok"s + '\0'}, true, kOk, ""},
        PartsCase{"MessageInThreeParts",
                  Op::Message,
                  {"kestrel msg a b ", "1 2 \"te", "xt\""s + '\0'},
                  true,
                  kOk,
                  "text"},
        PartsCase{"ZeroByteAlone", Op::Command, {"kestrel ok", "\0"s}, true, kOk, ""},
        PartsCase{"LongestAnswer",
                  Op::Command,
                  {kLongError.substr(0, 100), kLongError.substr(100) + '\0'},
                  false,
                  kOk,
                  ""},
        PartsCase{"OneByteTooLong",
                  Op::Command,
                  {kLongError.substr(0, 100), kLongError.substr(100) + "y" + '\0'},
                  false,
                  ErrorState::NetError,
                  ""},
        PartsCase{
            "NoZeroByte", Op::Command, {"kestrel ", "ok"}, false, ErrorState::Timeout, "", 300000}),
    [](const ::testing::TestParamInfo<PartsCase>& info) { return std::string(info.param.name); });

TEST(CommandChannel, NoAnswerTimesOutAndALateAnswerIsDropped)
{
    ScriptedPeer peer({{Step::ReplyWhenReleased, "kestrel err 9 \"late\""}, reply("kestrel ok")});
    auto sdk = connectTo(peer, 200000);
    const auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(sdk->sendCommand("slow"));
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(190));
    EXPECT_TRUE(sdk->isServerTimeout());
    EXPECT_FALSE(sdk->isCommandChannelClosed());

    peer.releaseAndWaitSent();
    EXPECT_TRUE(sdk->sendCommand("next"));
    int32_t code = 0;
    EXPECT_FALSE(sdk->getLastServerErrorCode(code));
}

TEST(CommandChannel, PeerClosingDropsTheHandleAndLaterCallsFailAtOnce)
{
    ScriptedPeer peer({reply("kestrel ok"), {Step::Close, ""}});
    auto sdk = connectTo(peer);
    ASSERT_TRUE(sdk->sendCommand("first"));
    EXPECT_FALSE(sdk->sendCommand("second"));
    EXPECT_TRUE(sdk->isCommandChannelClosed());
    EXPECT_TRUE(sdk->isServerNetError());

    std::string value = "stale";
    EXPECT_FALSE(sdk->getParam("a", value));
    EXPECT_TRUE(sdk->isServerNetError());
    EXPECT_FALSE(sdk->getMessage());
    EXPECT_TRUE(sdk->isServerNetError());
    EXPECT_EQ(peer.requests().size(), 2u);
}

} // namespace
