#!/usr/bin/env bash
# The main job: installs the dependencies, builds the command-line basecaller (Release, in
# build-release/), simulates raw reads into a BLOW5 file and basecalls them with the embedded
# reference server's base-modification configuration.
#   scripts/run-main-job.sh [READS]     number of reads to simulate (default 3000)
# The results go to build-release/main-job/: reads.blow5 (the input), out/reads.bam and
# out/summary.tsv; then the same reads aligned, in aligned/.
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
echo "Simulating $reads reads into $job_dir/reads.blow5"
"$tamsu" simulate --count "$reads" --min-length 2000 --max-length 20000 --seed 1 \
    --output "$job_dir/reads.blow5"

echo "Basecalling with the embedded reference server"
"$tamsu" basecall "$job_dir/reads.blow5" --config toy_modbase --output-dir "$job_dir/out"

# Unaligned records: the header names no reference sequences.
samtools quickcheck -u "$job_dir/out/reads.bam"
echo
echo "First records of $job_dir/out/reads.bam (fields shortened to 60 characters):"
# awk reads to the end, so samtools never writes into a closed pipe.
samtools view "$job_dir/out/reads.bam" | awk -F '\t' \
    'NR <= 3 { for (i = 1; i <= NF; i++) printf "%s%s", substr($i, 1, 60), (i < NF ? "\t" : "\n") }'

echo
echo "First rows of $job_dir/out/summary.tsv:"
head -n 4 "$job_dir/out/summary.tsv" | cut -f 1-5

# The reference server aligns exact matches only: a reference made of 100 called reads gives
# those reads somewhere to align, and the header its reference sequences.
samtools fasta "$job_dir/out/reads.bam" 2>/dev/null | awk 'NR <= 200' >"$job_dir/reference.fa"
echo
echo "Basecalling again, aligned against $job_dir/reference.fa"
"$tamsu" basecall "$job_dir/reads.blow5" --config toy_modbase --index "$job_dir/reference.fa" \
    --output-dir "$job_dir/aligned" >/dev/null
samtools quickcheck "$job_dir/aligned/reads.bam"
echo "$job_dir/aligned/reads.bam: $(samtools view -c -F 4 "$job_dir/aligned/reads.bam") of" \
    "$(samtools view -c "$job_dir/aligned/reads.bam") records aligned, $(samtools view \
    "$job_dir/aligned/reads.bam" | grep -c $'\tMM:Z:') with MM/ML tags"
