#pragma once

#include <chrono>
#include <cstdint>
#include <deque>
#include <map>
#include <mutex>
#include <string>
#include <thread>

// A stand-in for the controller's command port: serves the text protocol of
// the SDK's command channel on TCP, in a thread of its own. It keeps a small
// store of parameters for "set" and "get", knows a few plain commands, hands
// out queued messages for "getmsg", and refuses anything else with
// "kestrel err <code> \"<text>\"". Every answer goes out zero-terminated and
// is shorter than the 200 bytes a client reads.
class CommandPeer
{
public:
    struct Message
    {
        std::string word1;
        std::string word2;
        uint32_t number1 = 0;
        uint32_t number2 = 0;
        std::string text;
    };

    // Error codes of the peer's refusals.
    static constexpr int kBadRequest = 1;       // not "kestrel ..." or not understood
    static constexpr int kUnknownCommand = 2;   // a plain command the peer does not know
    static constexpr int kUnknownParameter = 3; // set or get of a parameter not in the store
    static constexpr int kMissingValue = 4;     // set without a value
    static constexpr int kValueTooLong = 5;     // the value would not fit into an answer

    // Longest request kept while waiting for its zero byte; a client that
    // sends more without one is dropped.
    static constexpr size_t kMaxRequest = 1024;
    static constexpr size_t kMaxClients = 8;
    static constexpr size_t kMaxQueuedMessages = 256;
    // A client that sends nothing for this long is dropped, so that idle
    // connections cannot hold every place.
    static constexpr std::chrono::milliseconds kIdleTimeout{30000};

    CommandPeer();
    ~CommandPeer();
    CommandPeer(const CommandPeer&) = delete;
    CommandPeer& operator=(const CommandPeer&) = delete;

    // Listens on address and port (0 picks a free one) and starts serving.
    // False with a readable reason in error when it cannot listen.
    bool start(uint16_t port, std::string& error, const std::string& address = "127.0.0.1");
    // Stops serving and closes every connection; also done by the destructor.
    void stop();
    uint16_t port() const { return listenPort; }
    // Takes effect at the next start().
    void setIdleTimeout(std::chrono::milliseconds timeout) { idleTimeout = timeout; }

    // Queues a message for "getmsg". Spaces in the words and quotes in the
    // text are replaced so that the answer stays readable; over-long fields
    // are cut. The oldest message is dropped when the queue is full.
    void queueMessage(const Message& message);
    // The stored value of a parameter, empty when it is unknown.
    std::string parameter(const std::string& name) const;

    // The answer (without its zero byte) to one request text. The serving
    // thread calls it for each request; tests may call it directly.
    std::string answer(const std::string& request);

    // Parameter names as the peer echoes them: single spaces, numbers
    // without leading zeros.
    static std::string normalize(const std::string& text);

private:
    void serve();
    void resetStore();
    std::string formatMessage(const Message& message) const;

    mutable std::mutex mutex; // guards store and messages
    std::map<std::string, std::string> store;
    std::deque<Message> messages;

    int listenFd = -1;
    int wakeReadFd = -1;
    int wakeWriteFd = -1;
    uint16_t listenPort = 0;
    std::chrono::milliseconds idleTimeout = kIdleTimeout;
    std::thread worker;
};
