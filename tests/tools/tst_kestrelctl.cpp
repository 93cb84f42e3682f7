// kestrel-ctl end to end against kestrel-sim --command-port 0, both run as
// processes the way an engineer runs them.

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <vector>

namespace {

struct RunResult
{
    int exitCode = -1;
    std::string out;
    std::string err;
};

struct Child
{
    pid_t pid = -1;
    int out = -1;
    int err = -1;
};

Child spawn(const std::string& program, const std::vector<std::string>& args)
{
    int out[2];
    int err[2];
    if (::pipe(out) != 0 || ::pipe(err) != 0)
        return {};
    std::vector<char*> argv;
    argv.push_back(const_cast<char*>(program.c_str()));
    for (const std::string& a : args)
        argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::dup2(out[1], 1);
        ::dup2(err[1], 2);
        ::close(out[0]);
        ::close(err[0]);
        ::execv(program.c_str(), argv.data());
        ::_exit(127);
    }
    ::close(out[1]);
    ::close(err[1]);
    return {pid, out[0], err[0]};
}

// Runs a program to its end; a run over 20 s is killed and fails the test.
RunResult run(const std::string& program, const std::vector<std::string>& args)
{
    RunResult result;
    Child c = spawn(program, args);
    if (c.pid < 0)
        return result;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    bool outOpen = true;
    bool errOpen = true;
    while ((outOpen || errOpen) && std::chrono::steady_clock::now() < deadline) {
        pollfd p[2] = {{outOpen ? c.out : -1, POLLIN, 0}, {errOpen ? c.err : -1, POLLIN, 0}};
        if (::poll(p, 2, 1000) < 0)
            break;
        char chunk[4096];
        for (int i = 0; i < 2; ++i) {
            if (!(p[i].revents & (POLLIN | POLLHUP)))
                continue;
            const ssize_t n = ::read(p[i].fd, chunk, sizeof chunk);
            if (n > 0)
                (i == 0 ? result.out : result.err).append(chunk, static_cast<size_t>(n));
            else
                (i == 0 ? outOpen : errOpen) = false;
        }
    }
    if (outOpen || errOpen)
        ::kill(c.pid, SIGKILL);
    int status = 0;
    ::waitpid(c.pid, &status, 0);
    ::close(c.out);
    ::close(c.err);
    result.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return result;
}

// kestrel-sim with its command peer on a free port, stopped with SIGTERM.
class Simulator
{
public:
    Simulator()
    {
        child =
            spawn(KESTREL_SIM, {"--command-port", "0", "--quiet", "--rate", "1", "--port", "9"});
        std::string line;
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        while (line.find('\n') == std::string::npos &&
               std::chrono::steady_clock::now() < deadline) {
            pollfd p{child.out, POLLIN, 0};
            char chunk[256];
            if (::poll(&p, 1, 1000) != 1)
                continue;
            const ssize_t n = ::read(child.out, chunk, sizeof chunk);
            if (n <= 0)
                break;
            line.append(chunk, static_cast<size_t>(n));
        }
        const std::string marker = "command port ";
        const size_t at = line.find(marker);
        if (at != std::string::npos)
            port = std::stoi(line.substr(at + marker.size()));
    }
    ~Simulator()
    {
        if (child.pid > 0) {
            ::kill(child.pid, SIGTERM);
            int status = 0;
            ::waitpid(child.pid, &status, 0);
        }
        ::close(child.out);
        ::close(child.err);
    }
    Child child;
    int port = 0;
};

RunResult ctl(int port, std::vector<std::string> args)
{
    args.insert(args.begin(), {"--port", std::to_string(port), "--timeout-ms", "5000"});
    return run(KESTREL_CTL, args);
}

struct CtlCase
{
    const char* name;
    std::vector<std::string> args;
    int exitCode;
    std::string out; // exact standard output
    std::string err; // text that standard error must contain
};

class KestrelCtlTest : public ::testing::TestWithParam<CtlCase>
{
public:
    static void SetUpTestSuite() { sim = new Simulator; }
    static void TearDownTestSuite()
    {
        delete sim;
        sim = nullptr;
    }
    static Simulator* sim;
};
Simulator* KestrelCtlTest::sim = nullptr;

TEST_P(KestrelCtlTest, ExitCodeAndOutput)
{
    ASSERT_NE(sim->port, 0) << "kestrel-sim did not print its command port";
    const CtlCase& c = GetParam();
    const RunResult r = ctl(sim->port, c.args);
    EXPECT_EQ(r.exitCode, c.exitCode) << r.err;
    EXPECT_EQ(r.out, c.out);
    EXPECT_NE(r.err.find(c.err), std::string::npos) << r.err;
}

INSTANTIATE_TEST_SUITE_P(
    KestrelCtl, KestrelCtlTest,
    ::testing::Values(
        CtlCase{"GetWithLeadingZero", {"get", "output", "ch01"}, 0, "off\n", ""},
        CtlCase{"GetUnknownIsRefused", {"get", "nope"}, 1, "", "refused: 3 \"unknown parameter\""},
        CtlCase{"PlainCommand", {"cmd", "ping"}, 0, "ok\n", ""},
        CtlCase{"UnknownCommandIsRefused",
                {"cmd", "launch", "now"},
                1,
                "",
                "refused: 2 \"unknown command\""},
        // Caught before the controller could only say "unknown parameter".
        CtlCase{"SetWithoutValue", {"set", "output", "ch1"}, 64, "", "missing value"},
        CtlCase{"NoSubcommand", {}, 64, "", "subcommand"},
        CtlCase{"ZeroTimeout", {"--timeout-ms", "0", "get", "x"}, 64, "", "--timeout-ms"},
        CtlCase{"RequestTooLong", {"get", std::string(200, 'p')}, 64, "", "at most 200"}),
    [](const ::testing::TestParamInfo<CtlCase>& info) { return std::string(info.param.name); });

TEST_F(KestrelCtlTest, SetThenGetAndMessages)
{
    ASSERT_NE(sim->port, 0);
    EXPECT_EQ(ctl(sim->port, {"set", "tracking", "rate", "120"}).out, "ok\n");
    EXPECT_EQ(ctl(sim->port, {"get", "tracking", "rate"}).out, "120\n");

    EXPECT_EQ(ctl(sim->port, {"cmd", "tracking", "start"}).exitCode, 0);
    EXPECT_EQ(ctl(sim->port, {"cmd", "tracking", "stop"}).exitCode, 0);
    const RunResult m = ctl(sim->port, {"messages"});
    EXPECT_EQ(m.exitCode, 0) << m.err;
    EXPECT_EQ(m.out,
              "tracking info 1 0 \"tracking started\"\ntracking info 0 0 \"tracking stopped\"\n");
    const RunResult none = ctl(sim->port, {"messages"});
    EXPECT_EQ(none.exitCode, 0);
    EXPECT_EQ(none.out, "");
}

TEST(KestrelCtl, HelpListsTheSubcommands)
{
    const RunResult r = run(KESTREL_CTL, {"--help"});
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_NE(r.out.find("messages"), std::string::npos);
    EXPECT_NE(r.out.find("--timeout-ms"), std::string::npos);
}

// A listening socket that accepts into its backlog and never answers.
struct SilentListener
{
    SilentListener() : fd(::socket(AF_INET, SOCK_STREAM, 0))
    {
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t len = sizeof a;
        if (::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0 && ::listen(fd, 4) == 0 &&
            ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len) == 0)
            port = ntohs(a.sin_port);
    }
    ~SilentListener() { ::close(fd); }
    int fd;
    int port = 0;
};

TEST(KestrelCtl, TransportFailuresExitWithTwo)
{
    int closedPort = 0;
    {
        SilentListener l;
        closedPort = l.port;
    }
    const RunResult refused =
        run(KESTREL_CTL, {"--port", std::to_string(closedPort), "cmd", "ping"});
    EXPECT_EQ(refused.exitCode, 2);
    EXPECT_NE(refused.err.find("network"), std::string::npos) << refused.err;

    SilentListener silent;
    ASSERT_NE(silent.port, 0);
    const RunResult timeout = run(
        KESTREL_CTL, {"--port", std::to_string(silent.port), "--timeout-ms", "200", "cmd", "ping"});
    EXPECT_EQ(timeout.exitCode, 2);
    EXPECT_NE(timeout.err.find("timeout"), std::string::npos) << timeout.err;
}

} // namespace
