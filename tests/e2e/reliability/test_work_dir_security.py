"""The work directory as an attacker would meet it: links planted where the launcher writes or
deletes, and a work directory somebody else made. Whatever was planted, nothing outside the work
directory is written or deleted, and the launcher works in a directory nobody else can change.

Wine 8 shows a Unix symbolic link to a directory as a directory with FILE_ATTRIBUTE_REPARSE_POINT;
a link to a file looks like the file itself, and Wine can delete no directory link through any
Win32 call, so the links planted here lead to directories and the tests look at what they lead to.
Wine also maps a directory's DACL onto its Unix mode bits and back: mode 0777 shows as an Everyone
entry with write and delete rights, 0755 as read and execute only.
"""
import os
import stat

import pytest

from conftest import files_under
from test_faults import QSETUP, Setup

OUTSIDE = {"KEEP.TXT": b"not the launcher's", "A.TXT": b"outside A", "Archive.lst": b"[x]\r\n"}


@pytest.fixture
def outside(harness):
    """A directory outside every work directory, holding files of the same names as the package's."""
    d = harness._fresh("outside")
    for name, content in OUTSIDE.items():
        (d / name).write_bytes(content)
    (d / "fennel.moss").mkdir()
    (d / "fennel.moss" / "DEEP.TXT").write_bytes(b"deep")
    return d


def expected_outside():
    return {**OUTSIDE, "fennel.moss/DEEP.TXT": b"deep"}


# name: (where the link goes, in the work directory; the package besides SETUP.EXE; what the
# setup program finds unpacked besides itself and the manifest; the launcher's exit code, which
# says whether an entry could not be created)
LINKS = {
    "fennel.moss is a link": ("fennel.moss", {"A.TXT": b"a"}, ["A.TXT"], 0),
    "a directory of an entry's name is a link": (
        "DOCS", {"A.TXT": b"a", "DOCS\\A.TXT": b"inside"}, ["A.TXT"], 2),
    "the target itself is a link": ("B.BIN", {"A.TXT": b"a", "B.BIN": b"b"}, ["A.TXT"], 2),
}


@pytest.mark.parametrize("case", LINKS, ids=list(LINKS))
def test_links_in_the_work_directory_are_never_followed(harness, outside, case):
    where, entries, unpacked, code = LINKS[case]
    temp = harness.temp_dir()
    work = temp / "quill_temp"
    work.mkdir()
    os.symlink(outside, work / where)
    setup = Setup(harness, "exit=0")
    exe = harness.launcher({"SETUP.EXE": QSETUP.read_bytes(), **entries})
    run = harness.run(exe, b"-ms", temp=temp, env=setup.env)
    assert run.status == "exit" and run.messages == [] and run.exit_code == code
    # Neither the pre-clean, nor the extraction, nor the cleanup reached through the link.
    assert files_under(outside) == expected_outside()
    found = [f.decode() for f in setup.lines("file")]
    assert sorted(f for f in found if not f.startswith(where)) == sorted(
        ["Archive.lst", "SETUP.EXE", *unpacked])


def test_a_work_directory_that_is_a_link_is_not_used(harness, outside):
    temp = harness.temp_dir()
    os.symlink(outside, temp / "quill_temp")
    run = harness.run(harness.launcher({"A.TXT": b"a", "KEEP.TXT": b"k"}), b"-ms", temp=temp)
    assert run.status == "exit" and run.messages == []
    assert files_under(outside) == expected_outside()
    got = files_under(temp / "quill_temp1")
    assert got.pop("Archive.lst") and got == {"A.TXT": b"a", "KEEP.TXT": b"k"}


@pytest.mark.parametrize("mode, used", [(0o777, "quill_temp1"), (0o755, "quill_temp")])
def test_a_work_directory_others_may_write_is_not_used(harness, mode, used):
    temp = harness.temp_dir()
    planted = temp / "quill_temp"
    planted.mkdir()
    (planted / "SETUP.EXE").write_bytes(b"planted by someone else")
    planted.chmod(mode)
    run = harness.run(harness.launcher({"A.TXT": b"a"}), b"-ms", temp=temp)
    assert run.status == "exit" and run.messages == []
    assert (temp / used / "A.TXT").read_bytes() == b"a"
    assert (planted / "SETUP.EXE").read_bytes() == b"planted by someone else"


def test_a_new_work_directory_is_closed_to_everybody_else(harness):
    temp = harness.temp_dir()
    run = harness.run(harness.launcher({"DOCS\\A.TXT": b"a"}), b"-ms", temp=temp)
    assert run.status == "exit" and run.messages == []
    assert (temp / "quill_temp" / "DOCS" / "A.TXT").read_bytes() == b"a"
    # The protected DACL as Wine renders it: nothing for others, no write for the group. (What is
    # created inside inherits the DACL on Windows; Wine does not carry inheritance into modes.)
    mode = stat.S_IMODE((temp / "quill_temp").stat().st_mode)
    assert mode & 0o027 == 0 and mode & 0o700 == 0o700, oct(mode)
