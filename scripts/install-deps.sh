#!/usr/bin/env bash
# Installs the Debian packages needed to build and test the library. Safe to run again: it asks
# apt only for what is missing.
set -euo pipefail

packages=(
    build-essential cmake ninja-build pkg-config binutils git
    libboost-log-dev libboost-filesystem-dev libboost-system-dev libboost-dev
    libzmq3-dev cppzmq-dev
    libflatbuffers-dev flatbuffers-compiler
    rapidjson-dev libmsgsl-dev
    libgtest-dev libgmock-dev googletest libbenchmark-dev clang-format
    # command lines; dpkg-shlibdeps for "cpack -G DEB"
    libcli11-dev dpkg-dev
    # the tamsu program's raw-signal input
    libslow5-dev libstreamvbyte-dev libzstd-dev zlib1g-dev
    # its BAM/SAM/FASTQ output, and samtools to check that output in the tests and the main job
    libhts-dev samtools
    # scripts/fuzz.sh: clang, its libFuzzer and sanitizer runtimes, llvm-symbolizer for reports
    clang-14 libclang-rt-14-dev llvm-14
    # the Python module and its tests
    python3-dev pybind11-dev python3-pybind11 python3-numpy python3-pytest
    # workflows/Snakefile: basecalling on many servers, locally or under Slurm
    snakemake
)

missing=()
for package in "${packages[@]}"; do
    if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed"; then
        missing+=("$package")
    fi
done

if [ ${#missing[@]} -eq 0 ]; then
    echo "install-deps: all packages present"
    exit 0
fi

echo "install-deps: installing ${missing[*]}"
sudo_cmd=()
if [ "$(id -u)" -ne 0 ]; then
    sudo_cmd=(sudo)
fi
"${sudo_cmd[@]}" apt-get update -qq
DEBIAN_FRONTEND=noninteractive "${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends \
    "${missing[@]}"
