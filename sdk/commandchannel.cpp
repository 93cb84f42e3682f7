#include "commandchannel.h"

#include "sockets.h"
#include "textreaders.h"

#include <chrono>
#include <cstring>

namespace {

constexpr char kOk[] = "kestrel ok";
constexpr char kErrPrefix[] = "kestrel err ";
constexpr char kSetPrefix[] = "kestrel set ";
constexpr char kMsgPrefix[] = "kestrel msg ";
constexpr int32_t kUnreadableErrorCode = -1111;

bool beginsWith(const char* text, const char* prefix)
{
    return std::strncmp(text, prefix, std::strlen(prefix)) == 0;
}

bool isDigit(char c)
{
    return c >= '0' && c <= '9';
}

// A zero counts as a leading zero only when another digit follows it, so
// that a number made of zeros alone keeps its last zero and still matches
// the controller's "0".
const char* skipLeadingZeros(const char* text)
{
    while (*text == '0' && isDigit(text[1]))
        ++text;
    return text;
}

// A zero byte inside a request would cut it short on the wire and make the
// controller act on a different request than the one asked for.
bool holdsZeroByte(const std::string& text)
{
    return text.find('\0') != std::string::npos;
}

int32_t microsecondsUntil(std::chrono::steady_clock::time_point deadline)
{
    const auto left = std::chrono::duration_cast<std::chrono::microseconds>(
                          deadline - std::chrono::steady_clock::now())
                          .count();
    return left > 0 ? static_cast<int32_t>(left) : 0;
}

// Upper bound on the bytes thrown away before one request, so that a peer
// that never stops sending cannot keep the caller busy.
constexpr int kMaxStaleReads = 64;

} // namespace

CommandChannel::CommandChannel(int32_t serverTimeoutUs) : serverTimeoutUs(serverTimeoutUs) {}

CommandChannel::~CommandChannel()
{
    close();
}

bool CommandChannel::open(const std::string& host, uint16_t port)
{
    close();
    const uint32_t address = resolve(host.c_str());
    if (address == 0 || tcpConnect(&connection, address, port) != SocketResult::kOk) {
        connection = nullptr;
        return false;
    }
    return true;
}

void CommandChannel::close()
{
    tcpClose(connection);
    connection = nullptr;
}

bool CommandChannel::isClosed() const
{
    return connection == nullptr;
}

ErrorState CommandChannel::serverError() const
{
    return error;
}

void CommandChannel::setServerError(ErrorState state)
{
    error = state;
}

CommandChannel::Exchange CommandChannel::exchange(const char* request, char* answer)
{
    answer[0] = '\0';
    if (std::strlen(request) > static_cast<size_t>(kMaxRequestLength)) {
        setServerError(ErrorState::NetError);
        return Exchange::RequestTooLong;
    }
    if (!connection) {
        setServerError(ErrorState::NetError);
        return Exchange::NotConnected;
    }

    // An answer that came after its request timed out, or the rest of one
    // that did not fit, would otherwise be taken as the answer to this
    // request. Requests and answers alternate, so nothing waiting now is
    // owed to us.
    int received = SocketResult::kOk;
    for (int i = 0; i < kMaxStaleReads; ++i) {
        received = tcpReceive(connection, answer, kAnswerSize, 0);
        if (received < 0 && received != SocketResult::kTooLong)
            break;
    }
    answer[0] = '\0';
    if (received == SocketResult::kPeerClosed)
        return closedByPeer();

    const int32_t length = static_cast<int32_t>(std::strlen(request)) + 1;
    if (tcpSend(connection, request, length, serverTimeoutUs) != SocketResult::kOk) {
        setServerError(ErrorState::NetError);
        return Exchange::SendFailed;
    }

    // TCP keeps no message boundaries: the answer may arrive in parts, and it
    // is whole at its zero byte. All parts together get the server timeout,
    // and with their zero byte they must stay below the answer size.
    const auto deadline =
        std::chrono::steady_clock::now() + std::chrono::microseconds(serverTimeoutUs);
    int32_t total = 0;
    for (;;) {
        received = tcpReceive(connection, answer + total, kAnswerSize - total,
                              microsecondsUntil(deadline));
        if (received < 0)
            break;
        const bool whole =
            std::memchr(answer + total, '\0', static_cast<size_t>(received)) != nullptr;
        total += received;
        if (whole) {
            setServerError(ErrorState::NoError);
            return Exchange::Answered;
        }
        if (total >= kAnswerSize - 1) {
            received = SocketResult::kTooLong;
            break;
        }
    }
    answer[0] = '\0';
    switch (received) {
    case SocketResult::kPeerClosed:
        return closedByPeer();
    case SocketResult::kTimeout:
        setServerError(ErrorState::Timeout);
        return Exchange::Timeout;
    case SocketResult::kTooLong:
        setServerError(ErrorState::NetError);
        return Exchange::AnswerTooLong;
    default:
        setServerError(ErrorState::NetError);
        return Exchange::ReceiveFailed;
    }
}

CommandChannel::Exchange CommandChannel::closedByPeer()
{
    // The controller is gone for good: drop the handle so that every later
    // call fails at once. A closed connection is a network failure, not the
    // outcome of whatever exchange came before.
    close();
    setServerError(ErrorState::NetError);
    return Exchange::PeerClosed;
}

bool CommandChannel::checkResponse(const char* answer)
{
    if (!answer || std::strcmp(answer, kOk) == 0) {
        lastServerErrorCode = 0;
        lastServerErrorText = "no error";
        return true;
    }
    if (!beginsWith(answer, kErrPrefix))
        return false;

    const char* position = answer + std::strlen(kErrPrefix);
    const char* end = position + std::strlen(position);
    int32_t code = 0;
    const char* afterCode = readInt(position, end, code);
    std::string text;
    if (!afterCode || !readQuoted(afterCode, text)) {
        lastServerErrorCode = kUnreadableErrorCode;
        lastServerErrorText = "internal SDK error";
        setServerError(ErrorState::ParseError);
        return false;
    }
    lastServerErrorCode = code;
    lastServerErrorText = text;
    return false;
}

const char* CommandChannel::matchEcho(const char* answer, const char* requested)
{
    if (!answer || !requested)
        return nullptr;
    bool previousWasDigit = false;
    for (;;) {
        if (*requested == '\0') {
            // The echo must end here as well: a following character other
            // than a space would mean a longer name (ch1 against ch12). An
            // echo that ends without a value gives an empty value.
            if (*answer == '\0')
                return answer;
            if (*answer != ' ')
                return nullptr;
            while (*answer == ' ')
                ++answer;
            return answer;
        }
        if (!previousWasDigit) {
            requested = skipLeadingZeros(requested);
            answer = skipLeadingZeros(answer);
        }
        if (*requested != *answer)
            return nullptr;
        if (*requested == ' ') {
            while (*requested == ' ')
                ++requested;
            while (*answer == ' ')
                ++answer;
            // Trailing spaces in the request end the name just as its end does.
            if (*requested == '\0')
                return answer;
            previousWasDigit = false;
            continue;
        }
        previousWasDigit = isDigit(*requested);
        ++requested;
        ++answer;
    }
}

const char* CommandChannel::readWord(const char* position, std::string& word)
{
    if (!position)
        return nullptr;
    while (*position == ' ')
        ++position;
    const char* space = std::strchr(position, ' ');
    if (space) {
        word.assign(position, space);
        return space;
    }
    const size_t rest = std::strlen(position);
    if (rest == 0)
        return nullptr;
    word.assign(position, rest);
    return position + rest;
}

const char* CommandChannel::readQuoted(const char* position, std::string& text)
{
    if (!position)
        return nullptr;
    const char* open = std::strchr(position, '"');
    if (!open)
        return nullptr;
    const char* close = std::strchr(open + 1, '"');
    if (!close)
        return nullptr;
    text.assign(open + 1, close);
    return close + 1;
}

bool CommandChannel::parseGetAnswer(const char* answer, const std::string& parameter,
                                    std::string& value)
{
    value.clear();
    if (!answer)
        return false;
    if (!beginsWith(answer, kSetPrefix))
        return checkResponse(answer);
    const char* start = matchEcho(answer + std::strlen(kSetPrefix), parameter.c_str());
    if (!start) {
        setServerError(ErrorState::ParseError);
        return false;
    }
    value.assign(start);
    return true;
}

bool CommandChannel::parseMessageAnswer(const char* answer)
{
    if (!answer)
        return false;
    if (!beginsWith(answer, kMsgPrefix)) {
        // "kestrel ok" (nothing pending) and an error answer are answers to
        // a getmsg; anything else would pass for an empty queue.
        if (std::strcmp(answer, kOk) == 0 || beginsWith(answer, kErrPrefix))
            checkResponse(answer);
        else
            setServerError(ErrorState::ParseError);
        return false;
    }

    // The message is read into locals and stored only when complete, so a
    // broken answer never leaves a mix of two messages in the fields.
    const char* position = answer + std::strlen(kMsgPrefix);
    const char* end = position + std::strlen(position);
    std::string word1;
    std::string word2;
    uint32_t number1 = 0;
    uint32_t number2 = 0;
    std::string text;
    position = readWord(position, word1);
    position = position ? readWord(position, word2) : nullptr;
    position = position ? readUnsigned(position, end, number1) : nullptr;
    position = position ? readUnsigned(position, end, number2) : nullptr;
    position = position ? readQuoted(position, text) : nullptr;
    if (!position) {
        setServerError(ErrorState::ParseError);
        return false;
    }
    messageWord1 = word1;
    messageWord2 = word2;
    messageNumber1 = number1;
    messageNumber2 = number2;
    messageText = text;
    checkResponse(nullptr);
    return true;
}

bool CommandChannel::sendCommand(const std::string& command)
{
    checkResponse(nullptr);
    if (holdsZeroByte(command)) {
        setServerError(ErrorState::NetError);
        return false;
    }
    const std::string request = "kestrel " + command;
    char answer[kAnswerSize];
    if (exchange(request.c_str(), answer) != Exchange::Answered)
        return false;
    return checkResponse(answer);
}

bool CommandChannel::setParam(const std::string& category, const std::string& name,
                              const std::string& value)
{
    return sendCommand("set " + category + " " + name + " " + value);
}

bool CommandChannel::setParam(const std::string& parameter)
{
    return sendCommand("set " + parameter);
}

bool CommandChannel::getParam(const std::string& category, const std::string& name,
                              std::string& value)
{
    return getParam(category + " " + name, value);
}

bool CommandChannel::getParam(const std::string& parameter, std::string& value)
{
    value.clear();
    checkResponse(nullptr);
    if (holdsZeroByte(parameter)) {
        setServerError(ErrorState::NetError);
        return false;
    }
    const std::string request = "kestrel get " + parameter;
    char answer[kAnswerSize];
    if (exchange(request.c_str(), answer) != Exchange::Answered)
        return false;
    return parseGetAnswer(answer, parameter, value);
}

bool CommandChannel::getMessage()
{
    checkResponse(nullptr);
    char answer[kAnswerSize];
    if (exchange("kestrel getmsg", answer) != Exchange::Answered)
        return false;
    return parseMessageAnswer(answer);
}

bool CommandChannel::getLastServerErrorCode(int32_t& code) const
{
    if (lastServerErrorCode == 0)
        return false;
    code = lastServerErrorCode;
    return true;
}

bool CommandChannel::getLastServerErrorText(std::string& text) const
{
    if (lastServerErrorCode == 0)
        return false;
    text = lastServerErrorText;
    return true;
}

std::string CommandChannel::getMessageWord1() const
{
    return messageWord1;
}
std::string CommandChannel::getMessageWord2() const
{
    return messageWord2;
}
uint32_t CommandChannel::getMessageNumber1() const
{
    return messageNumber1;
}
uint32_t CommandChannel::getMessageNumber2() const
{
    return messageNumber2;
}
std::string CommandChannel::getMessageText() const
{
    return messageText;
}
