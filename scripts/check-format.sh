#!/usr/bin/env bash
# Fails when a C++ source file does not follow .clang-format.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
files=$(find . -path './build*' -prune -o \( -name '*.h' -o -name '*.cpp' \) -print | sort)
clang-format --dry-run --Werror $files
echo "$(echo "$files" | wc -l) files follow .clang-format"
