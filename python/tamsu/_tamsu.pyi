# Types of the extension module behind the package `tamsu`.
import enum
from typing import Any, Callable, Dict, List, Optional, Tuple

class TamsuError(RuntimeError):
    result: Any  # a Result, or a PassReadResult for a refused read
    message: str

class Result(enum.IntEnum):
    success: int
    no_connection: int
    already_connected: int
    not_ready: int
    timed_out: int
    invalid_response: int
    basecall_config_unavailable: int
    barcode_kit_unavailable: int
    align_index_unavailable: int
    bed_file_unavailable: int
    align_index_no_seq: int
    file_load_timeout: int
    failed: int
    bad_request: int
    bad_reply: int

class ConnectionStatus(enum.IntEnum):
    disconnected: int
    preparing_connection: int
    loading_config: int
    loading_alignment_index: int
    loading_bed_file: int
    connecting: int
    connected: int
    error: int

class PassReadResult(enum.IntEnum):
    success: int
    not_accepting_reads: int
    queue_full: int
    invalid_read: int

class Priority(enum.IntEnum):
    high: int
    medium: int
    low: int

class TransportSecurity:
    server_public_key: str
    client_public_key: str
    client_secret_key: str
    def __init__(self, server_public_key: str, client_public_key: str,
                 client_secret_key: str) -> None: ...

class BarcodeKit:
    @property
    def kit_name(self) -> str: ...
    @property
    def first_index(self) -> int: ...
    @property
    def last_index(self) -> int: ...
    @property
    def first_inner_index(self) -> int: ...
    @property
    def last_inner_index(self) -> int: ...
    @property
    def is_dual(self) -> bool: ...
    @property
    def is_both_ends(self) -> bool: ...
    def generate_barcode_name(self, barcode: int, inner_barcode: int = 0) -> str: ...

class LampKit:
    @property
    def kit_name(self) -> str: ...
    @property
    def first_index(self) -> int: ...
    @property
    def last_index(self) -> int: ...
    @property
    def targets(self) -> List[str]: ...
    def generate_barcode_name(self, barcode: int) -> str: ...

class Read:
    def __init__(self, read_id: str, signal: Any, offset: float, scaling: float,
                 tag: Optional[int] = None) -> None: ...
    @property
    def read_id(self) -> str: ...
    @property
    def tag(self) -> int: ...
    @property
    def sequence(self) -> str: ...
    @property
    def qstring(self) -> str: ...
    @property
    def metadata(self) -> Dict[str, Any]: ...
    @property
    def datasets(self) -> Dict[str, Any]: ...  # name -> read-only numpy.ndarray

class Client:
    name: Optional[str]
    priority: Optional[Priority]
    connection_timeout_ms: Optional[int]
    timeout_ms: Optional[int]
    server_file_load_timeout_s: Optional[int]
    default_pass_read_timeout_ms: Optional[int]
    reconnect_timeout_s: Optional[int]
    block_size: Optional[int]
    max_reads_queued: Optional[int]
    move_and_trace_enabled: Optional[bool]
    state_data_enabled: Optional[bool]
    barcode_kits: Optional[str]
    alignment_index_file: Optional[str]
    alignment_type: Optional[str]
    bed_file: Optional[str]
    require_barcodes_both_ends: Optional[bool]
    min_score_front_barcodes: Optional[float]
    min_score_rear_barcodes: Optional[float]
    min_score_masks: Optional[float]
    detect_mid_strand_barcodes: Optional[bool]
    min_score_mid_barcodes: Optional[float]
    barcode_trimming_enabled: Optional[bool]
    lamp_kit: Optional[str]
    min_score_lamp_barcodes: Optional[float]
    min_score_lamp_masks: Optional[float]
    min_score_lamp_targets: Optional[float]
    additional_context_bases: Optional[int]
    min_length_lamp_contexts: Optional[int]
    min_length_lamp_targets: Optional[int]
    detect_mid_strand_adapter: Optional[bool]
    transport_security: Optional[TransportSecurity]
    # Called on a library thread as handler(old_status, new_status, error_message).
    state_change_handler: Optional[Callable[[ConnectionStatus, ConnectionStatus, str], None]]
    def __init__(self, address: str, config: str, **parameters: Any) -> None: ...
    def connect(self) -> None: ...
    def disconnect(self) -> Result: ...
    def finish(self, timeout_s: float = 0.0) -> Result: ...
    @property
    def status(self) -> ConnectionStatus: ...
    @property
    def error_message(self) -> str: ...
    def pass_read(self, read: Read, timeout_s: Optional[float] = None) -> PassReadResult: ...
    def completed_reads(self, max_reads: int = 0, timeout_s: float = 0.0) -> List[Read]: ...
    def basecalling_config(self) -> Dict[str, Any]: ...
    def alignment_sam_header(self) -> str: ...
    def __enter__(self) -> "Client": ...
    def __exit__(self, *args: Any) -> None: ...

def versions() -> Dict[str, str]: ...
def server_information(address: str, timeout_ms: int = 2000,
                       security: Optional[TransportSecurity] = None) -> Any: ...
def server_internal_state(address: str, timeout_ms: int = 2000,
                          security: Optional[TransportSecurity] = None) -> Any: ...
def server_statistics(address: str, timeout_ms: int = 2000,
                      security: Optional[TransportSecurity] = None) -> Dict[str, Any]: ...
def barcode_kits(address: str, timeout_ms: int = 2000,
                 security: Optional[TransportSecurity] = None) -> List[BarcodeKit]: ...
def lamp_kits(address: str, timeout_ms: int = 2000,
              security: Optional[TransportSecurity] = None) -> List[LampKit]: ...
