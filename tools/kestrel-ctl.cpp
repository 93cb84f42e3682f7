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

constexpr int kExitOk = CommandLine::kExitOk;
constexpr int kExitRefused = CommandLine::kExitFailed;
constexpr int kExitTransport = CommandLine::kExitNoResult;
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
        std::cerr << "kestrel-ctl: timeout: no answer within " << timeoutMs << " ms\n";
        return kExitTransport;
    }
    if (sdk.isServerNetError()) {
        std::cerr << "kestrel-ctl: network: "
                  << (sdk.isCommandChannelClosed() ? "the controller closed the connection"
                                                   : "the exchange with the controller failed")
                  << "\n";
        return kExitTransport;
    }
    if (sdk.isServerParseError()) {
        std::cerr << "kestrel-ctl: parse: the controller's answer could not be read\n";
        return kExitTransport;
    }
    int32_t code = 0;
    std::string text;
    if (sdk.getLastServerErrorCode(code) && sdk.getLastServerErrorText(text)) {
        std::cerr << "kestrel-ctl: refused: " << code << " \"" << text << "\"\n";
        return kExitRefused;
    }
    std::cerr << "kestrel-ctl: parse: unexpected answer from the controller\n";
    return kExitTransport;
}

enum class Action
{
    Get,
    Set,
    Command,
    Messages
};

struct CtlOptions
{
    std::string host = "127.0.0.1";
    int port = TrackingSdk::kDefaultCommandPort;
    int timeoutMs = 2000;
    Action action = Action::Messages;
    std::vector<std::string> words; // of the parameter, the parameter and value, or the command
};

// Declares the options and the subcommands; one subcommand is required.
void addOptions(CLI::App& app, CtlOptions& options)
{
    app.footer("Exit status: 0 ok, 1 refused by the controller, 2 timeout, network or parse "
               "failure, 64 on bad usage (a set without its value included).");
    app.add_option("--host", options.host, "Controller host name or dotted IPv4 address")
        ->capture_default_str();
    app.add_option("--port", options.port, "Controller command port")
        ->check(CommandLine::wholeNumber(1, 65535))
        ->capture_default_str();
    // The SDK keeps the limit in microseconds as a signed 32-bit count.
    app.add_option("--timeout-ms", options.timeoutMs, "Time limit for each send and each answer")
        ->check(CommandLine::wholeNumber(1, 2147483))
        ->capture_default_str();
    // One subcommand is required; the check after parsing says so, so that
    // an unknown option is named first.
    app.require_subcommand(0, 1);
    app.add_subcommand("get", "Print the value of a parameter")
        ->add_option("PARAM", options.words, "Parameter: its category and name (output ch1)")
        ->required();
    app.add_subcommand("set", "Set a parameter: its category, its name, then the value; "
                              "\"cmd set ...\" sends any other form")
        ->add_option("PARAM VALUE", options.words, "Category, name and value (output ch1 on)")
        ->required();
    app.add_subcommand("cmd", "Send a plain command")
        ->add_option("COMMAND", options.words, "Command words")
        ->required();
    app.add_subcommand("messages", "Print every queued message");
}

Action chosenAction(const CLI::App& app)
{
    if (app.got_subcommand("get"))
        return Action::Get;
    if (app.got_subcommand("set"))
        return Action::Set;
    if (app.got_subcommand("cmd"))
        return Action::Command;
    return Action::Messages;
}

// The request as it goes out, empty for "messages".
std::string requestText(const CtlOptions& options)
{
    switch (options.action) {
    case Action::Get:
        return "kestrel get " + joined(options.words);
    case Action::Set:
        return "kestrel set " + joined(options.words);
    case Action::Command:
        return "kestrel " + joined(options.words);
    case Action::Messages:
        break;
    }
    return std::string();
}

int printMessages(TrackingSdk& sdk, int timeoutMs)
{
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

// Connects, performs the action and prints its result.
int perform(const CtlOptions& options)
{
    // Data port 0 and a small buffer: this tool never receives tracking data.
    TrackingSdk sdk(options.host, static_cast<uint16_t>(options.port), 0, 64, 1000,
                    options.timeoutMs * 1000);
    if (!sdk.isValid()) {
        std::cerr << "kestrel-ctl: network: cannot connect to " << options.host << " port "
                  << options.port << "\n";
        return kExitTransport;
    }
    const std::string words = joined(options.words);
    bool ok = false;
    std::string value = "ok"; // what set and cmd print; get prints the value
    switch (options.action) {
    case Action::Get:
        ok = sdk.getParam(words, value);
        break;
    case Action::Set:
        ok = sdk.setParam(words);
        break;
    case Action::Command:
        ok = sdk.sendCommand(words);
        break;
    case Action::Messages:
        return printMessages(sdk, options.timeoutMs);
    }
    if (!ok)
        return reportFailure(sdk, options.timeoutMs);
    std::cout << value << "\n";
    return kExitOk;
}

int run(int argc, char** argv)
{
    CLI::App app{"Talks to a Kestrel controller's command port: get and set parameters, send "
                 "commands, fetch queued messages."};
    CommandLine::setUp(app, "kestrel-ctl");
    CtlOptions options;
    addOptions(app, options);
    const int usage = CommandLine::parse(app, argc, argv, [&] {
        if (app.get_subcommands().empty())
            throw CLI::ValidationError("a subcommand is required: get, set, cmd or messages");
        options.action = chosenAction(app);
        if (options.host.empty())
            throw CLI::ValidationError("--host", "must not be empty");
        // A parameter is a category and a name ("output ch1"); sent
        // without its value, the controller would only answer that it knows
        // no parameter "output ch1".
        if (options.action == Action::Set && options.words.size() < 3)
            throw CLI::ValidationError(
                "set " + joined(options.words),
                std::string(options.words.size() < 2 ? "missing name and value" : "missing value") +
                    " (set CATEGORY NAME VALUE, as in: set output ch1 on)");
    });
    if (usage >= 0)
        return usage;
    const std::string request = requestText(options);
    if (request.size() > static_cast<size_t>(TrackingSdk::kMaxRequestLength)) {
        std::cerr << "kestrel-ctl: the request has " << request.size() << " characters, at most "
                  << TrackingSdk::kMaxRequestLength << " fit\n";
        return kExitUsage;
    }
    return perform(options);
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
