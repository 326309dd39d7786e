"""Extraction of a package into the work directory, seen from outside the launcher."""
import lzma
import os
import random
import shutil
import subprocess

import pytest

from conftest import (ARCH, BUILD_WIN, MSG_CANNOT_WRITE, MSG_CORRUPT, MSG_OUT_OF_MEMORY,
                      STORED_MAGIC, STORED_PROPERTIES, STUB, entry_header, files_under,
                      stored_entry, winpath)

DICT_8M = 0x800000
SHIPPED_PROPERTIES = 0x5D  # lc 3, lp 0, pb 2


def raw_lzma1(data: bytes, preset=6) -> bytes:
    """Raw LZMA1 data for `data` with the shipped settings; liblzma ends it with an end marker."""
    return lzma.compress(data, format=lzma.FORMAT_RAW, filters=[
        {"id": lzma.FILTER_LZMA1, "preset": preset, "lc": 3, "lp": 0, "pb": 2,
         "dict_size": DICT_8M}])


def crafted_entry(compressed: bytes, output_size: int, properties=SHIPPED_PROPERTIES,
                  dictionary=DICT_8M, stream_length=None) -> bytes:
    if stream_length is None:
        stream_length = 13 + len(compressed)
    return entry_header(stream_length, properties, dictionary, output_size) + compressed


def entry_for(data: bytes, preset=6) -> bytes:
    return crafted_entry(raw_lzma1(data, preset), len(data))


def noise(size: int, seed: int) -> bytes:
    return random.Random(seed).randbytes(size)


def sample_files(seed=1):
    rng = random.Random(seed)
    return {
        "SETUP.EXE": rng.randbytes(70000),
        "README.TXT": b"read me\r\n" * 5000,
        "DATA\\TABLE.DAT": bytes(range(256)) * 600,
        "A.BIN": rng.randbytes(3),
    }


def manifest(*names: str) -> bytes:
    return b"[Archives]\r\n" + b"".join(n.encode("gbk") + b"=TRUE\r\n" for n in names)


def check_message(run, text: bytes):
    assert run.texts() == [text]
    assert run.messages[0].warning_icon
    # No caption of its own: the box carries the system's default one.
    assert run.messages[0].caption == "错误".encode("gbk")


def test_package_is_extracted_byte_identical_in_ascending_name_order(harness):
    files = sample_files()  # deliberately not in name order
    # One entry stored as it is among the decoded ones.
    raw = noise(3 << 20, 5)
    exe = harness.launcher([*((n, entry_for(c)) for n, c in files.items()),
                            ("MEDIA\\RAW.PAK", stored_entry(raw))])
    temp = harness.temp_dir()
    run = harness.run(exe, temp=temp)
    assert run.status == "exit" and run.messages == []
    work = temp / "quill_temp"
    got = files_under(work)
    assert got.pop("Archive.lst") == manifest("A.BIN", "DATA\\TABLE.DAT", "MEDIA\\RAW.PAK",
                                              "README.TXT", "SETUP.EXE")
    assert got.pop("MEDIA/RAW.PAK") == raw
    assert got == {name.replace("\\", "/"): content for name, content in files.items()}


def test_leftovers_of_an_earlier_run(harness):
    exe = harness.launcher({"SETUP.EXE": b"new setup", "README.TXT": b"new readme"})
    temp = harness.temp_dir()
    work = temp / "quill_temp"
    (work / "fennel.moss" / "deep").mkdir(parents=True)
    (work / "fennel.moss" / "deep" / "x.dat").write_bytes(b"scratch")
    (work / "fennel.moss" / "y.dat").write_bytes(b"scratch")
    (work / "Archive.lst").write_bytes(manifest("OLD.EXE", "uninstall.exe"))
    (work / "OTHER.TXT").write_bytes(b"kept")
    (work / "SETUP.EXE").write_bytes(b"old setup, longer than the new one")
    run = harness.run(exe, temp=temp)
    assert run.status == "exit" and run.messages == []
    assert files_under(work) == {
        "Archive.lst": manifest("README.TXT", "SETUP.EXE"),
        "OTHER.TXT": b"kept",
        "README.TXT": b"new readme",
        "SETUP.EXE": b"new setup",
    }
    assert not (work / "fennel.moss").exists()


def test_an_empty_package_extracts_nothing_and_removes_an_empty_work_directory(harness):
    exe = harness.temp_dir() / "setup.exe"  # the stub: a launcher without payload entries
    shutil.copy(STUB, exe)
    temp = harness.temp_dir()
    (temp / "quill_temp").mkdir()
    run = harness.run(exe, temp=temp)
    assert run.status == "exit" and run.messages == []
    assert list(temp.iterdir()) == []


def test_empty_and_chunk_sized_entries(harness):
    files = {"EMPTY.TXT": b"", "TWO.BIN": noise(2 * 65536, 2), "ODD.BIN": noise(65537, 3)}
    exe = harness.launcher(files)
    temp = harness.temp_dir()
    run = harness.run(exe, temp=temp)
    assert run.status == "exit" and run.messages == []
    got = files_under(temp / "quill_temp")
    assert got.pop("Archive.lst") == manifest("EMPTY.TXT", "ODD.BIN", "TWO.BIN")
    assert got == files


def test_gbk_and_long_entry_names(harness):
    # A name longer than the 128-byte status line, and one in Chinese (GBK under code page 936).
    long_name = "L" * 150 + ".TXT"
    files = {"数据\\文件.TXT": b"chinese name", long_name: b"long name"}
    exe = harness.launcher(files)
    temp = harness.temp_dir()
    run = harness.run(exe, temp=temp)
    assert run.status == "exit" and run.messages == []
    got = files_under(temp / "quill_temp")
    assert got.pop("Archive.lst") == manifest(long_name, "数据\\文件.TXT")
    assert got == {long_name: b"long name", "数据/文件.TXT": b"chinese name"}


# --- the failure table, row by row ----------------------------------------------------------------
# Each package is A.TXT (good), B.BIN (the case), C.TXT (good), extracted in that order. Unpacked
# with -u, so that what a failure leaves stays to be looked at: the files in the current
# directory, the manifest in the work directory that exists already. (An ordinary run removes
# everything after message 4, 6 or 7: tests/e2e/launcher/test_silent_deployment.py.)

BIG = noise(200000, 9)


def _truncated():
    data = raw_lzma1(BIG, preset=0)
    return crafted_entry(data[: len(data) * 2 // 3], len(BIG))


FAILURES = {
    # name: (entry, message, B.BIN's content (None: absent), enumeration goes on)
    "corrupt data": (crafted_entry(b"\x00" + b"\xff" * 400, 5000), MSG_CORRUPT, b"", False),
    "input exhausted": (_truncated(), MSG_CORRUPT, "prefix", False),
    "end marker before outputSize": (crafted_entry(raw_lzma1(b"short" * 100), 100000), None,
                                     b"short" * 100, True),
    "properties 225": (crafted_entry(raw_lzma1(b"x" * 100), 100, properties=225), None, b"",
                       True),
    "properties 255 with a bad length": (entry_header(3, 255, DICT_8M, 100), None, b"", True),
    "outputSize low word 0xFFFFFFFF": (crafted_entry(raw_lzma1(b"x" * 100), 0x1FFFFFFFF),
                                       MSG_CORRUPT, b"", False),
    "streamLength 12": (crafted_entry(raw_lzma1(b"x" * 100), 100, stream_length=12), MSG_CORRUPT,
                        b"", False),
    "streamLength beyond the resource": (crafted_entry(raw_lzma1(b"x" * 100), 100,
                                                       stream_length=13 + 100000),
                                         MSG_CORRUPT, b"", False),
    # A 64-bit launcher has the address space for it and unpacks the entry.
    "dictionary of 4 GiB - 1": (crafted_entry(raw_lzma1(b"x" * 100), 100, dictionary=0xFFFFFFFF),
                                *((MSG_OUT_OF_MEMORY, b"", False) if ARCH == "x86"
                                  else (None, b"x" * 100, True))),
    "lc 4 + lp 1": (crafted_entry(raw_lzma1(b"x" * 100), 100, properties=4 + 9 * 1 + 45 * 2),
                    MSG_CORRUPT, b"", False),
    # The stored kind: copied as it is; with sizes that disagree it is damaged; properties 0xFF
    # without the stored dictionary stay the invalid header they always were.
    "stored": (stored_entry(BIG), None, BIG, True),
    "stored, outputSize one short": (entry_header(13 + 100, STORED_PROPERTIES, STORED_MAGIC, 99) +
                                     b"x" * 100, MSG_CORRUPT, b"", False),
    "properties 0xFF without the stored dictionary": (
        entry_header(13 + 100, STORED_PROPERTIES, DICT_8M, 100) + b"x" * 100, None, b"", True),
}


@pytest.mark.parametrize("case", FAILURES, ids=list(FAILURES))
def test_failure_table(harness, case):
    entry, message, b_content, goes_on = FAILURES[case]
    exe = harness.launcher([("A.TXT", entry_for(b"first")), ("B.BIN", entry),
                            ("C.TXT", entry_for(b"third"))])
    temp, cwd = harness.temp_dir(), harness.temp_dir()
    (temp / "quill_temp").mkdir()
    (temp / "quill_temp" / "OTHER.TXT").write_bytes(b"keeps the directory")
    run = harness.run(exe, b"-u", temp=temp, cwd=cwd)
    assert run.status == "exit"
    if message is None:
        assert run.messages == []
    else:
        check_message(run, message)
    # B.BIN is recorded before it is decoded, whatever becomes of it.
    assert files_under(temp / "quill_temp") == {
        "Archive.lst": manifest("A.TXT", "B.BIN", *(["C.TXT"] if goes_on else [])),
        "OTHER.TXT": b"keeps the directory"}
    got = files_under(cwd)
    assert got.pop("A.TXT") == b"first"
    if b_content == "prefix":
        written = got.pop("B.BIN")
        assert 0 < len(written) < len(BIG) and len(written) % 65536 == 0
        assert BIG.startswith(written)
    else:
        assert got.pop("B.BIN") == b_content
    assert got == ({"C.TXT": b"third"} if goes_on else {})


@pytest.fixture
def unwritable_leftover():
    """Makes a file that no write can open: Wine's read-only attribute (no write permission), and
    under root, which the permission does not stop, the immutable flag as well."""
    made = []

    def make(path):
        path.write_bytes(b"read-only leftover")
        path.chmod(0o444)
        if os.geteuid() == 0:
            subprocess.run(["chattr", "+i", str(path)], check=True)
            made.append(path)

    yield make
    for path in made:
        subprocess.run(["chattr", "-i", str(path)], check=False)


@pytest.mark.parametrize("blocker", ["read-only file", "directory"])
def test_a_target_that_cannot_be_created_is_skipped_silently(harness, unwritable_leftover,
                                                              blocker):
    exe = harness.launcher({"A.TXT": b"first", "B.BIN": b"new", "C.TXT": b"third"})
    temp = harness.temp_dir()
    work = temp / "quill_temp"
    work.mkdir()
    if blocker == "directory":
        (work / "B.BIN").mkdir()
    else:
        unwritable_leftover(work / "B.BIN")
    run = harness.run(exe, temp=temp)
    assert run.status == "exit" and run.messages == []
    expected = {"Archive.lst": manifest("A.TXT", "C.TXT"), "A.TXT": b"first", "C.TXT": b"third"}
    if blocker != "directory":
        expected["B.BIN"] = b"read-only leftover"
    assert files_under(work) == expected


# --- a write that fails for real ------------------------------------------------------------------


@pytest.mark.parametrize("method", ["lzma", "stored"])
def test_a_write_that_fails_shows_message_4_and_removes_what_was_unpacked(harness, small_disk,
                                                                          method):
    temp, mounted = small_disk(128 * 1024)
    big = noise(1 << 20, 4)
    b_entry = entry_for(big, preset=0) if method == "lzma" else stored_entry(big)
    exe = harness.launcher([("A.TXT", entry_for(b"first")), ("B.BIN", b_entry),
                            ("C.TXT", entry_for(b"third"))])
    if not mounted:
        (temp / "quill_temp").mkdir()
        (temp / "quill_temp" / "B.BIN").symlink_to("/dev/full")
    run = harness.run(exe, temp=temp, debug="fixme+advapi,warn+eventlog")
    assert (run.status, run.exit_code) == ("exit", 2)
    check_message(run, MSG_CANNOT_WRITE.replace(b"%s", b"B.BIN"))
    assert "#32770" in [cls for cls, visible in run.windows]  # the driver sees the box come
    # Recorded outside silent mode too, in English whatever the user's language.
    events = [(e.id, e.strings[0], e.strings[2]) for e in run.events()]
    assert events == [(4, "Cannot write file B.BIN", "2")]
    # The package arrived incomplete: what was unpacked is removed, the partial B.BIN with it.
    assert files_under(temp) == {}


# --- paths that do not fit the 260-byte buffer ----------------------------------------------------


def temp_dir_of_length(harness, length: int):
    r"""A temp directory whose Windows path (Z:\...) is exactly `length` characters long."""
    base = harness.temp_dir()
    short = len(winpath(base)) + 1  # and a backslash
    assert length - short >= 1, "the test's base directory is too deep"
    temp = base / ("t" * (length - short))
    temp.mkdir()
    assert len(winpath(temp)) == length
    return temp


def test_a_work_path_that_does_not_fit_260_bytes_names_no_file(harness):
    # GetTempPathA adds a backslash: 230 + 1 + len("quill_temp\") = 242 characters before the
    # name, so a name of 17 characters fills the 260-byte buffer exactly and one of 18 does not.
    fits, too_long = "B" * 13 + ".TXT", "C" * 14 + ".TXT"
    exe = harness.launcher({"A.TXT": b"first", fits: b"fits", too_long: b"too long",
                            "D.TXT": b"last"})
    temp = temp_dir_of_length(harness, 230)
    run = harness.run(exe, temp=temp)
    assert run.status == "exit" and run.messages == []
    got = files_under(temp)
    assert got == {"quill_temp/Archive.lst": manifest("A.TXT", fits, "D.TXT"),
                   "quill_temp/A.TXT": b"first", f"quill_temp/{fits}": b"fits",
                   "quill_temp/D.TXT": b"last"}


def test_a_temp_directory_beyond_the_system_limit_extracts_nothing(harness):
    exe = harness.launcher({"A.TXT": b"first"})
    temp = temp_dir_of_length(harness, 300)
    run = harness.run(exe, temp=temp)
    assert run.status == "exit" and run.messages == []
    assert files_under(temp) == {}


# --- size ----------------------------------------------------------------------------------------


def test_a_large_entry_streams_through_the_buffer(harness):
    data = b"".join(b"line %08d of a large payload entry\r\n" % i for i in range(700000))
    exe = harness.launcher([("LARGE.DAT", entry_for(data, preset=1))])
    temp = harness.temp_dir()
    run = harness.run(exe, temp=temp, timeout_ms=120000)
    assert run.status == "exit" and run.messages == []
    assert (temp / "quill_temp" / "LARGE.DAT").read_bytes() == data


# --- the extraction's outcome in the exit code ---------------------------------------------------
# With a setup program that ends with 0 after every entry before it was extracted, the exit code
# tells whether an entry failed or was skipped (2) or all of them were extracted (0). After a
# message the package is known to be damaged: the setup program is not started at all.

QSETUP = BUILD_WIN / "tests" / "qsetup.exe"

OUTCOMES = {
    # name: (entry's name, entry, leftover in its place, message, exit code)
    "all extracted": ("B.BIN", entry_for(b"fine"), None, None, 0),
    "end marker before outputSize": ("B.BIN", crafted_entry(raw_lzma1(b"short"), 1000), None,
                                     None, 0),
    "properties 225": ("B.BIN", crafted_entry(raw_lzma1(b"x"), 1, properties=225), None, None, 2),
    "target cannot be created": ("B.BIN", entry_for(b"fine"), "directory", None, 2),
    # After SETUP.EXE in name order, so that the setup program is there to start.
    "corrupt data": ("Z.BIN", crafted_entry(b"\x00" + b"\xff" * 40, 100), None, MSG_CORRUPT, 2),
    "dictionary of 4 GiB - 1": ("Z.BIN", crafted_entry(raw_lzma1(b"x"), 1, dictionary=0xFFFFFFFF),
                                None, *((MSG_OUT_OF_MEMORY, 2) if ARCH == "x86" else (None, 0))),
}


@pytest.mark.parametrize("case", OUTCOMES, ids=list(OUTCOMES))
def test_a_failed_or_skipped_entry_is_reported_in_the_exit_code(harness, case):
    name, entry, blocker, message, code = OUTCOMES[case]
    report = harness.temp_dir() / "report.txt"
    request = report.parent / "request.txt"
    request.write_text(f"report={winpath(report)}\nexit=0\n", encoding="latin-1")
    exe = harness.launcher([(name, entry), ("SETUP.EXE", entry_for(QSETUP.read_bytes()))])
    temp = harness.temp_dir()
    if blocker:
        (temp / "quill_temp" / name).mkdir(parents=True)
    run = harness.run(exe, temp=temp, env={"QUILL_TEST_SETUP": winpath(request)})
    assert run.status == "exit"
    assert run.texts() == ([message] if message else [])
    assert report.exists() == (message is None), "the setup program ran after a message"
    assert run.exit_code == code


# --- unpack mode, as extraction sees it --------------------------------------------------------


def test_unpack_of_one_entry_ends_the_enumeration_after_it(harness):
    # The manifest still goes to the work directory when that exists, so it shows which entries
    # were extracted: A.TXT is passed over, B.BIN extracted, C.TXT never visited.
    exe = harness.launcher({"A.TXT": b"first", "B.BIN": b"second", "C.TXT": b"third"})
    temp, cwd = harness.temp_dir(), harness.temp_dir()
    (temp / "quill_temp").mkdir()
    (temp / "quill_temp" / "OTHER.TXT").write_bytes(b"keeps the directory")
    run = harness.run(exe, b"-u b.bin", temp=temp, cwd=cwd)
    assert run.status == "exit" and run.exit_code == 0 and run.messages == []
    assert files_under(cwd) == {"B.BIN": b"second"}
    assert files_under(temp / "quill_temp") == {"Archive.lst": manifest("B.BIN"),
                                                "OTHER.TXT": b"keeps the directory"}


def test_unpack_creates_the_directories_of_the_entries_it_writes(harness, tmp_path):
    files = {"DATA\\SUB\\TABLE.DAT": b"table", "DATA\\INDEX.DAT": b"index", "README.TXT": b"read me"}
    exe = harness.launcher(files)
    temp, cwd = harness.temp_dir(), harness.temp_dir()
    run = harness.run(exe, b"-u", temp=temp, cwd=cwd)
    assert run.status == "exit" and run.exit_code == 0 and run.messages == []
    assert files_under(cwd) == {"DATA/SUB/TABLE.DAT": b"table", "DATA/INDEX.DAT": b"index",
                                "README.TXT": b"read me"}
    # One entry by its full name: only its own directories appear.
    cwd = harness.temp_dir()
    run = harness.run(exe, b"-u data\\sub\\table.dat", temp=temp, cwd=cwd)
    assert run.status == "exit" and run.exit_code == 0 and run.messages == []
    assert files_under(cwd) == {"DATA/SUB/TABLE.DAT": b"table"}
    # A directory on the way that is a link to somewhere else is not written through.
    cwd, elsewhere = harness.temp_dir(), tmp_path / "elsewhere"
    elsewhere.mkdir()
    os.symlink(elsewhere, cwd / "DATA")
    run = harness.run(exe, b"-u", temp=temp, cwd=cwd)
    assert run.status == "exit" and run.exit_code == 2 and run.messages == []
    assert files_under(elsewhere) == {}
    assert (cwd / "README.TXT").read_bytes() == b"read me"
