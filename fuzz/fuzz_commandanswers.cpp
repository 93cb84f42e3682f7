// The command channel's answer handling as the channel runs it: an answer is
// a zero-terminated text of fewer than CommandChannel::kAnswerSize bytes. The
// input is split on the first byte 0x01: the answer before it, the requested
// parameter after it (zero bytes removed, as getParam refuses them). Every
// exchange runs on one channel so the error state carries over between calls.

#include "commandchannel.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

namespace {

CommandChannel& channel()
{
    // Never opened, so nothing here touches the network.
    static CommandChannel instance(1000);
    return instance;
}

// An exactly sized zero-terminated copy, so a read past the zero is caught.
std::unique_ptr<char[]> terminated(const std::string& text)
{
    std::unique_ptr<char[]> copy(new char[text.size() + 1]);
    std::memcpy(copy.get(), text.data(), text.size());
    copy[text.size()] = '\0';
    return copy;
}

bool inside(const char* p, const char* begin)
{
    return p >= begin && p <= begin + std::strlen(begin);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const char* bytes = reinterpret_cast<const char*>(data);
    const void* split = std::memchr(bytes, 0x01, size);
    const size_t answerLength =
        split ? static_cast<size_t>(static_cast<const char*>(split) - bytes) : size;
    std::string answerText(bytes, answerLength);
    answerText = answerText.substr(0, std::strlen(answerText.c_str()));
    if (answerText.size() >= static_cast<size_t>(CommandChannel::kAnswerSize))
        answerText.resize(CommandChannel::kAnswerSize - 1);
    std::string parameter =
        split ? std::string(bytes + answerLength + 1, size - answerLength - 1) : "";
    parameter.erase(std::remove(parameter.begin(), parameter.end(), '\0'), parameter.end());

    const auto answer = terminated(answerText);
    const auto requested = terminated(parameter);
    CommandChannel& s = channel();

    s.checkResponse(answer.get());
    int32_t code = 0;
    std::string text;
    s.getLastServerErrorCode(code);
    s.getLastServerErrorText(text);

    const char* value = CommandChannel::matchEcho(answer.get(), requested.get());
    if (value && !inside(value, answer.get()))
        std::abort();

    std::string word;
    const char* p = answer.get();
    for (int i = 0; i < 256 && p; ++i) {
        const char* next = CommandChannel::readWord(p, word);
        if (next && (!inside(next, answer.get()) || next <= p))
            std::abort();
        p = next;
    }
    p = answer.get();
    for (int i = 0; i < 256 && p; ++i) {
        const char* next = CommandChannel::readQuoted(p, text);
        if (next && !inside(next, answer.get()))
            std::abort();
        p = next;
    }

    std::string got = "unchanged";
    const bool answered = s.parseGetAnswer(answer.get(), parameter, got);
    if (!answered && !got.empty() && std::strncmp(answer.get(), "kestrel set ", 12) == 0)
        std::abort(); // a failed get must not hand out a value
    s.parseMessageAnswer(answer.get());
    s.getMessageWord1();
    s.getMessageText();
    return 0;
}
