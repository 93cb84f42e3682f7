// Receiving speed of TrackingSdk::receive over loopback: a sender thread
// sends the small benchmark frame, its "ts " line carrying the send time,
// while this thread calls receive() in a loop. For each rate it prints the
// frames sent and decoded per second, the age of each decoded frame (send
// to end of decode, p50 and p99) and the allocations per receive.
//
// Usage: bench_receive [seconds per rate] [frames folder]
// Rates: 1000 and 20000 frames a second, then flat out.

#include "netio.h"
#include "trackingsdk.h"

#include <time.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <new>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

// Allocations made by the receiving thread while it is being measured.
thread_local bool tCounting = false;
std::atomic<uint64_t> gAllocations{0};

double threadCpuSeconds()
{
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return double(t.tv_sec) + double(t.tv_nsec) * 1e-9;
}

double now()
{
    return std::chrono::duration<double>(Clock::now().time_since_epoch()).count();
}

struct Result
{
    uint64_t sent = 0;
    uint64_t decoded = 0;
    uint64_t failed = 0;
    uint64_t allocations = 0;
    double seconds = 0.0;
    double cpuSeconds = 0.0; // of the receiving thread
    std::vector<double> agesUs;
};

// The frame text with its header replaced: counter and send time.
std::string stamped(const std::string& body, uint64_t number, double seconds)
{
    char head[64];
    std::snprintf(head, sizeof head, "fr %llu\nts %.6f\n", static_cast<unsigned long long>(number),
                  seconds);
    return head + body;
}

Result run(TrackingSdk& sdk, const std::string& body, double rate, double seconds)
{
    Result result;
    std::atomic<bool> stop{false};
    std::thread sender([&] {
        UdpSender out;
        std::string error;
        if (!out.open("127.0.0.1", sdk.getDataPort(), error)) {
            std::fprintf(stderr, "bench_receive: %s\n", error.c_str());
            std::exit(2);
        }
        const auto start = Clock::now();
        uint64_t n = 0;
        while (!stop) {
            if (rate > 0.0) {
                // Frames that fell due while sleeping go out at once, so the
                // average rate holds even with a coarse sleep.
                const auto due = start + std::chrono::duration_cast<Clock::duration>(
                                             std::chrono::duration<double>(double(n) / rate));
                if (Clock::now() < due) {
                    std::this_thread::sleep_until(due);
                    continue;
                }
            }
            const std::string text = stamped(body, ++n, now());
            out.send(text.data(), text.size());
        }
        result.sent = n;
    });

    result.agesUs.reserve(static_cast<size_t>(rate > 0 ? rate * seconds * 1.2 : 4e6));
    const auto start = Clock::now();
    const auto until =
        start + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(seconds));
    const uint64_t before = gAllocations;
    const double cpuBefore = threadCpuSeconds();
    tCounting = true;
    while (Clock::now() < until) {
        if (sdk.receive()) {
            const double age = (now() - sdk.getTimestamp()) * 1e6;
            ++result.decoded;
            if (result.agesUs.size() < result.agesUs.capacity())
                result.agesUs.push_back(age);
        } else {
            ++result.failed;
        }
    }
    tCounting = false;
    result.cpuSeconds = threadCpuSeconds() - cpuBefore;
    result.allocations = gAllocations - before;
    result.seconds = std::chrono::duration<double>(Clock::now() - start).count();
    stop = true;
    sender.join();
    // Drain what is still in flight so that the next rate starts clean.
    while (sdk.receive() || !sdk.isDataTimeout()) {
    }
    return result;
}

double percentile(std::vector<double>& values, double q)
{
    if (values.empty())
        return 0.0;
    const size_t k = static_cast<size_t>(q * double(values.size() - 1));
    std::nth_element(values.begin(), values.begin() + static_cast<long>(k), values.end());
    return values[k];
}

} // namespace

void* operator new(std::size_t size)
{
    if (tCounting)
        ++gAllocations;
    if (void* p = std::malloc(size ? size : 1))
        return p;
    throw std::bad_alloc();
}

void operator delete(void* p) noexcept
{
    std::free(p);
}
void operator delete(void* p, std::size_t) noexcept
{
    std::free(p);
}

int main(int argc, char** argv)
{
    const double seconds = argc > 1 ? std::atof(argv[1]) : 5.0;
    const std::string folder = argc > 2 ? argv[2] : SKYWAND_BENCH_FRAMES;
    std::ifstream in(folder + "/small.txt");
    std::ostringstream all;
    all << in.rdbuf();
    std::string body = all.str();
    // The header lines are replaced per frame.
    for (int i = 0; i < 2 && body.find('\n') != std::string::npos; ++i)
        body.erase(0, body.find('\n') + 1);
    if (body.empty()) {
        std::fprintf(stderr, "bench_receive: cannot read %s/small.txt\n", folder.c_str());
        return 2;
    }

    // The window's buffer of 20000 bytes; a short data timeout, so that the
    // drain between rates ends quickly.
    TrackingSdk sdk("", 0, 0, 20000, 100000, 10000000);
    if (!sdk.isValid()) {
        std::fprintf(stderr, "bench_receive: no data port\n");
        return 2;
    }
    for (double rate : {1000.0, 20000.0, 0.0}) {
        Result r = run(sdk, body, rate, seconds);
        const double p50 = percentile(r.agesUs, 0.50);
        const double p99 = percentile(r.agesUs, 0.99);
        // Receives per CPU second of the receiving thread: what one core
        // could decode if the sender kept up.
        const double receives = double(r.decoded + r.failed);
        std::printf("receive rate %-6s sent/s %7.0f decoded/s %7.0f age p50 %6.1f us p99 %6.1f us "
                    "receiver cpu %5.1f us/receive (%7.0f receives per cpu-second) "
                    "allocations/receive %.3f\n",
                    rate > 0 ? std::to_string(int(rate)).c_str() : "flat",
                    double(r.sent) / r.seconds, double(r.decoded) / r.seconds, p50, p99,
                    r.cpuSeconds / receives * 1e6, receives / r.cpuSeconds,
                    double(r.allocations) / receives);
    }
    return 0;
}
