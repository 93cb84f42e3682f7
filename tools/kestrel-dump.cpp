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

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <exception>
#include <map>
#include <optional>
#include <string>

namespace {

using Clock = std::chrono::steady_clock;
using CommandLine::counted;

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
        std::fprintf(stderr, "kestrel-dump: cannot write to standard output: %s\n",
                     std::strerror(errno));
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
        return CommandLine::kExitNoResult;
    }
    CaptureWriter writer;
    if (!options.write.empty() && !writer.open(options.write, error)) {
        std::fprintf(stderr, "kestrel-dump: %s\n", error.c_str());
        return CommandLine::kExitCannotSave;
    }
    // The summary's gaps are the stream's, not datagrams this loop skipped.
    source.setEveryDatagram(options.summary);
    std::fprintf(stderr, "kestrel-dump: listening on UDP port %u\n", unsigned(source.port()));

    const auto start = Clock::now();
    Printer printer(options.summary, options.skywand);
    uint64_t outcomes = 0;
    uint64_t recorded = 0;
    bool recording = !options.write.empty();
    int status = CommandLine::kExitOk;
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
                status = CommandLine::kExitCannotSave;
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
            status = CommandLine::kExitCannotSave;
            break;
        }
        ++outcomes;
        if (options.count && outcomes >= options.count)
            break;
        if (options.duration > 0.0 && now >= options.duration)
            break;
    }
    if (status == 0 && !printer.finish(std::chrono::duration<double>(Clock::now() - start).count()))
        status = CommandLine::kExitCannotSave;
    writer.close();
    if (!options.write.empty())
        std::fprintf(stderr, "kestrel-dump: recorded %s to %s\n",
                     counted(recorded, "datagram", "datagrams").c_str(), options.write.c_str());
    return status;
}

// Says, when the port filter left nothing, which ports the capture's
// datagrams went to; perPort is bounded by the 65536 ports.
void reportNoDatagram(const DumpOptions& options, std::optional<uint16_t> portFilter,
                      const std::map<uint16_t, uint64_t>& perPort)
{
    if (perPort.empty()) {
        std::fprintf(stderr, "kestrel-dump: %s holds no UDP datagram\n", options.read.c_str());
        return;
    }
    if (!portFilter)
        return;
    constexpr size_t kShown = 8;
    std::string ports;
    size_t shown = 0;
    for (const auto& [port, count] : perPort) {
        if (shown++ == kShown)
            break;
        ports +=
            (ports.empty() ? "" : ", ") + std::to_string(port) + " (" + std::to_string(count) + ")";
    }
    if (perPort.size() > kShown)
        ports += " and " + counted(perPort.size() - kShown, "more port", "more ports");
    std::fprintf(stderr,
                 "kestrel-dump: no datagram to port %u in %s; it holds datagrams to %s %s\n",
                 unsigned(*portFilter), options.read.c_str(),
                 perPort.size() == 1 ? "port" : "ports", ports.c_str());
}

int runOffline(const DumpOptions& options, std::optional<uint16_t> portFilter)
{
    CaptureReader reader;
    std::string error;
    if (!reader.open(options.read, error)) {
        std::fprintf(stderr, "kestrel-dump: %s\n", error.c_str());
        return CommandLine::kExitNoInput;
    }
    std::map<uint16_t, uint64_t> perPort;
    FrameData frame;
    Printer printer(options.summary, options.skywand);
    uint64_t outcomes = 0;
    int64_t firstUs = 0;
    double now = 0.0;
    int status = CommandLine::kExitOk;
    for (;;) {
        if (stopRequested())
            break;
        UdpPacket packet;
        const CaptureReader::Next next = reader.next(packet, error);
        if (next == CaptureReader::Next::End)
            break;
        if (next == CaptureReader::Next::Error) {
            std::fprintf(stderr, "kestrel-dump: cannot read %s: %s\n", options.read.c_str(),
                         error.c_str());
            status = CommandLine::kExitNoInput;
            break;
        }
        ++perPort[packet.destinationPort];
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
            status = CommandLine::kExitCannotSave;
            break;
        }
        ++outcomes;
        if (options.count && outcomes >= options.count)
            break;
    }
    if (status == CommandLine::kExitOk && !printer.finish(now))
        status = CommandLine::kExitCannotSave;
    if (reader.skipped())
        std::fprintf(stderr, "kestrel-dump: skipped %s (%zu cut short by the capture)\n",
                     counted(reader.skipped(), "packet that was not a complete UDP datagram",
                             "packets that were not complete UDP datagrams")
                         .c_str(),
                     reader.truncated());
    if (status == CommandLine::kExitOk && outcomes == 0)
        reportNoDatagram(options, portFilter, perPort);
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
                 "records it as pcap or decodes a capture offline."};
    CommandLine::setUp(app, "kestrel-dump");
    app.footer("Exit status: 0 when done or stopped, 2 when the port cannot be opened, 64 on bad "
               "usage, 66 when the capture cannot be read, 74 when the recording or standard "
               "output cannot be written. With --diagnose: 0 when the data is healthy, 1 when a "
               "cause was found, 2 when none could be told.");
    auto* port = app.add_option("--port", options.port,
                                "UDP port to listen on (0: any free port); with --read, only "
                                "datagrams sent to this port")
                     ->check(CommandLine::wholeNumber(0, 65535))
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
    auto* read = app.add_option(
        "--read", options.read,
        "Decode the UDP payloads of this pcap or pcapng capture instead of listening");
    read->excludes(write)->excludes(duration);
    auto* diagnoseFlag = app.add_flag(
        "--diagnose", options.diagnose,
        "Watch the port for a few seconds and say in one sentence why no usable data arrives, "
        "then the evidence");
    app.add_option("--skywand", options.skywand,
                   "With --diagnose: the Skywand that must be in the frames (1 for F1); with "
                   "--summary: add that Skywand's figures over the last 10 s, as the overview "
                   "shows them")
        ->check(CommandLine::wholeNumber(1, FrameLimits::kMaxSkywands));
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
        if (!options.read.empty())
            CommandLine::requireReadable(options.read);
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
