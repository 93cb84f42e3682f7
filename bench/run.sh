#!/usr/bin/env bash
# Builds the benchmarks (Release, in a build folder of their own) and runs
# all three: decoding, receiving, and the window under Xvfb.
# Usage: bench/run.sh [build folder]      (default: build-bench)
# SKYWAND_BENCH_SECONDS sets the window's seconds per rate (default 30).
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build-bench}
seconds=${SKYWAND_BENCH_SECONDS:-30}

cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Release -DSKYWAND_BENCH=ON >/dev/null
cmake --build "$build" -j2 --target bench_decode bench_receive windowprobe skywandtester kestrel-sim >/dev/null

echo "== $(date -u '+%Y-%m-%d %H:%M UTC'), $(nproc) cores,$(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2),"\
     "load $(cut -d' ' -f1-3 /proc/loadavg)"
echo "== decode (CPU time, medians of 15 interleaved repetitions)"
"$build/bench/bench_decode" --benchmark_report_aggregates_only=true --benchmark_color=false
echo "== receive (5 s per rate)"
"$build/bench/bench_receive" 5
echo "== window ($seconds s per rate)"
bench/window.sh "$build" "$seconds" 1000 20000
echo "== load at the end: $(cut -d' ' -f1-3 /proc/loadavg)"
