"""An installer built with every publisher option of quillpack (tests/artifacts/test_publisher.py
reads its resources back) runs under Wine: it installs wherever it runs, and it speaks Chinese
where the user's language is Chinese and English elsewhere. The texts are those of the launcher's
string table and dialog, byte for byte."""
import os
import pathlib
import subprocess
import sys
import threading
import time

import pytest

from conftest import (ARCH, BUILD_WIN, ENGLISH, MSG_CORRUPT, MSG_UNPACKING, QUILLPACK, ROOT,
                      winpath)

sys.path.insert(0, str(pathlib.Path(__file__).resolve().parents[1] / "progress"))
sys.path.insert(0, str(ROOT / "tests" / "artifacts"))
import screen  # noqa: E402
from pe_resources import read_resources  # noqa: E402

QSETUP = BUILD_WIN / "tests" / "qsetup.exe"
CHINESE = "zh_CN.UTF-8"
DESKTOP = "quillpublisher,1024x768"
FACES = {
    CHINESE: dict(caption="正在解包...".encode("gbk"), unpacking=MSG_UNPACKING, damaged=MSG_CORRUPT),
    ENGLISH: dict(caption=b"Unpacking...", unpacking=b"Unpacking %s",
                  damaged=b"The package is damaged. Please download the installer again."),
}


@pytest.fixture(scope="module")
def installer(tmp_path_factory):
    work = tmp_path_factory.mktemp("publisher")
    source = work / "src"
    source.mkdir()
    (source / "SETUP.EXE").write_bytes(QSETUP.read_bytes())
    (source / "DATA.BIN").write_bytes(os.urandom(100000))
    icon = work / "app.ico"
    subprocess.run(["python3", str(ROOT / "samples" / "make_demo_icon.py"), str(icon)], check=True)
    exe = work / "publisher.exe"
    subprocess.run([str(QUILLPACK), "build", "-q", "--arch", ARCH, "-o", str(exe), "--icon",
                    str(icon), "--version-info", "CompanyName=Acme", "--version-info",
                    "FileDescription=Acme Setup", "--file-version", "2.1.3.4", "--product-version",
                    "2.1", "--execution-level", "asInvoker", "--language", "both", str(source)],
                   check=True)
    return exe


@pytest.fixture(scope="module")
def damaged(installer, tmp_path_factory):
    """The same installer with its first entry's length field spoilt: the launcher says that the
    package is damaged."""
    data = bytearray(installer.read_bytes())
    entry = read_resources(installer)["FILE"]["DATA.BIN"][1033]
    at = data.find(entry)
    data[at:at + 4] = b"\xff\xff\xff\xff"
    out = tmp_path_factory.mktemp("damaged") / "damaged.exe"
    out.write_bytes(bytes(data))
    return out


@pytest.mark.parametrize("locale", [CHINESE, ENGLISH])
def test_installs_whatever_the_users_language(harness, installer, locale):
    report = harness.temp_dir() / "report.txt"
    request = report.with_name("request.txt")
    request.write_text(f"report={winpath(report)}\n", encoding="latin-1")
    run = harness.run(installer, b"-ms", temp=harness.temp_dir(), locale=locale,
                      env={"QUILL_TEST_SETUP": winpath(request)})
    assert run.status == "exit" and run.exit_code == 0 and run.messages == []
    files = [bytes.fromhex(line.split()[1]) for line in report.read_text().splitlines()
             if line.startswith("file ")]
    assert sorted(files) == [b"Archive.lst", b"DATA.BIN", b"SETUP.EXE"]


@pytest.mark.parametrize("locale", [CHINESE, ENGLISH])
def test_speaks_the_users_language(harness, damaged, locale):
    outcome, seen = {}, {}
    temp = harness.temp_dir()

    def launch():
        outcome["run"] = harness.run(damaged, temp=temp, desktop=DESKTOP, hold_ms=4000,
                                     locale=locale)

    runner = threading.Thread(target=launch)
    runner.start()
    try:
        deadline = time.monotonic() + 60
        # The work directory means the desktop and the dialog exist; a second program started on
        # a desktop that is still being made could start a desktop of its own.
        while not (temp / "quill_temp").exists() and time.monotonic() < deadline:
            time.sleep(0.05)
        # While the message is open, the progress window shows the entry it stopped at.
        while runner.is_alive() and time.monotonic() < deadline and not seen:
            windows = screen.inspect(DESKTOP, damaged.name)["windows"]
            if "#32770" in [w["class"] for w in windows if w["visible"]]:
                (dialog,) = [w for w in windows if w["class"] == "QuillExtracting"]
                seen = dict(caption=dialog["text"],
                            status=[c["text"] for c in dialog["children"] if c["id"] == 1001][0])
            time.sleep(0.1)
    finally:
        runner.join(120)
    face = FACES[locale]
    run = outcome["run"]
    assert run.status == "exit" and run.exit_code == 2
    assert [(m.text, m.warning_icon) for m in run.messages] == [(face["damaged"], True)]
    assert seen == dict(caption=face["caption"], status=face["unpacking"].replace(b"%s", b"DATA.BIN"))
