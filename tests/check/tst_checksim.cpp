// kestrel-check against kestrel-sim --check, unattended: every script at
// once on its own port, each judged live while kestrel-check records what it
// judged, then that recording judged again with --read.

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <algorithm>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <future>
#include <map>
#include <poll.h>
#include <spawn.h>
#include <sstream>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace {

using nlohmann::json;
constexpr double kPi = 3.14159265358979323846;
constexpr int kRunLimitMs = 120000;

struct Figure
{
    const char* pointer;
    double expected;
    double tolerance;
    bool relative;
};

struct Script
{
    std::string name;
    int status;                        // kestrel-check's exit status
    std::vector<std::string> failures; // "item: reason", any order
    std::vector<Figure> figures;
    std::vector<std::string> details = {}; // each in some failure's detail
};

struct Outcome
{
    std::string problem; // empty when both runs went through
    int status = -1;
    json live;
    json reread;
};

std::string readAll(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

pid_t spawn(const std::vector<std::string>& arguments, const std::string& out, int errFd,
            int inFd = -1)
{
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    if (inFd >= 0)
        posix_spawn_file_actions_adddup2(&actions, inFd, 0);
    posix_spawn_file_actions_addopen(&actions, 1, out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (errFd >= 0)
        posix_spawn_file_actions_adddup2(&actions, errFd, 2);
    else
        posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    std::vector<char*> argv;
    for (const std::string& a : arguments)
        argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    pid_t pid = -1;
    if (posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ) != 0)
        pid = -1;
    posix_spawn_file_actions_destroy(&actions);
    return pid;
}

int exitOf(pid_t pid)
{
    int status = 0;
    if (::waitpid(pid, &status, 0) != pid)
        return -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// Reads the child's standard error until it ends or the time is up; returns
// what came, stopping early once until appears.
std::string readUntil(int fd, std::string& text, const std::string& until, int limitMs)
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(limitMs);
    char chunk[512];
    while (until.empty() || text.find(until) == std::string::npos) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        pollfd wait{fd, POLLIN, 0};
        if (left.count() <= 0 || ::poll(&wait, 1, int(left.count())) <= 0)
            return "timed out";
        const ssize_t n = ::read(fd, chunk, sizeof chunk);
        if (n <= 0)
            return until.empty() ? "" : "ended early";
        text.append(chunk, size_t(n));
    }
    return "";
}

json report(const std::string& outFile)
{
    std::string path = readAll(outFile);
    if (!path.empty() && path.back() == '\n')
        path.pop_back();
    return json::parse(readAll(path), nullptr, false);
}

Outcome play(const std::string& folder, const std::string& script, int rate)
{
    Outcome outcome;
    std::filesystem::create_directories(folder);
    int err[2];
    if (::pipe2(err, O_CLOEXEC) != 0) {
        outcome.problem = "no pipe";
        return outcome;
    }
    const pid_t check = spawn({KESTREL_CHECK, "--port", "0", "--wand-id", script, "--out", folder,
                               "--write", folder + "/run.pcap"},
                              folder + "/live.txt", err[1]);
    ::close(err[1]);
    std::string text;
    const std::string waited = readUntil(err[0], text, " for Skywand", 10000);
    pid_t sim = -1;
    const size_t at = text.find("UDP port ");
    if (waited.empty() && at != std::string::npos) {
        const std::string port = std::to_string(std::atoi(text.c_str() + at + 9));
        sim = spawn({KESTREL_SIM, "--check", script, "--rate", std::to_string(rate), "--port", port,
                     "--seed", "7", "--quiet"},
                    "/dev/null", -1);
        outcome.problem = readUntil(err[0], text, "", kRunLimitMs);
    } else {
        outcome.problem = "kestrel-check did not listen: " + waited;
    }
    ::close(err[0]);
    if (check > 0 && !outcome.problem.empty())
        ::kill(check, SIGTERM);
    outcome.status = check > 0 ? exitOf(check) : -1;
    if (sim > 0) {
        ::kill(sim, SIGTERM); // done by now, or a run that went wrong
        exitOf(sim);
    }
    if (!outcome.problem.empty())
        return outcome;
    outcome.live = report(folder + "/live.txt");
    const pid_t reread = spawn({KESTREL_CHECK, "--read", folder + "/run.pcap", "--wand-id", script,
                                "--out", folder + "/read"},
                               folder + "/read.txt", -1);
    if (reread > 0)
        exitOf(reread);
    outcome.reread = report(folder + "/read.txt");
    return outcome;
}

// The circularity error of a gate played with samples at both edges of every
// sector: the largest radius of a sector lies on one of its edges.
double gateCircularity(double (*radius)(double))
{
    double sum = 0.0;
    for (int i = 0; i < 72; ++i)
        sum += std::fabs(std::max(radius(5.0 * i), radius(5.0 * i + 5.0)) - 1.0);
    return 100.0 * sum / 72.0;
}

double squareGate(double deg)
{
    const double a = deg * kPi / 180.0;
    return 1.0 / std::max(std::fabs(std::cos(a)), std::fabs(std::sin(a)));
}

double ellipseGate(double deg)
{
    const double a = deg * kPi / 180.0;
    return 1.0 / std::sqrt(std::pow(std::cos(a), 2) + std::pow(std::sin(a) / 0.9, 2));
}

void runEveryScript(int rate)
{
    const int dropouts = rate / 10; // twice the limit of 1 % of the hold's frames
    const std::vector<Script> scripts = {
        {"pass",
         0,
         {},
         {{"/steps/rest/offset", 0.0, 0.002, false},
          {"/steps/circle/circularityError", 0.0, 0.5, false},
          {"/steps/circle/reach/+x", 1.0, 0.005, true},
          {"/steps/circle/reach/-y", 1.0, 0.005, true},
          {"/steps/hold/droppedFrames", 0.0, 0.0, false}}},
        {"stuck:3", 1, {"button 3: stuck"}, {}},
        {"dead:2", 1, {"button 2: no press"}, {}},
        {"crossed:2:5",
         1,
         {"button 2: crossed", "button 5: crossed"},
         {},
         {"button 5 pressed instead of button 2", "button 2 pressed instead of button 5"}},
        {"chatter:4", 1, {"button 4: chatter"}, {}},
        {"drift:0.08:-0.06",
         1,
         {"offset: above limit"},
         {{"/steps/rest/offset", 0.1, 0.002, false}, {"/steps/rest/centreY", -0.06, 0.002, false}}},
        {"noise:0.03",
         1,
         {"noiseX: above limit", "noiseY: above limit"},
         {{"/steps/rest/noiseX", 0.03, 0.1, true}, {"/steps/rest/noiseY", 0.03, 0.1, true}}},
        {"square",
         1,
         {"circularityError: above limit"},
         {{"/steps/circle/circularityError", gateCircularity(squareGate), 0.5, false}}},
        {"ellipse:0.9",
         1,
         {"reach +y: below limit", "reach -y: below limit"},
         {{"/steps/circle/reach/+y", 0.9, 0.005, true},
          {"/steps/circle/reach/+x", 1.0, 0.005, true},
          {"/steps/circle/circularityError", gateCircularity(ellipseGate), 0.5, false}}},
        {"dropouts:" + std::to_string(dropouts),
         1,
         {"droppedFrames: above limit"},
         {{"/steps/hold/droppedFrames", double(dropouts), 0.0, false}}},
        {"posenoise:0.8",
         1,
         {"positionSigmaMm: above limit"},
         {{"/steps/hold/positionSigmaMm", 0.8, 0.1, true}}},
    };
    const std::string root =
        (std::filesystem::temp_directory_path() /
         ("checksim" + std::to_string(::getpid()) + "-" + std::to_string(rate)))
            .string();
    std::vector<std::future<Outcome>> runs;
    for (size_t i = 0; i < scripts.size(); ++i)
        runs.push_back(std::async(std::launch::async, play, root + "/" + std::to_string(i),
                                  scripts[i].name, rate));
    for (size_t i = 0; i < scripts.size(); ++i) {
        const Script& s = scripts[i];
        SCOPED_TRACE(s.name + " at " + std::to_string(rate) + " Hz");
        const Outcome run = runs[i].get();
        ASSERT_EQ(run.problem, "");
        EXPECT_EQ(run.status, s.status);
        ASSERT_FALSE(run.live.is_discarded());
        ASSERT_FALSE(run.reread.is_discarded());
        std::vector<std::string> failures;
        for (const json& f : run.live["failures"])
            failures.push_back(f["item"].get<std::string>() + ": " +
                               f["reason"].get<std::string>());
        std::sort(failures.begin(), failures.end());
        EXPECT_EQ(failures, s.failures);
        const std::string details = run.live["failures"].dump();
        for (const std::string& d : s.details)
            EXPECT_NE(details.find(d), std::string::npos) << d;
        for (const Figure& f : s.figures) {
            const json value = run.live.value(json::json_pointer(f.pointer), json());
            ASSERT_TRUE(value.is_number()) << f.pointer;
            EXPECT_NEAR(value.get<double>(), f.expected,
                        f.relative ? f.tolerance * f.expected : f.tolerance)
                << f.pointer;
        }
        // The recording of what was judged gives the same report to the last digit.
        for (const char* key : {"verdict", "failures", "steps", "started", "finished"})
            EXPECT_EQ(run.live[key], run.reread[key]) << key;
    }
    std::filesystem::remove_all(root);
}

TEST(CheckSim, At60Hz)
{
    runEveryScript(60);
}
TEST(CheckSim, At1000Hz)
{
    runEveryScript(1000);
}

// Three wands checked one after another by --batch on one port, as a scanner
// types their ids, each played by its own kestrel-sim once its check began;
// lines that are no wand id are refused on the way. Every check lands in the
// records with its verdict, and the exit status is that of the failed one.
TEST(CheckSim, BatchOfThreeWands)
{
    namespace fs = std::filesystem;
    const std::string folder =
        (fs::temp_directory_path() / ("checkbatch" + std::to_string(::getpid()))).string();
    fs::remove_all(folder);
    fs::create_directories(folder);
    const std::string store = "sqlite:" + folder + "/checks.sqlite";
    int in[2];
    int err[2];
    ASSERT_EQ(::pipe2(in, O_CLOEXEC), 0);
    ASSERT_EQ(::pipe2(err, O_CLOEXEC), 0);
    const pid_t batch = spawn({KESTREL_CHECK, "--batch", "--port", "0", "--operator", "Ann",
                               "--out", folder, "--store", store},
                              folder + "/table.txt", err[1], in[0]);
    ::close(in[0]);
    ::close(err[1]);
    ASSERT_GT(batch, 0);
    std::string text;
    ASSERT_EQ(readUntil(err[0], text, " for Skywand", 10000), "");
    const std::string port = std::to_string(std::atoi(text.c_str() + text.find("UDP port ") + 9));
    const std::string refused = std::string(300, 'x') + "\n" + "B\x1b[2J\n";
    ASSERT_EQ(::write(in[1], refused.data(), refused.size()), ssize_t(refused.size()));

    const struct
    {
        std::string id;
        const char* script;
        const char* verdict;
    } wands[] = {{"B1", "pass", "pass"}, {"B2", "stuck:3", "fail"}, {"B3", "pass", "pass"}};
    for (const auto& wand : wands) {
        SCOPED_TRACE(wand.id);
        text.clear();
        const std::string line = wand.id + "\r\n";
        ASSERT_EQ(::write(in[1], line.data(), line.size()), ssize_t(line.size()));
        ASSERT_EQ(readUntil(err[0], text, "checking wand " + wand.id + "\n", 10000), "");
        const pid_t sim = spawn({KESTREL_SIM, "--check", wand.script, "--rate", "60", "--port",
                                 port, "--seed", "7", "--quiet"},
                                "/dev/null", -1);
        ASSERT_GT(sim, 0);
        EXPECT_EQ(exitOf(sim), 0);
        ASSERT_EQ(readUntil(err[0], text, "kestrel-check: filed ", kRunLimitMs), "");
    }
    ::close(in[1]);
    EXPECT_EQ(readUntil(err[0], text, "", 10000), "");
    ::close(err[0]);
    EXPECT_EQ(exitOf(batch), 1);

    const std::string table = readAll(folder + "/table.txt");
    const size_t row = table.find("\nB2 ");
    ASSERT_NE(row, std::string::npos) << table;
    const std::string failed = table.substr(row, table.find('\n', row + 1) - row);
    EXPECT_NE(failed.find(" fail "), std::string::npos) << table;
    EXPECT_NE(failed.find("button 3: stuck"), std::string::npos) << table;
    const pid_t history = spawn({KESTREL_CHECK, "history", "--format", "json", "--store", store},
                                folder + "/history.txt", -1);
    ASSERT_EQ(exitOf(history), 0);
    std::map<std::string, std::string> verdicts;
    std::istringstream records(readAll(folder + "/history.txt"));
    for (std::string line; std::getline(records, line);) {
        const json record = json::parse(line, nullptr, false);
        ASSERT_TRUE(record.is_object()) << line;
        verdicts[record["wandId"]] = record["verdict"];
        EXPECT_EQ(record["operator"], "Ann");
    }
    EXPECT_EQ(verdicts,
              (std::map<std::string, std::string>{{"B1", "pass"}, {"B2", "fail"}, {"B3", "pass"}}));
    fs::remove_all(folder);
}

TEST(CheckSim, RefusesBadScripts)
{
    for (const char* script :
         {"", "fail", "stuck", "stuck:0", "stuck:7", "dead:1.5", "crossed:3:3", "crossed:1",
          "drift:0.5:0", "drift:x:0", "noise:nan", "noise:-1", "ellipse:0.2", "dropouts:0",
          "dropouts:999999", "pass:1", "posenoise:1e9"}) {
        SCOPED_TRACE(script);
        const pid_t sim =
            spawn({KESTREL_SIM, "--check", script, "--port", "9", "--quiet"}, "/dev/null", -1);
        ASSERT_GT(sim, 0);
        EXPECT_EQ(exitOf(sim), 64);
    }
}

} // namespace
