"""workflows/Snakefile against two reference servers on loopback ports."""

import collections
import os
import re
import signal
import subprocess
import time
from pathlib import Path

import pytest

WORKFLOWS = Path(__file__).resolve().parents[2] / "workflows"
TAMSU = os.environ["TAMSU_CLI"]


def wait_for(condition, what, seconds=60):
    deadline = time.monotonic() + seconds
    while not condition():
        assert time.monotonic() < deadline, what
        time.sleep(0.05)


@pytest.fixture
def processes():
    """Starts programs in process groups of their own; kills the groups on the way out."""
    started = []

    def start(command, log_path):
        with open(log_path, "w") as log:
            started.append(subprocess.Popen([str(part) for part in command], stdout=log,
                                            stderr=subprocess.STDOUT, start_new_session=True))
        return started[-1]

    yield start
    for process in started:
        if process.poll() is None:
            os.killpg(process.pid, signal.SIGKILL)
        process.wait()


@pytest.fixture
def servers(tmp_path, processes):
    """Two servers, on ports they choose; each read keeps a worker busy for 50 ms so that a run
    lasts long enough to lose a server in it."""
    started = []
    for index in range(2):
        log = tmp_path / f"server{index}.out"
        process = processes([os.environ["TAMSU_BASECALL_SERVER"], "127.0.0.1:0",
                             "--call-time", "50"], log)
        wait_for(lambda: "Listening on" in log.read_text(), "a server did not start")
        port = re.search(r"Listening on tcp://127\.0\.0\.1:(\d+)", log.read_text()).group(1)
        started.append((f"127.0.0.1:{port}", process))
    return started


def simulate(path, seed, count=10):
    """Writes `count` reads to `path`; returns their ids."""
    path.parent.mkdir(exist_ok=True)
    command = [TAMSU, "simulate", "--count", str(count), "--min-length", "4000",
               "--max-length", "8000", "--seed", str(seed)]
    subprocess.run(command + ["--output", path], check=True)
    text = subprocess.run(command, check=True, capture_output=True, text=True).stdout
    return [line.split("\t")[0] for line in text.splitlines()]


def snakemake(tmp_path, servers, profile="local", *options):
    """The command that runs the workflow in `tmp_path` (input reads/, output results/)."""
    addresses = ",".join(f'"{address}"' for address, _ in servers)
    return [os.environ.get("SNAKEMAKE", "snakemake"), "-s", WORKFLOWS / "Snakefile",
            "--profile", WORKFLOWS / "profiles" / profile, "--directory", tmp_path,
            "--cores", "2", *options, "--config", f"tamsu={TAMSU}",
            f"servers=[{addresses}]", "basecall_args=--reconnect-timeout 1", "threads=1"]


def run(processes, tmp_path, servers, *arguments):
    process = processes(snakemake(tmp_path, servers, *arguments), tmp_path / "snakemake.out")
    process.wait(timeout=120)
    return process.returncode, (tmp_path / "snakemake.out").read_text()


def check_merged(tmp_path, ids):
    """The merged BAM holds each read once and each input file's read group; the merged
    summary a header and a row per read."""
    results = tmp_path / "results"
    subprocess.run(["samtools", "quickcheck", "-u", results / "reads.bam"], check=True)
    sam = subprocess.run(["samtools", "view", "-h", results / "reads.bam"], check=True,
                         capture_output=True, text=True).stdout.splitlines()
    assert collections.Counter(line.split("\t")[0] for line in sam if line[0] != "@") == \
        collections.Counter(ids)
    assert sorted(line.split("\tID:")[1] for line in sam if line.startswith("@RG")) == \
        sorted(path.name for path in (tmp_path / "reads").iterdir())
    rows = (results / "summary.tsv").read_text().splitlines()
    assert rows[0].startswith("read_id\t")
    assert sorted(row.split("\t")[0] for row in rows[1:]) == sorted(ids)


def test_a_server_lost_mid_run_leaves_its_reads_to_the_other(tmp_path, servers, processes):
    ids = [read for seed in range(1, 7) for read in simulate(tmp_path / f"reads/r{seed}.blow5",
                                                             seed)]
    workflow = processes(snakemake(tmp_path, servers), tmp_path / "snakemake.out")
    batches = tmp_path / "results/batches"
    wait_for(lambda: any(batches.glob("*/reads.bam")), "no batch finished")
    os.kill(servers[1][1].pid, signal.SIGKILL)

    assert workflow.wait(timeout=120) == 0, (tmp_path / "snakemake.out").read_text()
    check_merged(tmp_path, ids)
    logs = "".join(path.read_text() for path in (tmp_path / "results/logs").glob("r*.log"))
    assert f"server {servers[1][0]} does not answer" in logs


def test_a_failed_batch_fails_the_run_and_a_rerun_does_only_that_batch(tmp_path, servers,
                                                                       processes):
    ids = [read for seed in range(1, 4) for read in simulate(tmp_path / f"reads/r{seed}.blow5",
                                                             seed, count=2)]
    (tmp_path / "reads/r4.tsv").write_text("not a read\n")
    code, output = run(processes, tmp_path, servers, "slurm", "--dry-run")
    assert code == 0, output
    assert re.search(r"^basecall\s+4\b", output, re.MULTILINE), output
    assert f"for server in {servers[0][0]} {servers[1][0]}; do" in output

    code, output = run(processes, tmp_path, servers)
    assert code != 0, output
    failed = tmp_path / "results/batches/r4.tsv"
    # Tried twice (restart-times: 1); its partial files stay for a resumed run.
    assert output.count("Error in rule basecall") == 2, output
    assert "line 1: expected 4" in (tmp_path / "results/logs/r4.tsv.log").read_text()
    assert sorted(path.name for path in failed.iterdir()) == ["reads.bam.partial",
                                                              "resume.journal",
                                                              "summary.tsv.partial"]
    done = {path: path.stat().st_mtime_ns for path in tmp_path.glob("results/batches/r?.blow5/*")}
    assert len(done) == 6

    ids += simulate(tmp_path / "reads/r4.tsv", 4, count=2)
    code, output = run(processes, tmp_path, servers)
    assert code == 0, output
    # The changed batch was not resumed but started afresh.
    assert "starting afresh" in (tmp_path / "results/logs/r4.tsv.log").read_text()
    assert {path: path.stat().st_mtime_ns for path in done} == done
    check_merged(tmp_path, ids)
