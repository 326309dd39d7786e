"""The instance guard seen from outside: another instance's window, the hand-over, -mmi."""
import pytest

from conftest import files_under

# No caption of its own: the system's default, "Error" as Wine words it for code page 936.
DEFAULT_CAPTION = "错误".encode("gbk")
PACKAGE = {"README.TXT": b"read me\r\n"}
CANNOT_CREATE = b"Cannot create temp directory"


def listing(root):
    return sorted(str(p.relative_to(root)) for p in root.rglob("*"))


def earlier_run(temp):
    """A work directory as an earlier run leaves it; a launcher that hands over must not clean it."""
    work = temp / "quill_temp"
    (work / "fennel.moss").mkdir(parents=True)
    (work / "fennel.moss" / "state.bin").write_bytes(b"state")
    (work / "Archive.lst").write_bytes(b"[Archives]\r\nOLD.TXT=TRUE\r\n")
    return files_under(temp)


@pytest.mark.parametrize("cls", ["QuillSetup", "QuillSetupDlg"])
def test_setup_window_is_restored_and_brought_to_front(harness, cls):
    exe = harness.launcher(PACKAGE)
    temp = harness.temp_dir()
    before = earlier_run(temp)
    with harness.hold_window(cls, minimized=True) as holder:
        assert holder.state()["iconic"] == 1
        run = harness.run(exe, b"", temp=temp)
        state = holder.wait_for(lambda s: s["iconic"] == 0 and s["foreground"] == 1)
    assert (run.status, run.exit_code, run.messages) == ("exit", 1, [])
    assert state == {"iconic": 0, "foreground": 1}
    assert files_under(temp) == before


def test_busy_launcher_is_left_alone_and_never_waited_for(harness):
    # The other launcher pumps no messages; the new one must still end at once.
    exe = harness.launcher(PACKAGE)
    temp = harness.temp_dir()
    before = earlier_run(temp)
    with harness.hold_window("QuillExtracting", minimized=True, busy=True) as holder:
        run = harness.run(exe, b"", temp=temp, timeout_ms=15000)
        state = holder.state()
    assert (run.status, run.exit_code, run.messages) == ("exit", 1, [])
    assert state["iconic"] == 1
    assert files_under(temp) == before


def test_launcher_dialog_is_looked_for_before_setup_windows(harness):
    exe = harness.launcher(PACKAGE)
    temp = harness.temp_dir()
    with harness.hold_window("QuillSetup", minimized=True) as setup, \
            harness.hold_window("QuillExtracting") as _:
        run = harness.run(exe, b"", temp=temp)
        state = setup.wait_for(lambda s: s["iconic"] == 0, timeout=2)
    assert (run.status, run.exit_code) == ("exit", 1)
    assert state["iconic"] == 1, "the setup window was restored although a launcher was found"


def test_multiple_instances_take_the_next_free_name(harness):
    exe = harness.launcher(PACKAGE)
    temp = harness.temp_dir()
    (temp / "quill_temp").mkdir()
    (temp / "quill_temp" / "other.txt").write_bytes(b"first instance")
    with harness.hold_window("QuillSetup"):
        run = harness.run(exe, b"-mmi", temp=temp)
    assert run.status == "exit" and run.messages == []
    assert files_under(temp / "quill_temp1")["README.TXT"] == PACKAGE["README.TXT"]
    assert files_under(temp / "quill_temp") == {"other.txt": b"first instance"}


def test_multiple_instances_use_the_base_name_when_free(harness):
    exe = harness.launcher(PACKAGE)
    temp = harness.temp_dir()
    with harness.hold_window("QuillExtracting"):
        run = harness.run(exe, b"/MMI", temp=temp)
    assert run.status == "exit" and run.messages == []
    assert listing(temp) == ["quill_temp", "quill_temp/Archive.lst", "quill_temp/README.TXT"]


def test_without_another_instance_nothing_is_probed(harness):
    exe = harness.launcher(PACKAGE)
    temp = harness.temp_dir()
    (temp / "quill_temp").mkdir()
    (temp / "quill_temp" / "left.txt").write_bytes(b"left over")
    run = harness.run(exe, b"-mmi", temp=temp)
    assert run.status == "exit" and run.messages == []
    assert sorted(files_under(temp / "quill_temp")) == ["Archive.lst", "README.TXT", "left.txt"]
    assert not (temp / "quill_temp1").exists()


def test_plain_file_counts_as_taken(harness):
    exe = harness.launcher(PACKAGE)
    temp = harness.temp_dir()
    for name in ("quill_temp", "quill_temp1", "quill_temp2"):
        (temp / name).mkdir()
    (temp / "quill_temp3").write_bytes(b"a plain file")
    with harness.hold_window("QuillSetupDlg"):
        run = harness.run(exe, b"-mmi", temp=temp)
    assert run.status == "exit" and run.messages == []
    assert (temp / "quill_temp3").read_bytes() == b"a plain file"
    assert "README.TXT" in files_under(temp / "quill_temp4")


def test_all_names_taken_ends_with_message(harness):
    exe = harness.launcher(PACKAGE)
    temp = harness.temp_dir()
    names = ["quill_temp"] + [f"quill_temp{n}" for n in range(1, 101)]
    for i, name in enumerate(names):
        if i % 2:
            (temp / name).write_bytes(b"")
        else:
            (temp / name).mkdir()
    before = listing(temp)
    with harness.hold_window("QuillSetup"):
        run = harness.run(exe, b"-mmi", temp=temp)
    assert (run.status, run.exit_code) == ("exit", 1)
    assert run.texts() == [CANNOT_CREATE]
    assert run.messages[0].caption == DEFAULT_CAPTION
    assert listing(temp) == before
