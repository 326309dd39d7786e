"""quillpack seen from outside: installers it builds run under Wine and unpack byte-identical;
list, verify and extract agree with them; builds are reproducible; signing keeps them working."""
import lzma
import os
import pathlib
import random
import shutil
import subprocess
import sys

import pytest

from conftest import ARCH, BUILD_WIN, QUILLPACK, ROOT, STUB, WINE, files_under, winpath

sys.path.insert(0, str(pathlib.Path(__file__).resolve().parents[3] / "bench"))
import make_corpus  # noqa: E402


def quillpack(*args, check=True):
    return subprocess.run([str(QUILLPACK), *map(str, args)], capture_output=True, text=True,
                          check=check)


def upper_tree(files: dict) -> dict:
    return {rel.upper(): content for rel, content in files.items()}


def unpacked(harness, exe):
    """What the launcher unpacks (the packages here carry no setup program, so it stays)."""
    temp = harness.temp_dir()
    run = harness.run(exe, b"-ms", temp=temp)
    assert run.status == "exit" and run.messages == []
    got = files_under(temp / "quill_temp")
    got.pop("Archive.lst", None)
    return got


def check_package(harness, exe, source: pathlib.Path):
    """The launcher, `extract` and `list` all see exactly the files of `source`."""
    expected = upper_tree(files_under(source))
    assert unpacked(harness, exe) == expected
    out = harness.temp_dir() / "x"
    quillpack("extract", "-q", exe, "-C", out)
    assert files_under(out) == expected
    listed = quillpack("list", exe).stdout.splitlines()[1:-1]
    names = [line.split()[0] for line in listed]
    # The launcher's enumeration order: upper-case names in ascending code-unit order.
    assert names == sorted(n.replace("/", "\\") for n in expected)
    sizes = {line.split()[0]: int(line.split()[2]) for line in listed}
    assert sizes == {n.replace("/", "\\"): len(c) for n, c in expected.items()}
    assert quillpack("verify", exe).returncode == 0


def test_package_of_100_files_unpacks_byte_identical_and_tools_agree(harness, tmp_path):
    source = tmp_path / "package"
    make_corpus.make(source, files=100, mib=20, seed=7)
    exe = harness.packed(source)
    check_package(harness, exe, source)
    # A third of the files are random: those, and only those, are stored as they are.
    methods = {line.split()[0]: line.split()[-1]
               for line in quillpack("list", exe).stdout.splitlines()[1:-1]}
    for rel, content in files_under(source).items():
        packed = len(lzma.compress(content, format=lzma.FORMAT_RAW,
                                   filters=[{"id": lzma.FILTER_LZMA1, "preset": 6}]))
        expected = "stored" if (17 + packed) * 100 > (17 + len(content)) * 98 else "lzma"
        assert methods[rel.upper().replace("/", "\\")] == expected, rel
    assert 20 < list(methods.values()).count("stored") < 50


def test_builds_are_identical_whatever_the_jobs_and_file_order(harness, tmp_path):
    rng = random.Random(3)
    files = {f"d{i % 4}/f{i}.bin": rng.randbytes(rng.randrange(1, 40000)) for i in range(40)}
    one, two = tmp_path / "one", tmp_path / "two"
    for root, order in ((one, list(files)), (two, list(reversed(files)))):
        for rel in order:
            (root / rel).parent.mkdir(parents=True, exist_ok=True)
            (root / rel).write_bytes(files[rel])
    a = harness.packed(one, "-j", "1")
    b = harness.packed(two, "-j", "4")
    assert a.read_bytes() == b.read_bytes()


def test_windows_build_of_quillpack_makes_the_same_installer(harness, tmp_path):
    source = tmp_path / "src"
    make_corpus.make(source, files=12, mib=1, seed=5)
    icon = tmp_path / "app.ico"
    subprocess.run(["python3", str(ROOT / "samples" / "make_demo_icon.py"), str(icon)], check=True)
    # The publisher's options too, with a text outside the ANSI code page's ASCII part.
    options = ["--version-info", "CompanyName=Acme \u516c\u53f8 \u00a9", "--file-version", "2.1",
               "--execution-level", "asInvoker", "--language", "en-US", "--icon"]
    host = harness.packed(source, *options, str(icon))
    made = tmp_path / "win.exe"
    subprocess.run([WINE, str(BUILD_WIN / "quillpack.exe"), "build", "-q", "--no-setup", "--arch",
                    ARCH, "-o", winpath(made), *options, winpath(icon), winpath(source)],
                   check=True, timeout=300, capture_output=True)
    assert made.read_bytes() == host.read_bytes()
    listed = subprocess.run([WINE, str(BUILD_WIN / "quillpack.exe"), "list", winpath(made)],
                            check=True, timeout=120, capture_output=True, text=True).stdout
    assert listed.replace("\r\n", "\n") == quillpack("list", host).stdout


def test_other_preset_gives_other_entries_that_the_launcher_unpacks(harness):
    files = {"TOOL.BIN": b"MZ" + bytes(range(256)) * 300, "docs/readme.txt": b"hello\r\n" * 999}
    fast, default = harness.packed(files, "--preset", "1"), harness.packed(files)
    assert fast.read_bytes() != default.read_bytes()
    assert unpacked(harness, fast) == upper_tree(files)


def make_certificate(work: pathlib.Path):
    key, cert = work / "key.pem", work / "cert.pem"
    subprocess.run(["openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-days", "2",
                    "-subj", "/CN=Quill test publisher", "-keyout", key, "-out", cert],
                   check=True, capture_output=True)
    return key, cert


def sign(exe, signed, key, cert):
    subprocess.run(["osslsigncode", "sign", "-certs", cert, "-key", key, "-h", "sha256",
                    "-n", "Quill test", "-in", exe, "-out", signed], check=True,
                   capture_output=True)


def test_signed_installer_verifies_runs_and_reads(harness, tmp_path):
    files = {"TOOL.BIN": os.urandom(5000), "lib/data.bin": b"\x00\x01" * 40000}
    exe = harness.packed(files)
    key, cert = make_certificate(tmp_path)
    signed = tmp_path / "signed.exe"
    sign(exe, signed, key, cert)
    check = subprocess.run(["osslsigncode", "verify", "-CAfile", cert, "-in", signed],
                           capture_output=True, text=True)
    assert check.returncode == 0, check.stdout + check.stderr
    assert "Signature verification: ok" in check.stdout
    assert unpacked(harness, signed) == upper_tree(files)
    assert quillpack("verify", signed).returncode == 0
    assert quillpack("list", signed).stdout == quillpack("list", exe).stdout


def test_signed_stub_loses_its_signature_with_a_warning(harness, tmp_path):
    key, cert = make_certificate(tmp_path)
    stub = tmp_path / "signed-stub.exe"
    sign(STUB, stub, key, cert)
    out = tmp_path / "setup.exe"
    source = tmp_path / "src"
    source.mkdir()
    (source / "a.txt").write_bytes(b"a")
    r = quillpack("build", "--no-setup", "-o", out, "--stub", stub, source)
    assert r.returncode == 0 and "signature" in r.stderr
    check = subprocess.run(["osslsigncode", "verify", "-CAfile", cert, "-in", out],
                           capture_output=True, text=True)
    assert check.returncode != 0  # unsigned now, not falsely signed
    assert unpacked(harness, out) == {"A.TXT": b"a"}


def test_stub_with_trailing_data_is_refused(tmp_path):
    stub = tmp_path / "stub.exe"
    stub.write_bytes(STUB.read_bytes() + b"appended archive")
    (tmp_path / "a.txt").write_bytes(b"a")
    r = quillpack("build", "-o", tmp_path / "o.exe", "--stub", stub, tmp_path / "a.txt", check=False)
    assert r.returncode == 1 and "follow its sections" in r.stderr
    assert not (tmp_path / "o.exe").exists()


@pytest.mark.parametrize("names, complaint", [
    (["Readme.txt", "README.TXT"], "equal once upper-cased"),
    (["lib", "LIB/x.dll"], "a directory of that name"),
    (["con.txt"], "reserved device name"),
    (["caf\u00e9.txt"], "outside printable ASCII"),
    (["archive.lst"], "manifest"),
    (["n" * 197], "196"),
    (["trailing."], "strips"),
])
def test_names_the_launcher_cannot_extract_are_refused(tmp_path, names, complaint):
    source = tmp_path / "src"
    for i, n in enumerate(names):
        # Two spellings of one name need two sources on a case-insensitive file system too.
        root = source / str(i)
        (root / n).parent.mkdir(parents=True, exist_ok=True)
        (root / n).write_bytes(b"x")
    r = quillpack("build", "-o", tmp_path / "o.exe", *sorted(source.iterdir()), check=False)
    assert r.returncode == 1
    assert complaint in r.stderr and names[-1].split("/")[0] in r.stderr


def test_non_ascii_names_are_packed_when_allowed(harness, tmp_path):
    source = tmp_path / "src"
    source.mkdir()
    (source / "\u0434\u0430\u043d\u043d\u044b\u0435.txt").write_bytes(b"cyrillic")
    exe = tmp_path / "o.exe"
    quillpack("build", "-q", "--no-setup", "--arch", ARCH, "--allow-non-ascii", "-o", exe, source)
    # Code page 936 holds Cyrillic: the launcher under Wine names the file right.
    assert unpacked(harness, exe) == {"\u0414\u0410\u041d\u041d\u042b\u0415.TXT": b"cyrillic"}
    out = tmp_path / "x"
    quillpack("extract", "-q", exe, "-C", out)
    assert files_under(out) == {"\u0414\u0410\u041d\u041d\u042b\u0415.TXT": b"cyrillic"}


def test_extract_never_writes_outside_its_directory(harness, tmp_path):
    evil = harness.launcher({"..\\ESCAPE.TXT": b"out", "OK.TXT": b"in"})
    out = tmp_path / "x" / "y"
    r = quillpack("extract", evil, "-C", out, check=False)
    assert r.returncode == 1 and "escape" in r.stderr
    assert files_under(tmp_path / "x") == {"y/OK.TXT": b"in"}
    assert quillpack("verify", evil, check=False).returncode == 1


@pytest.mark.skipif(not os.environ.get("QUILL_HUGE_TEST"), reason="set QUILL_HUGE_TEST=1 (minutes)")
def test_huge_package(harness, tmp_path):
    source = tmp_path / "package"
    make_corpus.make(source, files=300, mib=int(os.environ.get("QUILL_HUGE_MIB", "300")), seed=1)
    exe = harness.packed(source)
    check_package(harness, exe, source)
    again = harness.packed(source, "-j", "1")
    assert exe.read_bytes() == again.read_bytes()
