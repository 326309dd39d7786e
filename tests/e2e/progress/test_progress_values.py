"""Every value the extraction passes to SetProgress, recorded by the traced test launcher: they
follow the stored-byte arithmetic exactly, never decrease, never exceed 100, and reach 100 only
when less than half a percent of the stored bytes is left."""
import random
import struct

import pytest

from conftest import MSG_STARTING, MSG_UNPACKING, STORED_MAGIC, encode_file, stored_entry, winpath
from test_progress_window import read_trace

CHUNK = 65536
STORED_CHUNK = 1 << 20  # a stored entry is copied a MiB at a time


def mul_div(a, b, c):
    """Windows' MulDiv: 64-bit product, rounded to the nearest, halves away from zero."""
    product = a * b
    q = (abs(product) + abs(c) // 2) // abs(c)
    return q if (product < 0) == (c < 0) else -q


def expected_values(entries):
    """(value, stored bytes left) for each chunk, entries in enumeration (name) order."""
    total = sum(len(raw) for _, raw in entries)
    done, out = 0, []
    for _, raw in sorted(entries):
        stream_length, _, dictionary, output_size = struct.unpack_from("<IBIQ", raw)
        size = output_size & 0xFFFFFFFF
        chunk = STORED_CHUNK if dictionary == STORED_MAGIC else CHUNK
        produced = 0
        while produced < size:
            counted = done + mul_div(produced, stream_length, size)
            out.append((mul_div(counted, 100, total), total - counted))
            produced += min(size - produced, chunk)
        done += stream_length
    return out, total


def package(tmp_path):
    rng = random.Random(11)
    files = {
        "A.TXT": b"the quick brown fox\r\n" * 12000,
        "B.BIN": rng.randbytes(400000),
        "SETUP.EXE": rng.randbytes(150000),
        # Many chunks of few stored bytes: its last chunks come within half a percent of the end.
        "Z.DAT": bytes(24 * CHUNK),
    }
    entries = [(name, encode_file(data, tmp_path / name)) for name, data in files.items()]
    # Stored as it is: fewer, larger chunks, counted in the same stored bytes.
    return entries + [("M.PAK", stored_entry(rng.randbytes(3 * STORED_CHUNK + 5)))]


@pytest.mark.parametrize("args", [b"", b"-ms"])
def test_progress_values_follow_the_stored_bytes(harness, tmp_path, args):
    entries = package(tmp_path)
    exe = harness.launcher(entries, traced=True)
    trace = tmp_path / "trace.txt"
    run = harness.run(exe, args, temp=harness.temp_dir(), env={"QUILL_TRACE_FILE": winpath(trace)})
    assert run.status == "exit" and run.messages == []
    statuses, values = read_trace(trace)
    assert statuses == [MSG_UNPACKING.replace(b"%s", n.encode()) for n, _ in sorted(entries)] + [
        MSG_STARTING]

    expected, total = expected_values(entries)
    # The extraction's values, then the hand-off fills the gauge before the launch.
    assert values == [v for v, _ in expected] + [100]
    assert values == sorted(values) and max(values) == 100
    reached = [left for v, left in expected if v == 100]
    assert reached, "the package reaches 100 during extraction"
    assert all(left * 200 < total for left in reached)
    assert all(v < 100 for v, left in expected if left * 200 > total)
