#include "framegenerator.h"

#include "splitmix.h"

#include <charconv>
#include <cmath>

namespace {

constexpr double kPi = 3.14159265358979323846;

void appendFixed(std::string& out, double value, int decimals)
{
    char text[64];
    // Adding zero turns -0.0 into 0.0.
    const auto r =
        std::to_chars(text, text + sizeof text, value + 0.0, std::chars_format::fixed, decimals);
    out.append(text, r.ptr);
}

void appendInt(std::string& out, long long value)
{
    char text[32];
    const auto r = std::to_chars(text, text + sizeof text, value);
    out.append(text, r.ptr);
}

// Uniform in [-0.5, 0.5).
double noise(uint64_t seed, uint32_t frame, uint32_t slot)
{
    const uint64_t h = splitMix(seed ^ splitMix((uint64_t(frame) << 20) ^ slot));
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

// Each Skywand keeps its own pace, so that wands side by side differ at a
// glance; the first one keeps the plain pace.
double FrameGenerator::buttonSeconds(int skywand)
{
    return kButtonSeconds * (1.0 + (skywand % 4) / 4.0);
}

int FrameGenerator::pressedButton(int skywand, int buttonCount, double seconds)
{
    if (buttonCount <= 0)
        return -1;
    const long long step = static_cast<long long>(std::floor(seconds / buttonSeconds(skywand)));
    return static_cast<int>((step + skywand) % buttonCount);
}

void FrameGenerator::joystick(int skywand, double seconds, float& x, float& y)
{
    // The golden angle spreads the wands' phases around the circle; turns of
    // five speeds in both directions keep them apart over time.
    constexpr double kGoldenAngle = 2.39996322972865332;
    const double radiusPhase =
        std::fmod(seconds + skywand * 0.37 * kRadiusSeconds, kRadiusSeconds) / kRadiusSeconds;
    const double radius = radiusPhase < 0.5 ? 2.0 * radiusPhase : 2.0 - 2.0 * radiusPhase;
    const double turn = (skywand % 2 ? -1.0 : 1.0) / (kCircleSeconds * (1.0 + (skywand % 5) / 4.0));
    const double angle = 2.0 * kPi * seconds * turn + skywand * kGoldenAngle;
    // Rounded to what the frame text carries.
    x = static_cast<float>(std::round(radius * std::cos(angle) * 1000.0) / 1000.0);
    y = static_cast<float>(std::round(radius * std::sin(angle) * 1000.0) / 1000.0);
}

std::string FrameGenerator::frame(uint32_t number, double secondsIn) const
{
    const long long ms = std::llround(secondsIn * 1000.0);
    const double t = double(ms) / 1000.0;
    std::string out;
    out.reserve(1024 + 200 * static_cast<size_t>(config.skywands));
    header(out, number, ms);
    bodies(out, number, t);
    if (config.format == SkywandFormat::OneCount)
        skywandsOneCount(out, number, t);
    else
        skywandsTwoCount(out, number, t);
    measurementTools(out, number, t);
    hands(out, number, t);
    markers(out, number);
    return out;
}

void FrameGenerator::header(std::string& out, uint32_t number, long long ms) const
{
    out += "fr ";
    appendInt(out, number);
    out += "\nts ";
    appendInt(out, ms / 1000);
    out += '.';
    const int frac = static_cast<int>(ms % 1000);
    out += char('0' + frac / 100);
    out += char('0' + frac / 10 % 10);
    out += char('0' + frac % 10);
    out += '\n';
}

void FrameGenerator::bodies(std::string& out, uint32_t number, double t) const
{
    // The decoder subtracts one-count Skywands and tools from the calibrated
    // body count, so they are added here to leave exactly kBodies bodies.
    const bool oneCount = config.format == SkywandFormat::OneCount;
    out += "6dcal ";
    appendInt(out, kBodies + kTools + (oneCount ? config.skywands : 0));
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
    out += '\n';
}

void FrameGenerator::skywandPose(std::string& out, int skywand, uint32_t number, double t) const
{
    const double w = 2.0 * kPi * 0.15 * t + skywand;
    appendLocation(out, 200.0 * skywand + 150.0 * std::sin(w), 1200.0 + 50.0 * std::cos(w),
                   300.0 + noise(config.seed, number, 100 + skywand));
    appendRotation(out, w);
}

void FrameGenerator::skywandsOneCount(std::string& out, uint32_t number, double t) const
{
    out += "6df ";
    appendInt(out, config.skywands);
    for (int s = 0; s < config.skywands; ++s) {
        out += " [";
        appendInt(out, s);
        out += " 1.000 ";
        appendInt(out, 1 << pressedButton(s, kOneCountButtons, t));
        out += ']';
        skywandPose(out, s, number, t);
    }
    out += '\n';
}

void FrameGenerator::skywandsTwoCount(std::string& out, uint32_t number, double t) const
{
    out += "6df2 ";
    appendInt(out, config.skywands);
    out += ' ';
    appendInt(out, config.skywands);
    for (int s = 0; s < config.skywands; ++s) {
        out += " [";
        appendInt(out, s);
        out += " 1.000 ";
        appendInt(out, kTwoCountButtons);
        out += " 2]";
        skywandPose(out, s, number, t);
        float x = 0, y = 0;
        joystick(s, t, x, y);
        out += '[';
        appendInt(out, 1 << pressedButton(s, kTwoCountButtons, t));
        out += ' ';
        appendFixed(out, x, 3);
        out += ' ';
        appendFixed(out, y, 3);
        out += ']';
    }
    out += '\n';
}

void FrameGenerator::measurementTools(std::string& out, uint32_t number, double t) const
{
    out += "6dmt ";
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
    out += '\n';
}

void FrameGenerator::hands(std::string& out, uint32_t number, double t) const
{
    out += "glcal 1\ngl 1 [0 1.000 1 ";
    appendInt(out, kFingers);
    out += ']';
    const double grip = 0.5 + 0.5 * std::sin(2.0 * kPi * 0.25 * t);
    appendLocation(out, -400.0, 900.0 + 30.0 * std::sin(t), 200.0);
    appendRotation(out, 0.3 * std::sin(t));
    for (int f = 0; f < kFingers; ++f) {
        appendLocation(out, -400.0 + 20.0 * f, 980.0 - 40.0 * grip,
                       200.0 + noise(config.seed, number, 300 + f));
        appendRotation(out, grip * (0.2 + 0.1 * f));
        out += '[';
        for (int v = 0; v < 6; ++v) {
            if (v)
                out += ' ';
            appendFixed(out, (v % 2 ? 20.0 : 40.0) - 10.0 * f + 5.0 * grip * v, 3);
        }
        out += ']';
    }
    out += '\n';
}

void FrameGenerator::markers(std::string& out, uint32_t number) const
{
    out += "3d ";
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
}
