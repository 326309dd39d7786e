"""Entries whose names would lead outside the work directory (or, with -u, the current one).

Payload entries are resources that anyone can edit, so the harness injects such names directly
(the packaging tool refuses to make them). Each is skipped like a file that cannot be created: no
message, the run reports the failure in its exit code, every ordinary entry is still unpacked and
cleaned up, and nothing appears, changes or disappears outside the directory.
"""
import lzma
import pathlib
import struct

from conftest import BUILD_WIN, files_under, winpath

QSETUP = BUILD_WIN / "tests" / "qsetup.exe"


def entry(data: bytes) -> bytes:
    raw = lzma.compress(data, format=lzma.FORMAT_RAW, filters=[
        {"id": lzma.FILTER_LZMA1, "lc": 3, "lp": 0, "pb": 2, "dict_size": 0x10000}])
    return struct.pack("<IBIQ", 13 + len(raw), 0x5D, 0x10000, len(data)) + raw


def setup_request(harness, *lines):
    d = harness._fresh("qsetup")
    report, request = d / "report.txt", d / "request.txt"
    request.write_text("\n".join([f"report={winpath(report)}", *lines]) + "\n",
                       encoding="latin-1")
    return {"QUILL_TEST_SETUP": winpath(request)}, report


def reported_files(report) -> list:
    return sorted(bytes.fromhex(line.split()[1]) for line in
                  report.read_text(encoding="latin-1").splitlines() if line.startswith("file "))


def hostile_names(outside):
    """Names that would each reach `outside` (a directory holding the work directory) or the
    drive's root, in every form the check refuses."""
    absolute = winpath(outside).upper()
    return [
        "..\\ESCAPED1.TXT",
        "../ESCAPED2.TXT",
        "DOCS\\..\\..\\ESCAPED3.TXT",
        "...\\ESCAPED4.TXT",
        f"{absolute}\\ESCAPED5.TXT",
        "\\QUILL_ESCAPED6.TXT",
        "/QUILL_ESCAPED7.TXT",
        "README.TXT:STREAM",
        "..\\PRECIOUS.TXT",
    ]


def test_hostile_names_are_skipped_and_nothing_outside_is_touched(harness):
    qsetup = QSETUP.read_bytes()
    temp = harness.temp_dir()
    precious = temp / "PRECIOUS.TXT"
    precious.write_bytes(b"the user's own file")
    before = files_under(temp)
    entries = [(n, entry(b"hostile " + n.encode())) for n in hostile_names(temp)]
    entries += [("SETUP.EXE", entry(qsetup)), ("README.TXT", entry(b"read me")),
                ("DOCS\\EN\\MANUAL.TXT", entry(b"manual"))]
    env, report = setup_request(harness, "exit=5")
    run = harness.run(harness.launcher(entries), temp=temp, env=env)

    assert run.status == "exit" and run.messages == []
    assert run.exit_code == 2  # entries that could not be unpacked, though the program ran
    # The program saw every ordinary entry and nothing else.
    assert reported_files(report) == [b"Archive.lst", b"DOCS\\EN\\MANUAL.TXT", b"README.TXT",
                                      b"SETUP.EXE"]
    # Cleanup removed all of it; outside, nothing was written, overwritten or deleted.
    assert not (temp / "quill_temp").exists()
    assert files_under(temp) == before
    assert precious.read_bytes() == b"the user's own file"
    # A leading separator means the root of the current drive: Z:\ is / under Wine.
    for name in ("QUILL_ESCAPED6.TXT", "QUILL_ESCAPED7.TXT"):
        assert not pathlib.Path("/", name).exists()


def test_unpack_mode_writes_hostile_names_nowhere(harness):
    temp = harness.temp_dir()
    cwd = temp / "unpack here"
    cwd.mkdir()
    precious = temp / "PRECIOUS.TXT"
    precious.write_bytes(b"the user's own file")
    before = files_under(temp)
    entries = [(n, entry(b"hostile")) for n in hostile_names(temp)]
    entries += [("README.TXT", entry(b"read me")), ("SETUP.EXE", entry(b"setup"))]
    run = harness.run(harness.launcher(entries), b"-u", temp=temp, cwd=cwd)

    assert run.status == "exit" and run.messages == []
    assert run.exit_code == 2
    after = files_under(temp)
    assert {k: v for k, v in after.items() if not k.startswith("unpack here/")} == before
    assert sorted(p.name for p in cwd.iterdir()) == ["README.TXT", "SETUP.EXE"]


def test_unpack_of_one_hostile_name_asked_for_by_name_writes_nothing(harness):
    temp = harness.temp_dir()
    cwd = temp / "cwd"
    cwd.mkdir()
    exe = harness.launcher([("..\\ESCAPED.TXT", entry(b"x")), ("README.TXT", entry(b"r"))])
    run = harness.run(exe, b"-u ..\\ESCAPED.TXT", temp=temp, cwd=cwd)
    assert run.status == "exit" and run.messages == [] and run.exit_code == 2
    assert list(cwd.iterdir()) == [] and not (temp / "ESCAPED.TXT").exists()
