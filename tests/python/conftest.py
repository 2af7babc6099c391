"""Reference servers on ipc:// endpoints in temporary directories."""

import contextlib
import os
import subprocess
import time

import pytest


@contextlib.contextmanager
def running_server(directory, *arguments):
    """Yields the endpoint of a server serving in `directory` (with the server's command-line
    `arguments`); stops it on the way out."""
    endpoint = "ipc://%s/server.sock" % directory
    log_path = directory / "server.out"
    with open(log_path, "w") as log:
        process = subprocess.Popen([os.environ["TAMSU_BASECALL_SERVER"], endpoint, *arguments],
                                   stdout=log, stderr=subprocess.STDOUT)
    try:
        deadline = time.monotonic() + 30
        while "Listening on" not in log_path.read_text():
            assert process.poll() is None, log_path.read_text()
            assert time.monotonic() < deadline, "the server did not start"
            time.sleep(0.05)
        yield endpoint
    finally:
        process.terminate()
        process.wait(timeout=30)


@pytest.fixture(scope="session")
def server(tmp_path_factory):
    with running_server(tmp_path_factory.mktemp("server")) as endpoint:
        yield endpoint
