#pragma once

#include "errorstate.h"

#include <cstdint>
#include <string>

struct SocketHandle;

// The TCP command connection to the controller: requests and answers of the
// controller's text protocol, strictly alternating, each ended by a zero
// byte. Keeps the outcome of the last exchange, the controller's last error
// code and text, and the last message fetched. One thread at a time.
class CommandChannel
{
public:
    // The answer buffer; an answer with its zero byte must stay below it.
    static constexpr int kAnswerSize = 200;
    static constexpr int kMaxRequestLength = 200;

    // A closed channel: every request fails with NetError until open().
    explicit CommandChannel(int32_t serverTimeoutUs);
    ~CommandChannel();

    CommandChannel(const CommandChannel&) = delete;
    CommandChannel& operator=(const CommandChannel&) = delete;

    // Resolves host and connects to port. False, with the channel closed,
    // when the name cannot be resolved or the connection fails.
    bool open(const std::string& host, uint16_t port);
    void close();
    bool isClosed() const;
    // Outcome of the last exchange.
    ErrorState serverError() const;

    // Each call sends one request and reads one answer up to its zero byte,
    // within the server timeout for the send and again for the whole answer;
    // false on failure, with serverError() and the controller's error code
    // and text telling why.
    bool sendCommand(const std::string& command);
    bool setParam(const std::string& category, const std::string& name, const std::string& value);
    bool setParam(const std::string& parameter);
    bool getParam(const std::string& category, const std::string& name, std::string& value);
    bool getParam(const std::string& parameter, std::string& value);
    // Fetches one queued controller message into the message fields; false
    // when none is pending ("kestrel ok", no error), the controller refused,
    // the exchange failed, or the answer was no message (ParseError).
    bool getMessage();
    // False when the last answer carried no error (code 0).
    bool getLastServerErrorCode(int32_t& code) const;
    bool getLastServerErrorText(std::string& text) const;
    std::string getMessageWord1() const;
    std::string getMessageWord2() const;
    uint32_t getMessageNumber1() const;
    uint32_t getMessageNumber2() const;
    std::string getMessageText() const;

    // The answer handling of the requests above, public so that tests and
    // the fuzzer reach the same code. Answers are zero-terminated texts.

    // Records the error code and text of a "kestrel err" answer; true only
    // for "kestrel ok" or a null answer (which resets them to no error).
    bool checkResponse(const char* answer);
    // Compares the echoed parameter with the requested one (runs of spaces
    // count as one, leading zeros of numbers are ignored, a number made of
    // zeros keeps one) and returns the start of the value, empty when the
    // echo ends the answer; null on a mismatch. Never reads past the zero.
    static const char* matchEcho(const char* answer, const char* requested);
    // The next word after any spaces; the result is the space after it or
    // the end of the text, null when no word is left.
    static const char* readWord(const char* position, std::string& word);
    // The text between the next two double quotes; the result is just past
    // the second one, null (text unchanged) when either is missing.
    static const char* readQuoted(const char* position, std::string& text);
    // Interprets an answer to "kestrel get"; see getParam.
    bool parseGetAnswer(const char* answer, const std::string& parameter, std::string& value);
    // Interprets an answer to "kestrel getmsg"; see getMessage.
    bool parseMessageAnswer(const char* answer);

private:
    // How one exchange ended; only after Answered does the answer buffer hold
    // more than the empty text.
    enum class Exchange
    {
        Answered,       // the answer up to its zero byte is in the buffer
        RequestTooLong, // over kMaxRequestLength characters; nothing was sent
        NotConnected,   // never opened, or closed by the controller before
        SendFailed,     // the request did not go out whole within the server timeout
        Timeout,        // the answer was not whole within the server timeout
        PeerClosed,     // the controller closed the connection; the channel is closed now
        ReceiveFailed,  // waiting for or reading the answer failed
        AnswerTooLong,  // no zero byte within kAnswerSize - 1 bytes
    };

    Exchange exchange(const char* request, char* answer);
    Exchange closedByPeer();
    void setServerError(ErrorState state);

    SocketHandle* connection = nullptr;
    int32_t serverTimeoutUs = 0;
    ErrorState error = ErrorState::NoError;
    int32_t lastServerErrorCode = 0;
    std::string lastServerErrorText = "no error";
    std::string messageWord1;
    std::string messageWord2;
    uint32_t messageNumber1 = 0;
    uint32_t messageNumber2 = 0;
    std::string messageText;
};
