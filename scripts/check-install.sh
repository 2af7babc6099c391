#!/usr/bin/env bash
# Installs the build into a scratch prefix and uses only what was installed: the programs
# (tamsu --version; tamsu basecall of simulated reads against the installed server on an ipc://
# endpoint), a one-file host built through pkg-config (the CMake package is exercised by
# check-example.sh), then builds the Debian package and checks what it holds and depends on.
#   check-install.sh BUILD_DIR
set -euo pipefail

build_dir=$(cd "$1" && pwd)
source "$(dirname "$0")/scratch-server.sh"
fail() { echo "check-install: $*" >&2; exit 1; }

prefix=$scratch/prefix
cmake --install "$build_dir" --prefix "$prefix" >/dev/null
tamsu=$prefix/bin/tamsu

"$tamsu" --version | tee "$scratch/version"
grep -q "API 5.0.0, protocol 7.0.0" "$scratch/version" || fail "tamsu --version lacks a version"

endpoint="ipc://$scratch/server.sock"
start_server "$prefix/bin/tamsu_basecall_server" "$endpoint"
"$tamsu" simulate --count 20 --min-length 500 --max-length 2000 --output "$scratch/reads.tsv"
"$tamsu" basecall "$scratch/reads.tsv" --server "$endpoint" --output-dir "$scratch/out" >/dev/null
# A header row and one row per read.
[ "$(wc -l <"$scratch/out/summary.tsv")" -eq 21 ] || fail "summary.tsv does not list 20 reads"

export PKG_CONFIG_PATH=$prefix/lib/pkgconfig:$prefix/lib/$(gcc -print-multiarch)/pkgconfig
cat >"$scratch/host.cpp" <<'HOST'
#include <client/tamsu_client.h>
#include <iostream>
int main() { std::cout << "API " << tamsu::TamsuClient::get_api_version().text << "\n"; }
HOST
# shellcheck disable=SC2046  # pkg-config's flags are separate words
c++ -std=c++17 "$scratch/host.cpp" -o "$scratch/host" $(pkg-config --cflags --libs tamsu)
LD_LIBRARY_PATH=$(pkg-config --variable=libdir tamsu) "$scratch/host" | grep -qx "API 5.0.0" ||
    fail "the pkg-config host did not run"

cpack -G DEB -B "$scratch/deb" --config "$build_dir/CPackConfig.cmake" >"$scratch/cpack.log" 2>&1 ||
    { cat "$scratch/cpack.log"; fail "cpack failed"; }
deb=$(echo "$scratch"/deb/tamsu_*.deb)
contents=$(dpkg-deb -c "$deb")
for file in usr/bin/tamsu usr/bin/tamsu_basecall_server usr/lib/libtamsu_client.so \
    usr/lib/cmake/tamsu/tamsuConfig.cmake usr/lib/pkgconfig/tamsu.pc \
    usr/include/tamsu/client/tamsu_client.h; do
    grep -q " \./$file\( \|$\)" <<<"$contents" || fail "the package lacks $file"
done
depends=$(dpkg-deb -f "$deb" Depends)
for package in libzmq5 libboost-log libslow5 libboost-dev; do
    grep -q "$package" <<<"$depends" || fail "the package does not depend on $package: $depends"
done
echo "installed programs, pkg-config host and Debian package ok"
