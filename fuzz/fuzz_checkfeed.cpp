// The check engine as a whole: the input is read as a sequence of events for
// one CheckFeed driving one SkywandCheck (frames of the controller's format
// with any counters, times, buttons and joystick values, foreign datagrams, a
// second sender, quiet spells) and ends with stop(). Beyond crashes it checks
// that every figure of the result is finite or NaN (absent), that the JSON
// report parses back, and that the same events judged twice give the same
// report byte for byte.

#include "checkfeed.h"
#include "checkreport.h"
#include "skywandcheck.h"

#include <nlohmann/json.hpp>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

// Enough for the whole check at 60 frames a second, and a bound on the time
// one input takes.
constexpr int kMaxDatagrams = 3000;
constexpr int kMaxRun = 64;

constexpr DatagramSender kController{0x0A000001, 5001};
constexpr DatagramSender kSecond{0x0A000002, 5001};

// Numbers as the controller might write them, and as it should not.
constexpr const char* kValues[] = {
    "0",    "1",     "-1",     "0.5",    "-0.5",   "0.01",   "nan",  "inf",
    "-inf", "1e308", "-1e308", "1e-320", "3.4e38", "1e39",   "-nan", "0x1p-3",
    "+.25", "100.0", "200.0",  "300.0",  "0.999",  "-0.999", "2",    "NAN",
};
constexpr size_t kValueCount = sizeof kValues / sizeof kValues[0];

// Microseconds between events.
constexpr int64_t kSteps[] = {0,     1,      1000,   10000,   16667,   16667,
                              16667, 100000, 500000, 2100000, 11000000};
constexpr int64_t kJumps[] = {-1, -1000, -1000000, 1000000000, -1000000000, 3600000000LL};

constexpr const char* kForeign[] = {"PING 1",     "",         "fr\n",         "fr 5\n",
                                    "6df2 1 1\n", "ts 1.0\n", "fr 1\nfr 2\n", "hello\n"};

class Bytes
{
public:
    Bytes(const uint8_t* data, size_t size) : at(data), end(data + size) {}
    bool empty() const { return at == end; }
    uint8_t byte() { return at == end ? 0 : *at++; }
    uint32_t word()
    {
        uint32_t v = 0;
        for (int i = 0; i < 4; ++i)
            v = v << 8 | byte();
        return v;
    }
    const uint8_t* take(size_t& n)
    {
        n = std::min(n, size_t(end - at));
        const uint8_t* out = at;
        at += n;
        return out;
    }

private:
    const uint8_t* at;
    const uint8_t* end;
};

struct Wand
{
    int skywands = 1; // the frame's Skywand count
    int records = 1;  // records written
    int buttons = 2;
    int joysticks = 2;
    uint32_t bits = 0;
    std::string x = "0";
    std::string y = "0";
    std::string quality = "1.000";
    std::string position = "100.0 200.0 300.0";
};

std::string number(double v)
{
    char text[32];
    std::snprintf(text, sizeof text, "%.6f", v);
    return text;
}

std::string frameText(uint32_t counter, const Wand& w)
{
    std::string out = "fr " + std::to_string(counter) + "\n6df2 " + std::to_string(w.skywands) +
                      ' ' + std::to_string(w.records);
    for (int i = 0; i < w.records; ++i) {
        out += " [" + std::to_string(i) + ' ' + w.quality + ' ' + std::to_string(w.buttons) + ' ' +
               std::to_string(w.joysticks) + "][" + w.position + "][1 0 0 0 1 0 0 0 1][" +
               std::to_string(w.bits);
        for (int j = 0; j < w.joysticks; ++j)
            out += ' ' + (j == 0 ? w.x : j == 1 ? w.y : std::string("0"));
        out += ']';
    }
    return out + '\n';
}

void requireFigure(double v)
{
    if (std::isinf(v))
        std::abort();
}

void checkResult(const CheckResult& r)
{
    requireFigure(r.startTime);
    requireFigure(r.finishTime);
    for (const ButtonResult& b : r.buttons) {
        requireFigure(b.pressedAt);
        requireFigure(b.releasedAt);
    }
    for (double v : {r.rest.centreX, r.rest.centreY, r.rest.offset, r.rest.noiseX, r.rest.noiseY})
        requireFigure(v);
    requireFigure(r.circle.sweptDeg);
    requireFigure(r.circle.coverage);
    requireFigure(r.circle.circularityError);
    for (double v : r.circle.circularityErrorQuadrant)
        requireFigure(v);
    for (double v : r.circle.reach)
        requireFigure(v);
    for (double v : r.circle.sectorRadius)
        requireFigure(v);
    const HoldResult& h = r.hold;
    for (double v : {h.trackedShare, h.qualityMin, h.qualityMean, h.positionSigmaMm,
                     h.positionJitterMm, h.rotationJitterDeg, h.largestJumpMm})
        requireFigure(v);
    if (r.rest.samples < 0 || r.circle.samples < 0 || r.circle.counted > r.circle.samples ||
        h.frames < 0 || h.droppedFrames < 0 || h.trackedFrames > h.frames)
        std::abort();
}

// Runs the events once and returns the report.
std::string judge(const uint8_t* data, size_t size)
{
    Bytes in(data, size);
    const int index = in.byte() % 2;
    SkywandCheck check;
    CheckFeed feed(check, index);
    Wand wand;
    wand.skywands = wand.records = index + 1;
    uint32_t counter = in.word();
    int64_t now = 1796000000000000LL; // December 2026
    int sent = 0;
    double phase = 0.0; // the joystick's angle, carried from run to run

    const auto send = [&](const std::string& text, const DatagramSender& from) {
        feed.datagram(text.data(), text.size(), now, from, 5000);
        ++sent;
    };
    const auto value = [&]() {
        const uint8_t b = in.byte();
        return b < kValueCount ? std::string(kValues[b]) : number((b - 128) / 100.0);
    };

    while (!in.empty() && sent < kMaxDatagrams) {
        const uint8_t op = in.byte();
        switch (op % 9) {
        case 0: // one frame of the controller, a step later
            now += kSteps[in.byte() % std::size(kSteps)];
            send(frameText(++counter, wand), kController);
            break;
        case 1: { // a run of frames: at rest, along a circle or pressing a button
            const int count = 1 + in.byte() % kMaxRun;
            const int64_t step = kSteps[in.byte() % std::size(kSteps)];
            const uint8_t pattern = in.byte();
            const double radius = (pattern & 0x0f) / 10.0;
            const double turn = (in.byte() - 128) / 256.0;
            const uint32_t pressed = pattern >> 4 ? 1u << ((pattern >> 4) - 1) : 0u;
            for (int i = 0; i < count && sent < kMaxDatagrams; ++i) {
                now += step;
                phase += turn;
                wand.x = number(radius * std::cos(phase));
                wand.y = number(radius * std::sin(phase));
                wand.bits = i < count / 2 ? pressed : 0u;
                send(frameText(++counter, wand), kController);
            }
            break;
        }
        case 2: // a frame of another sender
            now += kSteps[in.byte() % std::size(kSteps)];
            send(frameText(in.word(), wand), kSecond);
            break;
        case 3: { // another program's datagram, or any bytes
            now += kSteps[in.byte() % std::size(kSteps)];
            const uint8_t pick = in.byte();
            if (pick < std::size(kForeign)) {
                send(kForeign[pick], pick & 1 ? kSecond : kController);
            } else {
                size_t n = pick;
                const uint8_t* raw = in.take(n);
                send(std::string(reinterpret_cast<const char*>(raw), n), kController);
            }
            break;
        }
        case 4:
            now += kSteps[in.byte() % std::size(kSteps)];
            feed.quiet(now);
            break;
        case 5:
            now += kJumps[in.byte() % std::size(kJumps)];
            break;
        case 6: // the controller's counter leaps, or an earlier frame comes again
            if (in.byte() & 1)
                counter = in.word();
            else
                send(frameText(counter - in.byte(), wand), kController);
            break;
        case 7: { // the wand changes
            const uint8_t what = in.byte();
            switch (what % 6) {
            case 0:
                wand.buttons = in.byte() % 20;
                wand.joysticks = in.byte() % 5;
                break;
            case 1:
                wand.bits = in.word();
                break;
            case 2:
                wand.x = value();
                wand.y = value();
                break;
            case 3:
                wand.quality = value();
                break;
            case 4:
                wand.position = value() + ' ' + value() + ' ' + value();
                break;
            case 5:
                wand.skywands = in.byte() % 4;
                wand.records = std::min(wand.skywands, int(in.byte() % 4));
                break;
            }
            break;
        }
        case 8:
            now += kSteps[in.byte() % std::size(kSteps)];
            feed.stop(now, "stopped");
            break;
        }
    }
    feed.stop(now, "the input ended");
    if (!check.finished())
        std::abort();

    const FeedEvidence& e = feed.evidence();
    if (e.judged + e.late + e.repeated + e.foreign + e.undecodable + e.otherSender > e.datagrams ||
        e.datagrams > sent)
        std::abort();
    const CheckResult& result = check.result();
    checkResult(result);

    CheckReportInfo info;
    info.toolName = "fuzz";
    info.toolVersion = "1";
    info.wandId = "W1";
    info.operatorName = "op";
    info.skywandIndex = index;
    info.port = 5000;
    int64_t originUs = 0;
    feed.started(originUs);
    const auto atUs = [&](double seconds) {
        return std::isfinite(seconds) ? originUs + std::llround(seconds * 1e6) : originUs;
    };
    info.startedUs = atUs(result.startTime);
    info.finishedUs = atUs(result.finishTime);
    info.evidence = e;
    return reportJson(info, check.profile(), result);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::string first = judge(data, size);
    if (nlohmann::json::parse(first, nullptr, false).is_discarded())
        std::abort();
    if (judge(data, size) != first)
        std::abort();
    return 0;
}
