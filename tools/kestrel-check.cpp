// kestrel-check: the guided check of one Skywand on the command line. Prompts
// the person holding the wand on standard error, judges the wand live from
// the data port or from a recording, files a JSON and an HTML report and a
// CSV row, and prints the JSON report's path.

#include "capture.h"
#include "checkreport.h"
#include "commandline.h"
#include "framesource.h"
#include "skywandcheck.h"
#include "stopflag.h"
#include "trackingsdk.h"

#include <CLI/CLI.hpp>

#include <unistd.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <exception>
#include <filesystem>
#include <string>

namespace {

constexpr int kExitPass = 0;
constexpr int kExitFail = 1;
constexpr int kExitIncomplete = 2;
// The check ran but its report could not be filed (sysexits.h's EX_IOERR).
constexpr int kExitCannotSave = 74;
// Typed names beyond this are a mistake, not a wand id.
constexpr size_t kMaxTypedLength = 200;
// Short, so that the countdown and a stop signal are seen between frames.
constexpr int32_t kLiveTimeoutUs = 100000;

struct CheckOptions
{
    uint16_t port = 0;
    int skywand = 0;
    std::string wandId;
    std::string operatorName;
    std::string profile;
    std::string out = ".";
    std::string read;
};

// Tells the person what to do whenever the prompt changes.
class Progress
{
public:
    void show(const SkywandCheck& check, double time)
    {
        const std::string prompt = check.prompt();
        if (prompt == shown)
            return;
        shown = prompt;
        if (prompt.empty())
            return;
        const double left = check.countdown();
        if (std::isnan(left))
            std::fprintf(stderr, "kestrel-check: %7.2f s  %s\n", time, prompt.c_str());
        else
            std::fprintf(stderr, "kestrel-check: %7.2f s  %s (%.0f s)\n", time, prompt.c_str(),
                         left);
    }

private:
    std::string shown;
};

int64_t wallClockUs()
{
    return std::chrono::duration_cast<std::chrono::microseconds>(
               std::chrono::system_clock::now().time_since_epoch())
        .count();
}

int64_t atUs(int64_t originUs, double seconds)
{
    return std::isfinite(seconds) ? originUs + std::llround(seconds * 1e6) : originUs;
}

// Live: arrival times from the steady clock in whole microseconds, as a
// capture holds them, so that a recording of the same datagrams would give
// the same figures.
bool runLive(const CheckOptions& options, SkywandCheck& check, CheckReportInfo& info)
{
    TrackingSdk sdk("", 0, options.port, TrackingSdk::kDefaultDataBufferSize, kLiveTimeoutUs,
                    TrackingSdk::kDefaultServerTimeoutUs);
    if (!sdk.isValid()) {
        std::fprintf(stderr, "kestrel-check: cannot receive on UDP port %u\n",
                     unsigned(options.port));
        return false;
    }
    info.port = sdk.getDataPort();
    std::fprintf(stderr, "kestrel-check: listening on UDP port %u for Skywand %d\n",
                 unsigned(info.port), options.skywand);
    const int64_t wallOriginUs = wallClockUs();
    const auto origin = std::chrono::steady_clock::now();
    const auto now = [&] {
        const auto us = std::chrono::duration_cast<std::chrono::microseconds>(
            std::chrono::steady_clock::now() - origin);
        return double(us.count()) / 1e6;
    };
    Progress progress;
    progress.show(check, 0.0);
    check.tick(0.0);
    while (!check.finished()) {
        const bool received = sdk.receive();
        const double time = now();
        if (stopRequested()) {
            check.stop(time, "stopped by a signal");
            break;
        }
        SkywandRecord record;
        if (received) {
            const bool present = sdk.getCurrentSkywand(options.skywand, record);
            check.frame(sdk.getFrameCounter(), time, present ? &record : nullptr);
        } else {
            check.tick(time);
        }
        progress.show(check, time);
    }
    info.startedUs = atUs(wallOriginUs, check.result().startTime);
    info.finishedUs = atUs(wallOriginUs, check.result().finishTime);
    return true;
}

// A recording: the capture's times, the decoder the SDK receives with.
bool runCapture(const CheckOptions& options, bool portFilter, SkywandCheck& check,
                CheckReportInfo& info)
{
    CaptureReader reader;
    std::string error;
    if (!reader.open(options.read, error)) {
        std::fprintf(stderr, "kestrel-check: %s\n", error.c_str());
        return false;
    }
    info.capture = options.read;
    FrameData frame;
    Progress progress;
    bool first = true;
    int64_t originUs = 0;
    double time = 0.0;
    while (!check.finished() && !stopRequested()) {
        UdpPacket packet;
        const CaptureReader::Next next = reader.next(packet, error);
        if (next == CaptureReader::Next::End)
            break;
        if (next == CaptureReader::Next::Error) {
            std::fprintf(stderr, "kestrel-check: %s: %s\n", options.read.c_str(), error.c_str());
            break;
        }
        if (portFilter && packet.destinationPort != options.port)
            continue;
        if (first) {
            originUs = packet.timeUs;
            first = false;
        }
        time = double(packet.timeUs - originUs) / 1e6;
        frame.beginFrame();
        const ErrorState outcome =
            decodeDatagram(frame, reinterpret_cast<const char*>(packet.payload), packet.length,
                           TrackingSdk::kDefaultDataBufferSize);
        if (outcome == ErrorState::NoError) {
            // As TrackingSdk::getCurrentSkywand tells it.
            const bool present =
                options.skywand < frame.skywandsInFrame && options.skywand < frame.numSkywand;
            check.frame(frame.frameCounter, time,
                        present ? &frame.skywands[size_t(options.skywand)] : nullptr);
        } else {
            check.tick(time);
        }
        progress.show(check, time);
    }
    if (!check.finished())
        check.stop(time,
                   stopRequested() ? "stopped by a signal" : "the recording ends before the check");
    info.startedUs = atUs(originUs, check.result().startTime);
    info.finishedUs = atUs(originUs, check.result().finishTime);
    return true;
}

int exitStatus(Verdict verdict)
{
    switch (verdict) {
    case Verdict::Pass:
        return kExitPass;
    case Verdict::Fail:
        return kExitFail;
    default:
        return kExitIncomplete;
    }
}

int run(int argc, char** argv)
{
    CheckOptions options;
    CLI::App app{"Guides a check of one Skywand (buttons, joystick centre, full circle, held "
                 "still), judges it against a profile and files a JSON and an HTML report and a "
                 "CSV row; prints the JSON report's path.",
                 "kestrel-check"};
    app.footer("Exit status: 0 pass, 1 fail, 2 incomplete or no data (also when the port or the "
               "capture cannot be read), 64 bad usage (a bad profile or report folder included), "
               "74 when the report could not be written.");
    auto* port = app.add_option("--port", options.port,
                                "UDP port to listen on (0: any free port); with --read, only "
                                "datagrams sent to this port")
                     ->check(CommandLine::wholeNumber(0))
                     ->check(CLI::Range(0, 65535));
    app.add_option("--skywand", options.skywand,
                   "Index of the Skywand in the frame (0 is F1 in the window)")
        ->check(CommandLine::wholeNumber(0))
        ->check(CLI::Range(0, FrameLimits::kMaxSkywands - 1))
        ->capture_default_str();
    app.add_option("--wand-id", options.wandId, "The wand's identity, as the report files it")
        ->required();
    app.add_option("--operator", options.operatorName, "Who holds the wand");
    app.add_option("--profile", options.profile,
                   "JSON file of limits to judge by instead of the defaults");
    app.add_option("--out", options.out, "Report folder, created when missing")
        ->capture_default_str();
    app.add_option("--read", options.read,
                   "Check the recording made with kestrel-dump --write instead of listening")
        ->check(CLI::ExistingFile);

    CheckProfile profile;
    const int usage = CommandLine::parse(app, argc, argv, [&] {
        if (options.read.empty() && !port->count())
            throw CLI::ValidationError("--port", "is required unless --read is given");
        if (options.wandId.empty() || options.wandId.size() > kMaxTypedLength)
            throw CLI::ValidationError("--wand-id", "must hold 1 to " +
                                                        std::to_string(kMaxTypedLength) + " bytes");
        if (options.operatorName.size() > kMaxTypedLength)
            throw CLI::ValidationError(
                "--operator", "must hold at most " + std::to_string(kMaxTypedLength) + " bytes");
        std::string error;
        if (!options.profile.empty() && !profile.load(options.profile, error))
            throw CLI::ValidationError("--profile", error);
        std::error_code code;
        std::filesystem::create_directories(options.out, code);
        if (!std::filesystem::is_directory(options.out, code) ||
            ::access(options.out.c_str(), W_OK | X_OK) != 0)
            throw CLI::ValidationError("--out",
                                       options.out + " is not a folder this user can write");
    });
    if (usage >= 0)
        return usage;
    installStopHandlers();

    SkywandCheck check(profile);
    CheckReportInfo info;
    info.toolName = "kestrel-check";
    info.toolVersion = SKYWAND_VERSION;
    info.wandId = options.wandId;
    info.operatorName = options.operatorName;
    info.skywandIndex = options.skywand;
    const bool ran = options.read.empty() ? runLive(options, check, info)
                                          : runCapture(options, port->count() > 0, check, info);
    if (!ran)
        return kExitIncomplete;

    const CheckResult& result = check.result();
    std::fprintf(stderr, "kestrel-check: %s\n", verdictName(result.verdict));
    for (const CheckFailure& f : result.failures)
        std::fprintf(stderr, "kestrel-check:   %s, %s: %s (%s)\n", f.step.c_str(), f.item.c_str(),
                     f.reason.c_str(), f.detail.c_str());
    SavedReport saved;
    std::string error;
    if (!saveReport(options.out, info, profile, result, saved, error)) {
        std::fprintf(stderr, "kestrel-check: cannot file the report: %s\n", error.c_str());
        return kExitCannotSave;
    }
    if (std::printf("%s\n", saved.json.c_str()) < 0 || std::fflush(stdout) != 0) {
        std::fprintf(stderr, "kestrel-check: cannot write to standard output\n");
        return kExitCannotSave;
    }
    return exitStatus(result.verdict);
}

} // namespace

int main(int argc, char** argv)
{
    try {
        return run(argc, argv);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "kestrel-check: %s\n", e.what());
        return kExitIncomplete;
    } catch (...) {
        std::fprintf(stderr, "kestrel-check: unexpected failure\n");
        return kExitIncomplete;
    }
}
