"""The hand-off to the setup program: its command line, its start, and the cleanup after it.

The programs started are qsetup (tests/e2e/tools/test_setup_win32.cpp), packed as SETUP.EXE or
uninstall.exe; it reports the command line it received byte for byte, its current directory and
the files it saw, and on request leaves files behind or ends with a given exit code.
"""
import os
import pathlib
import shutil
import subprocess

import pytest

from conftest import MSG_CORRUPT, QSETUP, WINE, Setup, encode_file, entry_header, winpath

README = b"read me\r\n" * 100


def wpath(path) -> bytes:
    return winpath(path).encode("latin-1")


def install(harness, *setup_lines, entries=None, args=b"", name="setup.exe", directory=None,
            temp=None, cwd=None):
    """Builds a launcher carrying qsetup as SETUP.EXE (plus README.TXT) and runs it."""
    if entries is None:
        entries = {"SETUP.EXE": QSETUP.read_bytes(), "README.TXT": README}
    setup = Setup(harness, *setup_lines)
    exe = harness.launcher(entries, name=name, directory=directory)
    temp = temp or harness.temp_dir()
    run = harness.run(exe, args, temp=temp, cwd=cwd, env=setup.env)
    return run, setup, exe, temp / "quill_temp"


def work_prefix(work: pathlib.Path) -> bytes:
    return wpath(work) + b"\\"


@pytest.mark.parametrize("args, exit_code", [
    (b"", 0),  # the line ends in the single blank
    (b'"a b" \xb0\xa1\xc4\xe3 -x"q" "c\td" "" \\"', 7),  # quotes, GBK and tabs untouched
    (b"-ms -mmi", 3),  # the launcher's own options reach the program too
    (b"/MS x", 0xC0000005),  # the program's code is the launcher's, however large
])
def test_setup_gets_the_line_byte_for_byte_and_its_exit_code_is_the_launchers(
        harness, args, exit_code):
    run, setup, exe, work = install(harness, f"exit={exit_code}", args=args)
    assert run.messages == []
    assert run.status == "exit" and run.exit_code == exit_code
    w = work_prefix(work)
    assert setup.one("cmdline") == w + b"SETUP.EXE -n " + wpath(exe) + b" " + args
    assert setup.one("module").upper() == w.upper() + b"SETUP.EXE"
    assert setup.one("cwd") + b"\\" == w
    assert sorted(setup.facts()["file"]) == [b"Archive.lst", b"README.TXT", b"SETUP.EXE"]
    assert not work.exists()  # everything unpacked is gone, and the directory with it


@pytest.mark.parametrize("kind", ["directory", "file"])
def test_a_wares_package_directory_comes_in_its_short_form_before_n(harness, kind):
    home = harness._fresh("launcher dir with a long name")
    wares = home / "wares"
    if kind == "directory":
        wares.mkdir()
        (wares / "DATA.BIN").write_bytes(b"x")
    else:
        wares.write_bytes(b"x")
    run, setup, exe, work = install(harness, f"short={winpath(wares)}", args=b"-ms",
                                    directory=home)
    assert run.status == "exit" and run.exit_code == 0
    short = setup.one("short")
    assert short and short != wpath(wares) and b" " not in short
    assert setup.one("cmdline") == (work_prefix(work) + b"SETUP.EXE -a " + short + b" -n " +
                                    wpath(exe) + b" -ms")
    assert wares.exists() and not work.exists()


def test_a_launcher_path_with_blanks_is_passed_unquoted(harness):
    home = harness._fresh("my downloads") / "new folder"
    run, setup, exe, work = install(harness, args=b"a", name="my setup.exe", directory=home)
    assert run.status == "exit" and run.exit_code == 0
    assert b" " in wpath(exe)
    assert setup.one("cmdline") == work_prefix(work) + b"SETUP.EXE -n " + wpath(exe) + b" a"


def test_a_module_path_of_260_characters_or_more_still_finds_wares(harness):
    # The launcher's own path is too long for the system's 260-character buffers, the package
    # directory beside it is not. Wine's CreateProcessA takes no such path, so the launcher is
    # started the way a user would from a shell, with the prefix's own temp directory.
    home = harness._fresh("deep")
    room = 250 - len(winpath(home)) - 1
    home = home / ("d" * (room // 2)) / ("e" * (room - room // 2 - 1))
    assert len(winpath(home)) == 250
    (home / "wares").mkdir(parents=True)
    setup = Setup(harness, f"short={winpath(home / 'wares')}", "exit=6")
    exe = harness.launcher({"SETUP.EXE": QSETUP.read_bytes()}, directory=home,
                           name="quill-installer-with-a-long-name.exe")
    assert len(wpath(exe)) >= 260
    prefix_temp = sorted(pathlib.Path(os.environ["WINEPREFIX"], "drive_c", "users").glob("*/Temp"))
    for temp in prefix_temp:
        shutil.rmtree(temp / "quill_temp", ignore_errors=True)
    done = subprocess.run([WINE, str(exe), "-ms"], env={**os.environ, **setup.env}, timeout=120,
                          stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    assert done.returncode == 6
    work = setup.one("cwd") + b"\\"
    assert setup.one("cmdline") == (work + b"SETUP.EXE -a " + setup.one("short") + b" -n " +
                                    wpath(exe) + b" -ms")
    assert not any((temp / "quill_temp").exists() for temp in prefix_temp)


def test_an_uninstall_entry_starts_the_uninstaller_with_only_the_arguments(harness):
    entries = {"SETUP.EXE": QSETUP.read_bytes(), "uninstall.exe": QSETUP.read_bytes()}
    home = harness._fresh("home")
    (home / "wares").mkdir()
    run, setup, exe, work = install(harness, "exit=4", entries=entries, args=b'-ms "x y"',
                                    directory=home)
    assert run.status == "exit" and run.exit_code == 4
    assert setup.one("cmdline") == work_prefix(work) + b'uninstall.exe -ms "x y"'
    assert setup.one("module").upper().endswith(b"\\UNINSTALL.EXE")
    assert not work.exists()


def test_a_stale_uninstaller_is_not_started_nor_deleted(harness):
    temp = harness.temp_dir()
    work = temp / "quill_temp"
    work.mkdir()
    shutil.copy(QSETUP, work / "uninstall.exe")
    run, setup, exe, _ = install(harness, temp=temp)
    assert run.status == "exit" and run.exit_code == 0
    assert setup.one("cmdline").startswith(work_prefix(work) + b"SETUP.EXE -n ")
    # Only this run's files go: the stale one stays, and with it the directory.
    assert sorted(p.name for p in work.iterdir()) == ["uninstall.exe"]


@pytest.mark.parametrize("leaves, left", [
    ([], []),
    (["leave=LOG.TXT"], ["LOG.TXT"]),
    # A file of the program's own inside an entry's directory keeps that directory.
    (["leave=DOCS\\EN\\NOTE.TXT"], ["DOCS", "DOCS/EN", "DOCS/EN/NOTE.TXT"]),
])
def test_what_the_program_leaves_stays_while_everything_unpacked_goes(harness, leaves, left):
    entries = {"SETUP.EXE": QSETUP.read_bytes(), "README.TXT": README,
               "DOCS\\MANUAL.TXT": b"manual", "DOCS\\EN\\INDEX.TXT": b"index"}
    run, setup, exe, work = install(
        harness, *leaves, "mkdir=fennel.moss", "mkdir=fennel.moss\\sub",
        "leave=fennel.moss\\sub\\cache.bin", "exit=0", entries=entries)
    assert run.status == "exit" and run.exit_code == 0
    assert sorted(setup.facts()["file"]) == [b"Archive.lst", b"DOCS\\EN\\INDEX.TXT",
                                             b"DOCS\\MANUAL.TXT", b"README.TXT", b"SETUP.EXE"]
    if not left:
        assert not work.exists()
    else:
        assert sorted(str(p.relative_to(work)) for p in work.rglob("*")) == left


def test_a_missing_setup_program_starts_nothing_and_deletes_nothing(harness):
    run, setup, exe, work = install(harness, entries={"README.TXT": README})
    assert run.status == "exit" and run.exit_code == 2 and run.messages == []
    assert not setup.ran()
    assert sorted(p.name for p in work.iterdir()) == ["Archive.lst", "README.TXT"]


def test_a_damaged_package_starts_nothing_cleans_up_and_exits_2(harness, tmp_path):
    corrupt = entry_header(13 + 64, 0x5D, 0x10000, 5000) + b"\xff" * 64
    entries = [("README.TXT", encode_file(README, tmp_path / "r")),
               ("SETUP.EXE", encode_file(QSETUP.read_bytes(), tmp_path / "s")),
               ("ZZZ.BIN", corrupt)]  # after SETUP.EXE in enumeration order
    run, setup, exe, work = install(harness, "exit=0", entries=entries)
    assert run.status == "exit" and run.exit_code == 2
    assert run.texts() == [MSG_CORRUPT]
    assert not setup.ran()
    assert not work.exists()


@pytest.mark.parametrize("fill, extra, started", [
    (b"a", 0, True),
    (b"a", 1, False),
    # Counted in characters, not bytes: 2-byte GBK characters make a line of twice the bytes.
    (b"\xb0\xa1", 0, True),
    (b"\xb0\xa1", 1, False),
])
def test_the_longest_line_is_started_and_a_longer_one_refused(harness, fill, extra, started):
    temp = harness.temp_dir()
    exe = harness.launcher({"SETUP.EXE": QSETUP.read_bytes()})
    head = work_prefix(temp / "quill_temp") + b"SETUP.EXE -n " + wpath(exe) + b" "
    args = fill * (32766 - len(head) + extra)  # 32,766 characters, the most Windows starts
    setup = Setup(harness)
    run = harness.run(exe, args, temp=temp, env=setup.env)
    assert run.status == "exit" and run.exit_code == (0 if started else 2)
    assert setup.ran() == started
    if started:
        assert setup.one("cmdline") == head + args
        assert not (temp / "quill_temp").exists()
    else:
        assert (temp / "quill_temp" / "SETUP.EXE").exists()


def test_unpack_mode_starts_nothing_and_deletes_nothing(harness):
    cwd = harness._fresh("cwd")
    run, setup, exe, work = install(harness, args=b"-u", cwd=cwd)
    assert run.status == "exit" and run.exit_code == 0
    assert not setup.ran()
    assert sorted(p.name for p in cwd.iterdir()) == ["README.TXT", "SETUP.EXE"]


@pytest.mark.parametrize("args, exit_code, kept", [
    (b"-u readme.txt", 0, ["README.TXT"]),
    (b"-u NOSUCH.TXT", 2, []),
])
def test_unpack_mode_exit_code_tells_whether_the_named_entry_was_there(harness, args, exit_code,
                                                                       kept):
    cwd = harness._fresh("cwd")
    run, setup, exe, work = install(harness, args=args, cwd=cwd)
    assert run.status == "exit" and run.exit_code == exit_code
    assert not setup.ran()
    assert sorted(p.name for p in cwd.iterdir()) == kept


@pytest.mark.parametrize("idle, gone_before_ms", [(True, 1500), (False, 6000)])
def test_the_progress_dialog_goes_once_the_program_is_idle_or_after_3_seconds(
        harness, idle, gone_before_ms):
    lines = ["window=QuillTestSetup", "idle=1"] if idle else []
    run, setup, exe, work = install(harness, *lines, "watch_ms=10000")
    assert run.status == "exit" and run.exit_code == 0
    if setup.one("dialog_seen") == b"0":
        pytest.skip("the launcher showed no progress dialog (the progress window is not built)")
    gone = int(setup.one("dialog_gone_ms"))
    assert 0 <= gone < gone_before_ms
    if not idle:
        # The launcher waited the whole idle time-out, which began when it created the program.
        assert int(setup.one("dialog_gone_since_start_ms")) >= 2900
