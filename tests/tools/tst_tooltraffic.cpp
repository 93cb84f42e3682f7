// Runs kestrel-sim, kestrel-dump and tcpdump as separate processes over
// loopback and checks what arrives against what was sent.

#include "capture.h"
#include "childprocess.h"
#include "framedecoder.h"
#include "framegenerator.h"
#include "framejson.h"
#include "netio.h"
#include "trackingsdk.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cctype>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;
using json = nlohmann::json;

std::string tempPath(const std::string& name)
{
    return testing::TempDir() + "kestrel_" + name + "_" + std::to_string(::getpid()) + ".pcap";
}

// Starts kestrel-dump on a free port and returns that port, read from its
// first line on stderr.
uint16_t startDump(Process& dump)
{
    std::string line;
    if (!dump.started() || !dump.readLine(1, line))
        return 0;
    const std::string prefix = "kestrel-dump: listening on UDP port ";
    if (line.rfind(prefix, 0) != 0)
        return 0;
    return uint16_t(std::stoi(line.substr(prefix.size())));
}

int runToEnd(const std::vector<std::string>& args, std::vector<std::string>* out = nullptr,
             std::string* err = nullptr)
{
    Process p(args);
    std::vector<std::string> lines = p.readAllLines(0);
    const int rc = p.finish();
    if (out)
        *out = lines;
    if (err)
        *err = p.errorText;
    return rc;
}

// The JSON a decoder must print for a generated frame: the frame decoded
// afresh, since every simulated frame carries every line type.
std::string expectedJson(const FrameGenerator& generator, const json& line)
{
    const std::string text =
        generator.frame(line["frameCounter"].get<uint32_t>(), line["timestamp"].get<double>());
    FrameData frame;
    const bool ok = decodeFrame(frame, text.data(), text.size());
    return frameJson(ok ? ErrorState::NoError : ErrorState::ParseError, frame);
}

struct LiveCase
{
    const char* name;
    const char* format;
    bool record;
};

class SimToDump : public testing::TestWithParam<LiveCase>
{
};

TEST_P(SimToDump, decodedValuesMatchWhatWasSent)
{
    const LiveCase& c = GetParam();
    const std::string capture = tempPath(std::string("live_") + c.name);
    std::vector<std::string> dumpArgs = {KESTREL_DUMP_PATH, "--port", "0", "--json"};
    if (c.record)
        dumpArgs.insert(dumpArgs.end(), {"--write", capture});
    Process dump(dumpArgs);
    const uint16_t port = startDump(dump);
    ASSERT_NE(port, 0) << "kestrel-dump did not start";

    std::vector<std::string> live;
    std::string line;
    if (c.record) {
        // A datagram that does not decode reaches the decoder and is recorded;
        // an empty one does not. Each is sent after the previous was seen, so
        // that neither replaces the other.
        UdpSender sender;
        std::string error;
        ASSERT_TRUE(sender.open("127.0.0.1", port, error)) << error;
        const std::pair<std::string, std::string> injected[] = {{"fr 9\n6d 1 [0 1.0", "parse"},
                                                                {"", "net"}};
        for (const auto& [payload, outcome] : injected) {
            ASSERT_TRUE(sender.send(payload.data(), payload.size()));
            for (;;) {
                ASSERT_TRUE(dump.readLine(0, line)) << "no outcome for an injected datagram";
                live.push_back(line);
                if (json::parse(line)["error"] == outcome)
                    break;
            }
        }
    }

    const int frames = 40;
    // The dump's output is read while the simulator runs: a dump blocked on
    // a full pipe would fall behind and keep only the newest datagrams.
    Process sim({KESTREL_SIM_PATH, "--port", std::to_string(port), "--frames",
                 std::to_string(frames), "--rate", "200", "--seed", "7", "--format", c.format});
    ASSERT_TRUE(sim.started());

    const FrameGenerator generator(
        {2, std::string(c.format) == "6df" ? SkywandFormat::OneCount : SkywandFormat::TwoCount, 7});
    int decoded = 0;
    uint32_t last = 0;
    while (last != uint32_t(frames)) {
        ASSERT_TRUE(dump.readLine(0, line)) << "frame " << frames << " never arrived";
        live.push_back(line);
        const json j = json::parse(line);
        if (j["error"] == "timeout")
            continue;
        ASSERT_EQ(j["error"], "none") << line;
        const uint32_t counter = j["frameCounter"];
        EXPECT_GT(counter, last) << "frames out of order";
        last = counter;
        ++decoded;
        EXPECT_EQ(line, expectedJson(generator, j));
        const auto& skywand = j["skywands"][0];
        const double t = j["timestamp"];
        EXPECT_EQ(j["numSkywand"], 2);
        EXPECT_EQ(j["numBody"], FrameGenerator::kBodies);
        if (std::string(c.format) == "6df2") {
            EXPECT_EQ(skywand["numButton"], 6);
            EXPECT_EQ(skywand["button"][FrameGenerator::pressedButton(0, 6, t)], 1);
            float x = 0, y = 0;
            FrameGenerator::joystick(0, t, x, y);
            EXPECT_FLOAT_EQ(skywand["joystickValue"][0].get<float>(), x);
        } else {
            EXPECT_EQ(skywand["numButton"], 8);
        }
    }
    // Frames may be dropped only when the dump falls behind; at this rate on
    // loopback nearly all of them must arrive.
    EXPECT_GE(decoded, frames / 2);
    EXPECT_EQ(sim.finish(), 0) << sim.errorText;
    EXPECT_NE(sim.errorText.find("sent 40 datagrams"), std::string::npos) << sim.errorText;

    dump.signal(SIGTERM);
    for (const std::string& rest : dump.readAllLines(0))
        live.push_back(rest);
    ASSERT_EQ(dump.finish(), 0) << dump.errorText;

    if (!c.record)
        return;
    // Reading the recording back gives exactly the live lines of every
    // datagram that reached the decoder.
    std::vector<std::string> expected;
    for (const std::string& l : live) {
        const std::string error = json::parse(l)["error"];
        if (error == "none" || error == "parse")
            expected.push_back(l);
    }
    std::vector<std::string> offline;
    std::string readErr;
    ASSERT_EQ(runToEnd({KESTREL_DUMP_PATH, "--read", capture}, &offline, &readErr), 0) << readErr;
    EXPECT_EQ(offline, expected);
    // Each datagram is recorded with the address it was sent to.
    CaptureReader reader;
    std::string error;
    ASSERT_TRUE(reader.open(capture, error)) << error;
    UdpPacket packet;
    size_t packets = 0;
    while (reader.next(packet, error) == CaptureReader::Next::Packet) {
        EXPECT_EQ(packet.destinationAddress, 0x7F000001u);
        EXPECT_EQ(packet.destinationPort, port);
        ++packets;
    }
    EXPECT_EQ(packets, expected.size());
    std::remove(capture.c_str());
}

INSTANTIATE_TEST_SUITE_P(Paths, SimToDump,
                         testing::Values(LiveCase{"sdk6df2", "6df2", false},
                                         LiveCase{"sdk6df", "6df", false},
                                         LiveCase{"recorded6df2", "6df2", true}),
                         [](const testing::TestParamInfo<LiveCase>& info) {
                             return std::string(info.param.name);
                         });

struct TcpdumpCase
{
    const char* name;
    const char* interface;
    const char* linkType; // empty: the interface's default
};

class TcpdumpCapture : public testing::TestWithParam<TcpdumpCase>
{
};

TEST_P(TcpdumpCapture, decodesWithRead)
{
    const TcpdumpCase& c = GetParam();
    // A socket of our own takes the traffic, so that no port-unreachable
    // messages mix into the capture.
    TrackingSdk sink("", 0, 0, 64, 1000, 1000);
    ASSERT_TRUE(sink.isValid());
    const std::string port = std::to_string(sink.getDataPort());
    const std::string capture = tempPath(std::string("tcpdump_") + c.name);
    const int frames = 20;

    std::vector<std::string> args = {TCPDUMP_PATH,           "-i", c.interface, "-U", "-n", "-c",
                                     std::to_string(frames), "-w", capture};
    if (*c.linkType)
        args.insert(args.end(), {"-y", c.linkType});
    args.insert(args.end(), {"udp", "port", port});
    Process tcpdump(args);
    std::string line;
    bool listening = false;
    while (!listening && tcpdump.readLine(1, line))
        listening = line.find("listening on") != std::string::npos;
    ASSERT_TRUE(listening) << "tcpdump could not capture: " << line;

    std::string simErr;
    ASSERT_EQ(runToEnd({KESTREL_SIM_PATH, "--port", port, "--frames", std::to_string(frames),
                        "--rate", "500", "--quiet"},
                       nullptr, &simErr),
              0)
        << simErr;
    ASSERT_EQ(tcpdump.finish(), 0) << tcpdump.errorText;

    std::vector<std::string> lines;
    std::string readErr;
    ASSERT_EQ(runToEnd({KESTREL_DUMP_PATH, "--read", capture, "--port", port}, &lines, &readErr), 0)
        << readErr;
    ASSERT_EQ(lines.size(), size_t(frames)) << readErr;
    const FrameGenerator generator(GeneratorSettings{});
    for (int i = 0; i < frames; ++i) {
        const json j = json::parse(lines[size_t(i)]);
        EXPECT_EQ(j["frameCounter"], i + 1);
        EXPECT_EQ(lines[size_t(i)], expectedJson(generator, j));
    }
    // Another port filters everything out, and the tool says where the
    // capture's datagrams went instead.
    const std::string otherPort = std::to_string(sink.getDataPort() == 1 ? 2 : 1);
    ASSERT_EQ(
        runToEnd({KESTREL_DUMP_PATH, "--read", capture, "--port", otherPort}, &lines, &readErr), 0);
    EXPECT_TRUE(lines.empty());
    EXPECT_NE(readErr.find("no datagram to port " + otherPort + " in " + capture +
                           "; it holds datagrams to port " + port + " (" + std::to_string(frames) +
                           ")"),
              std::string::npos)
        << readErr;
    std::remove(capture.c_str());
}

INSTANTIATE_TEST_SUITE_P(LinkTypes, TcpdumpCapture,
                         testing::Values(TcpdumpCase{"loopback", "lo", ""},
                                         TcpdumpCase{"anySll", "any", "LINUX_SLL"},
                                         TcpdumpCase{"anySll2", "any", "LINUX_SLL2"}),
                         [](const testing::TestParamInfo<TcpdumpCase>& info) {
                             return std::string(info.param.name);
                         });

TEST(Replay, reproducesThePayloadsInOrder)
{
    const std::string capture = tempPath("replay");
    std::vector<std::string> payloads;
    {
        CaptureWriter writer;
        std::string error;
        ASSERT_TRUE(writer.open(capture, error)) << error;
        for (int i = 0; i < 12; ++i) {
            payloads.push_back("fr " + std::to_string(i + 1) + "\n3d 1 [" + std::to_string(i) +
                               " 1.0][1 2 3]\n");
            UdpPacket packet;
            // Out-of-order times go out at once; they must not reorder the replay.
            packet.timeUs = 1000000 + (i == 5 ? 0 : i * 20000);
            packet.destinationPort = 5000;
            packet.payload = reinterpret_cast<const uint8_t*>(payloads.back().data());
            packet.length = payloads.back().size();
            ASSERT_TRUE(writer.write(packet));
        }
    }
    TrackingSdk receiver("", 0, 0, 2000, 5000000, 1000000);
    ASSERT_TRUE(receiver.isValid());

    const auto started = Clock::now();
    Process sim({KESTREL_SIM_PATH, "--replay", capture, "--port",
                 std::to_string(receiver.getDataPort()), "--speed", "2", "--loop", "--frames", "24",
                 "--quiet"});
    // The receiver keeps only the newest of the datagrams waiting and says how
    // many it dropped, so each one it hands over has a known place in the order.
    ReceivedDatagram datagram;
    for (size_t sent = 0; sent < 2 * payloads.size(); ++sent) {
        receiver.receive();
        ASSERT_TRUE(receiver.getLastDatagram(datagram)) << "datagram " << sent << " missing";
        sent += size_t(datagram.discarded);
        ASSERT_LT(sent, 2 * payloads.size());
        EXPECT_EQ(datagram.bytes, payloads[sent % payloads.size()]) << "datagram " << sent;
    }
    ASSERT_EQ(sim.finish(), 0) << sim.errorText;
    // Two passes of 220 ms of recorded time at double speed.
    EXPECT_GE(std::chrono::duration<double>(Clock::now() - started).count(), 0.2);
    EXPECT_NE(sim.errorText.find("sent 24 datagrams"), std::string::npos) << sim.errorText;
    std::remove(capture.c_str());
}

TEST(Replay, waitsThroughAGapOfYears)
{
    // 2^31 - 1 s apart at a thousandth of the speed: the second datagram is due
    // long after the run's one-second limit.
    const std::string capture = tempPath("gap");
    {
        CaptureWriter writer;
        std::string error;
        ASSERT_TRUE(writer.open(capture, error)) << error;
        const std::string payload = "fr 1\n";
        UdpPacket packet;
        packet.payload = reinterpret_cast<const uint8_t*>(payload.data());
        packet.length = payload.size();
        for (const int64_t seconds : {int64_t(0), int64_t(INT32_MAX)}) {
            packet.timeUs = seconds * 1000000;
            ASSERT_TRUE(writer.write(packet));
        }
    }
    TrackingSdk sink("", 0, 0, 64, 1000, 1000);
    ASSERT_TRUE(sink.isValid());
    std::string simErr;
    EXPECT_EQ(runToEnd({KESTREL_SIM_PATH, "--replay", capture, "--port",
                        std::to_string(sink.getDataPort()), "--speed", "0.001", "--duration", "1",
                        "--quiet"},
                       nullptr, &simErr),
              0)
        << simErr;
    EXPECT_NE(simErr.find("sent 1 datagram "), std::string::npos) << simErr;
    std::remove(capture.c_str());
}

TEST(Recording, stopsAtMaxSizeWhileTheMonitorGoesOn)
{
    // The file header and three packets of 100 bytes fit; the fourth would not.
    const size_t payloadSize = 100;
    const uint64_t maxSize = 24 + 3 * (16 + 28 + payloadSize);
    const std::string capture = tempPath("maxsize");
    Process dump({KESTREL_DUMP_PATH, "--port", "0", "--write", capture, "--max-size",
                  std::to_string(maxSize)});
    const uint16_t port = startDump(dump);
    ASSERT_NE(port, 0);
    UdpSender sender;
    std::string error;
    ASSERT_TRUE(sender.open("127.0.0.1", port, error)) << error;
    std::string line;
    for (int i = 0; i < 5; ++i) {
        std::string payload = "fr " + std::to_string(i + 1) + "\n";
        payload.resize(payloadSize, '\n');
        ASSERT_TRUE(sender.send(payload.data(), payload.size()));
        do
            ASSERT_TRUE(dump.readLine(0, line)) << "no outcome for datagram " << i;
        while (json::parse(line)["error"] == "timeout");
        EXPECT_EQ(json::parse(line)["frameCounter"], i + 1);
    }
    dump.signal(SIGTERM);
    EXPECT_EQ(dump.finish(), 0) << dump.errorText;
    EXPECT_NE(dump.errorText.find("reached --max-size"), std::string::npos) << dump.errorText;

    CaptureReader reader;
    ASSERT_TRUE(reader.open(capture, error)) << error;
    UdpPacket packet;
    int packets = 0;
    while (reader.next(packet, error) == CaptureReader::Next::Packet)
        ++packets;
    EXPECT_EQ(packets, 3);
    FILE* file = std::fopen(capture.c_str(), "rb");
    ASSERT_NE(file, nullptr);
    std::fseek(file, 0, SEEK_END);
    EXPECT_EQ(uint64_t(std::ftell(file)), maxSize);
    std::fclose(file);
    std::remove(capture.c_str());
}

TEST(Summary, showsCountsAndTheFirstSkywand)
{
    Process dump({KESTREL_DUMP_PATH, "--port", "0", "--summary", "--duration", "3"});
    const uint16_t port = startDump(dump);
    ASSERT_NE(port, 0);
    Process sim({KESTREL_SIM_PATH, "--port", std::to_string(port), "--rate", "2000", "--duration",
                 "2.5", "--quiet"});
    const std::vector<std::string> lines = dump.readAllLines(0);
    EXPECT_EQ(sim.finish(), 0) << sim.errorText;
    EXPECT_EQ(dump.finish(), 0) << dump.errorText;
    ASSERT_GE(lines.size(), 2u);
    const std::string& last = lines.back();
    for (const char* part : {"frames", "timeout", "parse", "age", "skywands 2", "F1 buttons",
                             // Every datagram of a clean stream counted, none skipped by the dump.
                             "dropped 0 ", "gaps 0 (0 frames missed)"})
        EXPECT_NE(last.find(part), std::string::npos) << part << " missing from: " << last;
}

struct RefusalCase
{
    const char* name;
    std::vector<std::string> args; // after the tool
    bool sim;
    int exitCode; // 64: bad usage, 66: no input, 74: cannot write, 2: the network failed
    const char* message;
};

class BadCommandLine : public testing::TestWithParam<RefusalCase>
{
};

TEST_P(BadCommandLine, isRefusedWithAMessage)
{
    const RefusalCase& c = GetParam();
    std::vector<std::string> args = {c.sim ? KESTREL_SIM_PATH : KESTREL_DUMP_PATH};
    args.insert(args.end(), c.args.begin(), c.args.end());
    std::string err;
    EXPECT_EQ(runToEnd(args, nullptr, &err), c.exitCode) << err;
    EXPECT_NE(err.find(c.message), std::string::npos) << err;
    // Bounds are printed as the user would type them, never as 300 digits.
    size_t digits = 0;
    for (const char ch : err) {
        digits = std::isdigit(static_cast<unsigned char>(ch)) ? digits + 1 : 0;
        ASSERT_LE(digits, 20u) << err;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Options, BadCommandLine,
    testing::Values(
        RefusalCase{"simPortZero", {"--port", "0"}, true, 64, "--port"},
        RefusalCase{"simNegativeRate", {"--rate", "-1"}, true, 64, "--rate"},
        RefusalCase{"simRateNotANumber", {"--rate", "nan"}, true, 64, "--rate: \"nan\""},
        RefusalCase{"simRateTooSlow", {"--rate", "1e-10"}, true, 64, "--rate: \"1e-10\""},
        RefusalCase{
            "simDurationNotANumber", {"--duration", "nan"}, true, 64, "--duration: \"nan\""},
        RefusalCase{
            "simDurationHuge", {"--duration", "-1e300"}, true, 64, "--duration: \"-1e300\""},
        RefusalCase{"simFramesNegative", {"--frames", "-1"}, true, 64, "--count: \"-1\""},
        RefusalCase{"simSpeedNotANumber",
                    {"--replay", "/etc/hostname", "--speed", "nan"},
                    true,
                    64,
                    "--speed: \"nan\""},
        RefusalCase{
            "simRateWithReplay", {"--replay", "/etc/hostname", "--rate", "5"}, true, 64, "--rate"},
        RefusalCase{"simUnknownFormat", {"--format", "6dx"}, true, 64, "--format"},
        RefusalCase{"simTooManySkywands", {"--skywands", "51"}, true, 64, "--skywands"},
        RefusalCase{"simSpeedWithoutReplay", {"--speed", "2"}, true, 64, "--replay"},
        RefusalCase{
            "simMissingCapture", {"--replay", "/nonexistent.pcap"}, true, 66, "/nonexistent.pcap"},
        RefusalCase{"simUnknownHost",
                    {"--host", "no-such-host.invalid", "--frames", "1"},
                    true,
                    2,
                    "resolve"},
        RefusalCase{"simSendRefused",
                    {"--host", "255.255.255.255", "--frames", "1"},
                    true,
                    2,
                    "cannot send"},
        RefusalCase{"simNotANumber", {"--count", "many"}, true, 64, "--count: \"many\" is not a"},
        RefusalCase{"dumpJsonAndSummary", {"--json", "--summary"}, false, 64, "--summary"},
        RefusalCase{"dumpPortTooLarge", {"--port", "70000"}, false, 64, "--port"},
        RefusalCase{"dumpDiagnosePortZero",
                    {"--diagnose", "--port", "0", "--no-capture"},
                    false,
                    64,
                    "--port: 0 is no port"},
        RefusalCase{"dumpSkywandAlone", {"--skywand", "2"}, false, 64, "--skywand: needs"},
        RefusalCase{"dumpCountZero", {"--count", "0"}, false, 64, "--count"},
        RefusalCase{"dumpCountNegative", {"--count", "-1"}, false, 64, "--count: \"-1\""},
        RefusalCase{
            "dumpDurationNotANumber", {"--duration", "nan"}, false, 64, "--duration: \"nan\""},
        RefusalCase{
            "dumpDurationInfinite", {"--duration", "-inf"}, false, 64, "--duration: \"-inf\""},
        RefusalCase{"dumpReadAndWrite",
                    {"--read", "/etc/hostname", "--write", "/tmp/x.pcap"},
                    false,
                    64,
                    "--write"},
        RefusalCase{"dumpReadNoCapture", {"--read", "/etc/hostname"}, false, 66, "/etc/hostname"},
        RefusalCase{"dumpUnwritableRecording",
                    {"--port", "0", "--write", "/nonexistent/dir/x.pcap"},
                    false,
                    74,
                    "/nonexistent/dir/x.pcap"},
        // An existing file is never replaced; /dev/null stays harmless if it were.
        RefusalCase{"dumpExistingRecording",
                    {"--port", "0", "--duration", "1", "--write", "/dev/null"},
                    false,
                    74,
                    "'/dev/null': the file exists already"},
        RefusalCase{"dumpUnknownOption", {"--bogus"}, false, 64, "--bogus"}),
    [](const testing::TestParamInfo<RefusalCase>& info) { return std::string(info.param.name); });

TEST(Help, bothToolsPrintUsage)
{
    for (const char* tool : {KESTREL_SIM_PATH, KESTREL_DUMP_PATH}) {
        std::vector<std::string> out;
        EXPECT_EQ(runToEnd({tool, "--help"}, &out), 0);
        ASSERT_FALSE(out.empty());
        std::string all;
        for (const std::string& l : out)
            all += l + "\n";
        EXPECT_NE(all.find("Usage"), std::string::npos) << all;
        // The man pages are made from this text.
        EXPECT_NE(all.find("64 on bad usage"), std::string::npos) << all;
    }
}

} // namespace
