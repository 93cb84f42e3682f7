#pragma once

// A Skywand that goes through the guided check by itself, for kestrel-sim
// --check: it presses its buttons in turn, lets go of the joystick, turns it
// twice around its gate and is then held still, with one fault played on
// purpose. The check engine gives no feedback to the wand, so every step is
// played with at least half a second of slack around the engine's timings.
// Every frame is a pure function of the script, the rate, the seed and the
// frame's index, so a run can be rebuilt exactly.

#include <cstdint>
#include <string>

struct WandScript
{
    enum class Fault
    {
        None,      // pass
        Stuck,     // stuck:K, held from the start
        Dead,      // dead:K, pressing it changes nothing
        Crossed,   // crossed:K:J, K sets J's bit and J sets K's
        Chatter,   // chatter:K, released for one frame and pressed again
        Drift,     // drift:DX:DY, the joystick rests off centre
        Noise,     // noise:S, joystick noise of standard deviation S per axis
        Square,    // square, a square gate
        Ellipse,   // ellipse:E, the gate's vertical reach is E
        Dropouts,  // dropouts:N, N frames of the counter never sent during the hold
        PoseNoise, // posenoise:MM, position noise of MM millimetres root mean square
    };

    static constexpr int kButtons = 6;

    Fault fault = Fault::None;
    int button = 0; // from 1
    int other = 0;  // crossed: the second button, from 1
    double x = 0.0; // drift
    double y = 0.0;
    double amount = 0.0; // noise, ellipse, posenoise
    int64_t count = 0;   // dropouts

    // Reads "pass" or one fault; false with a sentence in error otherwise.
    bool parse(const std::string& text, std::string& error);
};

class WandPlayer
{
public:
    // The lowest rate at which the full circle fits the engine's time limit
    // with room to spare.
    static constexpr double kMinRate = 30.0;

    // rate in frames per second, at least kMinRate.
    WandPlayer(const WandScript& script, double rate, uint64_t seed);

    // The run is over after this many frame slots.
    uint64_t frames() const { return total; }
    // Seconds from the first frame to frame index.
    double time(uint64_t index) const { return double(index) / rate; }
    // False when the frame at index is one the script drops; otherwise its
    // datagram text, with frame counter index + 1.
    bool frame(uint64_t index, std::string& out) const;

    // The largest dropouts:N a rate allows: isolated drops inside the hold.
    static int64_t maxDropouts(double rate);
    // The gate's radius at angle (radians), as the script shapes it.
    static double gateRadius(const WandScript& script, double angle);

private:
    uint64_t at(double seconds) const;
    uint32_t buttonBits(uint64_t index) const;
    void joystick(uint64_t index, double& x, double& y) const;
    bool dropped(uint64_t index) const;
    double noise(uint64_t index, uint32_t slot) const;

    WandScript script;
    double rate;
    uint64_t seed;
    // Per button, frame indices: pressed from press to release, and for
    // chatter pressed again from repress to second release.
    struct Press
    {
        uint64_t press = 0;
        uint64_t release = 0;
        uint64_t repress = 0;
        uint64_t secondRelease = 0;
        bool played = false;
    };
    Press presses[WandScript::kButtons];
    uint64_t circleStart = 0;
    uint64_t circleEnd = 0; // first frame back at rest
    uint64_t perSector = 3; // circle samples per 5 degrees and turn
    uint64_t dropFrom = 0;  // the dropouts' window
    uint64_t dropWindow = 0;
    uint64_t total = 0;
};
