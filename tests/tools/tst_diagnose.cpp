// kestrel-dump --diagnose against each situation played on this machine:
// simulators, a port held by this test, a sender to another port and another
// program's traffic, all over loopback on ports of this test's own.

#include "childprocess.h"
#include "netio.h"
#include "sockets.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

// A port no socket holds right now: the system's choice for a probe socket
// that is closed again at once.
uint16_t freePort()
{
    SocketHandle* probe = nullptr;
    uint16_t port = 0;
    if (udpOpen(&probe, &port) != SocketResult::kOk)
        return 0;
    udpClose(probe);
    return port;
}

enum class Target
{
    Port,      // the simulators send to the diagnosed port
    OtherPort, // they send to another port, where this test listens
};

struct DiagnoseCase
{
    const char* name;
    std::vector<std::vector<std::string>> sims; // each simulator's options
    Target target;
    std::string foreign; // sent to the port every 20 ms when not empty
    bool holdPort;       // this test holds the port
    std::vector<std::string> dumpOptions;
    int exitCode;
    const char* sentence; // a part of the first line
    bool needsCapture;    // needs the right to capture (root)
};

class Diagnose : public testing::TestWithParam<DiagnoseCase>
{
};

TEST_P(Diagnose, namesTheCauseWithinFiveSeconds)
{
    const DiagnoseCase& c = GetParam();
    if (c.needsCapture && ::geteuid() != 0)
        GTEST_SKIP() << "capturing other ports needs root or CAP_NET_RAW";
    const uint16_t port = freePort();
    const uint16_t other = freePort();
    ASSERT_NE(port, 0);
    ASSERT_NE(other, 0);
    SocketHandle* held = nullptr;
    uint16_t heldPort = c.target == Target::OtherPort ? other : port;
    if (c.holdPort || c.target == Target::OtherPort) {
        ASSERT_EQ(udpOpen(&held, &heldPort), SocketResult::kOk);
    }

    std::vector<std::unique_ptr<Process>> sims;
    const uint16_t simPort = c.target == Target::OtherPort ? other : port;
    for (const std::vector<std::string>& options : c.sims) {
        std::vector<std::string> args = {KESTREL_SIM_PATH, "--port", std::to_string(simPort),
                                         "--duration",     "10",     "--quiet"};
        args.insert(args.end(), options.begin(), options.end());
        sims.push_back(std::make_unique<Process>(args));
        ASSERT_TRUE(sims.back()->started());
    }
    std::atomic<bool> done{false};
    std::thread foreign;
    if (!c.foreign.empty()) {
        foreign = std::thread([&] {
            UdpSender sender;
            std::string error;
            if (!sender.open("127.0.0.1", port, error))
                return;
            while (!done) {
                sender.send(c.foreign.data(), c.foreign.size());
                std::this_thread::sleep_for(std::chrono::milliseconds(20)); // a sender's pace
            }
        });
    }

    std::vector<std::string> args = {KESTREL_DUMP_PATH, "--diagnose", "--port",
                                     std::to_string(port)};
    args.insert(args.end(), c.dumpOptions.begin(), c.dumpOptions.end());
    const auto start = Clock::now();
    Process dump(args);
    const std::vector<std::string> lines = dump.readAllLines(0, 10.0);
    const int rc = dump.finish(10.0);
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    done = true;
    if (foreign.joinable())
        foreign.join();
    udpClose(held);

    ASSERT_FALSE(lines.empty()) << dump.errorText;
    std::string all;
    for (const std::string& line : lines)
        all += line + "\n";
    EXPECT_EQ(rc, c.exitCode) << all;
    EXPECT_NE(lines[0].find(c.sentence), std::string::npos) << all;
    EXPECT_LT(seconds, 5.0);
    if (c.target == Target::OtherPort) {
        EXPECT_NE(lines[0].find("port " + std::to_string(other)), std::string::npos) << all;
    }
}

const std::string kHttp = "GET / HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n";

INSTANTIATE_TEST_SUITE_P(
    Situations, Diagnose,
    testing::Values(DiagnoseCase{"portHeld",
                                 {},
                                 Target::Port,
                                 "",
                                 true,
                                 {},
                                 1,
                                 "is held by another program, tools_diagnose",
                                 false},
                    // 5000 frames/s outpace the other streams a test run may send, so
                    // the capture names this port first.
                    DiagnoseCase{"otherPort",
                                 {{"--rate", "5000"}},
                                 Target::OtherPort,
                                 "",
                                 false,
                                 {},
                                 1,
                                 "frames of the controller arrive for port",
                                 true},
                    DiagnoseCase{"nothingArrives",
                                 {},
                                 Target::Port,
                                 "",
                                 false,
                                 {"--no-capture"},
                                 1,
                                 "Nothing arrives on port",
                                 false},
                    DiagnoseCase{"decodeFailures",
                                 {{"--damage", "1"}},
                                 Target::Port,
                                 "",
                                 false,
                                 {},
                                 1,
                                 "fail to decode (line ",
                                 false},
                    DiagnoseCase{"foreignTraffic",
                                 {},
                                 Target::Port,
                                 kHttp,
                                 false,
                                 {},
                                 1,
                                 "hold no line of the controller's format",
                                 false},
                    DiagnoseCase{"noSkywand",
                                 {{"--skywands", "0"}},
                                 Target::Port,
                                 "",
                                 false,
                                 {},
                                 1,
                                 "hold no Skywand",
                                 false},
                    DiagnoseCase{"skywandMissing",
                                 {{"--skywands", "2"}},
                                 Target::Port,
                                 "",
                                 false,
                                 {"--skywand", "3"},
                                 1,
                                 "none for F3",
                                 false},
                    DiagnoseCase{"twoSenders",
                                 {{}, {"--seed", "2"}},
                                 Target::Port,
                                 "",
                                 false,
                                 {},
                                 1,
                                 "two senders",
                                 false},
                    DiagnoseCase{"counterFrozen",
                                 {{"--frozen-counter"}},
                                 Target::Port,
                                 "",
                                 false,
                                 {},
                                 1,
                                 "counter stands still",
                                 false},
                    DiagnoseCase{
                        "healthy", {{}}, Target::Port, "", false, {}, 0, "Data is healthy", false}),
    [](const testing::TestParamInfo<DiagnoseCase>& info) { return std::string(info.param.name); });

} // namespace
