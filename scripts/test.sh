#!/usr/bin/env bash
# Installs the dependencies, builds and runs the whole test suite.
#   scripts/test.sh              regular build (build/)
#   scripts/test.sh --sanitize   AddressSanitizer + UndefinedBehaviorSanitizer (build-asan/)
#   scripts/test.sh --tsan       ThreadSanitizer (build-tsan/)
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
mode=${1:-}

case "$mode" in
    "") build_dir=build; options=() ;;
    --sanitize) build_dir=build-asan; options=(-DTAMSU_SANITIZE=ON) ;;
    --tsan) build_dir=build-tsan; options=(-DTAMSU_TSAN=ON) ;;
    *) echo "usage: $0 [--sanitize|--tsan]" >&2; exit 2 ;;
esac

"$root/scripts/install-deps.sh"

cmake -S "$root" -B "$root/$build_dir" -G Ninja -DTAMSU_WERROR=ON "${options[@]}"
cmake --build "$root/$build_dir" --parallel "$(nproc)"

export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
export TSAN_OPTIONS=${TSAN_OPTIONS:-halt_on_error=1:second_deadlock_stack=1:suppressions=$root/scripts/tsan.supp}
ctest --test-dir "$root/$build_dir" --output-on-failure --parallel "$(nproc)"
