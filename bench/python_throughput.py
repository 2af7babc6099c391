"""A Python host's throughput through Client.basecall as a share of a C++ host's.

Both stream the same reads (the benchmark signal of throughput_ratios, offset 0, scaling 1,
read ids bench_N) through one client with the default parameters and "toy_flipflop_fast", for
a few seconds, against a reference server of their own with calling off (--zero-work) on an
ipc:// endpoint in a temporary directory; the C++ host is `throughput_ratios --library`. Each
side runs in a process of its own, started after its server, and the two are measured back to
back, taking turns to go first. Figures are medians of the repetitions, the ratio the median
of per-repetition ratios.

Client and server exchange a request and a reply per block, so throughput hangs on how soon
each wakes the other: whether the scheduler puts them on one core or two moves it up to
threefold, whichever host runs. --cpus pins servers and hosts to the CPUs given (say 0), which
takes that chance out of the ratio; --pinned places them as throughput_ratios --pinned does,
servers on the first CPU this process may use and hosts on the second.

    python_throughput.py [--build DIR] [--seconds S] [--repetitions R] [--samples N]
                         [--cpus LIST | --pinned] [--verbose] [--quick]
    python_throughput.py --side ADDRESS SAMPLES SECONDS   (the Python host; started by the above)
"""

import argparse
import contextlib
import os
import statistics
import subprocess
import sys
import tempfile
import time

SIZES = (4000, 40000, 400000)
# What the Python host aims at, as a share of the C++ host, by read size.
AIMS = {40000: 0.9}
CONFIG = "toy_flipflop_fast"


def python_side(address, samples, seconds):
    """Streams reads through Client.basecall until `seconds` have passed and every read is
    back; returns the reads per second."""
    import numpy as np

    import tamsu

    # The same signal as the C++ host's; every read views it in place.
    signal = (400 + (np.arange(samples, dtype=np.int64) * 7919) % 200).astype(np.int16)
    with tamsu.Client(address, CONFIG) as client:
        start = time.monotonic()
        deadline = start + seconds

        def reads():
            tag = 0
            while time.monotonic() < deadline:
                tag += 1
                yield tamsu.Read("bench_%d" % tag, signal, 0.0, 1.0, tag)

        returned = sum(1 for _ in client.basecall(reads()))
        if client.finish(600) != tamsu.Result.success:
            raise RuntimeError("finish failed: " + client.error_message)
        return returned / (time.monotonic() - start)


@contextlib.contextmanager
def server(program, endpoint, cpus):
    """A reference server with calling off, serving `endpoint` until the block ends; on `cpus`
    when given."""
    process = subprocess.Popen([program, "--zero-work", endpoint], stdout=subprocess.PIPE,
                               text=True, preexec_fn=pin_to(cpus))
    try:
        for line in process.stdout:
            if line.startswith("Listening on"):
                break
        else:
            raise RuntimeError("the server stopped before listening: status %s"
                               % process.wait())
        yield
    finally:
        process.terminate()
        try:
            process.wait(10)
        except subprocess.TimeoutExpired:
            process.kill()
            process.wait()


def pin_to(cpus):
    """What a child runs before its program to stay on `cpus`; None leaves it where it is."""
    return (lambda: os.sched_setaffinity(0, cpus)) if cpus else None


def reads_per_second(command, cpus, env=None):
    """Runs a host (on `cpus` when given) and returns the figure it prints last on a line of
    its own."""
    run = subprocess.run(command, stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True,
                         env=env, preexec_fn=pin_to(cpus))
    for line in reversed(run.stdout.splitlines() if run.returncode == 0 else []):
        with contextlib.suppress(ValueError):
            return float(line)
    raise RuntimeError("%s failed (status %d):\n%s" % (command[0], run.returncode, run.stdout))


class Sides:
    """Starts each measurement in a process of its own, against a server of its own."""

    def __init__(self, build, directory, seconds, placement):
        self._server = os.path.join(build, "server", "tamsu_basecall_server")
        self._driver = os.path.join(build, "bench", "throughput_ratios")
        self._env = dict(os.environ, PYTHONPATH=os.path.join(build, "python"))
        self._directory = directory
        self._seconds = seconds
        self._sockets = 0
        # The CPUs of servers and of hosts; None: wherever the scheduler puts them.
        self._server_cpus, self._host_cpus = placement

    def _endpoint(self):
        self._sockets += 1
        return "ipc://" + os.path.join(self._directory, "%d.sock" % self._sockets)

    def python(self, samples):
        endpoint = self._endpoint()
        with server(self._server, endpoint, self._server_cpus):
            return reads_per_second([sys.executable, os.path.abspath(__file__), "--side",
                                     endpoint, str(samples), str(self._seconds)],
                                    self._host_cpus, self._env)

    def cpp(self, samples):
        endpoint = self._endpoint()
        with server(self._server, endpoint, self._server_cpus):
            return reads_per_second([self._driver, "--library", endpoint, "--samples",
                                     str(samples), "--seconds", str(self._seconds)],
                                    self._host_cpus)


def measure(sides, samples, repetitions, verbose):
    pythons, cpps, ratios = [], [], []
    for repetition in range(repetitions):
        # Taking turns to go first keeps whatever the first run pays off one side.
        if repetition % 2 == 0:
            cpp = sides.cpp(samples)
            python = sides.python(samples)
        else:
            python = sides.python(samples)
            cpp = sides.cpp(samples)
        pythons.append(python)
        cpps.append(cpp)
        ratios.append(python / cpp)
        if verbose:
            print("  repetition %d: Python %.0f, C++ %.0f, ratio %.2f"
                  % (repetition + 1, python, cpp, ratios[-1]), flush=True)
    return statistics.median(pythons), statistics.median(cpps), statistics.median(ratios)


def aim_text(samples, ratio):
    aim = AIMS.get(samples)
    if aim is None:
        return "-"
    return ">= %.2f %s" % (aim, "met" if ratio >= aim else "missed")


def cpu_list(text):
    cpus = set()
    for part in text.split(","):
        first, _, last = part.partition("-")
        cpus.update(range(int(first), int(last or first) + 1))
    return cpus


def parse(argv):
    root = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
    parser = argparse.ArgumentParser(description="Python host throughput against C++.")
    parser.add_argument("--build", default=os.path.join(root, "build-release"),
                        help="a build tree with the server, throughput_ratios and the module")
    parser.add_argument("--seconds", type=float, default=2.0)
    parser.add_argument("--repetitions", type=int, default=9)
    parser.add_argument("--samples", type=int, action="append",
                        help="a read size (repeatable; default 4,000, 40,000 and 400,000)")
    placement = parser.add_mutually_exclusive_group()
    placement.add_argument("--cpus", type=cpu_list,
                           help="CPUs to pin servers and hosts to, as 0,1 or 0-1")
    placement.add_argument("--pinned", action="store_true",
                           help="servers on one CPU, hosts on another")
    parser.add_argument("--verbose", action="store_true", help="print every repetition")
    parser.add_argument("--quick", action="store_true", help="one repetition of 0.5 s")
    options = parser.parse_args(argv)
    if options.quick:
        options.seconds, options.repetitions = 0.5, 1
    if options.seconds <= 0 or options.repetitions < 1:
        parser.error("--seconds and --repetitions must be positive")
    return options


def main(argv):
    if argv[:1] == ["--side"] and len(argv) == 4:
        print("%.1f" % python_side(argv[1], int(argv[2]), float(argv[3])), flush=True)
        return 0
    options = parse(argv)
    placement, where = (None, None), ""
    if options.cpus:
        # Every server and host started from here inherits it.
        os.sched_setaffinity(0, options.cpus)
        where = ", CPUs %s" % sorted(options.cpus)
    elif options.pinned:
        usable = sorted(os.sched_getaffinity(0))
        if len(usable) < 2:
            sys.exit("--pinned needs two CPUs")
        placement = ({usable[0]}, {usable[1]})
        where = ", pinned: servers on CPU %d, hosts on CPU %d" % (usable[0], usable[1])
    print("%.1f s per measurement, median of %d%s"
          % (options.seconds, options.repetitions, where))
    print("%-8s %12s %12s %7s  %s" % ("samples", "Python r/s", "C++ r/s", "ratio", "aim"))
    with tempfile.TemporaryDirectory(prefix="tamsu_pybench_") as directory:
        sides = Sides(options.build, directory, options.seconds, placement)
        for samples in options.samples or SIZES:
            python, cpp, ratio = measure(sides, samples, options.repetitions, options.verbose)
            print("%-8d %12.0f %12.0f %7.2f  %s"
                  % (samples, python, cpp, ratio, aim_text(samples, ratio)), flush=True)
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
