"""Peak memory of the launcher while it extracts one very large entry (opt-in measurement).

    QUILL_LARGE_ENTRY_MIB=512 make e2e ARGS='-k large_entry_memory -s'

The entry streams through the 64 KiB output buffer, so the launcher's own memory should stay near
that of a launcher extracting a tiny entry: the decoder's dictionary, the buffer, and the mapped
resource pages it has read. Linux's view of the Wine process is sampled from /proc while it runs.
Nothing here is timed, and the numbers are printed rather than asserted against a bound.
"""
import hashlib
import lzma
import os
import pathlib
import threading
import time

import pytest

from conftest import entry_header

MIB = 1 << 20
SIZE_MIB = int(os.environ.get("QUILL_LARGE_ENTRY_MIB", "0"))
FIELDS = ("VmHWM", "VmRSS", "RssAnon", "RssFile", "VmPeak")


def entry(data_chunks, total: int) -> bytes:
    compressor = lzma.LZMACompressor(format=lzma.FORMAT_RAW, filters=[
        {"id": lzma.FILTER_LZMA1, "preset": 0, "lc": 3, "lp": 0, "pb": 2, "dict_size": 0x800000}])
    parts = [compressor.compress(c) for c in data_chunks]
    parts.append(compressor.flush())
    compressed = b"".join(parts)
    return entry_header(13 + len(compressed), 0x5D, 0x800000, total) + compressed


def zero_chunks(size: int):
    """Zeros: the entry stays a few hundred KiB however large the file it decodes to."""
    for start in range(0, size, 16 * MIB):
        yield bytes(min(16 * MIB, size - start))


def text_chunks(size: int):
    """Log-like text: compresses about tenfold, so the entry itself is tens of MiB."""
    line = 0
    produced = 0
    while produced < size:
        chunk = b"".join(b"%010d quill large entry line, value %08x\r\n" % (i, (i * 2654435761) & 0xFFFFFFFF)
                         for i in range(line, line + 100000))
        line += 100000
        chunk = chunk[: size - produced]
        produced += len(chunk)
        yield chunk


class Sampler(threading.Thread):
    """Polls /proc for processes whose command line names `exe_name`; keeps each field's maximum."""

    def __init__(self, exe_name: str):
        super().__init__(daemon=True)
        self.exe_name = exe_name.encode()
        self.peak = {}
        self.samples = 0
        self.done = threading.Event()

    def run(self):
        while not self.done.is_set():
            for pid in (p for p in os.listdir("/proc") if p.isdigit()):
                try:
                    if self.exe_name not in pathlib.Path(f"/proc/{pid}/cmdline").read_bytes():
                        continue
                    status = pathlib.Path(f"/proc/{pid}/status").read_text()
                except OSError:
                    continue
                self.samples += 1
                for line in status.splitlines():
                    key, _, value = line.partition(":")
                    if key in FIELDS:
                        kib = int(value.split()[0])
                        self.peak[key] = max(self.peak.get(key, 0), kib)
            time.sleep(0.02)


def measure(harness, name: str, raw: bytes):
    exe = harness.launcher([("BIG.DAT", raw)], name=name)
    temp = harness.temp_dir()
    sampler = Sampler(name)
    sampler.start()
    try:
        run = harness.run(exe, temp=temp, timeout_ms=600000)
    finally:
        sampler.done.set()
        sampler.join()
    return run, temp / "quill_temp" / "BIG.DAT", sampler


@pytest.mark.skipif(SIZE_MIB <= 0, reason="set QUILL_LARGE_ENTRY_MIB to measure")
@pytest.mark.parametrize("kind", ["zeros", "text"])
def test_large_entry_memory(harness, kind):
    size = SIZE_MIB * MIB
    digest = hashlib.sha256()
    chunks = []
    for c in (zero_chunks if kind == "zeros" else text_chunks)(size):
        digest.update(c)
        chunks.append(c)
    raw = entry(chunks, size)
    del chunks

    base_run, _, base = measure(harness, "quill_tiny_entry.exe", entry([b"tiny"], 4))
    run, out, big = measure(harness, "quill_big_entry.exe", raw)
    assert base_run.status == "exit" and run.status == "exit" and run.messages == []
    got = hashlib.sha256()
    with open(out, "rb") as f:
        while block := f.read(16 * MIB):
            got.update(block)
    assert out.stat().st_size == size and got.digest() == digest.digest()

    print(f"\n{kind}: {size // MIB} MiB decoded, {len(raw) / MIB:.2f} MiB stored")
    for label, s in (("tiny entry", base), ("large entry", big)):
        print(f"{label:12} samples={s.samples:5} " +
              " ".join(f"{k}={s.peak.get(k, 0) / 1024:.1f}MiB" for k in FIELDS))
