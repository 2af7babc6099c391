"""The library's log records reach Python's logger "tamsu", never standard output."""

import logging
import subprocess
import sys
import time

import tamsu

CONFIG = "toy_flipflop_fast"


def test_connecting_is_logged_at_info_with_the_function(server, caplog):
    caplog.set_level(logging.INFO, logger="tamsu")
    with tamsu.Client(server, CONFIG, name="logged"):
        pass
    text = "Connecting to server as 'logged'"
    deadline = time.monotonic() + 30
    while not [r for r in caplog.records if r.getMessage() == text]:  # a thread delivers them
        assert time.monotonic() < deadline, [r.getMessage() for r in caplog.records]
        time.sleep(0.05)
    record = [r for r in caplog.records if r.getMessage() == text][0]
    assert (record.name, record.levelno) == ("tamsu", logging.INFO)
    assert "establish_server_connection" in record.funcName


def test_records_reach_logging_in_forked_children_and_never_standard_output(server):
    # A child must not wait at exit for a thread of its parent's; records queued at exit arrive.
    script = ("import logging, os, sys, tamsu\n"
              "logging.basicConfig(level=logging.INFO, stream=sys.stderr)\n"
              "def connect(name):\n"
              "    with tamsu.Client(%r, %r, name=name):\n"
              "        pass\n"
              "child = os.fork()\n"
              "if child == 0:\n"
              "    connect('child')\n"
              "    sys.exit(0)\n"
              "assert os.waitstatus_to_exitcode(os.waitpid(child, 0)[1]) == 0\n"
              "connect('parent')\n" % (server, CONFIG))
    done = subprocess.run([sys.executable, "-c", script], capture_output=True, text=True,
                          timeout=120)
    assert done.returncode == 0, done.stderr
    assert done.stdout == ""
    for name in ("child", "parent"):
        assert "INFO:tamsu:Connecting to server as '%s'" % name in done.stderr
