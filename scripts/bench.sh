#!/usr/bin/env bash
# Builds the benchmarks (Release, build-release/) and runs them: the library's throughput as a
# share of plain ZeroMQ's (and "tamsu basecall" on text and BLOW5 files against the same limit),
# the client's CPU per read next to memcpy, its idle CPU and memory, and a Python host's
# throughput next to a C++ host's.
#   scripts/bench.sh           full run (about 17 minutes on two cores)
#   scripts/bench.sh --quick   one short repetition of everything (about 2 minutes)
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
    "$build/bench/throughput_ratios" --quick
    "$build/bench/client_cpu_per_read" --benchmark_min_time=0.05
    "$build/bench/client_footprint" --reads 10000 --idle-seconds 3
    "$python" "$root/bench/python_throughput.py" --build "$build" --quick
else
    "$build/bench/throughput_ratios"
    "$build/bench/client_cpu_per_read" --benchmark_repetitions=5 \
        --benchmark_report_aggregates_only=true
    "$build/bench/client_footprint"
    "$python" "$root/bench/python_throughput.py" --build "$build"
fi
