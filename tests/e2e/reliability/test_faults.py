"""Faults made real under Wine: a file held open during the cleanup, the launcher killed while it
unpacks, awkward temp paths, many entries, and the user's own files in the work directory.

In none of them may anything be lost: what the user put somewhere stays, and a later ordinary run
puts everything right. (Disk full, a read-only target, a temp path beyond the system limit and an
empty package are covered in tests/e2e/payload.)
"""
import lzma
import pathlib
import random
import struct

from conftest import QSETUP, Setup, files_under, winpath


def entry(data: bytes, dictionary=0x10000) -> bytes:
    raw = lzma.compress(data, format=lzma.FORMAT_RAW, filters=[
        {"id": lzma.FILTER_LZMA1, "preset": 0, "lc": 3, "lp": 0, "pb": 2,
         "dict_size": dictionary}])
    return struct.pack("<IBIQ", 13 + len(raw), 0x5D, dictionary, len(data)) + raw


def with_setup(files: dict) -> list:
    return [("SETUP.EXE", entry(QSETUP.read_bytes()))] + [(n, entry(c)) for n, c in files.items()]


def test_a_file_held_open_during_cleanup_stays_with_the_work_directory(harness):
    files = {"README.TXT": b"read me\r\n" * 100, "DOCS\\MANUAL.TXT": b"manual",
             "DATA.BIN": bytes(5000)}
    marker = harness._fresh("marker") / "held"
    setup = Setup(harness, f"hold=3000,{winpath(marker)},README.TXT", "exit=3")
    temp = harness.temp_dir()
    run = harness.run(harness.launcher(with_setup(files)), temp=temp, env=setup.env)
    # The program ran and ended normally: its exit code is the launcher's.
    assert run.status == "exit" and run.exit_code == 3 and run.messages == []
    # Everything unpacked is gone except the file still held, which keeps the work directory.
    assert files_under(temp / "quill_temp") == {"README.TXT": files["README.TXT"]}


def test_twenty_kills_during_extraction_then_one_ordinary_run_leaves_nothing(harness):
    rng = random.Random(20261208)
    files = {f"PART{i}.BIN": rng.randbytes(1_500_000) for i in range(6)}
    files["DOCS\\README.TXT"] = b"read me\r\n" * 20000
    exe = harness.launcher(with_setup(files))
    temp = harness.temp_dir()
    work = temp / "quill_temp"
    # One ordinary run in its own temp directory tells how long the launcher runs here (timed by
    # the driver, so Wine's start of the driver itself does not widen the window).
    probe = Setup(harness, "exit=0")
    first = harness.run(exe, temp=harness.temp_dir(), env=probe.env)
    assert first.status == "exit" and first.exit_code == 0
    span_ms = max(first.elapsed_ms, 40)

    outcomes = []
    for _ in range(20):
        setup = Setup(harness, "exit=0")
        run = harness.run(exe, temp=temp, env=setup.env, kill_after_ms=rng.randint(20, span_ms))
        outcomes.append(run.status)
        assert run.status in ("killed", "exit") and run.messages == []
        # Whatever a killed run left is only unpacked entries and the manifest.
        if work.exists():
            left = set(files_under(work)) - {"Archive.lst"}
            assert left <= {n.replace("\\", "/") for n in [*files, "SETUP.EXE"]}
    assert outcomes.count("killed") >= 10, outcomes

    setup = Setup(harness, "exit=0")
    run = harness.run(exe, temp=temp, env=setup.env)
    assert run.status == "exit" and run.exit_code == 0 and run.messages == []
    # The program saw every entry whole, and the cleanup left no trace.
    assert sorted(setup.lines("file")) == sorted(
        [b"Archive.lst", b"SETUP.EXE", *(n.encode() for n in files)])
    assert not work.exists()


def test_a_temp_path_with_blanks_and_gbk_characters(harness):
    parent = harness.temp_dir()
    real = parent / "临时 文件 夹"
    real.mkdir()
    # qdriver reads the path in the ANSI code page (936): the request carries its GBK bytes.
    as_gbk = pathlib.Path(parent, real.name.encode("gbk").decode("latin-1"))
    files = {"README.TXT": b"read me", "说明 文件.TXT": b"gbk name"}
    setup = Setup(harness, "leave=KEEP ME.TXT", "exit=4")
    run = harness.run(harness.launcher(with_setup(files)), temp=as_gbk, env=setup.env)
    assert run.status == "exit" and run.exit_code == 4 and run.messages == []
    assert sorted(setup.lines("file")) == sorted(
        [b"Archive.lst", b"README.TXT", b"SETUP.EXE", "说明 文件.TXT".encode("gbk")])
    assert files_under(real) == {"quill_temp/KEEP ME.TXT": b"left by qsetup"}


def test_a_package_of_1000_entries(harness):
    files = {f"DIR{i % 10}\\F{i:04}.TXT": f"file {i}\r\n".encode() * (i % 7 + 1)
             for i in range(999)}
    setup = Setup(harness, "exit=0")
    temp = harness.temp_dir()
    run = harness.run(harness.launcher(with_setup(files)), temp=temp, env=setup.env,
                      timeout_ms=120000)
    assert run.status == "exit" and run.exit_code == 0 and run.messages == []
    seen = setup.lines("file")
    assert len(seen) == 1001  # 1,000 entries and the manifest
    assert sorted(seen) == sorted([b"Archive.lst", b"SETUP.EXE", *(n.encode() for n in files)])
    assert not (temp / "quill_temp").exists()


def test_the_users_own_files_in_the_work_directory_are_never_deleted(harness):
    temp = harness.temp_dir()
    work = temp / "quill_temp"
    mine = {
        "MY NOTES.TXT": b"notes",
        "DOCS/MINE.TXT": b"beside an entry's file",  # in a directory an entry also uses
        "SETUP.EXE.BAK": b"a name close to an entry's",
        "OLD/DEEP/KEEP.DAT": b"deep",
    }
    for name, content in mine.items():
        (work / name).parent.mkdir(parents=True, exist_ok=True)
        (work / name).write_bytes(content)
    files = {"README.TXT": b"read me", "DOCS\\MANUAL.TXT": b"manual"}
    exe = harness.launcher(with_setup(files))
    # An interrupted run first, then an ordinary one.
    harness.run(exe, temp=temp, env=Setup(harness, "sleep_ms=3000").env, kill_after_ms=1500)
    setup = Setup(harness, "exit=0")
    run = harness.run(exe, temp=temp, env=setup.env)
    assert run.status == "exit" and run.exit_code == 0 and run.messages == []
    assert files_under(work) == mine
