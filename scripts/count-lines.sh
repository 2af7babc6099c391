#!/usr/bin/env bash
# Prints the non-blank lines of tests (tests/**/*.cpp, .h and .py, fuzz corpus excluded) and of
# all other code (.cpp, .h, .fbs, .py, .pyi anywhere else), and their ratio. The aim is 0.25-0.33.
set -euo pipefail
cd "$(dirname "$0")/.."

non_blank() { xargs -r cat | grep -c -v -E '^\s*$' || true; }

tests=$(git ls-files -- 'tests/*.cpp' 'tests/*.h' 'tests/*.py' | grep -v '/corpus/' | non_blank)
code=$(git ls-files -- '*.cpp' '*.h' '*.fbs' '*.py' '*.pyi' | grep -v -E '^tests/' | non_blank)
awk -v t="$tests" -v c="$code" 'BEGIN {
    printf "test lines: %d\ncode lines: %d\nratio: %.2f\n", t, c, t / c
}'
