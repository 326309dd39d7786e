"""Installers of either architecture as quillpack's readers see them, without running them: the
kind of launcher is kept, `list`, `verify` and `extract` agree with the files packed, and a signed
installer still verifies and reads. (The end-to-end tests run them under Wine where the machine
can.)"""
import os
import subprocess

import pytest

from conftest import quillpack
from pe_resources import PE32, PE32_PLUS, read_headers

FILES = {"SETUP.EXE": b"MZ" + os.urandom(3000), "docs/readme.txt": b"read me\r\n" * 500}


@pytest.fixture(scope="module")
def package(arch, tmp_path_factory):
    work = tmp_path_factory.mktemp(f"package-{arch}")
    for rel, content in FILES.items():
        (work / "src" / rel).parent.mkdir(parents=True, exist_ok=True)
        (work / "src" / rel).write_bytes(content)
    exe = work / "setup.exe"
    built = quillpack("build", "--arch", arch, "-o", exe, work / "src")
    assert f"({arch} launcher, " in built.stderr
    return exe


def check_readers(exe, arch, out):
    listed = quillpack("list", exe).stdout.splitlines()
    assert listed[-1].startswith(f"2 entries, {arch} launcher")
    assert [line.split()[0] for line in listed[1:-1]] == ["DOCS\\README.TXT", "SETUP.EXE"]
    assert quillpack("verify", exe).returncode == 0
    quillpack("extract", "-q", exe, "-C", out)
    assert (out / "SETUP.EXE").read_bytes() == FILES["SETUP.EXE"]
    assert (out / "DOCS" / "README.TXT").read_bytes() == FILES["docs/readme.txt"]


def test_installer_keeps_its_kind_and_reads_back(arch, package, tmp_path):
    h = read_headers(package.read_bytes())
    assert h["magic"] == (PE32 if arch == "x86" else PE32_PLUS)
    check_readers(package, arch, tmp_path / "out")


def test_signed_installer_verifies_and_reads(arch, package, tmp_path):
    key, cert = tmp_path / "key.pem", tmp_path / "cert.pem"
    subprocess.run(["openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-days", "2",
                    "-subj", "/CN=Quill test publisher", "-keyout", key, "-out", cert],
                   check=True, capture_output=True)
    signed = tmp_path / "signed.exe"
    subprocess.run(["osslsigncode", "sign", "-certs", cert, "-key", key, "-h", "sha256",
                    "-n", "Quill test", "-in", package, "-out", signed], check=True,
                   capture_output=True)
    check = subprocess.run(["osslsigncode", "verify", "-CAfile", cert, "-in", signed],
                           capture_output=True, text=True)
    assert "Signature verification: ok" in check.stdout, check.stdout + check.stderr
    check_readers(signed, arch, tmp_path / "out")


def test_stub_option_takes_either_kind_and_says_which(arch, stub, tmp_path):
    (tmp_path / "a.txt").write_bytes(b"a")
    other = "x64" if arch == "x86" else "x86"
    r = quillpack("build", "--no-setup", "-o", tmp_path / "o.exe", "--stub", stub,
                  tmp_path / "a.txt")
    assert ("32-bit (x86, PE32)" if arch == "x86" else "64-bit (x64, PE32+)") in r.stderr
    # One byte does not compress: stored, which an older stub would leave empty.
    assert "1 file is stored as it is" in r.stderr and "--store never" in r.stderr
    assert quillpack("list", tmp_path / "o.exe").stdout.splitlines()[-1].startswith(
        f"1 entries, {arch} launcher")
    r = quillpack("build", "--no-setup", "-o", tmp_path / "p.exe", "--arch", other, "--stub",
                  stub, tmp_path / "a.txt", check=False)
    assert r.returncode == 1 and f"not the {other} launcher" in r.stderr
    assert not (tmp_path / "p.exe").exists()
