#pragma once

// Builds the text of simulated tracking frames: a few moving bodies, the
// Skywands with a joystick on a slow circle and buttons pressed in turn, each
// at its own pace and phase, one
// measurement tool, one hand and a few markers. Every value is a pure
// function of the settings, the frame number and the frame time, so that a
// test can rebuild exactly what was sent.

#include <cstdint>
#include <string>

enum class SkywandFormat
{
    TwoCount, // "6df2 ": button count, joystick count, a button word and the joystick values
    OneCount, // "6df ": eight button bits, joystick derived from bits 4 to 7
};

struct GeneratorSettings
{
    int skywands = 2;
    SkywandFormat format = SkywandFormat::TwoCount;
    uint64_t seed = 1;
};

class FrameGenerator
{
public:
    static constexpr int kBodies = 3;
    static constexpr int kTools = 1;
    static constexpr int kMarkers = 4;
    static constexpr int kFingers = 5;
    static constexpr int kTwoCountButtons = 6;
    static constexpr int kOneCountButtons = 8;
    static constexpr int kMaxSkywands = 50; // keeps a frame far below the receive buffer
    static constexpr double kButtonSeconds = 0.5;
    static constexpr double kCircleSeconds = 4.0;
    static constexpr double kRadiusSeconds = 10.0; // radius 0 -> 1 -> 0

    explicit FrameGenerator(const GeneratorSettings& settings);

    // The datagram text of frame number (counting from 1) at seconds since
    // the start. The time is rounded to milliseconds, as the "ts " line
    // carries it, before anything is derived from it.
    std::string frame(uint32_t number, double seconds) const;

    // How long skywand holds each button: kButtonSeconds for the first one.
    static double buttonSeconds(int skywand);
    // The index of the button skywand holds at that time (exactly one at once).
    static int pressedButton(int skywand, int buttonCount, double seconds);
    // The joystick position of skywand at that time, on a circle of radius
    // 0 to 1.
    static void joystick(int skywand, double seconds, float& x, float& y);

    const GeneratorSettings& settings() const { return config; }

private:
    // One function per line type, as the decoder reads them; each appends
    // its lines with their line ends.
    void header(std::string& out, uint32_t number, long long ms) const;
    void bodies(std::string& out, uint32_t number, double t) const;
    void skywandsOneCount(std::string& out, uint32_t number, double t) const;
    void skywandsTwoCount(std::string& out, uint32_t number, double t) const;
    void skywandPose(std::string& out, int skywand, uint32_t number, double t) const;
    void measurementTools(std::string& out, uint32_t number, double t) const;
    void hands(std::string& out, uint32_t number, double t) const;
    void markers(std::string& out, uint32_t number) const;

    GeneratorSettings config;
};
