"""The progress window as a user sees it: screenshots of a real extraction under Wine's virtual
desktop (where Wine draws captions), checked pixel by pixel, and the window structure as another
program sees it.

The launcher under test is the traced test build (tests/e2e/tools/progress_trace_win32.cpp): it
records every SetProgress value and, after each status line has been painted, waits at a gate until
the test has taken its screenshot.
"""
import dataclasses
import pathlib
import random
import shutil
import threading
import time

import pytest

from conftest import (BUILD_WIN, ENGLISH, MSG_CORRUPT, MSG_STARTING, MSG_UNPACKING, Harness,
                      encode_file, entry_header, winpath)
import screen

DESKTOP = "quillprogress,1024x768"
QSETUP = BUILD_WIN / "tests" / "qsetup.exe"
NAVY = (0, 0, 128)
WHITE = (255, 255, 255)
STYLE = 0x90C800C0  # WS_POPUP | WS_VISIBLE | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME | DS_SETFONT
WS_CHILD, WS_BORDER, WS_THICKFRAME = 0x40000000, 0x00800000, 0x00040000
# The unpack message's four characters, the part of the status line that every entry shares.
PREFIX_CHARACTERS = 4


@dataclasses.dataclass
class Snapshot:
    status: bytes  # the status line the launcher had just painted
    progress: list  # the SetProgress values so far
    shot: screen.Shot
    info: dict

    def dialog(self):
        (dialog,) = [w for w in self.info["windows"] if w["class"] == "QuillExtracting"]
        return dialog

    def control(self, control_id):
        (control,) = [c for c in self.dialog()["children"] if c["id"] == control_id]
        return control


@dataclasses.dataclass
class WatchedRun:
    run: object
    snapshots: list
    progress: list
    setup_report: dict


def read_trace(path: pathlib.Path):
    statuses, progress = [], []
    if path.exists():
        for line in path.read_text(encoding="latin-1").splitlines():
            kind, value = line.split()
            if kind == "status":
                statuses.append(bytes.fromhex(value))
            else:
                progress.append(int(value))
    return statuses, progress


def watch(harness: Harness, entries: dict, args=b"", setup_lines=(), locale=None) -> WatchedRun:
    """Runs a traced launcher carrying `entries` on the virtual desktop (under `locale`, if given)
    and takes a screenshot and a window dump at every status line."""
    exe = harness.launcher(entries, traced=True)
    work = harness._fresh("watch")
    gate, trace = work / "gate", work / "trace.txt"
    gate.mkdir()
    report = work / "setup-report.txt"
    setup_request = work / "setup-request.txt"
    setup_request.write_text("\n".join([f"report={winpath(report)}", *setup_lines]) + "\n",
                             encoding="latin-1")
    env = {"QUILL_TRACE_GATE": winpath(gate), "QUILL_TRACE_FILE": winpath(trace),
           "QUILL_TEST_SETUP": winpath(setup_request)}
    outcome = {}

    def launch():
        outcome["run"] = harness.run(exe, args, temp=harness.temp_dir(), env=env, desktop=DESKTOP,
                                     timeout_ms=90000, locale=locale)

    runner = threading.Thread(target=launch)
    runner.start()
    snapshots, k = [], 1
    deadline = time.monotonic() + 150
    try:
        while runner.is_alive() and time.monotonic() < deadline:
            if (gate / f"status{k}.ready").exists():
                statuses, progress = read_trace(trace)
                shot = screen.screenshot(work / f"shot{k}.ppm")
                info = screen.inspect(DESKTOP, exe.name)
                snapshots.append(Snapshot(statuses[k - 1], progress, shot, info))
                (gate / f"status{k}.go").write_text("")
                k += 1
            time.sleep(0.02)
    finally:
        # Whatever happened, open every gate so that the launcher runs to its end.
        for i in range(k, k + 20):
            (gate / f"status{i}.go").write_text("")
        runner.join(200)
    facts = {}
    if report.exists():
        for line in report.read_text(encoding="latin-1").splitlines():
            key, value = line.split(" ", 1)
            facts[key] = b"" if value == "-" else bytes.fromhex(value)
    return WatchedRun(outcome.get("run"), snapshots, read_trace(trace)[1], facts)


def payload(seed=7):
    """Three entries that need several 64 KiB chunks each; data that does not compress keeps
    the stored sizes, and so the progress steps, about equal."""
    rng = random.Random(seed)
    return {"A.BIN": rng.randbytes(300000), "B.BIN": rng.randbytes(300000),
            "SETUP.EXE": QSETUP.read_bytes()}


@pytest.fixture(scope="module")
def watched(tmp_path_factory):
    return watch(Harness(tmp_path_factory.mktemp("watched")), payload(),
                 setup_lines=("window=QuillTestSetup", "idle=1", "watch_ms=10000"))


def test_run_ends_normally_and_shows_each_status_line(watched):
    assert watched.run.status == "exit" and watched.run.exit_code == 0
    assert watched.run.messages == []
    assert [s.status for s in watched.snapshots] == [
        MSG_UNPACKING.replace(b"%s", name) for name in (b"A.BIN", b"B.BIN", b"SETUP.EXE")
    ] + [MSG_STARTING]
    # What the window shows is what was asked for.
    for snap in watched.snapshots:
        assert snap.control(1001)["text"] == snap.status


def test_dialog_closes_once_the_setup_program_is_idle(watched):
    assert watched.setup_report["dialog_seen"] == b"1"
    assert int(watched.setup_report["dialog_gone_ms"]) >= 0


def test_window_structure(watched):
    for snap in watched.snapshots:
        visible = [w for w in snap.info["windows"] if w["visible"]]
        assert [w["class"] for w in visible] == ["QuillExtracting"]
        dialog = snap.dialog()
        assert dialog["style"] & STYLE == STYLE
        assert not dialog["style"] & (WS_CHILD | WS_THICKFRAME)
        assert dialog["exstyle"] & 0x8 == 0  # not topmost
        assert dialog["text"] == "正在解包...".encode("gbk")
        status, gauge = snap.control(1001), snap.control(1002)
        assert [c["id"] for c in dialog["children"]] == [1001, 1002]
        assert status["class"] == "Static" and status["style"] == 0x50020000
        assert gauge["class"] == "MossGauge" and gauge["style"] == 0x50000000 | WS_BORDER


def background_box(shot: screen.Shot):
    """The bounding box of everything that differs from the desktop's colour."""
    ground = shot.pixel(0, 0)
    xs, ys = [], []
    for y in range(shot.height):
        for x in range(shot.width):
            if shot.pixel(x, y) != ground:
                xs.append(x)
                ys.append(y)
    return min(xs), min(ys), max(xs) + 1, max(ys) + 1


def test_dialog_is_centred_on_the_screen(watched):
    snap = watched.snapshots[0]
    width, height = snap.info["screen"]
    assert (snap.shot.width, snap.shot.height) == (width, height)
    left, top, right, bottom = background_box(snap.shot)
    assert (left, top, right, bottom) == snap.dialog()["rect"]
    assert left == (width - (right - left)) // 2
    assert top == (height - (bottom - top)) // 2


def ink_columns(shot, rect):
    """Columns of `rect` holding dark (text) pixels."""
    left, top, right, bottom = rect
    return [x for x in range(left, right)
            if any(max(shot.pixel(x, y)) < 96 for y in range(top, bottom))]


def test_status_line_shows_the_unpack_message_in_a_cjk_font(watched):
    # The dialog's font has a glyph for every character of the line.
    for snap in watched.snapshots:
        face, missing = screen.font_for("宋体".encode("gbk"), 9, snap.status)
        assert missing == 0, face
    # On the screen: the message's characters are drawn alike for every entry, the names differ.
    first, second = watched.snapshots[0], watched.snapshots[1]
    rect = first.control(1001)["client"]
    ink = ink_columns(first.shot, rect)
    assert ink and ink[0] - rect[0] < 4  # left-aligned
    height = rect[3] - rect[1]
    shared = (rect[0], rect[1], rect[0] + PREFIX_CHARACTERS * 12, rect[3])
    assert region(first.shot, shared) == region(second.shot, shared)
    assert region(first.shot, rect) != region(second.shot, rect)
    # Four wide characters and A.BIN take more room than a line of five narrow ones would.
    assert ink[-1] - ink[0] > PREFIX_CHARACTERS * height // 2 + 5 * 4


def region(shot, rect):
    left, top, right, bottom = rect
    return [shot.pixel(x, y) for y in range(top, bottom) for x in range(left, right)]


def expected_blocks(blocks, progress):
    return min(blocks, max([blocks * p // 100 for p in progress], default=0))


def test_gauge_fills_block_by_block_with_nothing_beyond_the_last_block(watched):
    filled_seen = []
    for snap in watched.snapshots:
        face = snap.info["colours"]["btnface"]
        left, top, right, bottom = snap.control(1002)["client"]
        width, height = right - left, bottom - top
        blocks = (width - 2) // 6
        assert width == blocks * 6 + 2, "the width is fitted to whole blocks"
        filled = expected_blocks(blocks, snap.progress)
        filled_seen.append(filled)
        for x in range(width):
            for y in range(height):
                inside = 1 <= y < height - 1 and 1 <= x < 1 + 6 * filled
                want = NAVY if inside else face
                assert snap.shot.pixel(left + x, top + y) == want, (snap.status, x, y, filled)
    assert filled_seen[0] == 0 and filled_seen[-1] == blocks
    assert filled_seen == sorted(filled_seen) and len(set(filled_seen)) == len(filled_seen)


def test_gauge_frame_is_shadow_at_left_and_top_and_white_at_bottom_and_right(watched):
    for snap in watched.snapshots:
        shadow = snap.info["colours"]["btnshadow"]
        left, top, right, bottom = snap.control(1002)["rect"]
        px = snap.shot.pixel
        assert all(px(left, y) == shadow for y in range(top, bottom - 1))
        assert all(px(x, top) == shadow for x in range(left, right - 1))
        assert all(px(x, bottom - 1) == WHITE for x in range(left, right - 1))
        assert all(px(right - 1, y) == WHITE for y in range(top + 1, bottom))


def test_screenshot_for_the_readme(watched, pytestconfig):
    """Keeps the screenshot of the second entry, cropped to the dialog and a margin, beside the
    test results (docs/progress-dialog.png is a copy of it)."""
    snap = watched.snapshots[1]
    left, top, right, bottom = snap.dialog()["rect"]
    out = pathlib.Path(snap.shot.path).with_name("progress-dialog.png")
    screen.to_png(snap.shot, out, crop=(left - 16, top - 16, right + 16, bottom + 16))
    assert out.stat().st_size > 0


@pytest.fixture(scope="module")
def watched_english(tmp_path_factory):
    return watch(Harness(tmp_path_factory.mktemp("english")), payload(),
                 setup_lines=("window=QuillTestSetup", "idle=1", "watch_ms=10000"), locale=ENGLISH)


def test_english_face_where_the_users_language_is_not_chinese(watched_english):
    run = watched_english.run
    assert run.status == "exit" and run.exit_code == 0 and run.messages == []
    statuses = [s.status for s in watched_english.snapshots]
    assert statuses == [b"Unpacking A.BIN", b"Unpacking B.BIN", b"Unpacking SETUP.EXE",
                        b"Starting the setup program..."]
    widths = []
    for snap in watched_english.snapshots:
        assert snap.dialog()["text"] == b"Unpacking..."
        assert snap.control(1001)["text"] == snap.status
        # Every status line fits on its one line: its ink ends before the control does.
        left, top, right, bottom = snap.control(1001)["client"]
        ink = ink_columns(snap.shot, (left, top, right, bottom))
        assert ink and ink[-1] < right - 2, snap.status
        widths.append(ink[-1] - ink[0])
    # The longest line was drawn whole, not wrapped onto a second line the control cannot show.
    assert widths[3] > widths[0] * len(statuses[3]) / len(statuses[0]) * 0.8


def test_silent_mode_shows_no_window_at_all(harness):
    watched = watch(harness, payload(), args=b"-ms",
                    setup_lines=("window=QuillTestSetup", "idle=1", "watch_ms=2000"))
    assert watched.run.status == "exit" and watched.run.exit_code == 0
    assert len(watched.snapshots) == 4  # the status lines are still reported, to nobody
    for snap in watched.snapshots:
        assert snap.info["processes"] == 1
        assert snap.info["windows"] == []
        ground = snap.shot.pixel(0, 0)
        assert background_box_or_none(snap.shot, ground) is None
    assert watched.setup_report["dialog_seen"] == b"0"


def background_box_or_none(shot, ground):
    if all(shot.pixels[i:i + 3] == bytes(ground) for i in range(0, len(shot.pixels), 3)):
        return None
    return background_box(shot)


def test_closing_the_dialog_while_a_message_is_open_destroys_it_and_the_run_goes_on(
        harness, tmp_path):
    rng = random.Random(3)
    good = rng.randbytes(200000)
    corrupt = entry_header(13 + 64, 0x5D, 0x10000, 5000) + b"\xff" * 64
    entries = [("A.BIN", encode_file(good, tmp_path / "a")), ("B.BIN", corrupt),
               ("C.BIN", encode_file(good, tmp_path / "c"))]
    exe = harness.launcher(entries, traced=True)
    trace = tmp_path / "trace.txt"
    outcome = {}

    def launch():
        outcome["run"] = harness.run(exe, temp=harness.temp_dir(), desktop=DESKTOP, hold_ms=8000,
                                     env={"QUILL_TRACE_FILE": winpath(trace)})

    runner = threading.Thread(target=launch)
    runner.start()
    seen = []
    try:
        deadline = time.monotonic() + 60
        # The first status line means the desktop and the dialog exist; a second program started
        # on a desktop that is still being made could start a desktop of its own.
        while not trace.exists() and time.monotonic() < deadline:
            time.sleep(0.05)
        while time.monotonic() < deadline:
            classes = [w["class"] for w in screen.inspect(DESKTOP, exe.name)["windows"]
                       if w["visible"]]
            seen.append(classes)
            if "#32770" in classes:
                break
            time.sleep(0.1)
        assert "QuillExtracting" in seen[-1], seen
        assert screen.close(DESKTOP, exe.name, "QuillExtracting") == 1
        # The message box's own loop dispatches the close: the dialog goes while the box stays.
        while time.monotonic() < deadline:
            visible = [w for w in screen.inspect(DESKTOP, exe.name)["windows"] if w["visible"]]
            if "QuillExtracting" not in [w["class"] for w in visible]:
                break
            time.sleep(0.1)
        (box,) = visible
        assert box["class"] == "#32770"
        shot = screen.screenshot(tmp_path / "after-close.ppm")
    finally:
        runner.join(120)
    run = outcome["run"]
    assert run.status == "exit" and run.texts() == [MSG_CORRUPT]
    # Only the message box was left on the screen.
    assert background_box(shot) == box["rect"]
    # The run went on to its end without the dialog: a damaged package starts nothing, so no
    # further status line came, and the launcher ended with its own failure.
    statuses, progress = read_trace(trace)
    assert statuses[-1] == MSG_UNPACKING.replace(b"%s", b"B.BIN") and run.exit_code == 2
