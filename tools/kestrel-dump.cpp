// kestrel-dump: a headless monitor. Receives tracking data as the window does
// and prints every outcome as JSON or as a live summary, records what it
// received as pcap, or decodes a capture offline.

#include "capture.h"
#include "commandline.h"
#include "diagnosis.h"
#include "dumpsummary.h"
#include "evidence.h"
#include "framejson.h"
#include "framesource.h"
#include "stopflag.h"

#include <CLI/CLI.hpp>

#include <chrono>
#include <cstdio>
#include <exception>
#include <optional>
#include <string>

namespace {

using Clock = std::chrono::steady_clock;

struct DumpOptions
{
    uint16_t port = 5000;
    bool json = false;
    bool summary = false;
    uint64_t count = 0;    // 0: no limit
    double duration = 0.0; // 0: no limit
    std::string write;
    uint64_t maxSize = uint64_t(1) << 30;
    std::string read;
    bool diagnose = false;
    bool noCapture = false;
    int32_t skywand = 0; // 1 for F1; 0 when none is chosen
};

// Writes one line to stdout and pushes it out at once, so that a reader at
// the other end of a pipe sees every outcome as it happens.
bool printLine(const std::string& line)
{
    if (std::fwrite(line.data(), 1, line.size(), stdout) != line.size() ||
        std::fputc('\n', stdout) == EOF || std::fflush(stdout) != 0) {
        std::fprintf(stderr, "kestrel-dump: cannot write to standard output\n");
        return false;
    }
    return true;
}

class Printer
{
public:
    // skywand: 1 for F1, 0 for none; its overview figures join each summary line.
    Printer(bool summaryMode, int32_t skywand) : summaryMode(summaryMode)
    {
        summary.setSkywand(skywand - 1);
    }

    // now: seconds on the clock that paces the summary lines.
    bool outcome(ErrorState result, const FrameData& frame, const OutcomeDetails& details,
                 double now)
    {
        if (!summaryMode)
            return printLine(frameJson(result, frame, details.failure));
        summary.record(result, frame, details, now);
        if (nextLine < 0.0)
            nextLine = now + 1.0;
        if (now < nextLine)
            return true;
        nextLine += 1.0;
        if (nextLine <= now)
            nextLine = now + 1.0;
        return printLine(summary.line(now));
    }

    bool finish(double now) { return !summaryMode || printLine(summary.line(now)); }

private:
    bool summaryMode;
    DumpSummary summary;
    double nextLine = -1.0;
};

int runLive(const DumpOptions& options)
{
    std::string error;
    FrameSource source;
    if (!source.open(options.port, error)) {
        std::fprintf(stderr, "kestrel-dump: %s\n", error.c_str());
        return 1;
    }
    CaptureWriter writer;
    if (!options.write.empty() && !writer.open(options.write, error)) {
        std::fprintf(stderr, "kestrel-dump: %s\n", error.c_str());
        return 1;
    }
    // The summary's gaps are the stream's, not datagrams this loop skipped.
    source.setEveryDatagram(options.summary);
    std::fprintf(stderr, "kestrel-dump: listening on UDP port %u\n", unsigned(source.port()));

    const auto start = Clock::now();
    Printer printer(options.summary, options.skywand);
    uint64_t outcomes = 0;
    uint64_t recorded = 0;
    bool recording = !options.write.empty();
    int status = 0;
    for (;;) {
        const ErrorState result = source.receive();
        // A stop signal during the wait ends the run here.
        if (stopRequested())
            break;
        const double now = std::chrono::duration<double>(Clock::now() - start).count();
        if (const UdpPacket* datagram = source.lastDatagram(); datagram && recording) {
            if (writer.sizeAfter(datagram->length) > options.maxSize) {
                // A flood must not fill the disk; the monitor itself goes on.
                recording = false;
                writer.close();
                std::fprintf(
                    stderr, "kestrel-dump: %s reached --max-size (%llu bytes): recording stopped\n",
                    options.write.c_str(), (unsigned long long)options.maxSize);
            } else if (!writer.write(*datagram)) {
                std::fprintf(stderr, "kestrel-dump: cannot write to %s\n", options.write.c_str());
                status = 1;
                break;
            } else {
                ++recorded;
            }
        }
        OutcomeDetails details;
        details.discarded = source.discarded();
        details.failure = &source.parseFailure();
        if (const UdpPacket* datagram = source.lastDatagram())
            details.sender = {datagram->sourceAddress, datagram->sourcePort};
        if (!printer.outcome(result, source.frame(), details, now)) {
            status = 1;
            break;
        }
        ++outcomes;
        if (options.count && outcomes >= options.count)
            break;
        if (options.duration > 0.0 && now >= options.duration)
            break;
    }
    if (status == 0 && !printer.finish(std::chrono::duration<double>(Clock::now() - start).count()))
        status = 1;
    writer.close();
    if (!options.write.empty())
        std::fprintf(stderr, "kestrel-dump: recorded %llu datagrams to %s\n",
                     (unsigned long long)recorded, options.write.c_str());
    return status;
}

int runOffline(const DumpOptions& options, std::optional<uint16_t> portFilter)
{
    CaptureReader reader;
    std::string error;
    if (!reader.open(options.read, error)) {
        std::fprintf(stderr, "kestrel-dump: %s\n", error.c_str());
        return 1;
    }
    FrameData frame;
    Printer printer(options.summary, options.skywand);
    uint64_t outcomes = 0;
    int64_t firstUs = 0;
    double now = 0.0;
    int status = 0;
    for (;;) {
        if (stopRequested())
            break;
        UdpPacket packet;
        const CaptureReader::Next next = reader.next(packet, error);
        if (next == CaptureReader::Next::End)
            break;
        if (next == CaptureReader::Next::Error) {
            std::fprintf(stderr, "kestrel-dump: %s: %s\n", options.read.c_str(), error.c_str());
            status = 1;
            break;
        }
        if (portFilter && packet.destinationPort != *portFilter)
            continue;
        if (outcomes == 0)
            firstUs = packet.timeUs;
        // The summary's seconds are capture time here.
        now = double(packet.timeUs - firstUs) / 1e6;
        frame.beginFrame();
        const auto* payload = reinterpret_cast<const char*>(packet.payload);
        const ErrorState result =
            decodeDatagram(frame, payload, packet.length, TrackingSdk::kDefaultDataBufferSize);
        const ParseFailure failure = describeDecodeFailure(frame.failure, payload, packet.length);
        OutcomeDetails details;
        details.sender = {packet.sourceAddress, packet.sourcePort};
        details.failure = &failure;
        if (!printer.outcome(result, frame, details, now)) {
            status = 1;
            break;
        }
        ++outcomes;
        if (options.count && outcomes >= options.count)
            break;
    }
    if (status == 0 && !printer.finish(now))
        status = 1;
    if (reader.skipped())
        std::fprintf(stderr,
                     "kestrel-dump: skipped %zu packets that were not complete UDP datagrams (%zu "
                     "cut short by the capture)\n",
                     reader.skipped(), reader.truncated());
    return status;
}

// Watches the port (and, where allowed, every other UDP port) for a few
// seconds, then prints why no usable data arrives: the sentence, then the
// evidence. Returns the diagnosis class as the exit status.
int runDiagnose(const DumpOptions& options)
{
    DiagnosisEvidence evidence;
    evidence.port = options.port;
    evidence.selectedSkywand = options.skywand - 1;

    FrameSource source;
    std::string error;
    evidence.portOpened = source.open(options.port, error);
    source.setEveryDatagram(true);
    // The capture runs beside the receive: a controller that sends to
    // another port shows there while this one stays silent.
    auto watch = [&] {
        DumpSummary summary;
        summary.begin(0.0);
        const auto start = Clock::now();
        double now = 0.0;
        while (now < kEvidenceSeconds && !stopRequested()) {
            const ErrorState result = source.receive();
            now = std::chrono::duration<double>(Clock::now() - start).count();
            OutcomeDetails details;
            details.failure = &source.parseFailure();
            if (const UdpPacket* datagram = source.lastDatagram())
                details.sender = {datagram->sourceAddress, datagram->sourcePort};
            summary.record(result, source.frame(), details, now);
        }
        evidence.health = summary.figures(now);
        evidence.lastParseFailure = summary.lastFailure();
    };
    if (evidence.portOpened)
        gatherEvidence(evidence, !options.noCapture, watch);
    else
        gatherEvidence(evidence, false);
    const Diagnosis diagnosis = diagnose(evidence);
    std::string text = diagnosis.sentence;
    for (const std::string& line : diagnosis.evidence)
        text += "\n  " + line;
    if (!printLine(text))
        return int(DiagnosisClass::Undetermined);
    return int(diagnosis.outcome);
}

int run(int argc, char** argv)
{
    DumpOptions options;
    CLI::App app{"Receives tracking data like the window does and prints every outcome; "
                 "records it as pcap or decodes a capture offline.",
                 "kestrel-dump"};
    app.footer("Exit status: 0 when done or stopped, 1 when the port, the capture, the recording "
               "or standard output failed, 64 on bad usage. With --diagnose: 0 when the data is "
               "healthy, 1 when a cause was found, 2 when none could be told.");
    auto* port = app.add_option("--port", options.port,
                                "UDP port to listen on (0: any free port); with --read, only "
                                "datagrams sent to this port")
                     ->check(CLI::Range(0, 65535))
                     ->capture_default_str();
    auto* json = app.add_flag("--json", options.json, "One JSON object per receive (the default)");
    auto* summary = app.add_flag("--summary", options.summary, "One line a second for people");
    json->excludes(summary);
    app.add_option("--count", options.count, "Stop after this many outcomes")
        ->check(CommandLine::wholeNumber(1));
    auto* duration = app.add_option("--duration", options.duration, "Stop after this many seconds")
                         ->check(CommandLine::number(0.001, 1e9));
    auto* write =
        app.add_option("--write", options.write,
                       "Record every datagram that reached the decoder to this pcap file, "
                       "which must not exist yet");
    app.add_option("--max-size", options.maxSize,
                   "Stop recording before the file grows past this many bytes")
        ->check(CommandLine::wholeNumber(24))
        ->capture_default_str()
        ->needs(write);
    auto* read =
        app.add_option(
               "--read", options.read,
               "Decode the UDP payloads of this pcap or pcapng capture instead of listening")
            ->check(CLI::ExistingFile);
    read->excludes(write)->excludes(duration);
    auto* diagnoseFlag = app.add_flag(
        "--diagnose", options.diagnose,
        "Watch the port for a few seconds and say in one sentence why no usable data arrives, "
        "then the evidence");
    app.add_option("--skywand", options.skywand,
                   "With --diagnose: the Skywand that must be in the frames (1 for F1); with "
                   "--summary: add that Skywand's figures over the last 10 s, as the overview "
                   "shows them")
        ->check(CLI::Range(1, int(FrameLimits::kMaxSkywands)));
    app.add_flag("--no-capture", options.noCapture,
                 "With --diagnose: do not look at the traffic for other ports")
        ->needs(diagnoseFlag);
    for (CLI::Option* other : {json, summary, read, write, duration})
        diagnoseFlag->excludes(other);

    // Port 0 would diagnose a port the system picks, where no controller
    // sends.
    const auto checkCombinations = [&] {
        if (options.skywand != 0 && !options.diagnose && !options.summary)
            throw CLI::ValidationError("--skywand", "needs --diagnose or --summary");
        if (options.diagnose && options.port == 0)
            throw CLI::ValidationError(
                "--port", "0 is no port a controller sends to; --diagnose needs 1 to 65535");
    };
    if (const int usage = CommandLine::parse(app, argc, argv, checkCombinations); usage >= 0)
        return usage;
    installStopHandlers();
    if (options.diagnose)
        return runDiagnose(options);
    if (!options.read.empty()) {
        std::optional<uint16_t> filter;
        if (port->count())
            filter = options.port;
        return runOffline(options, filter);
    }
    return runLive(options);
}

} // namespace

int main(int argc, char** argv)
{
    try {
        return run(argc, argv);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "kestrel-dump: %s\n", e.what());
        return 1;
    } catch (...) {
        std::fprintf(stderr, "kestrel-dump: unexpected failure\n");
        return 1;
    }
}
