#!/usr/bin/env bash
# Builds tamsu (Release, build-release/) and installs it for use on this machine: the library and
# its headers, the CMake and pkg-config packages, the programs and the Python module, which the
# system interpreter (/usr/bin/python3) then imports as `tamsu`.
#   scripts/install.sh [PREFIX]     (default /usr/local; another prefix needs PYTHONPATH)
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
build="$root/build-release"
prefix=${1:-/usr/local}

"$root/scripts/install-deps.sh"
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DTAMSU_BUILD_TESTS=OFF
cmake --build "$build" --parallel "$(nproc)"
cmake --install "$build" --prefix "$prefix"
if [ "$(id -u)" = 0 ]; then
    ldconfig
fi

module=$(grep "/_tamsu\..*\.so$" "$build/install_manifest.txt" | head -n 1)
site=$(dirname "$(dirname "$module")")
# From / so that nothing in the source tree can stand in for the installed package.
(cd / && PYTHONPATH="$site${PYTHONPATH:+:$PYTHONPATH}" /usr/bin/python3 -c \
    'import tamsu; print("Python module tamsu", tamsu.versions()["software"], "in", tamsu.__path__[0])')
case "$prefix" in
/usr | /usr/local) echo "Installed under $prefix: /usr/bin/python3 imports tamsu as it is" ;;
*) echo "Installed under $prefix: set PYTHONPATH=$site for Python" ;;
esac
