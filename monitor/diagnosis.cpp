#include "diagnosis.h"

#include "printabletext.h"

#include <cstdarg>
#include <cstdio>

namespace {

constexpr size_t kMaxListed = 4; // streams, senders or holders named in one line
constexpr size_t kMaxSkywandsListed = 8;

std::string format(const char* pattern, ...)
{
    char text[1024];
    va_list args;
    va_start(args, pattern);
    const int n = std::vsnprintf(text, sizeof text, pattern, args);
    va_end(args);
    return n < 0 ? std::string() : std::string(text);
}

std::string skywandName(int32_t index)
{
    return "F" + std::to_string(index + 1);
}

std::string holderText(const PortHolder& holder)
{
    const char* family = holder.ipv6 ? "IPv6" : "IPv4";
    if (holder.pid == 0)
        return format(
            "a socket of user %u that this user cannot trace to a program (%s, inode %llu)",
            holder.uid, family, (unsigned long long)holder.inode);
    return format("%s (process %d, user %u, %s)", holder.program.c_str(), holder.pid, holder.uid,
                  family);
}

// A count with its noun, singular for exactly one: these counts are often one.
std::string counted(uint64_t count, const char* one, const char* many)
{
    return format("%llu %s", (unsigned long long)count, count == 1 ? one : many);
}

std::string countsText(const HealthFigures& h)
{
    const StreamCounts& c = h.total;
    return format("listened %.1f s: %s, %s, %llu without a line of the controller's format, %llu "
                  "failed to decode, %s, %s",
                  h.now - h.since, counted(c.datagrams, "datagram", "datagrams").c_str(),
                  counted(c.frames, "frame", "frames").c_str(), (unsigned long long)c.foreign,
                  (unsigned long long)c.parseErrors,
                  counted(c.netErrors, "network failure", "network failures").c_str(),
                  counted(c.timeouts, "timeout", "timeouts").c_str());
}

std::string continuityText(const HealthFigures& h)
{
    const StreamCounts& c = h.total;
    return format("frame counter %u: %s (%s missed), %llu repeated, %llu back; data age %.3f s",
                  h.frameCounter, counted(c.gaps, "gap", "gaps").c_str(),
                  counted(c.missedFrames, "frame", "frames").c_str(),
                  (unsigned long long)c.repeated, (unsigned long long)c.backward, h.dataAge);
}

std::string skywandsText(const HealthFigures& h)
{
    std::string text = "Skywands:";
    if (h.skywands.empty())
        return text + " none";
    for (size_t i = 0; i < h.skywands.size() && i < kMaxSkywandsListed; ++i) {
        const SkywandHealth& s = h.skywands[i];
        text += (i ? ", " : " ") + skywandName(int32_t(i));
        text += s.inLastFrame ? format(" quality %.2f", double(s.quality)) : " not in the frame";
    }
    if (h.skywands.size() > kMaxSkywandsListed)
        text += format(" and %zu more", h.skywands.size() - kMaxSkywandsListed);
    return text;
}

std::string parseFailureText(const ParseFailure& failure)
{
    // The line's text comes off the network: no control character of it
    // reaches a terminal.
    const std::string text = printableText(failure.text);
    return format("line %d, column %d: %s: \"%s\"", failure.line, failure.column,
                  failure.reason.c_str(), text.c_str());
}

std::string captureText(const DiagnosisEvidence& e)
{
    const CaptureReport& c = e.capture;
    switch (c.status) {
    case CaptureStatus::NotRun:
        return {};
    case CaptureStatus::NoPermission:
        return "no right to capture the traffic for other ports (" + c.error +
               "): grant it as root with " + captureGrantCommand(c.program) + ", or run as root";
    case CaptureStatus::Failed:
        return "the capture of other ports failed: " + c.error;
    case CaptureStatus::Done:
        break;
    }
    std::string text = format("captured %.1f s on all interfaces: %llu UDP datagrams, ", c.seconds,
                              (unsigned long long)c.udpDatagrams);
    if (c.streams.empty())
        return text + "none of them a frame of the controller's format";
    text += "frames of the controller's format";
    for (size_t i = 0; i < c.streams.size() && i < kMaxListed; ++i) {
        const CapturedStream& s = c.streams[i];
        text += format("%s %llu to port %u from %s", i ? "," : "", (unsigned long long)s.datagrams,
                       unsigned(s.port), s.sender.c_str());
    }
    if (c.streams.size() > kMaxListed || c.otherStreamDatagrams > 0)
        text += ", and more";
    return text;
}

void collectEvidence(const DiagnosisEvidence& e, std::vector<std::string>& lines)
{
    const HealthFigures& h = e.health;
    if (!e.portOpened) {
        lines.push_back(format("port %u could not be opened", unsigned(e.port)));
        if (!e.portHolders.tableReadable)
            lines.push_back("the system's table of UDP sockets could not be read");
        for (size_t i = 0; i < e.portHolders.holders.size() && i < kMaxListed; ++i)
            lines.push_back("held by " + holderText(e.portHolders.holders[i]));
        return;
    }
    lines.push_back(format("port %u is open", unsigned(e.port)));
    lines.push_back(countsText(h));
    if (e.lastParseFailure.line > 0)
        lines.push_back("last decode failure at " + parseFailureText(e.lastParseFailure));
    if (h.sender.known()) {
        std::string senders = "sender " + endpointText(h.sender);
        if (h.twoSenders())
            senders += " and " + endpointText(h.otherSender);
        lines.push_back(senders);
    }
    if (h.haveFrame) {
        lines.push_back(continuityText(h));
        lines.push_back(skywandsText(h));
    }
    const std::string capture = captureText(e);
    if (!capture.empty())
        lines.push_back(capture);
}

// Situation 1: the port did not open.
void portNotOpened(const DiagnosisEvidence& e, Diagnosis& d)
{
    const unsigned port = e.port;
    const std::string command = portHolderCommand(e.port);
    d.situation = Situation::PortHeld;
    d.outcome = DiagnosisClass::CauseFound;
    for (const PortHolder& holder : e.portHolders.holders) {
        if (holder.pid != 0) {
            d.sentence = format("Port %u is held by another program, %s (process %d): close it or "
                                "choose another port.",
                                port, holder.program.c_str(), holder.pid);
            return;
        }
    }
    if (!e.portHolders.holders.empty()) {
        d.sentence = format("Port %u is held by another program that this user cannot see (%s run "
                            "as root names it): close it or choose another port.",
                            port, command.c_str());
        return;
    }
    if (port < 1024 && !e.privileged) {
        d.sentence = format("Port %u is reserved to programs with administrator rights: choose a "
                            "port from 1024 on.",
                            port);
        return;
    }
    d.outcome = DiagnosisClass::Undetermined;
    d.situation = Situation::Unknown;
    d.sentence = format("Port %u could not be opened, but no program was seen holding it: try "
                        "again, or look with %s run as root.",
                        port, command.c_str());
}

// Situations 2 and 3: no datagram reached the socket.
void nothingReceived(const DiagnosisEvidence& e, Diagnosis& d)
{
    const unsigned port = e.port;
    d.outcome = DiagnosisClass::CauseFound;
    d.situation = Situation::NothingArrives;
    const std::string tools = firewallToolsText(e.firewallTools);
    if (e.capture.status == CaptureStatus::Done) {
        for (const CapturedStream& s : e.capture.streams) {
            if (s.port != e.port) {
                d.situation = Situation::OtherPort;
                d.suggestedPort = s.port;
                d.sentence =
                    format("Nothing arrives on port %u, but frames of the controller "
                           "arrive for port %u from %s: switch the data port to %u, or "
                           "make the controller send to port %u.",
                           port, unsigned(s.port), s.sender.c_str(), unsigned(s.port), port);
                return;
            }
        }
        if (!e.capture.streams.empty()) {
            d.sentence = format("Frames for port %u reach this computer but not the program: a "
                                "firewall drops them; look at its rules (%s).",
                                port, tools.c_str());
            return;
        }
        d.sentence = format("Nothing arrives on port %u or any other port: the controller is off "
                            "or sends to another computer, or a firewall on the way drops the "
                            "datagrams (here: %s).",
                            port, tools.c_str());
        return;
    }
    d.sentence = format("Nothing arrives on port %u: the controller is off or sends elsewhere, or "
                        "a firewall drops the datagrams (here: %s).",
                        port, tools.c_str());
}

// Situation 4: datagrams arrive but give no frame, or too few.
bool unusableDatagrams(const DiagnosisEvidence& e, Diagnosis& d)
{
    const StreamCounts& c = e.health.total;
    const unsigned port = e.port;
    const auto share = [&c](uint64_t n) {
        return double(n) >= kTroubleShare * double(c.datagrams);
    };
    d.outcome = DiagnosisClass::CauseFound;
    if (c.datagrams == 0) {
        d.situation = Situation::DatagramsUnusable;
        d.sentence = format("Datagrams arrive on port %u but cannot be read (empty, or longer than "
                            "the receive buffer): check what sends to this port.",
                            port);
        return true;
    }
    const bool decodeFailures =
        c.parseErrors > 0 && (c.frames == 0 ? c.parseErrors >= c.foreign : share(c.parseErrors));
    if (decodeFailures) {
        d.situation = Situation::DecodeFailures;
        const std::string where = e.lastParseFailure.line > 0
                                      ? " (" + parseFailureText(e.lastParseFailure) + ")"
                                      : std::string();
        d.sentence = format("%llu of %llu datagrams on port %u fail to decode%s: the sender writes "
                            "something other than the controller's format, or the network damages "
                            "it.",
                            (unsigned long long)c.parseErrors, (unsigned long long)c.datagrams,
                            port, where.c_str());
        return true;
    }
    if (c.foreign > 0 && (c.frames == 0 || share(c.foreign))) {
        d.situation = Situation::ForeignTraffic;
        d.sentence = format("%llu of %llu datagrams on port %u hold no line of the controller's "
                            "format: another program sends to this port (%s); stop it or choose "
                            "another port.",
                            (unsigned long long)c.foreign, (unsigned long long)c.datagrams, port,
                            endpointText(e.health.sender).c_str());
        return true;
    }
    return false;
}

// Situations 3 (stopped), 5 and 6: frames arrive, or did.
bool framesWrong(const DiagnosisEvidence& e, Diagnosis& d)
{
    const HealthFigures& h = e.health;
    const unsigned port = e.port;
    d.outcome = DiagnosisClass::CauseFound;
    if (h.staleness == Staleness::NoFrame) {
        d.situation = Situation::NothingArrives;
        d.sentence = format("Frames stopped arriving on port %u %.1f s ago: the controller stopped "
                            "or now sends elsewhere.",
                            port, h.dataAge);
        return true;
    }
    size_t inFrame = 0;
    for (const SkywandHealth& s : h.skywands)
        inFrame += s.inLastFrame ? 1 : 0;
    if (inFrame == 0) {
        d.situation = Situation::NoSkywand;
        d.sentence = format("Frames arrive on port %u but hold no Skywand: switch the Skywand on, "
                            "and check that the controller tracks it and sends its data.",
                            port);
        return true;
    }
    const int32_t selected = e.selectedSkywand;
    if (selected >= 0 &&
        (size_t(selected) >= h.skywands.size() || !h.skywands[size_t(selected)].inLastFrame)) {
        d.situation = Situation::SkywandMissing;
        d.sentence = format("Frames hold %zu Skywand%s but none for %s: select one of those, or "
                            "switch %s on.",
                            inFrame, inFrame == 1 ? "" : "s", skywandName(selected).c_str(),
                            skywandName(selected).c_str());
        return true;
    }
    if (h.twoSenders()) {
        d.situation = Situation::TwoSenders;
        d.sentence = format("Frames arrive from two senders, %s and %s: stop one of them, or give "
                            "each its own port.",
                            endpointText(h.sender).c_str(), endpointText(h.otherSender).c_str());
        return true;
    }
    if (h.staleness == Staleness::CounterFrozen) {
        d.situation = Situation::CounterFrozen;
        d.sentence = format("Frames arrive but the frame counter stands still at %u: the "
                            "controller is frozen; restart it.",
                            h.frameCounter);
        return true;
    }
    // One step back is a controller restart, and a counter seen twice now
    // and then a duplicated datagram; more of either while the counter moves
    // means two streams with their own counters mixed on one port.
    const StreamCounts& c = h.total;
    if (c.backward >= 2 || double(c.repeated) >= kTroubleShare * double(c.frames)) {
        d.situation = Situation::TwoSenders;
        d.sentence =
            format("The frame counter went back %s and repeated %s in %s: two controllers send "
                   "to port %u; stop one of them, or give each its own port.",
                   counted(c.backward, "time", "times").c_str(),
                   counted(c.repeated, "time", "times").c_str(),
                   counted(c.frames, "frame", "frames").c_str(), port);
        return true;
    }
    return false;
}

} // namespace

Diagnosis diagnose(const DiagnosisEvidence& e)
{
    Diagnosis d;
    try {
        collectEvidence(e, d.evidence);
        const StreamCounts& c = e.health.total;
        if (!e.portOpened) {
            portNotOpened(e, d);
        } else if (c.datagrams == 0 && c.netErrors == 0) {
            nothingReceived(e, d);
            d.evidence.push_back("firewall tools: " + firewallToolsText(e.firewallTools));
        } else if (!unusableDatagrams(e, d) && !framesWrong(e, d)) {
            const HealthFigures& h = e.health;
            d.outcome = DiagnosisClass::Healthy;
            d.situation = Situation::Healthy;
            d.sentence = format("Data is healthy: %.1f frames/s, data age %.3f s, gaps %llu (%llu "
                                "frames missed).",
                                h.framesPerSecond, h.dataAge, (unsigned long long)c.gaps,
                                (unsigned long long)c.missedFrames);
        }
    } catch (...) {
        d = Diagnosis{};
        d.sentence = "The diagnosis ran out of memory.";
    }
    return d;
}
