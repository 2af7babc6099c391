#!/usr/bin/env bash
# Fails when the shared object exports a symbol outside the public namespaces.
set -euo pipefail

library=$1
public='^(typeinfo for |typeinfo name for |vtable for )?(tamsu|vask|interfaces)::'

symbols=$(nm -D --defined-only --demangle "$library" | cut -d' ' -f3-)
internal=$(printf '%s\n' "$symbols" | grep -v -E "$public" | grep -v -E '^(TAMSU_CLIENT_[0-9.]+)?$' || true)

if [ -n "$internal" ]; then
    echo "internal symbols exported from $library:"
    printf '%s\n' "$internal" | sed 's/^/  /'
    exit 1
fi
echo "$(printf '%s\n' "$symbols" | grep -c -E "$public" || true) public symbols, no internal ones"
