#include "framegenerator.h"

#include <charconv>
#include <cmath>
#include <vector>

namespace {

constexpr double kPi = 3.14159265358979323846;

void appendFixed(std::string& out, double value, int decimals)
{
    char text[64];
    // Adding zero turns -0.0 into 0.0.
    const auto r = std::to_chars(text, text + sizeof text, value + 0.0, std::chars_format::fixed,
                                 decimals);
    out.append(text, r.ptr);
}

void appendInt(std::string& out, long long value)
{
    char text[32];
    const auto r = std::to_chars(text, text + sizeof text, value);
    out.append(text, r.ptr);
}

// splitmix64: a small, well-mixed hash so that noise depends on the seed,
// the frame and the value's slot only.
uint64_t mix(uint64_t x)
{
    x += 0x9E3779B97F4A7C15ull;
    x = (x ^ (x >> 30)) * 0xBF58476D1CE4E5B9ull;
    x = (x ^ (x >> 27)) * 0x94D049BB133111EBull;
    return x ^ (x >> 31);
}

// Uniform in [-0.5, 0.5).
double noise(uint64_t seed, uint32_t frame, uint32_t slot)
{
    const uint64_t h = mix(seed ^ mix((uint64_t(frame) << 20) ^ slot));
    return double(h >> 11) / double(1ull << 53) - 0.5;
}

void appendLocation(std::string& out, double x, double y, double z)
{
    out += '[';
    appendFixed(out, x, 3);
    out += ' ';
    appendFixed(out, y, 3);
    out += ' ';
    appendFixed(out, z, 3);
    out += ']';
}

// Rotation about the vertical axis, row by row.
void appendRotation(std::string& out, double angle)
{
    const double c = std::cos(angle), s = std::sin(angle);
    const double m[9] = {c, -s, 0, s, c, 0, 0, 0, 1};
    out += '[';
    for (int i = 0; i < 9; ++i) {
        if (i)
            out += ' ';
        appendFixed(out, m[i], 6);
    }
    out += ']';
}

} // namespace

FrameGenerator::FrameGenerator(const GeneratorSettings& settings) : config(settings) {}

int FrameGenerator::pressedButton(int skywand, int buttonCount, double seconds)
{
    if (buttonCount <= 0)
        return -1;
    const long long step = static_cast<long long>(std::floor(seconds / kButtonSeconds));
    return static_cast<int>((step + skywand) % buttonCount);
}

void FrameGenerator::joystick(int skywand, double seconds, float& x, float& y)
{
    const double phase = std::fmod(seconds, kRadiusSeconds) / kRadiusSeconds; // 0 .. 1
    const double radius = phase < 0.5 ? 2.0 * phase : 2.0 - 2.0 * phase;
    const double angle = 2.0 * kPi * seconds / kCircleSeconds + skywand * kPi / 2.0;
    // Rounded to what the frame text carries.
    x = static_cast<float>(std::round(radius * std::cos(angle) * 1000.0) / 1000.0);
    y = static_cast<float>(std::round(radius * std::sin(angle) * 1000.0) / 1000.0);
}

std::string FrameGenerator::frame(uint32_t number, double secondsIn) const
{
    const long long ms = std::llround(secondsIn * 1000.0);
    const double t = double(ms) / 1000.0;
    const int skywands = config.skywands;
    const bool oneCount = config.format == SkywandFormat::OneCount;
    std::string out;
    out.reserve(1024 + 200 * static_cast<size_t>(skywands));

    out += "fr ";
    appendInt(out, number);
    out += "\nts ";
    appendInt(out, ms / 1000);
    out += '.';
    const int frac = static_cast<int>(ms % 1000);
    out += char('0' + frac / 100);
    out += char('0' + frac / 10 % 10);
    out += char('0' + frac % 10);

    // The decoder subtracts one-count Skywands and tools from the calibrated
    // body count, so they are added here to leave exactly kBodies bodies.
    out += "\n6dcal ";
    appendInt(out, kBodies + kTools + (oneCount ? skywands : 0));

    out += "\n6d ";
    appendInt(out, kBodies);
    for (int b = 0; b < kBodies; ++b) {
        const double w = 2.0 * kPi * (0.2 + 0.1 * b) * t;
        out += " [";
        appendInt(out, b);
        out += " 1.000]";
        appendLocation(out, -300.0 + 300.0 * b + 100.0 * std::cos(w), 1000.0 + 100.0 * std::sin(w),
                       500.0 + 20.0 * b + noise(config.seed, number, 10 + b));
        appendRotation(out, w);
    }

    out += oneCount ? "\n6df " : "\n6df2 ";
    appendInt(out, skywands);
    if (!oneCount) {
        out += ' ';
        appendInt(out, skywands);
    }
    for (int s = 0; s < skywands; ++s) {
        const double w = 2.0 * kPi * 0.15 * t + s;
        const int buttons = oneCount ? kOneCountButtons : kTwoCountButtons;
        const int pressed = pressedButton(s, buttons, t);
        out += " [";
        appendInt(out, s);
        out += " 1.000 ";
        if (oneCount) {
            appendInt(out, 1 << pressed);
            out += ']';
        } else {
            appendInt(out, kTwoCountButtons);
            out += " 2]";
        }
        appendLocation(out, 200.0 * s + 150.0 * std::sin(w), 1200.0 + 50.0 * std::cos(w),
                       300.0 + noise(config.seed, number, 100 + s));
        appendRotation(out, w);
        if (!oneCount) {
            float x = 0, y = 0;
            joystick(s, t, x, y);
            out += '[';
            appendInt(out, 1 << pressed);
            out += ' ';
            appendFixed(out, x, 3);
            out += ' ';
            appendFixed(out, y, 3);
            out += ']';
        }
    }

    out += "\n6dmt ";
    appendInt(out, kTools);
    for (int m = 0; m < kTools; ++m) {
        out += " [";
        appendInt(out, m);
        out += " 1.000 ";
        appendInt(out, (static_cast<long long>(t) % 2 == 0) ? 0 : 1);
        out += ']';
        appendLocation(out, 50.0 + noise(config.seed, number, 200), -50.0, 0.0);
        appendRotation(out, 0.0);
    }

    out += "\nglcal 1\ngl 1 [0 1.000 1 ";
    appendInt(out, kFingers);
    out += ']';
    const double grip = 0.5 + 0.5 * std::sin(2.0 * kPi * 0.25 * t);
    appendLocation(out, -400.0, 900.0 + 30.0 * std::sin(t), 200.0);
    appendRotation(out, 0.3 * std::sin(t));
    for (int f = 0; f < kFingers; ++f) {
        appendLocation(out, -400.0 + 20.0 * f, 980.0 - 40.0 * grip, 200.0 + noise(config.seed, number, 300 + f));
        appendRotation(out, grip * (0.2 + 0.1 * f));
        out += '[';
        for (int v = 0; v < 6; ++v) {
            if (v)
                out += ' ';
            appendFixed(out, (v % 2 ? 20.0 : 40.0) - 10.0 * f + 5.0 * grip * v, 3);
        }
        out += ']';
    }

    out += "\n3d ";
    appendInt(out, kMarkers);
    for (int k = 0; k < kMarkers; ++k) {
        out += " [";
        appendInt(out, 100 + k);
        out += " 1.000]";
        appendLocation(out, 100.0 * k + noise(config.seed, number, 400 + 3 * k),
                       500.0 + noise(config.seed, number, 401 + 3 * k),
                       250.0 + noise(config.seed, number, 402 + 3 * k));
    }
    out += '\n';
    return out;
}

FrameDamage damageFrame(std::string& text, double probability, uint64_t seed, uint32_t number)
{
    // A stream of draws of its own, apart from the measurement noise.
    uint64_t state = mix(seed ^ 0xDA3A6EDA3A6Eull) ^ mix(uint64_t(number) << 1);
    const auto draw = [&state] { return state = mix(state); };
    const auto below = [&draw](size_t n) { return n ? size_t(draw() % n) : 0; };
    const double u = double(draw() >> 11) / double(1ull << 53);
    if (!(u < probability) || text.empty())
        return FrameDamage::None;

    const auto kind = static_cast<FrameDamage>(1 + below(6));
    const auto isNumberChar = [](char c) {
        return (c >= '0' && c <= '9') || c == '.' || c == '-' || c == '+' || c == 'e' || c == 'x';
    };
    // The nth occurrence of a character matching pred, counted from a random
    // start; npos when there is none.
    const auto pick = [&](auto pred) {
        std::vector<size_t> at;
        for (size_t i = 0; i < text.size(); ++i)
            if (pred(text[i]))
                at.push_back(i);
        return at.empty() ? std::string::npos : at[below(at.size())];
    };

    switch (kind) {
    case FrameDamage::DroppedBracket: {
        const size_t at = pick([](char c) { return c == '[' || c == ']'; });
        if (at == std::string::npos)
            break;
        text.erase(at, 1);
        return kind;
    }
    case FrameDamage::JunkNumber: {
        size_t at = pick([](char c) { return c >= '0' && c <= '9'; });
        if (at == std::string::npos)
            break;
        size_t stop = at;
        while (at > 0 && isNumberChar(text[at - 1]))
            --at;
        while (stop < text.size() && isNumberChar(text[stop]))
            ++stop;
        static const char* const kJunk[] = {"#", "x1", "-.", "?!", "e5"};
        text.replace(at, stop - at, kJunk[below(5)]);
        return kind;
    }
    case FrameDamage::RaisedCount: {
        // The first number after the type word of a record line.
        std::vector<size_t> counts;
        for (size_t line = 0; line < text.size();) {
            static const char* const kRecordLines[] = {"6d ", "6df ", "6df2 ", "6dmt ", "gl ", "3d "};
            for (const char* prefix : kRecordLines)
                if (text.compare(line, std::char_traits<char>::length(prefix), prefix) == 0)
                    counts.push_back(line + std::char_traits<char>::length(prefix));
            const size_t next = text.find('\n', line);
            line = next == std::string::npos ? text.size() : next + 1;
        }
        if (counts.empty())
            break;
        const size_t at = counts[below(counts.size())];
        size_t stop = at;
        long long value = 0;
        while (stop < text.size() && text[stop] >= '0' && text[stop] <= '9' && stop - at < 9)
            value = value * 10 + (text[stop++] - '0');
        std::string raised;
        appendInt(raised, value + 1 + static_cast<long long>(below(3)));
        text.replace(at, stop - at, raised);
        return kind;
    }
    case FrameDamage::Truncation:
        text.resize(below(text.size()));
        return kind;
    case FrameDamage::StrayNul:
        text.insert(below(text.size() + 1), 1, '\0');
        return kind;
    case FrameDamage::ByteBurst: {
        std::string burst(1 + below(64), '\0');
        for (char& c : burst)
            c = static_cast<char>(draw() & 0xFF);
        text.insert(below(text.size() + 1), burst);
        return kind;
    }
    case FrameDamage::None:
        break;
    }
    // Nothing of the chosen kind to break: a burst always applies.
    text.insert(below(text.size() + 1), 1, '\x7f');
    return FrameDamage::ByteBurst;
}
