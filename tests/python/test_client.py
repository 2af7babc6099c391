import _thread
import ast
import enum
import pathlib
import sys
import threading
import time

import numpy as np
import pytest

import tamsu
from conftest import running_server

CONFIG = "toy_flipflop_fast"


def signal(index):
    rng = np.random.default_rng(index)
    return rng.integers(400, 600, size=2000 + 13 * index, dtype=np.int16)


def test_basecall_round_trip_returns_every_read_called(server):
    count = 300
    reads = (tamsu.Read("read_%d" % i, signal(i), 0.0, 1.0) for i in range(count))
    with tamsu.Client(server, CONFIG, name="pytest", max_reads_queued=10,
                      move_and_trace_enabled=True) as client:
        called = {read.read_id: read for read in client.basecall(reads)}
        assert client.status == tamsu.ConnectionStatus.connected
    assert client.status == tamsu.ConnectionStatus.disconnected
    assert sorted(called) == sorted("read_%d" % i for i in range(count))
    for read_id, read in called.items():
        assert len(read.sequence) > 0 and len(read.qstring) == len(read.sequence), read_id
        assert read.metadata["read_id"] == read_id
        moves = read.datasets["moves"]
        assert moves.dtype == np.uint8 and moves.base.read is read, read_id


def test_signal_is_viewed_in_place_and_released_when_the_read_is_gone(server):
    samples = signal(1)
    baseline = sys.getrefcount(samples)
    read = tamsu.Read("in_place", samples, 0.0, 1.0, tag=7)
    raw = read.datasets["raw_data"][10:]
    assert raw.ctypes.data == samples.ctypes.data + 20 and raw.size == samples.size - 10
    with tamsu.Client(server, CONFIG) as client:
        # The library could free what a live array shows.
        with pytest.raises(BufferError):
            client.pass_read(read)
        del raw
        called = list(client.basecall([read]))
    assert [r.tag for r in called] == [7]
    assert called[0].datasets["raw_data"].ctypes.data == samples.ctypes.data
    assert sys.getrefcount(samples) > baseline
    del read, called
    assert sys.getrefcount(samples) == baseline


@pytest.mark.parametrize("bad_signal, error", [
    (np.zeros(10, dtype=np.int32), TypeError),
    (np.zeros(10, dtype=np.float64), TypeError),
    ([1, 2, 3], TypeError),
    (np.zeros(20, dtype=np.int16)[::2], ValueError),
    (np.zeros((2, 5), dtype=np.int16), ValueError),
])
def test_signal_must_be_one_contiguous_int16_buffer(bad_signal, error):
    with pytest.raises(error):
        tamsu.Read("bad", bad_signal, 0.0, 1.0)


def test_parameters_and_failures_raise_with_the_result(server):
    with pytest.raises(TypeError):
        tamsu.Client(server, CONFIG, no_such_parameter=1)
    with pytest.raises(TypeError):
        tamsu.Client(server, CONFIG, block_size="large")
    with pytest.raises(TypeError):
        tamsu.Client(server, CONFIG, priority=1)  # a Priority, not its number
    client = tamsu.Client(server, "no_such_config", block_size=1000, timeout_ms=500,
                          priority=tamsu.Priority.high)
    assert (client.block_size, client.priority, client.name) == (1000, tamsu.Priority.high, None)
    assert isinstance(client.status, enum.Enum) and client.status.name == "disconnected"
    with pytest.raises(tamsu.TamsuError) as failure:
        client.connect()
    assert failure.value.result is tamsu.Result.basecall_config_unavailable
    assert failure.value.message.startswith("connect failed: ")
    with tamsu.Client(server, CONFIG) as connected:
        started = time.monotonic()
        assert connected.completed_reads(timeout_s=0.2) == []
        assert time.monotonic() - started >= 0.2
        with pytest.raises(tamsu.TamsuError) as refused:
            connected.name = "too late"
        assert refused.value.result == tamsu.Result.already_connected


def test_basecall_raises_when_the_server_is_gone_for_good(tmp_path):
    with running_server(tmp_path) as endpoint:
        client = tamsu.Client(endpoint, CONFIG, timeout_ms=200, reconnect_timeout_s=1)
        client.connect()
    reads = (tamsu.Read("lost_%d" % i, signal(i), 0.0, 1.0) for i in range(5))
    with pytest.raises(tamsu.TamsuError):
        list(client.basecall(reads))
    assert client.status == tamsu.ConnectionStatus.error


def test_type_stub_names_every_public_name_of_the_module():
    stub = ast.parse(pathlib.Path(tamsu._tamsu.__file__).with_name("_tamsu.pyi").read_text())
    declared = {node.name: node for node in stub.body
                if isinstance(node, (ast.ClassDef, ast.FunctionDef))}
    public = {name for name in dir(tamsu._tamsu) if not name.startswith("_")}
    assert set(declared) == public
    client_members = {node.target.id if isinstance(node, ast.AnnAssign) else node.name
                      for node in declared["Client"].body}
    assert {name for name in dir(tamsu.Client) if not name.startswith("_")} - {"basecall"} \
        <= client_members


def wait_for(condition, what, seconds=30):
    deadline = time.monotonic() + seconds
    while not condition():
        assert time.monotonic() < deadline, what
        time.sleep(0.02)


def test_state_change_handler_hears_every_change_even_after_it_raised(server, monkeypatch):
    unraisable = []
    monkeypatch.setattr(sys, "unraisablehook", unraisable.append)
    changes = []

    def handler(old, new, message):
        changes.append((old, new))
        if len(changes) == 1:
            raise RuntimeError("a faulty handler")

    client = tamsu.Client(server, CONFIG, state_change_handler=handler)
    assert client.state_change_handler is handler
    client.connect()
    client.disconnect()
    Status = tamsu.ConnectionStatus
    wait_for(lambda: changes[-1:] == [(Status.connected, Status.disconnected)],
             "every change reported: %r" % changes)
    assert changes[0] == (Status.disconnected, Status.preparing_connection)
    assert (Status.connecting, Status.connected) in changes
    assert [str(u.exc_value) for u in unraisable] == ["a faulty handler"]
    with pytest.raises(TypeError):
        client.state_change_handler = "not callable"


def test_reads_passed_from_several_python_threads_all_come_back(server):
    threads, per_thread = 4, 40
    refused = []

    def feed(first):
        for index in range(first, first + per_thread):
            read = tamsu.Read("thread_read_%d" % index, signal(index), 0.0, 1.0)
            result = client.pass_read(read, timeout_s=30)
            if result != tamsu.PassReadResult.success:
                refused.append(result)

    with tamsu.Client(server, CONFIG, max_reads_queued=4) as client:
        feeders = [threading.Thread(target=feed, args=(t * per_thread,)) for t in range(threads)]
        for feeder in feeders:
            feeder.start()
        called = []
        deadline = time.monotonic() + 60
        while len(called) < threads * per_thread and time.monotonic() < deadline:
            called += [read.read_id for read in client.completed_reads()]
            time.sleep(0.01)
        for feeder in feeders:
            feeder.join()
    assert refused == []
    assert sorted(called) == sorted("thread_read_%d" % i for i in range(threads * per_thread))


def test_interrupting_basecall_stops_its_feeder_and_disconnects(server):
    endless = (tamsu.Read("endless_%d" % i, signal(i % 50), 0.0, 1.0) for i in range(10 ** 9))
    client = tamsu.Client(server, CONFIG)
    called = 0
    with pytest.raises(KeyboardInterrupt):
        for _ in client.basecall(endless):
            called += 1
            if called == 20:
                threading.Timer(0.01, _thread.interrupt_main).start()
    assert client.status == tamsu.ConnectionStatus.disconnected
    assert not [t for t in threading.enumerate() if t.name == "tamsu-feeder"]
    after = client.basecall([tamsu.Read("after", signal(1), 0.0, 1.0)])
    assert [read.read_id for read in after] == ["after"]
    client.disconnect()


def resident_bytes():
    with open("/proc/self/statm") as statm:
        return int(statm.read().split()[1]) * 4096


def test_memory_stays_flat_over_ten_thousand_reads(server):
    samples = signal(3)

    def reads(count):
        # One signal for all: a leak of each read's view or result shows, not the inputs.
        return (tamsu.Read("flat_%d" % i, samples, 0.0, 1.0) for i in range(count))

    with tamsu.Client(server, CONFIG, move_and_trace_enabled=True) as client:
        assert sum(1 for _ in client.basecall(reads(2000))) == 2000
        before = resident_bytes()
        assert sum(1 for _ in client.basecall(reads(10000))) == 10000
        grown = resident_bytes() - before
    # Each leaked called read would hold its sequence, qualities, moves and trace (over 8 kB).
    assert grown < 16 * 2 ** 20, "resident memory grew by %d bytes" % grown


def test_aligned_reads_name_their_reference_and_the_header_lists_it(server, tmp_path):
    reads = [tamsu.Read("ref_%d" % i, signal(i), 0.0, 1.0) for i in range(3)]
    client = tamsu.Client(server, CONFIG)
    with pytest.raises(tamsu.TamsuError) as failure:
        client.alignment_sam_header()
    assert failure.value.result == tamsu.Result.no_connection
    with client:
        sequences = {read.read_id: read.sequence for read in client.basecall(reads)}
    index = tmp_path / "reference.fa"
    index.write_text("".join(">%s\n%s\n" % item for item in sequences.items()))
    reads = [tamsu.Read("again_%d" % i, signal(i), 0.0, 1.0) for i in range(3)]
    # The type set after the index keeps the index.
    with tamsu.Client(server, CONFIG, alignment_index_file=str(index),
                      alignment_type="auto") as client:
        assert client.basecalling_config()
        assert all("@SQ\tSN:%s\t" % name in client.alignment_sam_header() for name in sequences)
        aligned = {read.read_id: read.metadata["alignment_genome"]
                   for read in client.basecall(reads)}
    assert aligned == {"again_%d" % i: "ref_%d" % i for i in range(3)}
