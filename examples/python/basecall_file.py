"""Basecalls the reads of a text file, as `tamsu simulate` writes it, and prints a summary.

    python3 basecall_file.py ADDRESS FILE [CONFIG]

Each line holds four tab-separated fields: the read id, the DAQ offset, the DAQ scaling and the
samples as comma-separated integers. Blank lines and lines starting with '#' are skipped.
"""

import sys
import time
import warnings

import numpy as np

import tamsu


class BadInput(Exception):
    pass


# Where NumPy stops at something other than a number it warns (later NumPy versions raise
# ValueError); parse_samples counts the samples instead.
warnings.filterwarnings("ignore", "string or file could not be read", DeprecationWarning)


def parse_samples(text):
    try:
        samples = np.fromstring(text, dtype=np.int32, sep=",")  # parsed in C
    except ValueError:
        samples = None
    if samples is None or samples.size != text.count(",") + 1:
        raise BadInput("the samples are not comma-separated integers")
    if samples.min() < -32768 or samples.max() > 32767:
        raise BadInput("a sample lies outside -32768 to 32767")
    return samples.astype(np.int16)


def parse_line(line):
    fields = line.rstrip("\n").split("\t")
    if len(fields) != 4:
        raise BadInput("expected 4 tab-separated fields, not %d" % len(fields))
    read_id, offset, scaling, samples = fields
    try:
        offset, scaling = float(offset), float(scaling)
    except ValueError:
        raise BadInput("the offset and scaling must be numbers") from None
    return tamsu.Read(read_id, parse_samples(samples), offset, scaling)


def read_file(path):
    """Yields a tamsu.Read for each read of the file, as the client takes them."""
    with open(path) as lines:
        for number, line in enumerate(lines, 1):
            if not line.strip() or line.startswith("#"):
                continue
            try:
                read = parse_line(line)
            except BadInput as error:
                raise BadInput("%s, line %d: %s" % (path, number, error)) from None
            yield read


def main(argv):
    if len(argv) < 3:
        print(__doc__.strip(), file=sys.stderr)
        return 2
    address, path = argv[1], argv[2]
    config = argv[3] if len(argv) > 3 else "toy_flipflop_fast"
    reads = bases = 0
    qscores = []
    try:
        with tamsu.Client(address, config, name="basecall_file example") as client:
            start = time.monotonic()
            for read in client.basecall(read_file(path)):
                reads += 1
                bases += len(read.sequence)
                qscore = read.metadata.get("mean_qscore")
                if qscore is not None:  # reads too short to call come back without one
                    qscores.append(qscore)
        elapsed = time.monotonic() - start
    except (OSError, BadInput) as error:
        print("cannot read the input: %s" % error, file=sys.stderr)
        return 1
    except tamsu.TamsuError as error:
        print("basecalling failed: %s (%s)" % (error.message, error.result.name), file=sys.stderr)
        return 1
    mean = sum(qscores) / len(qscores) if qscores else float("nan")
    print("reads: %d, bases: %d, mean q-score: %.2f, reads/s: %.0f"
          % (reads, bases, mean, reads / elapsed))
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
