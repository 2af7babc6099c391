#!/usr/bin/env bash
# Tells snakemake whether Slurm job $1 is running, succeeded or failed. Without it snakemake
# waits for a file the job writes at its end, and a job Slurm ends itself (time limit, node
# lost, scancel) would be waited for forever.
set -uo pipefail

state=$(sacct --jobs "$1" --allocations --noheader --parsable2 --format State 2>/dev/null |
    head -n 1)
# The accounting database can lag behind a job that has just started or ended.
if [ -z "$state" ]; then
    state=$(scontrol show job "$1" 2>/dev/null | sed -n 's/.*JobState=\([A-Z_]*\).*/\1/p')
fi
case "$state" in
    COMPLETED) echo success ;;
    "" | PENDING | CONFIGURING | RUNNING | COMPLETING | REQUEUED* | RESIZING | SUSPENDED)
        echo running ;;
    *) echo failed ;; # FAILED, TIMEOUT, CANCELLED by ..., NODE_FAIL, OUT_OF_MEMORY, PREEMPTED
esac
