#!/usr/bin/env bash
# Builds the libFuzzer targets of tests/fuzz (build-fuzz/, clang, -DTAMSU_FUZZ=ON) and runs each
# on a copy of its seed corpus; fails on any crash, leak, time-out or sanitizer report.
#   scripts/fuzz.sh            20 seconds per target (CI)
#   scripts/fuzz.sh SECONDS [TARGET...]   SECONDS per target, every target or the ones named
#   scripts/fuzz.sh --seeds    records the seed corpora again from the reference server
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
build_dir=$root/build-fuzz
targets=(fuzz_received_message fuzz_server_queries fuzz_handshake fuzz_called_read)
mode=${1:-20}
if [ $# -gt 1 ]; then
    targets=("${@:2}")
fi

"$root/scripts/install-deps.sh"
cmake -S "$root" -B "$build_dir" -G Ninja -DCMAKE_CXX_COMPILER=clang++-14 -DTAMSU_FUZZ=ON \
    -DTAMSU_BUILD_TESTS=OFF -DTAMSU_WERROR=ON

if [ "$mode" = "--seeds" ]; then
    cmake --build "$build_dir" --parallel "$(nproc)" --target tamsu_fuzz_seeds
    "$build_dir/tests/fuzz/tamsu_fuzz_seeds" "$root/tests/fuzz/corpus"
    exit 0
fi
if ! [[ "$mode" =~ ^[1-9][0-9]*$ ]]; then
    echo "usage: $0 [SECONDS [TARGET...]|--seeds]" >&2
    exit 2
fi
cmake --build "$build_dir" --parallel "$(nproc)" --target tamsu_fuzz_targets

export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}

failed=()
for target in "${targets[@]}"; do
    # libFuzzer adds what it finds to the corpus it is given: a copy, not the source tree.
    corpus=$build_dir/fuzz/corpus/$target
    artifacts=$build_dir/fuzz/artifacts/$target
    log=$build_dir/fuzz/$target.log
    rm -rf "$corpus"
    mkdir -p "$corpus" "$artifacts"
    cp "$root/tests/fuzz/corpus/$target"/* "$corpus"/
    echo "fuzz: $target for ${mode}s"
    if "$build_dir/tests/fuzz/$target" -max_total_time="$mode" -timeout=30 -detect_leaks=1 \
        -print_final_stats=1 -artifact_prefix="$artifacts/" "$corpus" > "$log" 2>&1; then
        grep -E '^#[0-9]+[[:space:]]+DONE|stat::number_of_executed_units|stat::average_exec_per_sec' "$log"
    else
        tail -n 60 "$log"
        failed+=("$target")
    fi
done

if [ ${#failed[@]} -ne 0 ]; then
    echo "fuzz: FAILED ${failed[*]} (inputs in $build_dir/fuzz/artifacts)" >&2
    exit 1
fi
echo "fuzz: ${targets[*]}: ${mode}s each, no finding"
