// kestrel-sim: a stand-in for the tracking controller. Sends generated frames,
// or the UDP payloads of a capture, to a UDP address.

#include "capture.h"
#include "commandline.h"
#include "commandpeer.h"
#include "framedamage.h"
#include "framegenerator.h"
#include "netio.h"
#include "stopflag.h"
#include "wandscript.h"

#include <CLI/CLI.hpp>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <exception>
#include <string>
#include <thread>

namespace {

using Clock = std::chrono::steady_clock;
using CommandLine::counted;

struct SimOptions
{
    std::string host = "127.0.0.1";
    uint16_t port = 5000;
    double rate = 60.0;
    int skywands = 2;
    std::string format = "6df2";
    uint64_t count = 0;    // 0: no limit
    double duration = 0.0; // 0: no limit
    uint64_t seed = 1;
    double damage = 0.0;        // probability that a generated frame is damaged
    bool frozenCounter = false; // every frame carries counter 1, as a hung controller's
    bool quiet = false;
    std::string replay;
    double speed = 1.0;
    bool loop = false;
    uint16_t commandPort = 0;
    bool serveCommands = false; // --command-port was given; 0 is a port to ask for
    std::string check;          // the wand-under-test script, when given
    WandScript script;
};

struct SendStats
{
    uint64_t sent = 0;
    uint64_t damaged = 0;
    Clock::time_point start = Clock::now();
};

double secondsSince(Clock::time_point start)
{
    return std::chrono::duration<double>(Clock::now() - start).count();
}

// start plus seconds, saturating at the end of the clock: a replay gap of
// years at a slow speed must wait, not overflow into the past.
Clock::time_point later(Clock::time_point start, double seconds)
{
    const double left = std::chrono::duration<double>(Clock::time_point::max() - start).count();
    if (!(seconds < left))
        return Clock::time_point::max();
    return start + std::chrono::duration_cast<Clock::duration>(
                       std::chrono::duration<double>(std::max(seconds, 0.0)));
}

// Sleeps until the deadline in short steps so that a stop request or the end
// of the run is noticed promptly. False when a stop was requested.
bool sleepUntil(Clock::time_point deadline)
{
    constexpr auto kStep = std::chrono::milliseconds(50);
    for (;;) {
        if (stopRequested())
            return false;
        const auto now = Clock::now();
        if (now >= deadline)
            return true;
        std::this_thread::sleep_for(std::min<Clock::duration>(deadline - now, kStep));
    }
}

class RunLimits
{
public:
    RunLimits(const SimOptions& options, Clock::time_point start)
        : count(options.count), duration(options.duration), start(start)
    {
    }
    bool reached(uint64_t sent) const
    {
        if (stopRequested())
            return true;
        if (count && sent >= count)
            return true;
        return duration > 0.0 && secondsSince(start) >= duration;
    }
    // The end of the run as a deadline, for sleeps that would pass it.
    Clock::time_point end() const
    {
        if (duration <= 0.0)
            return Clock::time_point::max();
        return later(start, duration);
    }

private:
    uint64_t count;
    double duration;
    Clock::time_point start;
};

// False, with the reason on stderr, when the system refused the datagram:
// the run ends there rather than go on sending into nowhere.
bool sendOne(const SimOptions& options, UdpSender& sender, const char* data, size_t length,
             SendStats& stats)
{
    if (sender.send(data, length)) {
        ++stats.sent;
        return true;
    }
    std::fprintf(stderr, "kestrel-sim: cannot send to %s port %u: %s\n", options.host.c_str(),
                 unsigned(options.port), sender.failure().c_str());
    return false;
}

// kExitNoResult when a datagram could not be sent.
int runGenerated(const SimOptions& options, UdpSender& sender, SendStats& stats)
{
    GeneratorSettings settings;
    settings.skywands = options.skywands;
    settings.format = options.format == "6df" ? SkywandFormat::OneCount : SkywandFormat::TwoCount;
    settings.seed = options.seed;
    const FrameGenerator generator(settings);
    const RunLimits limits(options, stats.start);
    const auto period = options.rate > 0.0 ? std::chrono::duration_cast<Clock::duration>(
                                                 std::chrono::duration<double>(1.0 / options.rate))
                                           : Clock::duration::zero();
    auto deadline = stats.start;
    uint32_t number = 0;
    uint64_t generated = 0;
    while (!limits.reached(generated)) {
        double seconds = 0.0;
        if (options.rate > 0.0) {
            if (!sleepUntil(std::min(deadline, limits.end())) || limits.reached(generated))
                break;
            // A sender that fell far behind (a suspended process, say) moves
            // on from now instead of sending a burst to catch up.
            if (Clock::now() - deadline > std::chrono::milliseconds(200))
                deadline = Clock::now();
            seconds = std::chrono::duration<double>(deadline - stats.start).count();
            deadline += period;
        } else {
            seconds = secondsSince(stats.start);
        }
        if (!options.frozenCounter || number == 0)
            ++number;
        if (number == 0)
            number = 1; // the counter wraps past 2^32 - 1 back to 1
        std::string text = generator.frame(number, seconds);
        if (damageFrame(text, options.damage, options.seed, number) != FrameDamage::None)
            ++stats.damaged;
        if (!sendOne(options, sender, text.data(), text.size(), stats))
            return CommandLine::kExitNoResult;
        ++generated;
    }
    return CommandLine::kExitOk;
}

// Plays one Skywand through the guided check. Frames that fall behind go out
// late rather than not at all, since the check counts every frame number.
int runCheck(const SimOptions& options, UdpSender& sender, SendStats& stats)
{
    const WandPlayer player(options.script, options.rate, options.seed);
    const RunLimits limits(options, stats.start);
    std::string text;
    for (uint64_t index = 0; index < player.frames(); ++index) {
        if (!sleepUntil(std::min(later(stats.start, player.time(index)), limits.end())) ||
            limits.reached(stats.sent))
            break;
        if (player.frame(index, text) && !sendOne(options, sender, text.data(), text.size(), stats))
            return CommandLine::kExitNoResult;
    }
    return CommandLine::kExitOk;
}

// Sends every UDP payload of the capture with its recorded spacing divided by
// speed, once or, with loop, until stopped. kExitNoInput when the capture
// cannot be read, kExitNoResult when a datagram cannot be sent.
int runReplay(const SimOptions& options, UdpSender& sender, SendStats& stats)
{
    const RunLimits limits(options, stats.start);
    Clock::time_point passStart = stats.start;
    uint64_t attempted = 0;
    bool anyPacket = false;
    do {
        CaptureReader reader;
        std::string error;
        if (!reader.open(options.replay, error)) {
            std::fprintf(stderr, "kestrel-sim: %s\n", error.c_str());
            return CommandLine::kExitNoInput;
        }
        int64_t firstUs = 0;
        bool first = true;
        bool packetThisPass = false;
        for (;;) {
            if (limits.reached(attempted))
                return CommandLine::kExitOk;
            UdpPacket packet;
            const CaptureReader::Next next = reader.next(packet, error);
            if (next == CaptureReader::Next::End)
                break;
            if (next == CaptureReader::Next::Error) {
                std::fprintf(stderr, "kestrel-sim: cannot read %s: %s\n", options.replay.c_str(),
                             error.c_str());
                return CommandLine::kExitNoInput;
            }
            if (first) {
                firstUs = packet.timeUs;
                first = false;
            }
            // Packets recorded out of order go out at once.
            const double offset =
                std::max<double>(0.0, double(packet.timeUs - firstUs) / 1e6) / options.speed;
            const auto due = later(passStart, offset);
            if (!sleepUntil(std::min(due, limits.end())) || limits.reached(attempted))
                return CommandLine::kExitOk;
            if (!sendOne(options, sender, reinterpret_cast<const char*>(packet.payload),
                         packet.length, stats))
                return CommandLine::kExitNoResult;
            ++attempted;
            packetThisPass = true;
        }
        if (reader.skipped() && !options.quiet)
            std::fprintf(stderr, "kestrel-sim: skipped %s\n",
                         counted(reader.skipped(), "packet that was not a complete UDP datagram",
                                 "packets that were not complete UDP datagrams")
                             .c_str());
        anyPacket = anyPacket || packetThisPass;
        passStart = Clock::now();
    } while (options.loop && anyPacket);
    if (!anyPacket)
        std::fprintf(stderr, "kestrel-sim: %s holds no UDP datagram\n", options.replay.c_str());
    return CommandLine::kExitOk;
}

// Declares every option of the command line, bound to options.
void addOptions(CLI::App& app, SimOptions& options)
{
    app.footer("Exit status: 0 when done or stopped, 2 when the host cannot be resolved, a "
               "datagram cannot be sent or the command port cannot be opened, 64 on bad usage, "
               "66 when the capture cannot be read.");
    app.add_option("--host", options.host, "Destination host (IPv4 address or name)")
        ->capture_default_str();
    app.add_option("--port", options.port, "Destination UDP port")
        ->check(CommandLine::wholeNumber(1, 65535))
        ->capture_default_str();
    app.add_option("--rate", options.rate, "Frames per second; 0 sends as fast as possible")
        ->check(CommandLine::number(0.001, 100000.0, true))
        ->capture_default_str();
    auto* skywands = app.add_option("--skywands", options.skywands, "Number of Skywands")
                         ->check(CommandLine::wholeNumber(0, FrameGenerator::kMaxSkywands))
                         ->capture_default_str();
    auto* format =
        app.add_option("--format", options.format,
                       "Skywand line: 6df2 (6 buttons, 2 joystick values) or 6df (8 button bits)")
            ->check(CLI::IsMember({"6df2", "6df"}))
            ->capture_default_str();
    app.add_option("--count,--frames", options.count,
                   "Stop after this many datagrams (--frames is the older name)")
        ->check(CommandLine::wholeNumber(1));
    app.add_option("--duration", options.duration, "Stop after this many seconds")
        ->check(CommandLine::number(0.001, 1e9));
    auto* seed = app.add_option("--seed", options.seed,
                                "Seed of the simulated measurement noise and of --damage")
                     ->check(CommandLine::wholeNumber(0))
                     ->capture_default_str();
    auto* damage =
        app.add_option("--damage", options.damage,
                       "Probability (0 to 1) that a frame is sent damaged: a dropped bracket, "
                       "a junk number, a raised count, a truncation, a stray NUL or a byte burst")
            ->check(CommandLine::number(0.0, 1.0))
            ->capture_default_str();
    auto* frozen = app.add_flag("--frozen-counter", options.frozenCounter,
                                "Send every frame with frame counter 1, as a controller that hangs "
                                "while its network part goes on");
    app.add_flag("--quiet", options.quiet, "Print only errors and the summary at exit");
    auto* replay = app.add_option("--replay", options.replay,
                                  "Send the UDP payloads of this pcap or pcapng capture instead");
    auto* speed = app.add_option("--speed", options.speed, "Replay speed factor")
                      ->check(CommandLine::number(0.001, 1000000.0))
                      ->capture_default_str();
    auto* loop = app.add_flag("--loop", options.loop, "Replay the capture again and again");
    app.add_option("--command-port", options.commandPort,
                   "Also answer the controller command protocol on this TCP port of 127.0.0.1; "
                   "0 picks a free port and prints it")
        ->check(CommandLine::wholeNumber(0, 65535));
    auto* check = app.add_option("--check", options.check,
                                 "Play a Skywand that goes through kestrel-check by itself: pass, "
                                 "or one fault: stuck:K, dead:K, crossed:K:J, chatter:K, "
                                 "drift:DX:DY, noise:S, square, ellipse:E, dropouts:N, "
                                 "posenoise:MM");
    for (CLI::Option* other : {replay, skywands, format, damage, frozen})
        check->excludes(other);
    speed->needs(replay);
    loop->needs(replay);
    replay->excludes(skywands)->excludes(format)->excludes(seed)->excludes(damage)->excludes(
        frozen);
}

void announce(const SimOptions& options)
{
    if (options.quiet)
        return;
    if (!options.check.empty()) {
        std::fprintf(stderr,
                     "kestrel-sim: playing a Skywand under check (%s) at %g frames/s "
                     "to %s:%u\n",
                     options.check.c_str(), options.rate, options.host.c_str(),
                     unsigned(options.port));
        return;
    }
    if (!options.replay.empty()) {
        std::fprintf(stderr, "kestrel-sim: replaying %s at speed %g to %s:%u\n",
                     options.replay.c_str(), options.speed, options.host.c_str(),
                     unsigned(options.port));
        return;
    }
    char rate[32] = "unlimited";
    if (options.rate > 0)
        std::snprintf(rate, sizeof rate, "%g", options.rate);
    std::fprintf(stderr, "kestrel-sim: sending %s frames/s with %s (%s) to %s:%u\n", rate,
                 counted(unsigned(options.skywands), "Skywand", "Skywands").c_str(),
                 options.format.c_str(), options.host.c_str(), unsigned(options.port));
}

void printSummary(const SendStats& stats)
{
    const double elapsed = secondsSince(stats.start);
    std::fprintf(stderr, "kestrel-sim: sent %s in %.3f s (%.1f/s)",
                 counted(stats.sent, "datagram", "datagrams").c_str(), elapsed,
                 elapsed > 0 ? double(stats.sent) / elapsed : 0.0);
    if (stats.damaged)
        std::fprintf(stderr, ", %llu damaged", (unsigned long long)stats.damaged);
    std::fprintf(stderr, "\n");
}

// Opens the destination and the command port, then sends until the run ends.
int simulate(const SimOptions& options)
{
    installStopHandlers();
    UdpSender sender;
    std::string error;
    if (!sender.open(options.host, options.port, error)) {
        std::fprintf(stderr, "kestrel-sim: %s\n", error.c_str());
        return CommandLine::kExitNoResult;
    }
    CommandPeer commandPeer;
    if (options.serveCommands) {
        if (!commandPeer.start(options.commandPort, error)) {
            std::fprintf(stderr, "kestrel-sim: %s\n", error.c_str());
            return CommandLine::kExitNoResult;
        }
        // On stdout even with --quiet: a caller that asked for port 0 needs it.
        std::printf("kestrel-sim: command port %u\n", unsigned(commandPeer.port()));
        std::fflush(stdout);
    }
    announce(options);
    SendStats stats;
    const int status = !options.check.empty()   ? runCheck(options, sender, stats)
                       : options.replay.empty() ? runGenerated(options, sender, stats)
                                                : runReplay(options, sender, stats);
    printSummary(stats);
    return status;
}

int run(int argc, char** argv)
{
    SimOptions options;
    CLI::App app{"Sends simulated tracking frames, or a recorded capture, as UDP datagrams."};
    CommandLine::setUp(app, "kestrel-sim");
    addOptions(app, options);
    const int usage = CommandLine::parse(app, argc, argv, [&] {
        if (!options.replay.empty() && app.count("--rate"))
            throw CLI::ValidationError("--rate", "does not apply to --replay (use --speed)");
        if (app.count("--check")) {
            std::string error;
            if (!options.script.parse(options.check, error))
                throw CLI::ValidationError("--check", error);
            if (options.rate < WandPlayer::kMinRate)
                throw CLI::ValidationError("--rate", "must be at least 30 with --check, so that "
                                                     "the circle fits the check's time limit");
            const int64_t most = WandPlayer::maxDropouts(options.rate);
            if (options.script.fault == WandScript::Fault::Dropouts && options.script.count > most)
                throw CLI::ValidationError("--check", "dropouts:N allows at most " +
                                                          std::to_string(most) + " at this rate");
        }
        if (!options.replay.empty())
            CommandLine::requireReadable(options.replay);
    });
    if (usage >= 0)
        return usage;
    options.serveCommands = app.count("--command-port") > 0;
    return simulate(options);
}

} // namespace

int main(int argc, char** argv)
{
    try {
        return run(argc, argv);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "kestrel-sim: %s\n", e.what());
        return 1;
    } catch (...) {
        std::fprintf(stderr, "kestrel-sim: unexpected failure\n");
        return 1;
    }
}
