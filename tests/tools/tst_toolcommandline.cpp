// The four tools' shared command-line vocabulary, a row per tool and case:
// the same version, help and exit statuses, and errors that name the tool.

#include "childprocess.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

namespace {

struct Tool
{
    const char* path;
    const char* name;
    std::vector<std::string> inputOption; // reads a file; empty when the tool reads none
};

const Tool kTools[] = {
    {KESTREL_SIM, "kestrel-sim", {"--replay"}},
    {KESTREL_DUMP, "kestrel-dump", {"--read"}},
    {KESTREL_CTL, "kestrel-ctl", {}},
    {KESTREL_CHECK, "kestrel-check", {"--wand-id", "W1", "--read"}},
};

struct Case
{
    const char* name;
    std::vector<std::string> args;
    int exitCode;
    int stream;           // 0: standard output, 1: standard error
    std::string expected; // "%s" stands for the tool's name
};

struct Ran
{
    int exitCode;
    std::string out;
    std::string err;
};

Ran runTool(const Tool& tool, const std::vector<std::string>& args)
{
    std::vector<std::string> argv = {tool.path};
    argv.insert(argv.end(), args.begin(), args.end());
    Process p(argv);
    Ran ran{-1, {}, {}};
    if (!p.started())
        return ran;
    for (const std::string& line : p.readAllLines(0))
        ran.out += line + "\n";
    ran.exitCode = p.finish();
    ran.err = p.errorText;
    return ran;
}

std::string named(std::string text, const char* name)
{
    for (size_t at; (at = text.find("%s")) != std::string::npos;)
        text.replace(at, 2, name);
    return text;
}

TEST(ToolCommandLine, everyToolKeepsTheSharedVocabulary)
{
    const std::string missing = "/nonexistent/capture.pcap";
    const Case cases[] = {
        {"version", {"--version"}, 0, 0, std::string("%s ") + SKYWAND_VERSION + "\n"},
        {"help", {"--help"}, 0, 0, "Exit status: 0"},
        {"unknown option", {"--bogus"}, 64, 1, "%s: The following argument was not expected"},
        {"bad number", {"--port", "abc"}, 64, 1, "%s: --port: \"abc\" is not a number"},
        {"missing input", {missing}, 66, 1, "%s: cannot read " + missing + ": No such file"},
    };
    for (const Tool& tool : kTools) {
        for (const Case& c : cases) {
            SCOPED_TRACE(std::string(tool.name) + ", " + c.name);
            std::vector<std::string> args = c.args;
            if (c.args.front() == missing) {
                if (tool.inputOption.empty())
                    continue;
                args.insert(args.begin(), tool.inputOption.begin(), tool.inputOption.end());
            }
            const Ran ran = runTool(tool, args);
            EXPECT_EQ(ran.exitCode, c.exitCode) << ran.err;
            const std::string& text = c.stream == 0 ? ran.out : ran.err;
            const std::string expected = named(c.expected, tool.name);
            if (c.exitCode == 0 || c.stream == 0)
                EXPECT_NE(text.find(expected), std::string::npos) << text;
            else
                EXPECT_EQ(text.rfind(expected, 0), 0u) << text;
        }
    }
}

// A port another program holds: the receiving tools say so, point to
// --diagnose and end without a result.
TEST(ToolCommandLine, aPortInUseIsNamedWithItsReason)
{
    const int holder = ::socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in at{};
    at.sin_family = AF_INET;
    at.sin_addr.s_addr = htonl(INADDR_ANY);
    socklen_t length = sizeof at;
    ASSERT_EQ(::bind(holder, reinterpret_cast<sockaddr*>(&at), sizeof at), 0);
    ASSERT_EQ(::getsockname(holder, reinterpret_cast<sockaddr*>(&at), &length), 0);
    const std::string port = std::to_string(ntohs(at.sin_port));
    const std::pair<Tool, std::vector<std::string>> runs[] = {
        {kTools[1], {"--port", port}}, {kTools[3], {"--port", port, "--wand-id", "W1"}}};
    for (const auto& [tool, args] : runs) {
        SCOPED_TRACE(tool.name);
        const Ran ran = runTool(tool, args);
        EXPECT_EQ(ran.exitCode, 2) << ran.err;
        EXPECT_NE(ran.err.find(std::string(tool.name) + ": cannot open UDP port " + port +
                               ": in use by another program (kestrel-dump --diagnose --port " +
                               port),
                  std::string::npos)
            << ran.err;
    }
    ::close(holder);
}

} // namespace
