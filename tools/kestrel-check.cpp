// kestrel-check: the guided check of one Skywand on the command line. Prompts
// the person holding the wand on standard error, judges the wand live from
// the data port or from a recording, files a JSON and an HTML report and a
// CSV row, stores the check in the records and prints the JSON report's
// path. "history" lists the records, "import" stores filed report folders.
// --batch checks one wand after another, each wand id read from a line of
// standard input as a barcode scanner types it.

#include "capture.h"
#include "checkfeed.h"
#include "checkreport.h"
#include "commandline.h"
#include "failuretext.h"
#include "filehelpers.h"
#include "framesource.h"
#include "recordcommands.h"
#include "skywandcheck.h"
#include "stopflag.h"
#include "trackingsdk.h"
#include "udpreceiver.h"
#include "wearfit.h"

#include <CLI/CLI.hpp>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <exception>
#include <filesystem>
#include <map>
#include <memory>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

constexpr int kExitPass = CommandLine::kExitOk;
constexpr int kExitFail = CommandLine::kExitFailed;
constexpr int kExitIncomplete = CommandLine::kExitNoResult;
// The report, the recording or the record could not be written, or the
// records could not be read.
constexpr int kExitCannotSave = CommandLine::kExitCannotSave;
// The recording, the profile or a folder to import could not be read.
constexpr int kExitNoInput = CommandLine::kExitNoInput;
// Typed names beyond this are a mistake, not a wand id.
constexpr size_t kMaxTypedLength = 200;
// Short, so that the countdown and a stop signal are seen between frames.
constexpr int kLiveTimeoutMs = 100;

struct CheckOptions
{
    uint16_t port = 0;
    int skywand = 1; // from 1, as the window names them
    std::string wandId;
    std::string operatorName;
    std::string profile;
    std::string out = ".";
    std::string read;
    std::string write;
    std::string store;
    bool batch = false;
};

struct HistoryOptions
{
    std::string store;
    std::string wandId;
    std::string since;
    std::string until;
    std::string verdict;
    RecordCommands::Format format = RecordCommands::Format::Table;
};

struct ImportOptions
{
    std::string store;
    std::vector<std::string> folders;
};

// Tells the person what to do whenever the prompt changes.
class Progress
{
public:
    void show(const SkywandCheck& check, const CheckFeed& feed)
    {
        show(check, feed.latestSeconds());
    }
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

// The check's first record and its end as wall clock, from the feed's origin.
void checkTimes(const SkywandCheck& check, const CheckFeed& feed, CheckReportInfo& info)
{
    int64_t originUs = 0;
    feed.started(originUs);
    info.startedUs = atUs(originUs, check.result().startTime);
    info.finishedUs = atUs(originUs, check.result().finishTime);
}

// Adds a datagram the check judges to the --write recording; a recording
// that cannot be written stops, and the check goes on without it.
void record(CaptureWriter& recording, const std::string& path, const char* data, size_t length,
            const DatagramOrigin& origin, uint16_t port)
{
    if (!recording.isOpen())
        return;
    UdpPacket packet;
    packet.timeUs = origin.arrivalUs;
    packet.sourceAddress = origin.address;
    packet.sourcePort = origin.port;
    packet.destinationPort = port;
    packet.payload = reinterpret_cast<const uint8_t*>(data);
    packet.length = length;
    if (!recording.write(packet)) {
        std::fprintf(stderr, "kestrel-check: cannot write to %s; recording stopped\n",
                     path.c_str());
        recording.close();
    }
}

// Live: every datagram in the order it arrived (the SDK's receive would keep
// only the newest of those waiting, and the hold step would count the ones it
// dropped), timed by the system's receive time, so that a checker held up for
// a while still judges each frame by when it came. A recording of the
// datagrams holds the same times, and --read of it files the same figures.
bool openPort(const CheckOptions& options, UdpReceiver& socket)
{
    std::string error;
    if (!socket.open(options.port, error)) {
        std::fprintf(stderr, "kestrel-check: %s\n", error.c_str());
        return false;
    }
    std::fprintf(stderr, "kestrel-check: listening on UDP port %u for Skywand F%d\n",
                 unsigned(socket.port()), options.skywand);
    return true;
}

// portFailed: the port failed during the check, which then ends incomplete.
void runLive(const CheckOptions& options, UdpReceiver& socket, SkywandCheck& check, CheckFeed& feed,
             CheckReportInfo& info, CaptureWriter& recording, bool& portFailed)
{
    info.port = socket.port();
    std::vector<char> buffer(static_cast<size_t>(CheckFeed::kBufferSize));
    Progress progress;
    progress.show(check, 0.0);
    while (!check.finished()) {
        // Taken before the wait: a datagram not read yet arrived after it.
        const int64_t waitStartUs = wallClockUs();
        size_t length = 0;
        DatagramOrigin origin;
        // The buffer keeps its last byte for the NUL a receive adds.
        const UdpReceiver::Result result =
            socket.receive(buffer.data(), buffer.size() - 1, kLiveTimeoutMs, length, origin);
        if (stopRequested()) {
            feed.stop(wallClockUs(), "stopped by a signal");
            break;
        }
        if (result == UdpReceiver::Result::Failed) {
            feed.stop(wallClockUs(), "the data port failed");
            portFailed = true;
            break;
        }
        if (result == UdpReceiver::Result::Timeout) {
            feed.quiet(waitStartUs);
            progress.show(check, feed);
            continue;
        }
        if (result == UdpReceiver::Result::Datagram)
            record(recording, options.write, buffer.data(), length, origin, socket.port());
        // A datagram too long for the buffer arrives as an empty one: it
        // cannot be judged, and it is counted as such.
        feed.datagram(buffer.data(), length, origin.arrivalUs, {origin.address, origin.port},
                      socket.port());
        progress.show(check, feed);
    }
    checkTimes(check, feed, info);
}

// A recording: the capture's times, the same feed as live. False when the
// capture cannot be opened.
bool runCapture(const CheckOptions& options, bool portFilter, SkywandCheck& check, CheckFeed& feed,
                CheckReportInfo& info)
{
    CaptureReader reader;
    std::string error;
    if (!reader.open(options.read, error)) {
        std::fprintf(stderr, "kestrel-check: %s\n", error.c_str());
        return false;
    }
    info.capture = options.read;
    Progress progress;
    int64_t lastUs = 0;
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
        lastUs = packet.timeUs;
        feed.datagram(reinterpret_cast<const char*>(packet.payload), packet.length, packet.timeUs,
                      {packet.sourceAddress, packet.sourcePort}, packet.destinationPort);
        progress.show(check, feed);
    }
    if (!check.finished())
        feed.stop(lastUs,
                  stopRequested() ? "stopped by a signal" : "the recording ends before the check");
    checkTimes(check, feed, info);
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

std::unique_ptr<CheckStore> openStore(const std::string& url)
{
    std::string error;
    std::unique_ptr<CheckStore> store = openCheckStore(url, error);
    if (!store)
        std::fprintf(stderr, "kestrel-check: cannot open the check records: %s\n", error.c_str());
    return store;
}

// Stores the check just filed; a store that fails leaves the report files as
// they are and says why.
bool storeCheck(const std::string& url, const std::string& report, const CheckProfile& profile)
{
    std::unique_ptr<CheckStore> store = openStore(url);
    if (!store)
        return false;
    CheckRecord record;
    std::string error;
    if (!recordFromReport(report, RecordCommands::hostName(), record, error) ||
        store->put(record, error) == CheckStore::Put::Failed) {
        std::fprintf(stderr, "kestrel-check: the check is not stored in %s: %s\n",
                     store->name().c_str(), error.c_str());
        return false;
    }
    CheckQuery query;
    query.wandId = record.wandId;
    query.limit = kWearFitChecks;
    std::vector<CheckRecord> history;
    if (!store->find(query, history, error)) {
        std::fprintf(stderr, "kestrel-check: cannot read the wand's checks for wear: %s\n",
                     error.c_str());
        return true;
    }
    if (history.size() < kWearFitMinChecks)
        return true;
    for (const WearWarning& warning : wearWarnings(history, profile, wallClockUs()))
        std::fprintf(stderr, "kestrel-check: wear: %s\n", warning.text.c_str());
    return true;
}

int runHistory(const HistoryOptions& options)
{
    CheckQuery query;
    query.wandId = options.wandId;
    query.verdict = options.verdict;
    if (!options.since.empty())
        RecordCommands::parseDate(options.since, query.sinceUs);
    if (!options.until.empty())
        RecordCommands::parseDate(options.until, query.untilUs);
    // The listing shows no report; a lab's years of checks list in half the time.
    query.withReport = false;
    std::unique_ptr<CheckStore> store = openStore(options.store);
    if (!store)
        return kExitCannotSave;
    std::vector<CheckRecord> records;
    std::string error;
    if (!store->find(query, records, error)) {
        std::fprintf(stderr, "kestrel-check: cannot read the check records in %s: %s\n",
                     store->name().c_str(), error.c_str());
        return kExitCannotSave;
    }
    const std::string header = RecordCommands::historyHeader(options.format);
    if (!header.empty())
        std::printf("%s\n", header.c_str());
    for (const CheckRecord& record : records)
        std::printf("%s\n", RecordCommands::historyLine(record, options.format).c_str());
    if (std::fflush(stdout) != 0) {
        std::fprintf(stderr, "kestrel-check: cannot write to standard output\n");
        return kExitCannotSave;
    }
    return 0;
}

int runImport(const ImportOptions& options)
{
    std::unique_ptr<CheckStore> store = openStore(options.store);
    if (!store)
        return kExitCannotSave;
    RecordCommands::ImportCounts counts;
    const bool read =
        RecordCommands::importReports(*store, options.folders, RecordCommands::hostName(), counts);
    std::printf("%zu stored, %zu already there, %zu refused", counts.stored, counts.duplicate,
                counts.refused);
    if (counts.failed)
        std::printf(", %zu not stored", counts.failed);
    std::printf("\n");
    if (counts.failed || std::fflush(stdout) != 0)
        return kExitCannotSave;
    return read ? 0 : kExitNoInput;
}

void addStoreOption(CLI::App& app, std::string& store)
{
    store = defaultCheckStoreUrl();
    app.add_option("--store", store,
                   "The check records: sqlite:PATH or postgresql://user@host[:port]/dbname "
                   "(a password is best kept in ~/.pgpass or PGPASSWORD)")
        ->default_str(redactedStoreUrl(store));
}

CLI::Validator dateText()
{
    return CLI::Validator(
        [](std::string& typed) {
            int64_t us = 0;
            return RecordCommands::parseDate(typed, us) ? std::string()
                                                        : "\"" + typed.substr(0, 40) +
                                                              "\" is not a date like 2026-12-01 or "
                                                              "2026-12-01T09:30:00 (UTC)";
        },
        "DATE");
}

// The check's options; returns --port, which --read takes as a filter.
CLI::Option* addCheckOptions(CLI::App& app, CheckOptions& options)
{
    auto* port = app.add_option("--port", options.port,
                                "UDP port to listen on (0: any free port); required unless --read "
                                "is given, with which it keeps only datagrams sent to this port")
                     ->check(CommandLine::wholeNumber(0, 65535));
    app.add_option("--skywand", options.skywand,
                   "The Skywand to check, numbered as the window names them (1 is F1)")
        ->check(CommandLine::wholeNumber(1, FrameLimits::kMaxSkywands))
        ->capture_default_str();
    app.add_option("--wand-id", options.wandId,
                   "The wand's identity, as the report files it (required for a check)");
    app.add_option("--operator", options.operatorName, "Who holds the wand");
    app.add_option("--profile", options.profile,
                   "JSON file of limits to judge by instead of the defaults");
    app.add_option("--out", options.out, "Report folder, created when missing")
        ->capture_default_str();
    app.add_option("--read", options.read,
                   "Check the recording made with kestrel-dump --write instead of listening");
    app.add_option(
           "--write", options.write,
           "Record every datagram the check judged, with the times it judged them at, "
           "to this pcap file, which must not exist yet; --read of it files the same figures")
        ->excludes("--read");
    app.add_flag("--batch", options.batch,
                 "Check one wand after another on the same port: read each wand id from a line "
                 "of standard input (as a barcode scanner types it; a prompt when it is a "
                 "terminal), check, file and store it, until an empty line or the end of input; "
                 "then print a table of wand id, verdict and main failures")
        ->excludes("--wand-id")
        ->excludes("--read")
        ->excludes("--write");
    addStoreOption(app, options.store);
    return port;
}

CLI::App* addHistoryCommand(CLI::App& app, HistoryOptions& options)
{
    CLI::App* history = app.add_subcommand(
        "history", "Lists the stored checks, newest first (exit 74 when the records cannot be "
                   "read)");
    addStoreOption(*history, options.store);
    history->add_option("--wand", options.wandId, "Only this wand");
    history->add_option("--since", options.since, "Only checks finished on or after DATE")
        ->check(dateText());
    history->add_option("--until", options.until, "Only checks finished before DATE")
        ->check(dateText());
    history->add_option("--verdict", options.verdict, "Only this verdict")
        ->check(CLI::IsMember({"pass", "fail", "incomplete"}));
    history
        ->add_option("--format", options.format,
                     "table, json (one object per line) or csv (with a header row)")
        ->transform(CLI::CheckedTransformer(
            std::map<std::string, RecordCommands::Format>{{"table", RecordCommands::Format::Table},
                                                          {"json", RecordCommands::Format::Json},
                                                          {"csv", RecordCommands::Format::Csv}},
            CLI::ignore_case));
    return history;
}

CLI::App* addImportCommand(CLI::App& app, ImportOptions& options)
{
    CLI::App* import = app.add_subcommand(
        "import", "Stores every skywand-check/1 report (*.json) in the folders; a report "
                  "already stored is not stored again (exit 66 when a folder cannot be read, 74 "
                  "when the records cannot be written)");
    addStoreOption(*import, options.store);
    import->add_option("folders", options.folders, "Report folders")->required();
    return import;
}

// What the options cannot state for a check; loads the profile. Throws
// CLI::ValidationError, or CommandLine::NoInput for a recording or profile
// that cannot be read.
void validateCheck(const CheckOptions& options, bool portGiven, CheckProfile& profile)
{
    if (options.read.empty() && !portGiven)
        throw CLI::ValidationError("--port", "is required unless --read is given");
    if (!options.batch && (options.wandId.empty() || options.wandId.size() > kMaxTypedLength))
        throw CLI::ValidationError("--wand-id",
                                   "must hold 1 to " + std::to_string(kMaxTypedLength) + " bytes");
    if (options.operatorName.size() > kMaxTypedLength)
        throw CLI::ValidationError("--operator", "must hold at most " +
                                                     std::to_string(kMaxTypedLength) + " bytes");
    if (!options.read.empty())
        CommandLine::requireReadable(options.read);
    std::string error;
    if (!options.profile.empty()) {
        CommandLine::requireReadable(options.profile);
        if (!profile.load(options.profile, error))
            throw CLI::ValidationError("--profile", error);
    }
    std::error_code code;
    std::filesystem::create_directories(options.out, code);
    if (!isWritableFolder(options.out))
        throw CLI::ValidationError("--out", options.out + " is not a folder this user can write");
}

// What one check came to, for the batch's table.
struct WandOutcome
{
    std::string wandId;
    int status = kExitIncomplete;
    Verdict verdict = Verdict::Incomplete;
    std::vector<CheckFailure> failures;
    bool portFailed = false;
};

// Runs the check live on socket, or from the recording when socket is null,
// files its report and stores it. Prints the JSON report's path on standard
// output unless quietPath, then on standard error.
int checkWand(const CheckOptions& options, bool portFilter, const CheckProfile& profile,
              UdpReceiver* socket, CaptureWriter& recording, bool quietPath, WandOutcome& outcome)
{
    SkywandCheck check(profile);
    CheckReportInfo info;
    info.checkId = newCheckId();
    info.toolName = "kestrel-check";
    info.toolVersion = SKYWAND_VERSION;
    info.wandId = options.wandId;
    info.operatorName = options.operatorName;
    info.skywandIndex = options.skywand - 1;
    CheckFeed feed(check, options.skywand - 1);
    outcome.wandId = options.wandId;
    bool ran = true;
    if (socket)
        runLive(options, *socket, check, feed, info, recording, outcome.portFailed);
    else
        ran = runCapture(options, portFilter, check, feed, info);
    info.evidence = feed.evidence();
    if (!ran) {
        // A recording of nothing would only stand in the way of the next try.
        recording.discard();
        return outcome.status = kExitNoInput;
    }

    const CheckResult& result = check.result();
    outcome.verdict = result.verdict;
    outcome.failures = result.failures;
    std::fprintf(stderr, "kestrel-check: %s\n", verdictName(result.verdict));
    for (const CheckFailure& f : result.failures)
        std::fprintf(stderr, "kestrel-check:   %s\n", failureText(f, result).c_str());
    SavedReport saved;
    std::string error;
    if (!saveReport(options.out, info, profile, result, saved, error)) {
        std::fprintf(stderr, "kestrel-check: cannot file the report: %s\n", error.c_str());
        return outcome.status = kExitCannotSave;
    }
    if (quietPath) {
        std::fprintf(stderr, "kestrel-check: filed %s\n", saved.json.c_str());
    } else if (std::printf("%s\n", saved.json.c_str()) < 0 || std::fflush(stdout) != 0) {
        std::fprintf(stderr, "kestrel-check: cannot write to standard output\n");
        return outcome.status = kExitCannotSave;
    }
    if (!storeCheck(options.store, reportJson(info, profile, result), profile))
        return outcome.status = kExitCannotSave;
    return outcome.status = exitStatus(result.verdict);
}

// Runs the check live or from the recording, files its report and stores it.
int runCheck(const CheckOptions& options, bool portFilter, const CheckProfile& profile)
{
    installStopHandlers();
    // The recording is created before the port is opened, so that a path it
    // cannot be written to ends the run before anyone holds the wand.
    CaptureWriter recording;
    std::string error;
    if (!options.write.empty() && !recording.open(options.write, error)) {
        std::fprintf(stderr, "kestrel-check: %s\n", error.c_str());
        return kExitCannotSave;
    }
    UdpReceiver socket;
    if (options.read.empty() && !openPort(options, socket)) {
        recording.discard();
        return kExitIncomplete;
    }
    WandOutcome outcome;
    return checkWand(options, portFilter, profile, options.read.empty() ? &socket : nullptr,
                     recording, false, outcome);
}

enum class WandLine
{
    Id,      // a wand id to check
    End,     // an empty line, the end of input or a stop signal
    Refused, // too long or holding control bytes; the next line follows
};

// Reads one wand id from standard input, as a person or a barcode scanner
// types it: a line ending in LF or CRLF. Reads at most a bounded line at a
// time, so that endless input without a line break costs no memory.
WandLine readWandId(std::string& id)
{
    id.clear();
    char chunk[kMaxTypedLength + 2];
    bool tooLong = false;
    bool ended = false;
    while (std::fgets(chunk, sizeof chunk, stdin)) {
        std::string piece(chunk);
        ended = !piece.empty() && piece.back() == '\n';
        if (ended)
            piece.pop_back();
        if (!tooLong)
            id += piece;
        if (id.size() > kMaxTypedLength) {
            tooLong = true;
            id.clear();
        }
        if (ended)
            break;
    }
    // A stop signal ends the batch, even in the middle of a typed id.
    if (stopRequested() || (!ended && id.empty() && !tooLong))
        return WandLine::End;
    if (!id.empty() && id.back() == '\r')
        id.pop_back();
    if (tooLong) {
        std::fprintf(stderr, "kestrel-check: a wand id holds at most %zu bytes; refused\n",
                     kMaxTypedLength);
        return WandLine::Refused;
    }
    if (id.empty())
        return WandLine::End;
    for (const char c : id) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 0x20 || byte == 0x7F) {
            std::fprintf(stderr, "kestrel-check: a wand id holds no control characters; "
                                 "refused\n");
            id.clear();
            return WandLine::Refused;
        }
    }
    return WandLine::Id;
}

// The main failures of a check, for one cell of the table.
std::string mainFailures(const WandOutcome& outcome)
{
    constexpr size_t kShown = 3;
    std::string text;
    for (size_t i = 0; i < outcome.failures.size() && i < kShown; ++i) {
        const CheckFailure& f = outcome.failures[i];
        text += (i ? "; " : "") + f.item + ": " + f.reason;
    }
    if (outcome.failures.size() > kShown)
        text += "; " + std::to_string(outcome.failures.size() - kShown) + " more";
    if (outcome.status == kExitCannotSave)
        text += std::string(text.empty() ? "" : "; ") + "not filed or not stored";
    return text;
}

void printTable(const std::vector<WandOutcome>& outcomes)
{
    size_t width = std::string("wand id").size();
    for (const WandOutcome& outcome : outcomes)
        width = std::max(width, outcome.wandId.size());
    std::printf("%-*s  %-10s  %s\n", int(width), "wand id", "verdict", "failures");
    for (const WandOutcome& outcome : outcomes)
        std::printf("%-*s  %-10s  %s\n", int(width), outcome.wandId.c_str(),
                    verdictName(outcome.verdict), mainFailures(outcome).c_str());
}

// One wand after another on one port, until an empty line or the end of
// input; the exit status is the worst of the checks': not filed or stored,
// then incomplete, then failed.
int runBatch(CheckOptions options, const CheckProfile& profile)
{
    installStopHandlers();
    UdpReceiver socket;
    if (!openPort(options, socket))
        return kExitIncomplete;
    const bool typed = ::isatty(STDIN_FILENO) == 1;
    std::vector<WandOutcome> outcomes;
    std::vector<char> drain(static_cast<size_t>(CheckFeed::kBufferSize));
    while (!stopRequested()) {
        if (typed)
            std::fprintf(stderr, "kestrel-check: wand id (an empty line ends the batch): ");
        const WandLine line = readWandId(options.wandId);
        if (line == WandLine::End)
            break;
        if (line == WandLine::Refused)
            continue;
        // What waited in the socket while the id was typed belongs to no
        // check; the check judges the frames that come from now on.
        // Bounded by time, so that a flood cannot hold the batch here.
        const int64_t drainStartUs = wallClockUs();
        size_t length = 0;
        DatagramOrigin origin;
        for (;;) {
            const UdpReceiver::Result result =
                socket.receive(drain.data(), drain.size() - 1, 0, length, origin);
            if (result == UdpReceiver::Result::Timeout || result == UdpReceiver::Result::Failed ||
                (result == UdpReceiver::Result::Datagram && origin.arrivalUs >= drainStartUs))
                break;
        }
        std::fprintf(stderr, "kestrel-check: checking wand %s\n", options.wandId.c_str());
        CaptureWriter noRecording;
        WandOutcome outcome;
        checkWand(options, false, profile, &socket, noRecording, true, outcome);
        outcomes.push_back(outcome);
        if (outcome.portFailed)
            break;
    }
    printTable(outcomes);
    int status = kExitPass;
    for (const WandOutcome& outcome : outcomes) {
        if (outcome.status == kExitCannotSave)
            status = kExitCannotSave;
        else if (outcome.status == kExitIncomplete && status != kExitCannotSave)
            status = kExitIncomplete;
        else if (outcome.status == kExitFail && status == kExitPass)
            status = kExitFail;
    }
    if (std::fflush(stdout) != 0) {
        std::fprintf(stderr, "kestrel-check: cannot write to standard output\n");
        return kExitCannotSave;
    }
    return status;
}

int run(int argc, char** argv)
{
    CheckOptions options;
    HistoryOptions historyOptions;
    ImportOptions importOptions;
    CLI::App app{"Guides a check of one Skywand (buttons, joystick centre, full circle, held "
                 "still), judges it against a profile, files a JSON and an HTML report and a "
                 "CSV row and stores the check in the records; prints the JSON report's path."};
    CommandLine::setUp(app, "kestrel-check");
    app.footer("Exit status: 0 pass, 1 fail, 2 incomplete or no data (also when the port cannot be "
               "opened), 64 bad usage (a bad profile or report folder included), 66 when the "
               "recording, the profile or a folder to import cannot be read, 74 when the report, "
               "the --write recording or the record could not be written (the report files stay "
               "when only the record failed). With --batch: 74 when any check was not filed or "
               "stored, else 2 when any was incomplete, else 1 when any failed, else 0.");
    app.require_subcommand(0, 1);
    CLI::Option* port = addCheckOptions(app, options);
    CLI::App* history = addHistoryCommand(app, historyOptions);
    CLI::App* import = addImportCommand(app, importOptions);

    CheckProfile profile;
    const int usage = CommandLine::parse(app, argc, argv, [&] {
        if (!history->parsed() && !import->parsed())
            validateCheck(options, port->count() > 0, profile);
    });
    if (usage >= 0)
        return usage;
    if (history->parsed())
        return runHistory(historyOptions);
    if (import->parsed())
        return runImport(importOptions);
    if (options.batch)
        return runBatch(options, profile);
    return runCheck(options, port->count() > 0, profile);
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
