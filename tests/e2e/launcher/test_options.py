"""The launcher's options from outside: unpack mode, long argument strings, out of memory."""
import pytest

from conftest import BUILD_WIN, files_under, winpath

# No caption of its own: the system's default, "Error" as Wine words it for code page 936.
DEFAULT_CAPTION = "错误".encode("gbk")
PACKAGE = {"SETUP.EXE": b"MZ not really", "README.TXT": b"read me\r\n", "DATA.BIN": bytes(range(256))}
NOMEM_LAUNCHER = BUILD_WIN / "tests" / "quill_nomem.exe"


@pytest.mark.parametrize("args, expected", [
    (b"-u", ["DATA.BIN", "README.TXT", "SETUP.EXE"]),
    (b"/U -ms", ["DATA.BIN", "README.TXT", "SETUP.EXE"]),
    (b"-u readme.txt", ["README.TXT"]),
    (b'-ms -u "ReadMe.Txt"', ["README.TXT"]),
    (b"-u nothing.txt", []),
])
def test_unpack_mode_writes_into_the_current_directory(harness, args, expected):
    exe = harness.launcher(PACKAGE)
    temp, cwd = harness.temp_dir(), harness.temp_dir()
    run = harness.run(exe, args, temp=temp, cwd=cwd)
    assert run.status == "exit" and run.messages == []
    got = files_under(cwd)
    assert sorted(got) == expected
    for name in expected:
        assert got[name] == PACKAGE[name]
    assert not (temp / "quill_temp").exists()


@pytest.mark.parametrize("filler", [b"x", "\u554a".encode("gbk")], ids=["ascii", "gbk"])
def test_long_argument_string_is_scanned_to_its_end(harness, filler):
    # 32,000 characters before the option: the launcher reads its whole command line.
    exe = harness.launcher(PACKAGE)
    temp, cwd = harness.temp_dir(), harness.temp_dir()
    args = b" ".join([filler * 99] * 320) + b" -u README.TXT"
    run = harness.run(exe, args, temp=temp, cwd=cwd)
    assert run.status == "exit" and run.messages == []
    assert sorted(files_under(cwd)) == ["README.TXT"]


def test_out_of_memory_in_the_argument_scan(harness):
    # (With -ms the same end shows no box: tests/e2e/launcher/test_silent_deployment.py.)
    temp = harness.temp_dir()
    run = harness.run(NOMEM_LAUNCHER, b"-mmi", temp=temp)
    assert (run.status, run.exit_code) == ("exit", 1)
    assert run.texts() == [b"Out of memory"]
    assert run.messages[0].caption == DEFAULT_CAPTION
    assert list(temp.iterdir()) == []


def test_no_scratch_buffer_is_needed_without_arguments(harness):
    temp = harness.temp_dir()
    run = harness.run(NOMEM_LAUNCHER, b"", temp=temp)
    assert run.status == "exit" and run.messages == []


QSETUP = BUILD_WIN / "tests" / "qsetup.exe"


@pytest.mark.parametrize("length", [4094, 4095, 32000])
def test_every_argument_reaches_the_setup_program_whole(harness, length):
    # Beyond the 4,094 characters a 4,096-byte field would hold, up to what Windows can start.
    unit = b'-ms "a b" \xb0\xa1 /mmi x '
    args = (unit * (length // len(unit) + 1))[:length]
    report = harness.temp_dir() / "report.txt"
    request = report.with_name("request.txt")
    request.write_text(f"report={winpath(report)}\n", encoding="latin-1")
    exe = harness.launcher({"SETUP.EXE": QSETUP.read_bytes()})
    temp = harness.temp_dir()
    run = harness.run(exe, args, temp=temp, env={"QUILL_TEST_SETUP": winpath(request)})
    assert run.status == "exit" and run.messages == []
    lines = dict(line.split(" ", 1) for line in report.read_text(encoding="latin-1").splitlines())
    assert bytes.fromhex(lines["cmdline"]).endswith(b" " + args)
