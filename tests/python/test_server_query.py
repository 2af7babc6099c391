import os
import subprocess

import pytest

import tamsu
from conftest import running_server


def test_server_queries_and_versions(server, tmp_path):
    assert tamsu.versions()["protocol"] == "7.0.0"
    assert set(tamsu.versions()) == {"api", "data_wrappers", "protocol", "software"}
    assert isinstance(tamsu.server_information(server), dict)
    assert isinstance(tamsu.server_internal_state(server), dict)
    assert len(tamsu.server_statistics(server)["stats"]) == 4
    with pytest.raises(tamsu.TamsuError) as failure:
        tamsu.server_statistics("ipc://%s/nobody.sock" % tmp_path, timeout_ms=100)
    assert failure.value.result == tamsu.Result.timed_out


def test_kit_queries_describe_the_servers_kits(server):
    barcode_kits = {kit.kit_name: kit for kit in tamsu.barcode_kits(server)}
    dual = barcode_kits["TOY-DUAL"]
    assert (dual.is_dual, dual.first_inner_index, dual.last_inner_index) == (True, 1, 12)
    assert barcode_kits["TOY-BC12"].generate_barcode_name(3) == "barcode03"
    with pytest.raises(IndexError):
        barcode_kits["TOY-BC12"].generate_barcode_name(13)
    lamp = {kit.kit_name: kit for kit in tamsu.lamp_kits(server)}["TOY-LAMP"]
    assert lamp.targets == ["target_a", "target_b", "target_c"]
    assert (lamp.first_index, lamp.last_index) == (1, 96)


def key_pair(prefix):
    subprocess.run([os.environ["TAMSU_CLI"], "keygen", str(prefix)], check=True)
    return [(prefix.parent / (prefix.name + suffix)).read_text().strip()
            for suffix in (".public", ".secret")]


def test_transport_security_lets_only_a_client_with_the_servers_key_in(tmp_path):
    server_public, _ = key_pair(tmp_path / "server")
    client_public, client_secret = key_pair(tmp_path / "client")
    other_public, _ = key_pair(tmp_path / "other")
    keys = tamsu.TransportSecurity(server_public, client_public, client_secret)
    wrong = tamsu.TransportSecurity(other_public, client_public, client_secret)
    with running_server(tmp_path, "--curve-keys", str(tmp_path / "server")) as endpoint:
        assert isinstance(tamsu.server_information(endpoint, security=keys), dict)
        with pytest.raises(tamsu.TamsuError):
            tamsu.server_information(endpoint, timeout_ms=100, security=wrong)
        with tamsu.Client(endpoint, "toy_flipflop_fast", transport_security=keys) as client:
            assert client.status == tamsu.ConnectionStatus.connected
        refused = tamsu.Client(endpoint, "toy_flipflop_fast", transport_security=wrong,
                               timeout_ms=100)
        with pytest.raises(tamsu.TamsuError) as failure:
            refused.connect()
        assert failure.value.result == tamsu.Result.failed
