#!/usr/bin/env bash
# Installs the dependencies, builds and runs the test suite: all of it, or only the named test
# executables (for instance basecall_service_tests client_tests).
#   scripts/test.sh [TEST_EXECUTABLE...]              regular build (build/)
#   scripts/test.sh --sanitize [TEST_EXECUTABLE...]   AddressSanitizer + UBSan (build-asan/)
#   scripts/test.sh --tsan [TEST_EXECUTABLE...]       ThreadSanitizer (build-tsan/)
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
build_dir=build
options=()
case "${1:-}" in
    --sanitize) build_dir=build-asan; options=(-DTAMSU_SANITIZE=ON); shift ;;
    --tsan) build_dir=build-tsan; options=(-DTAMSU_TSAN=ON); shift ;;
    -*) echo "usage: $0 [--sanitize|--tsan] [TEST_EXECUTABLE...]" >&2; exit 2 ;;
esac
targets=("$@")

"$root/scripts/install-deps.sh"

cmake -S "$root" -B "$root/$build_dir" -G Ninja -DTAMSU_WERROR=ON "${options[@]}"
selection=()
if [ ${#targets[@]} -gt 0 ]; then
    # Each test carries the name of its executable as a label.
    selection=(--label-regex "^($(IFS='|'; echo "${targets[*]}"))\$")
    targets+=(tamsu_basecall_server)
    cmake --build "$root/$build_dir" --parallel "$(nproc)" --target "${targets[@]}"
else
    cmake --build "$root/$build_dir" --parallel "$(nproc)"
fi

export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=1}
export LSAN_OPTIONS=${LSAN_OPTIONS:-suppressions=$root/scripts/lsan.supp}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
export TSAN_OPTIONS=${TSAN_OPTIONS:-halt_on_error=1:second_deadlock_stack=1:suppressions=$root/scripts/tsan.supp}
ctest --test-dir "$root/$build_dir" --output-on-failure --parallel "$(nproc)" "${selection[@]}"
