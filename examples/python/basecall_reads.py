"""Basecalls synthetic reads through a server with the Python module, from an installed package.

    python3 basecall_reads.py ADDRESS [CONFIG] [READS]
"""

import sys

import numpy as np

import tamsu


def make_reads(count):
    rng = np.random.default_rng(1)
    for index in range(count):
        # Any contiguous int16 buffer will do; the read views it without a copy.
        samples = rng.integers(400, 600, size=2000 + 37 * index, dtype=np.int16)
        yield tamsu.Read("example_read_%d" % index, samples, 0.0, 1.0)


def main(argv):
    if len(argv) < 2:
        print(__doc__.strip(), file=sys.stderr)
        return 2
    config = argv[2] if len(argv) > 2 else "toy_flipflop_fast"
    count = int(argv[3]) if len(argv) > 3 else 200
    try:
        with tamsu.Client(argv[1], config, name="basecall_reads example",
                          move_and_trace_enabled=True) as client:
            called = 0
            bases = 0
            for read in client.basecall(make_reads(count)):
                called += 1
                bases += len(read.sequence)
            client.finish(60)
    except tamsu.TamsuError as error:
        print("basecalling failed: %s (%s)" % (error.message, error.result.name), file=sys.stderr)
        return 1
    print("reads called: %d of %d, bases: %d, software %s"
          % (called, count, bases, tamsu.versions()["software"]))
    return 0 if called == count else 1


if __name__ == "__main__":
    sys.exit(main(sys.argv))
