"""Python bindings of the tamsu basecall client library.

Client(address, config, **parameters) talks to one basecall server; Read(read_id, signal,
offset, scaling, tag=None) views an int16 signal buffer in place. Client.basecall(reads) is the
simplest way through: it passes reads from a background thread and yields them called.
"""

import threading

from ._tamsu import (BarcodeKit, ConnectionStatus, LampKit, PassReadResult, Priority, Read,
                     Result, TamsuError, TransportSecurity, barcode_kits, lamp_kits,
                     server_information, server_internal_state, server_statistics, versions)
from ._tamsu import Client as _Client

__all__ = ["BarcodeKit", "Client", "ConnectionStatus", "LampKit", "PassReadResult", "Priority",
           "Read", "Result", "TamsuError", "TransportSecurity", "barcode_kits", "lamp_kits",
           "server_information", "server_internal_state", "server_statistics", "versions"]

# How long each wait for room in the client's queue, or for called reads, lasts.
_POLL_S = 0.05


class Client(_Client):
    """One connection to a basecall server with one configuration (see the module's doc)."""

    def basecall(self, reads):
        """Passes every read of the iterable `reads` from a background thread and yields the
        called reads as they come back; returns when all are back. Connects first unless
        connected. Raises TamsuError when the connection fails for good or a read is refused.
        Leaving early (break, an exception, Ctrl-C) stops passing and disconnects: the reads
        still in flight are dropped, so a later call starts clean. A failed connection is left
        in its error status, with its error_message."""
        if self.status != ConnectionStatus.connected:
            self.connect()
        feeder = _Feeder(self, reads)
        feeder.start()
        returned = 0
        finished = False
        try:
            while True:
                batch = self.completed_reads(timeout_s=_POLL_S)
                for read in batch:
                    returned += 1
                    yield read
                if feeder.failure is not None:
                    raise feeder.failure
                if feeder.done.is_set() and returned >= feeder.passed:
                    finished = True
                    return
                if self.status == ConnectionStatus.error:
                    raise TamsuError("the connection failed: " + self.error_message)
        finally:
            feeder.stop()
            if not finished and self.status != ConnectionStatus.error:
                self.disconnect()


class _Feeder(threading.Thread):
    """Passes reads to a client until the iterable ends, the client refuses, or stop()."""

    def __init__(self, client, reads):
        super().__init__(name="tamsu-feeder", daemon=True)
        self._client = client
        self._reads = reads
        self._stopping = threading.Event()
        self.done = threading.Event()
        self.passed = 0
        self.failure = None

    def run(self):
        try:
            for read in self._reads:
                if not self._pass(read):
                    return
        except BaseException as error:  # handed to the consuming thread
            self.failure = error
        finally:
            self.done.set()

    def _pass(self, read):
        while not self._stopping.is_set():
            result = self._client.pass_read(read, _POLL_S)
            if result == PassReadResult.success:
                self.passed += 1
                return True
            if result != PassReadResult.queue_full:
                error = TamsuError("read %r refused: %s %s"
                                   % (read.read_id, result.name, self._client.error_message))
                error.result = result
                raise error
        return False

    def stop(self):
        self._stopping.set()
        self.join()
