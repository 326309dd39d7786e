"""End-to-end harness: builds launchers with chosen payload entries and runs them under Wine.

Everything here observes the launcher from outside, as a user or a deployment tool would: the
files it leaves, the message boxes it shows (read and closed by the qdriver program), and its exit
code. Tests must run inside scripts/wine-env.sh (make test does that), which names the launcher's
architecture in QUILL_ARCH: x86 tests build/win32, x64 build/win64. An expectation that differs by
architecture says so through ARCH.
"""
import dataclasses
import os
import pathlib
import shutil
import struct
import subprocess
import time

import pytest

ROOT = pathlib.Path(__file__).resolve().parents[2]
BUILD_HOST = pathlib.Path(os.environ.get("QUILL_BUILD_HOST", ROOT / "build" / "host"))
ARCH = os.environ.get("QUILL_ARCH", "x86")
# The loader of ARCH's programs (scripts/wine-env.sh): plain `wine` is the 32-bit one wherever
# 32-bit Wine is installed.
WINE = os.environ.get("QUILL_WINE", "wine")
BUILD_WIN = ROOT / "build" / ("win32" if ARCH == "x86" else "win64")
QENCODE = BUILD_HOST / "qencode"
QUILLPACK = BUILD_HOST / "quillpack"
LINK_LAUNCHER = BUILD_WIN / "link-launcher.sh"
QDRIVER = BUILD_WIN / "tests" / "qdriver.exe"
QHOLDER = BUILD_WIN / "tests" / "qholder.exe"
STUB = BUILD_WIN / "quillstub.exe"
# A stand-in setup program (tests/e2e/tools/test_setup_win32.cpp), packed as SETUP.EXE.
QSETUP = BUILD_WIN / "tests" / "qsetup.exe"
# A launcher with the progress window's test-only trace points (tests/e2e/tools/progress_trace_win32.cpp).
LINK_TRACED_LAUNCHER = BUILD_WIN / "tests" / "link-traced-launcher.sh"

# The launcher's texts as LoadStringA hands them out under code page 936.
MSG_UNPACKING = "正在解包%s".encode("gbk")
MSG_STARTING = "正在启动安装程序...".encode("gbk")
MSG_CANNOT_WRITE = "无法写入文件 %s".encode("gbk")
MSG_OUT_OF_MEMORY = "内存不足！".encode("gbk")
MSG_CORRUPT = "解压缩包出错，请重新下载安装包。".encode("gbk")

# A locale whose user interface language is English (scripts/install-deps.sh generates it), for
# the launcher's English face; Harness.run(locale=...) runs a program under it.
ENGLISH = "en_US.UTF-8"


def pytest_configure(config):
    if not os.environ.get("QUILL_WINE_ENV"):
        raise pytest.UsageError("run the end-to-end tests inside scripts/wine-env.sh (make test does)")


def winpath(path) -> str:
    """The Windows path under Wine's Z: drive for a Unix path."""
    return "Z:" + str(pathlib.Path(path).resolve()).replace("/", "\\")


def encode_file(data: bytes, tmp: pathlib.Path, *options: str) -> bytes:
    """A payload entry for `data`, made by the project's own encoder."""
    tmp.mkdir(parents=True, exist_ok=True)
    src, dst = tmp / "plain.bin", tmp / "entry.bin"
    src.write_bytes(data)
    subprocess.run([str(QENCODE), *options, str(src), str(dst)], check=True)
    return dst.read_bytes()


def entry_header(stream_length: int, properties: int, dictionary: int, output_size: int) -> bytes:
    return struct.pack("<IBIQ", stream_length, properties, dictionary, output_size)


# A stored entry's marker: properties 0xFF with the dictionary size "STOR".
STORED_PROPERTIES, STORED_MAGIC = 0xFF, 0x524F5453


def stored_entry(data: bytes) -> bytes:
    """The entry that carries `data` as it is."""
    return entry_header(13 + len(data), STORED_PROPERTIES, STORED_MAGIC, len(data)) + data


@dataclasses.dataclass
class Message:
    text: bytes
    caption: bytes
    warning_icon: bool


@dataclasses.dataclass
class Run:
    status: str  # "exit", "timeout", "killed" or "start-failed"
    exit_code: int | None
    messages: list
    windows: list = dataclasses.field(default_factory=list)  # (class, visible) of each window seen
    debug: str = ""  # Wine's debug output, when asked for
    elapsed_ms: int | None = None  # how long the launcher ran, when it exited by itself

    def texts(self):
        return [m.text for m in self.messages]

    def events(self):
        """The event log records written under the driver, as Wine shows them (run with
        debug="fixme+advapi,warn+eventlog"): advapi's note of each ReportEventW call gives the
        type and the identifier, the eventlog channel each string."""
        records = []
        for line in self.debug.splitlines():
            if ":advapi:ReportEventW (" in line:
                fields = line.split("(", 1)[1].split(",")
                records.append(Event(int(fields[1], 16), int(fields[3], 16), []))
            elif ":eventlog:ReportEventW " in line and records:
                records[-1].strings.append(_undebugstr(line.split(":eventlog:ReportEventW ", 1)[1]))
        return records


@dataclasses.dataclass
class Event:
    type: int  # EVENTLOG_WARNING_TYPE is 2
    id: int
    strings: list


def _undebugstr(text: str) -> str:
    """A string as Wine's debugstr_w prints it (L"..." with backslash escapes), unquoted."""
    body, out, i = text.strip()[2:-1], [], 0
    while i < len(body):
        if body[i] != "\\":
            out.append(body[i])
            i += 1
        elif body[i + 1] in "\\\"":
            out.append(body[i + 1])
            i += 2
        else:
            out.append(chr(int(body[i + 1:i + 5], 16)))
            i += 5
    return "".join(out)


class Harness:
    def __init__(self, tmp_path: pathlib.Path):
        self.tmp = tmp_path
        self.count = 0

    def _fresh(self, stem: str) -> pathlib.Path:
        self.count += 1
        d = self.tmp / f"{stem}{self.count}"
        d.mkdir(parents=True)
        return d

    def launcher(self, entries, name="setup.exe", directory=None, traced=False) -> pathlib.Path:
        """Links a launcher carrying `entries`: a list of (NAME, raw entry bytes), or a dict of
        NAME -> file content, which is encoded with the default settings. `traced` links the
        test launcher whose progress window records its updates and can pause."""
        if isinstance(entries, dict):
            work = self._fresh("enc")
            entries = [(n, encode_file(c, work / str(i))) for i, (n, c) in enumerate(entries.items())]
        work = self._fresh("link")
        rc = []
        for i, (entry_name, raw) in enumerate(entries):
            f = work / f"e{i}.bin"
            f.write_bytes(raw)
            quoted = entry_name.replace("\\", "\\\\")
            # A LANGUAGE line before each entry keeps windres from joining adjacent string literals.
            rc.append(f'LANGUAGE 0x09, 0x01\n"{quoted}" FILE "{f}"\n')
        (work / "payload.rc").write_text("".join(rc) or "\n", encoding="utf-8")
        out = (directory or work) / name
        out.parent.mkdir(parents=True, exist_ok=True)
        link = LINK_TRACED_LAUNCHER if traced else LINK_LAUNCHER
        subprocess.run([str(link), str(out), str(work / "payload.rc")], check=True)
        return out

    def packed(self, files, *options: str, name="setup.exe") -> pathlib.Path:
        """Builds an installer with quillpack from `files`: a directory, or a dict of relative
        path ("/" between components) -> file content. Most test packages have no setup program
        and are built with --no-setup."""
        work = self._fresh("pack")
        if isinstance(files, dict):
            source = work / "source"
            for rel, content in files.items():
                (source / rel).parent.mkdir(parents=True, exist_ok=True)
                (source / rel).write_bytes(content)
        else:
            source = files
        out = work / name
        subprocess.run([str(QUILLPACK), "build", "-q", "--no-setup", "--arch", ARCH, "-o", str(out),
                        *options, str(source)], check=True)
        return out

    def hold_window(self, cls: str, minimized=False, busy=False) -> "WindowHolder":
        """A window of class `cls` owned by a program in the background, while the `with` lasts."""
        return WindowHolder(self._fresh("holder") / "state.txt", cls, minimized, busy)

    def temp_dir(self) -> pathlib.Path:
        return self._fresh("temp")

    def run(self, exe, args: bytes = b"", **options) -> Run:
        """Starts `exe` through qdriver and waits for it (every wait has a time-out); see start."""
        return self.start(exe, args, **options).wait()

    def start(self, exe, args: bytes = b"", temp=None, cwd=None, timeout_ms=60000, hold_ms=0,
              press=True, kill_after_ms=0, env=None, cmdline: bytes | None = None,
              desktop: str | None = None, locale: str | None = None,
              debug: str | None = None) -> "Started":
        """Starts `exe` through qdriver in the background; wait() on the answer gives its Run.
        `desktop` ("NAME,WxH") runs it on a Wine virtual desktop, where Wine draws window
        captions. `locale` replaces LC_ALL for it: Wine takes the user's language and the ANSI
        code page from the Unix locale of each program it starts. `debug` sets WINEDEBUG for it
        and keeps Wine's debug output in the Run."""
        work = self._fresh("run")
        lines = [f"exe={winpath(exe)}"]
        if cmdline is not None:
            lines.append(f"cmdline={cmdline.hex()}")
        else:
            lines.append(f"args={args.hex()}")
        if temp is not None:
            lines.append(f"temp={winpath(temp)}")
        lines.append(f"cwd={winpath(cwd if cwd is not None else work)}")
        lines.append(f"timeout_ms={timeout_ms}")
        if hold_ms:
            lines.append(f"hold_ms={hold_ms}")
        if not press:
            lines.append("press=none")
        if kill_after_ms:
            lines.append(f"kill_after_ms={kill_after_ms}")
        for k, v in (env or {}).items():
            lines.append(f"env={k}={v}")
        request, result = work / "request.txt", work / "result.txt"
        request.write_text("\n".join(lines) + "\n", encoding="latin-1")
        prefix = [WINE, "explorer", f"/desktop={desktop}"] if desktop else [WINE]
        environment = dict(os.environ)
        if locale is not None:
            environment["LC_ALL"] = locale
        if debug is not None:
            environment["WINEDEBUG"] = debug
        debug_file = work / "debug.txt"
        with open(debug_file, "wb") as stderr:
            process = subprocess.Popen(
                [*prefix, str(QDRIVER), winpath(request), winpath(result)],
                stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                stderr=stderr if debug is not None else subprocess.DEVNULL, env=environment)
        return Started(process, result, debug_file, timeout_ms / 1000 + 60)


class Started:
    """A qdriver run in the background."""

    def __init__(self, process, result: pathlib.Path, debug_file: pathlib.Path, timeout: float):
        self.process, self.result, self.debug_file, self.timeout = process, result, debug_file, timeout

    def wait(self) -> Run:
        try:
            self.process.wait(timeout=self.timeout)
        except subprocess.TimeoutExpired:
            self.process.kill()
            self.process.wait(timeout=15)
            raise
        messages, windows, status, code, elapsed_ms = [], [], "missing", None, None
        unhex = lambda s: b"" if s == "-" else bytes.fromhex(s)
        for line in self.result.read_text(encoding="latin-1").splitlines():
            parts = line.split()
            if parts[0] == "message":
                messages.append(Message(unhex(parts[1]), unhex(parts[2]), parts[3] == "1"))
            elif parts[0] == "window":
                windows.append((unhex(parts[1]).decode("latin-1"), parts[2] == "1"))
            elif parts[0] == "exit":
                status, code, elapsed_ms = "exit", int(parts[1]), int(parts[2])
            else:
                status = parts[0]
                if status == "start-failed":  # the Windows error, for the failure's report
                    code = int(parts[1])
        debug = self.debug_file.read_text(encoding="utf-8", errors="replace")
        return Run(status, code, messages, windows, debug, elapsed_ms)


class WindowHolder:
    """A qholder program in the background, owning a top-level window of class `cls` (a running
    setup program or launcher, as the instance guard sees one). Use it as a context manager."""

    def __init__(self, state: pathlib.Path, cls: str, minimized=False, busy=False):
        self.state_file = state
        self.args = [str(QHOLDER), cls, winpath(state)]
        self.args += ["minimized"] * minimized + ["busy"] * busy
        self.process = None

    def __enter__(self):
        self.process = subprocess.Popen([WINE, *self.args], stdin=subprocess.DEVNULL,
                                        stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        try:
            self.wait_for(lambda s: True, timeout=30)
        except BaseException:
            self.__exit__(None, None, None)
            raise
        return self

    def state(self) -> dict:
        """The window's last reported state: {"iconic": 0|1, "foreground": 0|1}, or {}."""
        try:
            lines = self.state_file.read_text().split("\n")
        except FileNotFoundError:
            return {}
        return {k: int(v) for k, v in (line.split() for line in lines if line.strip())}

    def wait_for(self, predicate, timeout=10.0) -> dict:
        """Waits until the reported state satisfies `predicate`; answers the last state seen."""
        deadline = time.monotonic() + timeout
        while True:
            state = self.state()
            if state and predicate(state):
                return state
            if time.monotonic() >= deadline:
                if not state:
                    raise TimeoutError("qholder reported no state")
                return state
            time.sleep(0.05)

    def __exit__(self, *exc):
        pathlib.Path(str(self.state_file) + ".stop").touch()
        try:
            self.process.wait(timeout=15)
        except subprocess.TimeoutExpired:
            self.process.kill()
            self.process.wait(timeout=15)
        return False


class Setup:
    """Instructions for qsetup and what it reported."""

    def __init__(self, harness, *lines):
        d = harness._fresh("qsetup")
        self.dir = d
        self.report = d / "report.txt"
        request = d / "request.txt"
        request.write_text("\n".join([f"report={winpath(self.report)}", *lines]) + "\n",
                           encoding="latin-1")
        self.env = {"QUILL_TEST_SETUP": winpath(request)}

    def ran(self):
        return self.report.exists()

    def facts(self):
        out = {}
        for line in self.report.read_text(encoding="latin-1").splitlines():
            key, value = line.split(" ", 1)
            out.setdefault(key, []).append(b"" if value == "-" else bytes.fromhex(value))
        return out

    def one(self, key):
        (value,) = self.facts()[key]
        return value

    def lines(self, key):
        return self.facts().get(key, [])


@pytest.fixture
def harness(tmp_path):
    return Harness(tmp_path)


@pytest.fixture
def small_disk(tmp_path):
    """small_disk(room) answers (directory, mounted): a directory on a file system with room for
    little more than `room` bytes, a tmpfs of its own (the tests run as root under make test).
    Without the right to mount, `mounted` is False and the directory an ordinary one; the caller
    then makes its target a link to /dev/full, where every write fails with "no space left on
    device" all the same."""
    mounts = []

    def make(room: int):
        mount = tmp_path / f"small{len(mounts)}"
        mount.mkdir()
        size = f"{(room + 32768) // 1024}k"
        mounted = subprocess.run(["mount", "-t", "tmpfs", "-o", f"size={size}", "quill-full",
                                  str(mount)], stdout=subprocess.DEVNULL,
                                 stderr=subprocess.DEVNULL).returncode == 0
        if mounted:
            mounts.append(mount)
        return mount, mounted

    yield make
    for mount in mounts:
        if subprocess.run(["umount", str(mount)], stderr=subprocess.DEVNULL).returncode:
            subprocess.run(["umount", "-l", str(mount)], check=False)


def files_under(root: pathlib.Path) -> dict:
    """Relative path -> bytes of every file below `root`."""
    return {str(p.relative_to(root)): p.read_bytes() for p in sorted(root.rglob("*")) if p.is_file()}
