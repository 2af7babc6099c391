#!/usr/bin/env bash
# Builds the benchmarks (Release, build-release/) and runs them: the library's throughput as a
# share of plain ZeroMQ's (and "tamsu basecall" on text and BLOW5 files against the same limit),
# the client's CPU per read next to memcpy, its idle CPU and memory, and a Python host's
# throughput next to a C++ host's, and the time one read takes at low load. The throughput
# comparisons run twice: with the default placement, then pinned (servers on one CPU, clients
# on another).
#   scripts/bench.sh           full run (about 26 minutes on two cores)
#   scripts/bench.sh --quick   one short repetition of everything (about 3 minutes)
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
build="$root/build-release"
quick=${1:-}

"$root/scripts/install-deps.sh"
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DTAMSU_BUILD_TESTS=OFF
cmake --build "$build" --parallel "$(nproc)" \
    --target throughput_ratios client_cpu_per_read client_footprint tamsu_python_module
# The interpreter the module is built for (see python/CMakeLists.txt).
python=/usr/bin/python3

if [ "$quick" = --quick ]; then
    for placement in "" --pinned; do
        "$build/bench/throughput_ratios" --quick $placement
        "$build/bench/throughput_ratios" --latency --quick $placement
    done
    "$build/bench/client_cpu_per_read" --benchmark_min_time=0.05
    "$build/bench/client_footprint" --reads 10000 --idle-seconds 3
    for placement in "" --pinned; do
        "$python" "$root/bench/python_throughput.py" --build "$build" --quick $placement
    done
else
    for placement in "" --pinned; do
        "$build/bench/throughput_ratios" $placement
        "$build/bench/throughput_ratios" --latency $placement
    done
    "$build/bench/client_cpu_per_read" --benchmark_repetitions=5 \
        --benchmark_report_aggregates_only=true
    "$build/bench/client_footprint"
    for placement in "" --pinned; do
        "$python" "$root/bench/python_throughput.py" --build "$build" $placement
    done
fi
