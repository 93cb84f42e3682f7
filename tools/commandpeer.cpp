#include "commandpeer.h"

#include "netio.h"

#include <algorithm>
#include <cctype>
#include <memory>
#include <sstream>
#include <vector>

namespace {

constexpr char kPrefix[] = "kestrel ";
constexpr size_t kMaxAnswer = 199;
constexpr size_t kMaxValue = 64;
constexpr size_t kMaxWord = 32;
constexpr size_t kMaxText = 100;
constexpr int kSendTimeoutMs = 2000;

std::string refusal(int code, const std::string& text)
{
    return "kestrel err " + std::to_string(code) + " \"" + text + "\"";
}

std::vector<std::string> splitWords(const std::string& text)
{
    std::vector<std::string> words;
    std::istringstream in(text);
    std::string word;
    while (std::getline(in, word, ' '))
        if (!word.empty())
            words.push_back(word);
    return words;
}

bool startsWith(const std::string& text, const std::string& prefix)
{
    return text.compare(0, prefix.size(), prefix) == 0;
}

std::string cleaned(std::string text, char bad, size_t limit)
{
    std::replace(text.begin(), text.end(), bad, '_');
    std::replace(text.begin(), text.end(), '\0', '_');
    if (text.size() > limit)
        text.resize(limit);
    return text;
}

} // namespace

CommandPeer::CommandPeer()
{
    resetStore();
}

CommandPeer::~CommandPeer()
{
    stop();
}

void CommandPeer::resetStore()
{
    std::lock_guard<std::mutex> lock(mutex);
    store = {
        {"system name", "kestrel-sim"}, {"tracking rate", "60"}, {"output ch1", "off"},
        {"output ch2", "off"},          {"output ch3", "off"},   {"output ch0", "off"},
    };
}

std::string CommandPeer::normalize(const std::string& text)
{
    std::string out;
    for (const std::string& word : splitWords(text)) {
        if (!out.empty())
            out += ' ';
        for (size_t i = 0; i < word.size(); ++i) {
            const bool digitRunStart =
                (i == 0 || !std::isdigit(static_cast<unsigned char>(word[i - 1])));
            if (digitRunStart) {
                // A zero before another digit is a leading zero; the last
                // zero of a run of zeros is the number 0 itself.
                while (i + 1 < word.size() && word[i] == '0' &&
                       std::isdigit(static_cast<unsigned char>(word[i + 1])))
                    ++i;
            }
            out += word[i];
        }
    }
    return out;
}

std::string CommandPeer::parameter(const std::string& name) const
{
    std::lock_guard<std::mutex> lock(mutex);
    const auto it = store.find(normalize(name));
    return it == store.end() ? std::string() : it->second;
}

void CommandPeer::queueMessage(const Message& message)
{
    Message m;
    m.word1 = cleaned(message.word1, ' ', kMaxWord);
    m.word2 = cleaned(message.word2, ' ', kMaxWord);
    // An empty word would shift every later field of the message.
    if (m.word1.empty())
        m.word1 = "-";
    if (m.word2.empty())
        m.word2 = "-";
    m.number1 = message.number1;
    m.number2 = message.number2;
    m.text = cleaned(message.text, '"', kMaxText);
    std::lock_guard<std::mutex> lock(mutex);
    if (messages.size() >= kMaxQueuedMessages)
        messages.pop_front();
    messages.push_back(m);
}

std::string CommandPeer::formatMessage(const Message& m) const
{
    return "kestrel msg " + m.word1 + " " + m.word2 + " " + std::to_string(m.number1) + " " +
           std::to_string(m.number2) + " \"" + m.text + "\"";
}

std::string CommandPeer::answer(const std::string& request)
{
    if (!startsWith(request, kPrefix))
        return refusal(kBadRequest, "not a kestrel request");
    const std::string rest = request.substr(sizeof kPrefix - 1);
    const std::vector<std::string> words = splitWords(rest);
    if (words.empty())
        return refusal(kBadRequest, "empty request");

    if (words[0] == "getmsg" && words.size() == 1) {
        std::lock_guard<std::mutex> lock(mutex);
        if (messages.empty())
            return "kestrel ok";
        const std::string text = formatMessage(messages.front());
        messages.pop_front();
        return text;
    }

    if (words[0] == "get") {
        const std::string name = normalize(rest.substr(rest.find("get") + 3));
        std::lock_guard<std::mutex> lock(mutex);
        const auto it = store.find(name);
        if (it == store.end())
            return refusal(kUnknownParameter, "unknown parameter");
        // Two spaces before the value, as a controller may put there.
        return "kestrel set " + it->first + "  " + it->second;
    }

    if (words[0] == "set") {
        if (words.size() < 3)
            return refusal(kMissingValue, "missing parameter or value");
        std::string name;
        for (size_t i = 1; i + 1 < words.size(); ++i)
            name += (i > 1 ? " " : "") + words[i];
        name = normalize(name);
        const std::string& value = words.back();
        std::lock_guard<std::mutex> lock(mutex);
        const auto it = store.find(name);
        if (it == store.end())
            return refusal(kUnknownParameter, "unknown parameter");
        if (value.size() > kMaxValue || value.find('\0') != std::string::npos)
            return refusal(kValueTooLong, "value too long");
        it->second = value;
        return "kestrel ok";
    }

    const std::string command = normalize(rest);
    if (command == "ping")
        return "kestrel ok";
    if (command == "reset") {
        resetStore();
        return "kestrel ok";
    }
    if (command == "tracking start" || command == "tracking stop") {
        const bool starting = command == "tracking start";
        queueMessage({"tracking", "info", starting ? 1u : 0u, 0u,
                      starting ? "tracking started" : "tracking stopped"});
        return "kestrel ok";
    }
    return refusal(kUnknownCommand, "unknown command");
}

bool CommandPeer::start(uint16_t port, std::string& error, const std::string& address)
{
    stop();
    if (!netWakePipe(wakeReadFd, wakeWriteFd)) {
        error = "cannot create the wake-up pipe";
        return false;
    }
    listenFd = netTcpListen(address, port, error);
    if (listenFd < 0) {
        stop();
        return false;
    }
    listenPort = port;
    try {
        worker = std::thread([this] { serve(); });
    } catch (...) {
        error = "cannot start the serving thread";
        stop();
        return false;
    }
    return true;
}

void CommandPeer::stop()
{
    if (worker.joinable()) {
        netWake(wakeWriteFd);
        worker.join();
    }
    netCloseFd(listenFd);
    netCloseFd(wakeReadFd);
    netCloseFd(wakeWriteFd);
    listenFd = wakeReadFd = wakeWriteFd = -1;
    listenPort = 0;
}

void CommandPeer::serve()
{
    using Clock = std::chrono::steady_clock;
    struct Client
    {
        int fd;
        std::string pending;
        Clock::time_point heard; // when its last bytes arrived
    };
    std::vector<Client> clients;
    std::vector<int> fds;
    char chunk[512];
    const std::chrono::milliseconds idleLimit = idleTimeout;

    // Nothing may escape the thread: running out of memory ends the serving
    // instead of the process.
    try {
        for (;;) {
            fds.assign({wakeReadFd, listenFd});
            for (const Client& c : clients)
                fds.push_back(c.fd);
            // Wakes in time for the client that falls idle first.
            int waitMs = -1;
            for (const Client& c : clients) {
                const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                    c.heard + idleLimit - Clock::now());
                const int ms = static_cast<int>(std::max<long long>(0, left.count() + 1));
                waitMs = waitMs < 0 ? ms : std::min(waitMs, ms);
            }
            std::unique_ptr<bool[]> flags(new bool[fds.size()]);
            if (netWaitReadable(fds.data(), flags.get(), fds.size(), waitMs) < 0)
                break;
            if (flags[0])
                break;
            const Clock::time_point now = Clock::now();
            if (flags[1]) {
                const int fd = netTcpAccept(listenFd);
                if (fd >= 0 && clients.size() < kMaxClients)
                    clients.push_back({fd, {}, now});
                else
                    netCloseFd(fd);
            }
            // Clients accepted just now were not part of this wait.
            const size_t waited = fds.size() - 2;
            for (size_t i = 0; i < waited; ++i) {
                Client& c = clients[i];
                if (!flags[i + 2]) {
                    if (now - c.heard >= idleLimit) {
                        netCloseFd(c.fd);
                        c.fd = -1;
                    }
                    continue;
                }
                const long n = netTcpRecv(c.fd, chunk, sizeof chunk);
                bool keep = n > 0;
                if (keep) {
                    c.pending.append(chunk, static_cast<size_t>(n));
                    c.heard = now;
                }
                // Every complete request in the buffer is answered in order; a
                // request split over several reads waits for its zero byte.
                size_t zero;
                while (keep && (zero = c.pending.find('\0')) != std::string::npos) {
                    std::string reply;
                    try {
                        reply = answer(c.pending.substr(0, zero));
                    } catch (...) {
                        reply = refusal(kBadRequest, "internal error");
                    }
                    if (reply.size() > kMaxAnswer)
                        reply = refusal(kValueTooLong, "answer too long");
                    c.pending.erase(0, zero + 1);
                    keep = netTcpSendAll(c.fd, reply.c_str(), reply.size() + 1, kSendTimeoutMs);
                }
                if (c.pending.size() > kMaxRequest)
                    keep = false;
                if (!keep) {
                    netCloseFd(c.fd);
                    c.fd = -1;
                }
            }
            clients.erase(std::remove_if(clients.begin(), clients.end(),
                                         [](const Client& c) { return c.fd < 0; }),
                          clients.end());
        }
    } catch (...) {
    }
    for (const Client& c : clients)
        netCloseFd(c.fd);
}
