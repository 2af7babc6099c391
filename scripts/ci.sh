#!/usr/bin/env bash
# Everything CI checks, in order: the whole test suite in a regular build and under
# AddressSanitizer + UndefinedBehaviorSanitizer, the engine, client and command-line tests under
# ThreadSanitizer, and a short run of every fuzz target on its seed corpus.
#   scripts/ci.sh [FUZZ_SECONDS_PER_TARGET]   (default 20)
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
fuzz_seconds=${1:-20}

stage() {
    local name=$1
    shift
    local start=$SECONDS
    echo "=== ci: $name"
    "$@"
    echo "=== ci: $name passed in $((SECONDS - start)) s"
}

stage "test suite" "$root/scripts/test.sh"
stage "test suite under ASan+UBSan" "$root/scripts/test.sh" --sanitize
stage "engine, client and command-line tests under TSan" "$root/scripts/test.sh" --tsan \
    basecall_service_tests client_tests tools_tests
stage "fuzz targets, ${fuzz_seconds} s each" "$root/scripts/fuzz.sh" "$fuzz_seconds"
echo "=== ci: all passed in $SECONDS s"
