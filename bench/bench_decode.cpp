// Decoding speed of the SDK's frame decoder against three comparators on the
// same bytes: a reference decoder reading every number with strtod/strtol,
// the floor (only the frame's numbers, read by the SDK's readers from known
// positions, no structure) and a byte scan (memchr for line ends).
//
// Also ours/carryover: 20 KB of empty "6d " and "gl " lines after a datagram
// that raised the body and hand counts to their limits.
//
// Usage: bench_decode [frames folder] [Google Benchmark options]
// Ends with three lines for scripts: "ratio large reference/ours R",
// "ratio large ours/floor R", "ratio small reference/ours R" (medians of
// the CPU time, repetitions interleaved).

#include "framedecoder.h"
#include "referencedecoder.h"
#include "textreaders.h"

#include <benchmark/benchmark.h>

#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

namespace {

struct Frame
{
    std::string text;
    // Where each number of the frame starts and whether it is an integer.
    std::vector<std::pair<size_t, bool>> numbers;
};

Frame gSmall;
Frame gLarge;

bool startsNumber(const std::string& t, size_t i)
{
    const char c = t[i];
    const bool digit = c >= '0' && c <= '9';
    const bool sign = c == '-' && i + 1 < t.size() && t[i + 1] >= '0' && t[i + 1] <= '9';
    // Digits inside words such as "6df2" or "3d" are not numbers.
    const bool afterSeparator = i == 0 || t[i - 1] == ' ' || t[i - 1] == '[' || t[i - 1] == '\n';
    return (digit || sign) && afterSeparator;
}

bool load(const std::string& path, Frame& frame)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream all;
    all << in.rdbuf();
    frame.text = all.str();
    if (!in || frame.text.empty())
        return false;
    const std::string& t = frame.text;
    for (size_t i = 0; i < t.size(); ++i) {
        if (!startsNumber(t, i))
            continue;
        size_t j = i;
        bool integer = true;
        while (j < t.size() && t[j] != ' ' && t[j] != ']' && t[j] != '\n') {
            integer = integer && t[j] != '.';
            ++j;
        }
        frame.numbers.emplace_back(i, integer);
        i = j;
    }
    return true;
}

bool sameRecords(const FrameData& a, const FrameData& b)
{
    auto same = [](const auto& x, const auto& y, int32_t n) {
        return n <= static_cast<int32_t>(x.size()) && n <= static_cast<int32_t>(y.size()) &&
               std::memcmp(x.data(), y.data(), sizeof(x[0]) * static_cast<size_t>(n)) == 0;
    };
    return a.frameCounter == b.frameCounter && a.timestamp == b.timestamp &&
           a.numBody == b.numBody && a.numSkywand == b.numSkywand && a.numMarker == b.numMarker &&
           same(a.bodies, b.bodies, a.numBody) && same(a.skywands, b.skywands, a.numSkywand) &&
           same(a.markers, b.markers, a.numMarker);
}

// Both decoders must give the same records, or the comparison means nothing.
bool check(const Frame& frame, const char* name)
{
    FrameData ours;
    FrameData reference;
    const bool decoded = decodeFrame(ours, frame.text.data(), frame.text.size());
    const bool referenced = referenceDecode(reference, frame.text.c_str());
    if (!decoded || !referenced || !sameRecords(ours, reference)) {
        std::fprintf(stderr, "bench_decode: the %s frame does not decode the same way\n", name);
        return false;
    }
    return true;
}

void setCounters(benchmark::State& state, const Frame& frame)
{
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * frame.text.size()));
    state.counters["numbers"] = static_cast<double>(frame.numbers.size());
}

void ours(benchmark::State& state, const Frame* frame)
{
    FrameData data;
    for (auto _ : state) {
        bool ok = decodeFrame(data, frame->text.data(), frame->text.size());
        benchmark::DoNotOptimize(ok);
        benchmark::ClobberMemory();
    }
    setCounters(state, *frame);
}

void reference(benchmark::State& state, const Frame* frame)
{
    FrameData data;
    for (auto _ : state) {
        bool ok = referenceDecode(data, frame->text.c_str());
        benchmark::DoNotOptimize(ok);
        benchmark::ClobberMemory();
    }
    setCounters(state, *frame);
}

void floorParse(benchmark::State& state, const Frame* frame)
{
    const char* text = frame->text.data();
    const char* end = text + frame->text.size();
    for (auto _ : state) {
        double sum = 0.0;
        for (const auto& [offset, integer] : frame->numbers) {
            if (integer) {
                int32_t v = 0;
                readInt(text + offset, end, v);
                sum += v;
            } else {
                double v = 0.0;
                readDouble(text + offset, end, v);
                sum += v;
            }
        }
        benchmark::DoNotOptimize(sum);
    }
    setCounters(state, *frame);
}

void byteScan(benchmark::State& state, const Frame* frame)
{
    const char* text = frame->text.data();
    const char* end = text + frame->text.size();
    for (auto _ : state) {
        int lines = 0;
        for (const char* p = text;
             (p = static_cast<const char*>(std::memchr(p, '\n', size_t(end - p)))); ++p)
            ++lines;
        benchmark::DoNotOptimize(lines);
    }
    setCounters(state, *frame);
}

// A datagram of 20,000 bytes of empty "6d " and "gl " lines after one that
// named body 9999 and hand 999: each line resets the bodies or hands, so its
// cost shows whether resetting follows the records written or the count.
void carryOver(benchmark::State& state)
{
    const std::string pose = "[0 0 0][0 0 0 0 0 0 0 0 0]";
    const std::string first = "6d 1 [9999 1]" + pose + "\ngl 1 [999 1 0 0]" + pose;
    std::string empty;
    while (empty.size() < 20000 - 10)
        empty += "6d 0\ngl 0\n";
    FrameData data;
    decodeFrame(data, first.data(), first.size());
    for (auto _ : state) {
        bool ok = decodeFrame(data, empty.data(), empty.size());
        benchmark::DoNotOptimize(ok);
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * empty.size()));
}

// Keeps the median CPU time of every benchmark while the console shows all.
// CPU time rather than wall time: the machine is shared, and time spent
// waiting for a core is not the decoder's.
class MedianReporter : public benchmark::ConsoleReporter
{
public:
    // Colours only on a terminal, so that a log reads plainly.
    MedianReporter() : ConsoleReporter(isatty(STDOUT_FILENO) ? OO_Defaults : OO_Tabular) {}

    std::map<std::string, double> medians;

    void ReportRuns(const std::vector<Run>& runs) override
    {
        for (const Run& run : runs)
            if (run.run_type == Run::RT_Aggregate && run.aggregate_name == "median")
                medians[run.run_name.function_name] = run.GetAdjustedCPUTime();
        ConsoleReporter::ReportRuns(runs);
    }
};

} // namespace

int main(int argc, char** argv)
{
    std::string folder = SKYWAND_BENCH_FRAMES;
    std::vector<char*> args{argv[0]};
    for (int i = 1; i < argc; ++i) {
        if (std::strncmp(argv[i], "--", 2) == 0)
            args.push_back(argv[i]);
        else
            folder = argv[i];
    }
    if (!load(folder + "/small.txt", gSmall) || !load(folder + "/large.txt", gLarge)) {
        std::fprintf(stderr, "bench_decode: cannot read the frames in %s\n", folder.c_str());
        return 2;
    }
    if (!check(gSmall, "small") || !check(gLarge, "large"))
        return 1;

    for (auto [name, frame] : {std::pair{"small", &gSmall}, std::pair{"large", &gLarge}}) {
        const std::string n = name;
        benchmark::RegisterBenchmark(("ours/" + n).c_str(), ours, frame);
        benchmark::RegisterBenchmark(("reference/" + n).c_str(), reference, frame);
        benchmark::RegisterBenchmark(("floor/" + n).c_str(), floorParse, frame);
        benchmark::RegisterBenchmark(("bytescan/" + n).c_str(), byteScan, frame);
    }

    benchmark::RegisterBenchmark("ours/carryover", carryOver);

    // Repetitions interleaved at random, so that a burst of load from
    // elsewhere on the machine spreads over all contenders alike.
    std::string repetitions = "--benchmark_repetitions=15";
    std::string interleave = "--benchmark_enable_random_interleaving=true";
    std::string minTime = "--benchmark_min_time=0.05";
    std::vector<char*> all{args[0], repetitions.data(), interleave.data(), minTime.data()};
    all.insert(all.end(), args.begin() + 1, args.end());
    int count = static_cast<int>(all.size());
    benchmark::Initialize(&count, all.data());
    MedianReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();

    auto ratio = [&](const char* a, const char* b) {
        const double x = reporter.medians[a];
        const double y = reporter.medians[b];
        return y > 0.0 ? x / y : std::nan("");
    };
    std::printf("ratio large reference/ours %.2f\n", ratio("reference/large", "ours/large"));
    std::printf("ratio large ours/floor %.2f\n", ratio("ours/large", "floor/large"));
    std::printf("ratio small reference/ours %.2f\n", ratio("reference/small", "ours/small"));
    return 0;
}
