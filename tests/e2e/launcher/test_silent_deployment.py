"""Silent deployment as a deployment tool meets it: started with -ms where nobody can answer a
window, the launcher must end by itself, show no window at any moment, start nothing from a
damaged package, leave nothing behind in the temp directory, tell the outcome in its exit code and
record why it failed in the Application event log. Two silent launchers started together never
share a work directory.

The event log records are read where Wine prints ReportEventW's strings: its eventlog channel.
Message boxes are never pressed here (press=False): one that appeared would hold the launcher
until the driver's time-out.
"""
import random

import pytest

from conftest import (ARCH, BUILD_WIN, QSETUP, Setup, encode_file, entry_header, files_under,
                      winpath)

NOMEM_LAUNCHER = BUILD_WIN / "tests" / "quill_nomem.exe"
EVENTLOG = "fixme+advapi,warn+eventlog"
DAMAGED = "The package is damaged. Please download the installer again."
NAMES = ["quill_temp"] + [f"quill_temp{n}" for n in range(1, 101)]


def snapshot(root):
    """Every path below `root`, with the content of each file."""
    return {str(p.relative_to(root)): p.read_bytes() if p.is_file() else None
            for p in sorted(root.rglob("*"))}


def make_entry(kind, tmp):
    """A payload entry: corrupt data, a header asking for a 4 GiB - 1 dictionary (more than a
    32-bit process has room for), or a megabyte of noise (more than a small disk takes)."""
    if kind == "corrupt":
        return entry_header(13 + 64, 0x5D, 0x10000, 5000) + b"\xff" * 64
    if kind == "dictionary":
        entry = bytearray(encode_file(b"x" * 100, tmp))
        entry[5:9] = b"\xff" * 4
        return bytes(entry)
    return encode_file(random.Random(4).randbytes(1 << 20), tmp, "--preset", "0")


def fnv1a64(data: bytes) -> str:
    value = 0xcbf29ce484222325
    for byte in data:
        value = ((value ^ byte) * 0x100000001b3) & 0xFFFFFFFFFFFFFFFF
    return f"{value:016x}"


# name: (entries besides SETUP.EXE, or "nomem" for the launcher whose option scan gets no
# memory; how %TEMP% is prepared; event identifier; English text; exit code)
SILENT_FAILURES = {
    "corrupt entry before SETUP.EXE": ([("A.BIN", "corrupt")], None, 7, DAMAGED, 2),
    "corrupt entry after SETUP.EXE": ([("Z.BIN", "corrupt")], None, 7, DAMAGED, 2),
    "dictionary that cannot be allocated": ([("Z.BIN", "dictionary")], None, 6, "Out of memory!",
                                            2),
    "a write that fails for a full disk": ([("Z.BIN", "noise")], "full disk", 4,
                                           "Cannot write file Z.BIN", 2),
    "all 101 work-directory names taken": ([], "names taken", 11, "Cannot create temp directory",
                                           1),
    "out of memory in the option scan": ("nomem", None, 10, "Out of memory", 1),
}


@pytest.mark.parametrize("case", SILENT_FAILURES, ids=list(SILENT_FAILURES))
def test_a_silent_failure_ends_by_itself_without_a_window_and_is_recorded(harness, small_disk,
                                                                           tmp_path, case):
    entries, prepare, event_id, text, code = SILENT_FAILURES[case]
    if case == "dictionary that cannot be allocated" and ARCH != "x86":
        pytest.skip("a 64-bit launcher has the address space for the dictionary")
    qsetup = QSETUP.read_bytes()
    if prepare == "full disk":
        # Room for SETUP.EXE and a little more, not for the megabyte of noise behind it.
        temp, mounted = small_disk(len(qsetup) + 128 * 1024)
    else:
        temp, mounted = harness.temp_dir(), True
    if prepare == "names taken":
        for name in NAMES:
            (temp / name).write_bytes(b"not a directory")
    before = snapshot(temp)
    if not mounted:
        (temp / "quill_temp").mkdir()
        (temp / "quill_temp" / "Z.BIN").symlink_to("/dev/full")

    if entries == "nomem":
        exe = NOMEM_LAUNCHER
    else:
        exe = harness.launcher([("SETUP.EXE", encode_file(qsetup, tmp_path / "setup"))] +
                               [(name, make_entry(kind, tmp_path / name)) for name, kind in entries])
    setup = Setup(harness, "exit=0")
    run = harness.run(exe, b"-ms", temp=temp, env=setup.env, press=False, timeout_ms=60000,
                      debug=EVENTLOG)
    assert (run.status, run.exit_code) == ("exit", code)
    assert run.windows == [] and run.messages == []
    assert not setup.ran(), "a setup program was started from a damaged package"
    assert snapshot(temp) == before
    assert [(e.type, e.id, e.strings) for e in run.events()] == [
        (2, event_id, [text, winpath(exe), str(code)])]


def test_two_silent_launchers_started_together_never_share_a_work_directory(harness):
    temp = harness.temp_dir()
    qsetup = QSETUP.read_bytes()
    marks = harness.temp_dir()
    launchers = []
    for i, content in enumerate((b"first package\r\n" * 1000, b"second package\r\n" * 1000)):
        # Each setup program looks at its files as it starts, holds until the other one runs too
        # (both launchers have then unpacked), and looks again a second later.
        setup = Setup(harness, "digest=1", f"mark={winpath(marks / str(i))}",
                      f"wait_for={winpath(marks / str(1 - i))}", "sleep_ms=1000", "digest=1",
                      "exit=0")
        exe = harness.launcher({"SETUP.EXE": qsetup, "DATA.BIN": content})
        launchers.append((setup, content, exe))
    started = [harness.start(exe, b"-ms", temp=temp, env=setup.env, debug=EVENTLOG)
               for setup, content, exe in launchers]
    runs = [s.wait() for s in started]

    manifest = b"[Archives]\r\nDATA.BIN=TRUE\r\nSETUP.EXE=TRUE\r\n"
    work_dirs = set()
    for (setup, content, exe), run in zip(launchers, runs):
        assert (run.status, run.exit_code, run.windows, run.events()) == ("exit", 0, [], [])
        own = sorted(f"{name} {fnv1a64(data)}".encode() for name, data in
                     (("Archive.lst", manifest), ("DATA.BIN", content), ("SETUP.EXE", qsetup)))
        digests = setup.lines("digest")
        assert sorted(digests[:3]) == own and sorted(digests[3:]) == own
        work_dirs.add(setup.one("cwd"))
    assert len(work_dirs) == 2
    assert files_under(temp) == {}
