// kestrel-check run as a person runs it, on a recording this test writes: a
// Skywand with two buttons that passes, checked from the capture.

#include "capture.h"
#include "childprocess.h"
#include "loopback.h"
#include "passingwand.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace {

std::string datagram(uint32_t counter, double t)
{
    return passingWandFrame(counter, t);
}

struct ToolRun
{
    int status = -1;
    std::string out;
};

ToolRun kestrelCheck(const std::string& arguments)
{
    ToolRun run;
    FILE* pipe =
        ::popen((std::string(KESTREL_CHECK) + " " + arguments + " 2>/dev/null").c_str(), "r");
    if (!pipe)
        return run;
    char chunk[512];
    while (std::fgets(chunk, sizeof chunk, pipe))
        run.out += chunk;
    const int status = ::pclose(pipe);
    run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return run;
}

std::string readAll(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

TEST(KestrelCheck, ChecksARecordingAndFilesTheSameReportEachTime)
{
    const std::string folder =
        (std::filesystem::temp_directory_path() / ("kestrelcheck" + std::to_string(::getpid())))
            .string();
    std::filesystem::create_directories(folder);
    const std::string capture = folder + "/wand.pcap";
    {
        CaptureWriter writer;
        std::string error;
        ASSERT_TRUE(writer.open(capture, error)) << error;
        for (uint32_t i = 0; i < 1300; ++i) {
            const std::string payload = datagram(i + 1, i / 100.0);
            UdpPacket packet;
            packet.timeUs = 1796117400000000 + int64_t(i) * 10000;
            packet.sourceAddress = packet.destinationAddress = 0x7F000001;
            packet.sourcePort = 40000;
            packet.destinationPort = 5000;
            packet.payload = reinterpret_cast<const uint8_t*>(payload.data());
            packet.length = payload.size();
            ASSERT_TRUE(writer.write(packet));
        }
    }
    const std::string out = folder + "/reports";
    const std::string common = " --wand-id W7 --operator Ann --out " + out;
    std::ofstream(folder + "/bad.json") << R"({"maxOffset": 0.1, "minReech": 1})";
    std::ofstream(folder + "/twice.json") << R"({"maxOffset": 0.05, "maxOffset": 99})";
    const std::string recorded = readAll(capture);

    const struct
    {
        const char* arguments;
        int status;
        const char* verdict; // of the report printed, when there is one
    } rows[] = {
        {"--read wand.pcap", 0, "pass"},
        {"--read wand.pcap --port 5000", 0, "pass"},
        // No datagram for port 5001, and no Skywand F2: nothing to judge.
        {"--read wand.pcap --port 5001", 2, "incomplete"},
        {"--read wand.pcap --skywand 2", 2, "incomplete"},
        {"--read wand.pcap --skywand 1", 0, "pass"},
        // Skywands are numbered as the window names them, from F1.
        {"--read wand.pcap --skywand 0", 64, ""},
        {"--read wand.pcap --profile bad.json", 64, ""},
        {"--read wand.pcap --profile twice.json", 64, ""},
        {"--port 0 --wand-id ''", 64, ""},
        // A recording that cannot be made ends the run before the port is
        // read; an existing file is kept as it was.
        {"--port 0 --write none/run.pcap", 74, ""},
        {"--port 0 --write wand.pcap", 74, ""},
    };
    std::vector<std::string> passReports;
    for (const auto& row : rows) {
        SCOPED_TRACE(row.arguments);
        std::string arguments = row.arguments;
        for (const char* name : {"wand.pcap", "bad.json", "twice.json", "none/"}) {
            const size_t at = arguments.find(name);
            if (at != std::string::npos)
                arguments.replace(at, 0, folder + "/");
        }
        const ToolRun run = kestrelCheck(arguments + common);
        EXPECT_EQ(run.status, row.status);
        if (!*row.verdict) {
            EXPECT_EQ(run.out, "");
            continue;
        }
        ASSERT_FALSE(run.out.empty());
        const std::string path = run.out.substr(0, run.out.size() - 1);
        const std::string text = readAll(path);
        const auto report = nlohmann::json::parse(text, nullptr, false);
        ASSERT_FALSE(report.is_discarded()) << path;
        EXPECT_EQ(report["verdict"], row.verdict);
        if (std::string(row.verdict) == "pass") {
            EXPECT_EQ(report["started"], "2026-12-01T09:30:00.000Z");
            EXPECT_EQ(report["numButton"], 2);
            passReports.push_back(text.substr(text.find("\"verdict\"")));
        }
    }
    EXPECT_EQ(readAll(capture), recorded);
    EXPECT_FALSE(std::filesystem::exists(folder + "/none"));
    // Everything after the source is the same to the last digit.
    ASSERT_EQ(passReports.size(), 3u);
    EXPECT_EQ(passReports[0], passReports[1]);
    EXPECT_EQ(passReports[0], passReports[2]);
    std::filesystem::remove_all(folder);
}

// Live, with the checker paused for 2.5 s in the rest step (every datagram
// waits in the socket meanwhile) and the stream stopping inside the hold
// window: the pause costs nothing, the check ends incomplete in the hold step,
// and --read of the recording it wrote files the same figures.
TEST(KestrelCheck, LiveAndItsRecordingAgreeThroughAPauseAndAStop)
{
    const std::string folder = (std::filesystem::temp_directory_path() /
                                ("kestrelcheck-live" + std::to_string(::getpid())))
                                   .string();
    std::filesystem::create_directories(folder);
    const std::string capture = folder + "/live.pcap";
    Process live(
        {KESTREL_CHECK, "--port", "0", "--wand-id", "L1", "--out", folder, "--write", capture});
    ASSERT_TRUE(live.started());
    std::string line;
    ASSERT_TRUE(live.readLine(1, line)) << "no word from kestrel-check";
    const size_t at = line.find("UDP port ");
    ASSERT_NE(at, std::string::npos) << line;
    UdpSender sender(uint16_t(std::stoi(line.substr(at + 9))));
    const auto start = std::chrono::steady_clock::now();
    bool paused = false;
    for (uint32_t i = 0; i < 1000; ++i) {
        std::this_thread::sleep_until(start + std::chrono::milliseconds(10 * i));
        if (i == 300 || i == 550) {
            live.signal(i == 300 ? SIGSTOP : SIGCONT);
            paused = i == 300;
        }
        ASSERT_TRUE(sender.send(datagram(i + 1, i / 100.0)));
    }
    EXPECT_FALSE(paused);
    ASSERT_TRUE(live.readLine(0, line, 20.0));
    EXPECT_EQ(live.finish(), 2) << live.errorText;
    const auto liveReport = nlohmann::json::parse(readAll(line), nullptr, false);
    ASSERT_FALSE(liveReport.is_discarded()) << line;
    ASSERT_FALSE(liveReport["failures"].empty());
    EXPECT_EQ(liveReport["failures"][0]["step"], "hold") << liveReport["failures"].dump();
    EXPECT_EQ(liveReport["steps"]["rest"]["verdict"], "pass");
    EXPECT_EQ(liveReport["steps"]["circle"]["verdict"], "pass");

    const ToolRun replay = kestrelCheck("--read " + capture + " --wand-id L1 --out " + folder);
    EXPECT_EQ(replay.status, 2);
    const auto readReport =
        nlohmann::json::parse(readAll(replay.out.substr(0, replay.out.size() - 1)), nullptr, false);
    ASSERT_FALSE(readReport.is_discarded()) << replay.out;
    for (const char* key : {"verdict", "steps", "evidence"})
        EXPECT_EQ(liveReport[key], readReport[key]) << key;
    EXPECT_EQ(liveReport["started"], readReport["started"]);
    std::filesystem::remove_all(folder);
}

} // namespace
