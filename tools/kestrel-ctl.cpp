// kestrel-ctl: reads and writes controller parameters, sends commands and
// fetches queued messages over the command channel of TrackingSdk.

#include "commandline.h"
#include "trackingsdk.h"

#include <CLI/CLI.hpp>

#include <cstdio>
#include <iostream>
#include <string>
#include <vector>

namespace {

constexpr int kExitOk = 0;
constexpr int kExitRefused = 1;
constexpr int kExitTransport = 2;
constexpr int kExitUsage = CommandLine::kExitUsage;

// Bounds the "messages" loop, so that a controller that never runs out of
// messages cannot keep the tool busy forever.
constexpr int kMaxMessages = 10000;

std::string joined(const std::vector<std::string>& words)
{
    std::string text;
    for (const std::string& w : words)
        text += (text.empty() ? "" : " ") + w;
    return text;
}

// Prints why the last operation failed and returns the exit code for it.
int reportFailure(const TrackingSdk& sdk, int timeoutMs)
{
    if (sdk.isServerTimeout()) {
        std::cerr << "timeout: no answer within " << timeoutMs << " ms\n";
        return kExitTransport;
    }
    if (sdk.isServerNetError()) {
        std::cerr << "network: "
                  << (sdk.isCommandChannelClosed() ? "the controller closed the connection"
                                                   : "the exchange with the controller failed")
                  << "\n";
        return kExitTransport;
    }
    if (sdk.isServerParseError()) {
        std::cerr << "parse: the controller's answer could not be read\n";
        return kExitTransport;
    }
    int32_t code = 0;
    std::string text;
    if (sdk.getLastServerErrorCode(code) && sdk.getLastServerErrorText(text)) {
        std::cerr << "refused: " << code << " \"" << text << "\"\n";
        return kExitRefused;
    }
    std::cerr << "parse: unexpected answer from the controller\n";
    return kExitTransport;
}

int run(int argc, char** argv)
{
    CLI::App app{"Talks to a Kestrel controller's command port: get and set parameters, send "
                 "commands, fetch queued messages."};
    app.footer("Exit status: 0 ok, 1 refused by the controller, 2 timeout, network or parse "
               "failure, 64 on bad usage.");
    std::string host = "127.0.0.1";
    int port = TrackingSdk::kDefaultCommandPort;
    int timeoutMs = 2000;
    app.add_option("--host", host, "controller host name or dotted IPv4 address")
        ->capture_default_str();
    app.add_option("--port", port, "controller command port")
        ->check(CLI::Range(1, 65535))
        ->capture_default_str();
    // The SDK keeps the limit in microseconds as a signed 32-bit count.
    app.add_option("--timeout-ms", timeoutMs, "time limit for each send and each answer")
        ->check(CLI::Range(1, 2147483))
        ->capture_default_str();
    app.require_subcommand(1);

    std::vector<std::string> getWords;
    std::vector<std::string> setWords;
    std::vector<std::string> cmdWords;
    CLI::App* get = app.add_subcommand("get", "print the value of a parameter");
    get->add_option("PARAM", getWords, "parameter name, one or more words")->required();
    CLI::App* set = app.add_subcommand("set", "set a parameter; the last word is the value");
    set->add_option("PARAM VALUE", setWords, "parameter name words, then the value")->required();
    CLI::App* cmd = app.add_subcommand("cmd", "send a plain command");
    cmd->add_option("COMMAND", cmdWords, "command words")->required();
    app.add_subcommand("messages", "print every queued message");

    const int usage = CommandLine::parse(app, argc, argv, [&] {
        if (host.empty())
            throw CLI::ValidationError("--host", "must not be empty");
        if (set->parsed() && setWords.size() < 2)
            throw CLI::ValidationError("set", "needs a parameter and a value");
    });
    if (usage >= 0)
        return usage;

    std::string request;
    if (get->parsed())
        request = "kestrel get " + joined(getWords);
    else if (set->parsed())
        request = "kestrel set " + joined(setWords);
    else if (cmd->parsed())
        request = "kestrel " + joined(cmdWords);
    if (request.size() > static_cast<size_t>(TrackingSdk::kMaxRequestLength)) {
        std::cerr << "kestrel-ctl: the request has " << request.size() << " characters, at most "
                  << TrackingSdk::kMaxRequestLength << " fit\n";
        return kExitUsage;
    }

    // Data port 0 and a small buffer: this tool never receives tracking data.
    TrackingSdk sdk(host, static_cast<uint16_t>(port), 0, 64, 1000, timeoutMs * 1000);
    if (!sdk.isValid()) {
        std::cerr << "network: cannot connect to " << host << " port " << port << "\n";
        return kExitTransport;
    }

    if (get->parsed()) {
        std::string value;
        if (!sdk.getParam(joined(getWords), value))
            return reportFailure(sdk, timeoutMs);
        std::cout << value << "\n";
        return kExitOk;
    }
    if (set->parsed() || cmd->parsed()) {
        const bool ok =
            set->parsed() ? sdk.setParam(joined(setWords)) : sdk.sendCommand(joined(cmdWords));
        if (!ok)
            return reportFailure(sdk, timeoutMs);
        std::cout << "ok\n";
        return kExitOk;
    }
    for (int i = 0; i < kMaxMessages; ++i) {
        if (!sdk.getMessage()) {
            int32_t code = 0;
            // "kestrel ok": nothing more is pending.
            if (!sdk.isServerTimeout() && !sdk.isServerNetError() && !sdk.isServerParseError() &&
                !sdk.getLastServerErrorCode(code))
                return kExitOk;
            return reportFailure(sdk, timeoutMs);
        }
        std::cout << sdk.getMessageWord1() << " " << sdk.getMessageWord2() << " "
                  << sdk.getMessageNumber1() << " " << sdk.getMessageNumber2() << " \""
                  << sdk.getMessageText() << "\"\n";
    }
    return kExitOk;
}

} // namespace

int main(int argc, char** argv)
{
    try {
        return run(argc, argv);
    } catch (const std::exception& e) {
        std::cerr << "kestrel-ctl: " << e.what() << "\n";
    } catch (...) {
        std::cerr << "kestrel-ctl: unexpected failure\n";
    }
    return kExitTransport;
}
