#!/usr/bin/env bash
# The main job: installs the dependencies, builds the command-line basecaller (Release, in
# build-release/), simulates raw reads and basecalls them with the embedded reference server.
#   scripts/run-main-job.sh [READS]     number of reads to simulate (default 3000)
# The results go to build-release/main-job/: reads.tsv (the input), out/reads.fastq and
# out/summary.tsv.
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
reads=${1:-3000}
build_dir="$root/build-release"
job_dir="$build_dir/main-job"

"$root/scripts/install-deps.sh"

# Only the program is needed, not the test suite.
cmake -S "$root" -B "$build_dir" -G Ninja -DCMAKE_BUILD_TYPE=Release -DTAMSU_BUILD_TESTS=OFF
cmake --build "$build_dir" --parallel "$(nproc)" --target tamsu
tamsu="$build_dir/tools/tamsu"

mkdir -p "$job_dir"
echo "Simulating $reads reads into $job_dir/reads.tsv"
"$tamsu" simulate --count "$reads" --min-length 2000 --max-length 20000 --seed 1 \
    --output "$job_dir/reads.tsv"

echo "Basecalling with the embedded reference server"
"$tamsu" basecall "$job_dir/reads.tsv" --output-dir "$job_dir/out"

echo
echo "First rows of $job_dir/out/summary.tsv:"
head -n 4 "$job_dir/out/summary.tsv" | cut -f 1-5
