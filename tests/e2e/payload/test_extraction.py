"""Extraction of a package into the work directory, seen from outside the launcher."""
import random

from conftest import files_under


def sample_files(seed=1):
    rng = random.Random(seed)
    return {
        "SETUP.EXE": bytes(rng.getrandbits(8) for _ in range(70000)),
        "README.TXT": b"read me\r\n" * 5000,
        "DATA\\TABLE.DAT": bytes(range(256)) * 600,
    }


def test_package_is_extracted_byte_identical_with_manifest(harness):
    files = sample_files()
    exe = harness.launcher(files)
    temp = harness.temp_dir()
    run = harness.run(exe, b"-ms", temp=temp)
    assert run.status == "exit" and run.messages == []
    work = temp / "quill_temp"
    got = files_under(work)
    for name, content in files.items():
        assert got[name.replace("\\", "/")] == content
    assert (work / "Archive.lst").read_bytes() == (
        b"[Archives]\r\nDATA\\TABLE.DAT=TRUE\r\nREADME.TXT=TRUE\r\nSETUP.EXE=TRUE\r\n")
