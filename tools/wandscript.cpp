#include "wandscript.h"

#include "splitmix.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <vector>

namespace {

constexpr double kPi = 3.14159265358979323846;

// The engine's timings (check/skywandcheck.h) and the slack added to them.
constexpr double kSlack = 0.5;
constexpr double kPressLength = 0.2; // a press, held
constexpr double kSettle = 0.3;      // the engine waits this after a release
constexpr double kPressWait = 10.0;  // the engine's wait for a press
constexpr double kRestTo = 2.5;      // the rest step's end after its prompt
constexpr double kTurnSeconds = 3.6; // one turn of the circle, when the rate allows
constexpr double kHoldTo = 5.5;      // the hold step's end after its prompt
constexpr double kEdgeDeg = 0.02;    // how near a sector's edge the circle samples

// Normal quantiles at (k + 0.5) / 16 for k = 8 .. 15: a block of sixteen
// frames holds each of them once with either sign, shuffled, so that any
// stretch of frames has nearly the standard deviation asked for.
constexpr std::array<double, 8> kQuantiles = {0.0784, 0.2372, 0.4013, 0.5791,
                                              0.7764, 1.0100, 1.3180, 1.8627};
constexpr uint64_t kBlock = 16;

bool number(const std::string& text, double& value)
{
    if (text.empty() || text.find_first_of(" \t\n") != std::string::npos)
        return false;
    char* end = nullptr;
    errno = 0;
    value = std::strtod(text.c_str(), &end);
    return errno == 0 && end == text.c_str() + text.size() && std::isfinite(value);
}

bool whole(const std::string& text, int64_t low, int64_t high, int64_t& value)
{
    if (text.empty() || text.size() > 18 ||
        text.find_first_not_of("0123456789") != std::string::npos)
        return false;
    value = std::strtoll(text.c_str(), nullptr, 10);
    return value >= low && value <= high;
}

std::vector<std::string> fields(const std::string& text)
{
    std::vector<std::string> out(1);
    for (const char c : text) {
        if (c == ':')
            out.emplace_back();
        else
            out.back() += c;
    }
    return out;
}

void appendFixed(std::string& out, double value, int decimals)
{
    char text[64];
    std::snprintf(text, sizeof text, "%.*f", decimals, value + 0.0);
    out += text;
}

} // namespace

bool WandScript::parse(const std::string& text, std::string& error)
{
    *this = WandScript();
    const std::vector<std::string> f = fields(text);
    const std::string& name = f[0];
    const auto arity = [&](size_t n, const char* form) {
        if (f.size() == n + 1)
            return true;
        error = "\"" + name + "\" takes the form " + form;
        return false;
    };
    const auto buttonAt = [&](size_t i, int& into) {
        int64_t value = 0;
        if (whole(f[i], 1, kButtons, value)) {
            into = int(value);
            return true;
        }
        error =
            "a button is a number from 1 to " + std::to_string(kButtons) + ", not \"" + f[i] + "\"";
        return false;
    };
    const auto numberAt = [&](size_t i, double low, double high, double& into) {
        if (number(f[i], into) && into >= low && into <= high)
            return true;
        char range[96];
        std::snprintf(range, sizeof range, "a number from %g to %g", low, high);
        error = "\"" + name + "\" needs " + range + ", not \"" + f[i] + "\"";
        return false;
    };
    if (name == "pass" || name == "square") {
        fault = name == "pass" ? Fault::None : Fault::Square;
        return arity(0, name.c_str());
    }
    if (name == "stuck" || name == "dead" || name == "chatter") {
        fault = name == "stuck" ? Fault::Stuck : name == "dead" ? Fault::Dead : Fault::Chatter;
        return arity(1, (name + ":K").c_str()) && buttonAt(1, button);
    }
    if (name == "crossed") {
        fault = Fault::Crossed;
        if (!arity(2, "crossed:K:J") || !buttonAt(1, button) || !buttonAt(2, other))
            return false;
        if (button == other) {
            error = "\"crossed\" needs two different buttons";
            return false;
        }
        return true;
    }
    if (name == "drift") {
        // Off centre, but well inside the circle step's radius of 0.5.
        fault = Fault::Drift;
        return arity(2, "drift:DX:DY") && numberAt(1, -0.3, 0.3, x) && numberAt(2, -0.3, 0.3, y);
    }
    if (name == "noise") {
        fault = Fault::Noise;
        return arity(1, "noise:S") && numberAt(1, 0.0, 0.05, amount);
    }
    if (name == "ellipse") {
        fault = Fault::Ellipse;
        return arity(1, "ellipse:E") && numberAt(1, 0.5, 1.5, amount);
    }
    if (name == "posenoise") {
        fault = Fault::PoseNoise;
        return arity(1, "posenoise:MM") && numberAt(1, 0.0, 100.0, amount);
    }
    if (name == "dropouts") {
        fault = Fault::Dropouts;
        if (!arity(1, "dropouts:N"))
            return false;
        if (whole(f[1], 1, 1000000, count))
            return true;
        error = "\"dropouts\" needs a whole number of frames from 1, not \"" + f[1] + "\"";
        return false;
    }
    error = "unknown script \"" + name +
            "\"; use pass, stuck:K, dead:K, crossed:K:J, chatter:K, drift:DX:DY, noise:S, square, "
            "ellipse:E, dropouts:N or posenoise:MM";
    return false;
}

WandPlayer::WandPlayer(const WandScript& s, double r, uint64_t sd)
    : script(s), rate(std::max(r, kMinRate)), seed(sd)
{
    // Buttons: each pressed half a second after the engine prompts for it;
    // the engine prompts the next one when the press was released and
    // settled, or once its wait for a press ran out.
    double prompt = 0.0;
    for (int b = 0; b < WandScript::kButtons; ++b) {
        const bool faulty = script.button == b + 1;
        if (faulty && script.fault == WandScript::Fault::Stuck)
            continue; // never prompted: the engine skips a button held from the start
        Press& p = presses[b];
        p.played = true;
        const double press = prompt + kSlack;
        p.press = at(press);
        p.release = at(press + kPressLength);
        double lastRelease = press + kPressLength;
        if (faulty && script.fault == WandScript::Fault::Chatter) {
            // Released for exactly one frame, far less than the engine's gap.
            p.repress = p.release + 1;
            p.secondRelease = at(press + 2.0 * kPressLength);
            lastRelease = time(p.secondRelease);
        }
        if (faulty && script.fault == WandScript::Fault::Dead)
            prompt += kPressWait; // the engine gives up on it
        else
            prompt = lastRelease + kSettle;
    }
    // Rest from the last release on: the rest step starts at prompt and ends
    // kRestTo later; the circle begins half a second after that.
    perSector = std::max<uint64_t>(3, uint64_t(rate * kTurnSeconds / 72.0));
    circleStart = at(prompt + kRestTo + kSlack);
    // Two turns and one more sample reach 720 degrees; the engine then
    // starts the hold, and the turning goes on for the slack.
    const uint64_t sweepEnd = circleStart + 2 * 72 * perSector;
    circleEnd = sweepEnd + 1 + at(kSlack);
    const double hold = time(sweepEnd);
    dropFrom = at(hold + 2.0 * kSlack);
    dropWindow = at(hold + kHoldTo - kSlack) - dropFrom;
    total = at(hold + kHoldTo + 2.0 * kSlack) + 1;
}

int64_t WandPlayer::maxDropouts(double rate)
{
    return int64_t(std::floor(std::max(rate, kMinRate) * (kHoldTo - 3.0 * kSlack) / 2.0));
}

double WandPlayer::gateRadius(const WandScript& script, double angle)
{
    const double c = std::cos(angle), s = std::sin(angle);
    switch (script.fault) {
    case WandScript::Fault::Square:
        return 1.0 / std::max(std::fabs(c), std::fabs(s));
    case WandScript::Fault::Ellipse:
        return 1.0 / std::sqrt(c * c + s * s / (script.amount * script.amount));
    default:
        return 1.0;
    }
}

uint64_t WandPlayer::at(double seconds) const
{
    return uint64_t(std::ceil(seconds * rate - 1e-9));
}

uint32_t WandPlayer::buttonBits(uint64_t index) const
{
    uint32_t bits = 0;
    for (int b = 0; b < WandScript::kButtons; ++b) {
        const Press& p = presses[b];
        const bool faulty = script.button == b + 1;
        if (faulty && script.fault == WandScript::Fault::Stuck) {
            bits |= 1u << b;
            continue;
        }
        if (!p.played || (faulty && script.fault == WandScript::Fault::Dead))
            continue;
        const bool down = (index >= p.press && index < p.release) ||
                          (index >= p.repress && index < p.secondRelease);
        if (!down)
            continue;
        int shown = b;
        if (script.fault == WandScript::Fault::Crossed) {
            if (b + 1 == script.button)
                shown = script.other - 1;
            else if (b + 1 == script.other)
                shown = script.button - 1;
        }
        bits |= 1u << shown;
    }
    return bits;
}

// One value of a shuffled block of stratified normal values, of mean square 1
// over the block. slot keeps the axes apart.
double WandPlayer::noise(uint64_t index, uint32_t slot) const
{
    static const double kScale = [] {
        double sum = 0.0;
        for (const double q : kQuantiles)
            sum += q * q;
        return 1.0 / std::sqrt(sum / double(kQuantiles.size()));
    }();
    std::array<uint8_t, kBlock> order;
    for (uint8_t i = 0; i < kBlock; ++i)
        order[i] = i;
    uint64_t h = splitMix(seed ^ splitMix((index / kBlock) * 64 + slot));
    for (size_t i = kBlock - 1; i > 0; --i) {
        h = splitMix(h);
        std::swap(order[i], order[h % (i + 1)]);
    }
    const uint8_t k = order[index % kBlock];
    const double value = kQuantiles[k % kQuantiles.size()] * kScale;
    return k < kQuantiles.size() ? value : -value;
}

void WandPlayer::joystick(uint64_t index, double& x, double& y) const
{
    x = 0.0;
    y = 0.0;
    if (index >= circleStart && index < circleEnd) {
        // Samples hug both edges of every 5 degree sector, so the largest
        // radius the engine sees in a sector is the gate's own.
        const uint64_t j = index - circleStart;
        const uint64_t sector = (j / perSector) % 72;
        const double along = double(j % perSector) / double(perSector - 1);
        const double deg = 5.0 * double(sector) + kEdgeDeg + (5.0 - 2.0 * kEdgeDeg) * along;
        const double angle = deg * kPi / 180.0;
        const double r = gateRadius(script, angle);
        x = r * std::cos(angle);
        y = r * std::sin(angle);
    } else if (script.fault == WandScript::Fault::Drift) {
        x = script.x;
        y = script.y;
    }
    if (script.fault == WandScript::Fault::Noise) {
        x += script.amount * noise(index, 0);
        y += script.amount * noise(index, 1);
    }
}

bool WandPlayer::dropped(uint64_t index) const
{
    if (script.fault != WandScript::Fault::Dropouts || index < dropFrom ||
        index >= dropFrom + dropWindow || dropWindow == 0)
        return false;
    // count isolated drops spread evenly over the window.
    const uint64_t i = index - dropFrom;
    const uint64_t n = uint64_t(std::min<int64_t>(script.count, int64_t(dropWindow / 2)));
    return (i * n) % dropWindow < n;
}

bool WandPlayer::frame(uint64_t index, std::string& out) const
{
    if (dropped(index))
        return false;
    out.clear();
    out += "fr " + std::to_string(uint32_t(index + 1)) + "\nts ";
    appendFixed(out, time(index), 3);
    out += "\n6df2 1 1 [0 1.000 " + std::to_string(WandScript::kButtons) + " 2][";
    double location[3] = {100.0, 1200.0, 300.0};
    if (script.fault == WandScript::Fault::PoseNoise) {
        // Root mean square distance MM: MM / sqrt(3) on each axis.
        for (uint32_t a = 0; a < 3; ++a)
            location[a] += script.amount / std::sqrt(3.0) * noise(index, 2 + a);
    }
    for (int a = 0; a < 3; ++a) {
        if (a)
            out += ' ';
        appendFixed(out, location[a], 4);
    }
    out += "][1.000000 0.000000 0.000000 0.000000 1.000000 0.000000 0.000000 0.000000 1.000000][";
    double x = 0.0, y = 0.0;
    joystick(index, x, y);
    out += std::to_string(buttonBits(index)) + ' ';
    appendFixed(out, x, 6);
    out += ' ';
    appendFixed(out, y, 6);
    out += "]\n";
    return true;
}
