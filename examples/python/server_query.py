"""Asks a running basecall server about itself, without creating a client.

    python3 server_query.py ADDRESS [TIMEOUT_MS]
"""

import json
import sys

import tamsu


def main(argv):
    if len(argv) < 2:
        print(__doc__.strip(), file=sys.stderr)
        return 2
    address = argv[1]
    timeout_ms = int(argv[2]) if len(argv) > 2 else 2000
    try:
        information = tamsu.server_information(address, timeout_ms)
        statistics = tamsu.server_statistics(address, timeout_ms)
    except tamsu.TamsuError as error:
        print("query failed: %s (%s)" % (error.message, error.result.name), file=sys.stderr)
        return 1
    # The server's own description, as it sent it.
    print("server information: " + json.dumps(information, sort_keys=True))
    # Four server-wide counters and a pair per client; what they count is up to the server.
    print("statistics: %s, clients: %d"
          % (" ".join(str(value) for value in statistics["stats"]), len(statistics["clients"])))
    for index, (first, second) in enumerate(statistics["clients"]):
        print("  client %d: %d %d" % (index, first, second))
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
