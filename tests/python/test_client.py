import ast
import pathlib
import sys

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
    client = tamsu.Client(server, "no_such_config", block_size=1000, timeout_ms=500)
    assert (client.block_size, client.name) == (1000, None)
    with pytest.raises(tamsu.TamsuError) as failure:
        client.connect()
    assert failure.value.result == tamsu.Result.basecall_config_unavailable
    assert failure.value.message.startswith("connect failed: ")
    with tamsu.Client(server, CONFIG) as connected:
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


def test_server_queries_and_versions(server, tmp_path):
    assert tamsu.versions()["protocol"] == "7.0.0"
    assert set(tamsu.versions()) == {"api", "data_wrappers", "protocol", "software"}
    assert isinstance(tamsu.server_information(server), dict)
    assert isinstance(tamsu.server_internal_state(server), dict)
    assert len(tamsu.server_statistics(server)["stats"]) == 4
    with pytest.raises(tamsu.TamsuError) as failure:
        tamsu.server_statistics("ipc://%s/nobody.sock" % tmp_path, timeout_ms=100)
    assert failure.value.result == tamsu.Result.timed_out


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
