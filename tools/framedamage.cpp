#include "framedamage.h"

#include "splitmix.h"

#include <vector>

namespace {

// A stream of draws of its own, apart from the measurement noise.
class Draws
{
public:
    Draws(uint64_t seed, uint32_t number)
        : state(splitMix(seed ^ 0xDA3A6EDA3A6Eull) ^ splitMix(uint64_t(number) << 1))
    {
    }
    uint64_t next() { return state = splitMix(state); }
    // Uniform in 0 .. n - 1; 0 without a draw when n is 0.
    size_t below(size_t n) { return n ? size_t(next() % n) : 0; }
    // Uniform in [0, 1).
    double unit() { return double(next() >> 11) / double(1ull << 53); }

private:
    uint64_t state;
};

// A random one of the positions whose character matches pred; npos when
// there is none.
template <typename Pred> size_t pick(const std::string& text, Draws& draws, Pred pred)
{
    std::vector<size_t> at;
    for (size_t i = 0; i < text.size(); ++i)
        if (pred(text[i]))
            at.push_back(i);
    return at.empty() ? std::string::npos : at[draws.below(at.size())];
}

bool dropBracket(std::string& text, Draws& draws)
{
    const size_t at = pick(text, draws, [](char c) { return c == '[' || c == ']'; });
    if (at == std::string::npos)
        return false;
    text.erase(at, 1);
    return true;
}

bool junkNumber(std::string& text, Draws& draws)
{
    const auto isNumberChar = [](char c) {
        return (c >= '0' && c <= '9') || c == '.' || c == '-' || c == '+' || c == 'e' || c == 'x';
    };
    size_t at = pick(text, draws, [](char c) { return c >= '0' && c <= '9'; });
    if (at == std::string::npos)
        return false;
    size_t stop = at;
    while (at > 0 && isNumberChar(text[at - 1]))
        --at;
    while (stop < text.size() && isNumberChar(text[stop]))
        ++stop;
    static const char* const kJunk[] = {"#", "x1", "-.", "?!", "e5"};
    text.replace(at, stop - at, kJunk[draws.below(5)]);
    return true;
}

// Raises the first number after the type word of a random record line.
bool raiseCount(std::string& text, Draws& draws)
{
    static const char* const kRecordLines[] = {"6d ", "6df ", "6df2 ", "6dmt ", "gl ", "3d "};
    std::vector<size_t> counts;
    for (size_t line = 0; line < text.size();) {
        for (const char* prefix : kRecordLines)
            if (text.compare(line, std::char_traits<char>::length(prefix), prefix) == 0)
                counts.push_back(line + std::char_traits<char>::length(prefix));
        const size_t next = text.find('\n', line);
        line = next == std::string::npos ? text.size() : next + 1;
    }
    if (counts.empty())
        return false;
    const size_t at = counts[draws.below(counts.size())];
    size_t stop = at;
    long long value = 0;
    while (stop < text.size() && text[stop] >= '0' && text[stop] <= '9' && stop - at < 9)
        value = value * 10 + (text[stop++] - '0');
    text.replace(at, stop - at, std::to_string(value + 1 + static_cast<long long>(draws.below(3))));
    return true;
}

void insertBurst(std::string& text, Draws& draws)
{
    std::string burst(1 + draws.below(64), '\0');
    for (char& c : burst)
        c = static_cast<char>(draws.next() & 0xFF);
    text.insert(draws.below(text.size() + 1), burst);
}

// False when the text holds nothing of that kind to break.
bool apply(FrameDamage kind, std::string& text, Draws& draws)
{
    switch (kind) {
    case FrameDamage::DroppedBracket:
        return dropBracket(text, draws);
    case FrameDamage::JunkNumber:
        return junkNumber(text, draws);
    case FrameDamage::RaisedCount:
        return raiseCount(text, draws);
    case FrameDamage::Truncation:
        text.resize(draws.below(text.size()));
        return true;
    case FrameDamage::StrayNul:
        text.insert(draws.below(text.size() + 1), 1, '\0');
        return true;
    case FrameDamage::ByteBurst:
        insertBurst(text, draws);
        return true;
    case FrameDamage::None:
        break;
    }
    return false;
}

} // namespace

FrameDamage damageFrame(std::string& text, double probability, uint64_t seed, uint32_t number)
{
    Draws draws(seed, number);
    if (!(draws.unit() < probability) || text.empty())
        return FrameDamage::None;
    const auto kind = static_cast<FrameDamage>(1 + draws.below(6));
    if (apply(kind, text, draws))
        return kind;
    // Nothing of the chosen kind to break: a burst always applies.
    text.insert(draws.below(text.size() + 1), 1, '\x7f');
    return FrameDamage::ByteBurst;
}
