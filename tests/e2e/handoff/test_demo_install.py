"""The demo installer of make demo: a complete silent install, as the demo shows it."""
from conftest import BUILD_WIN, ROOT, winpath

DEMO = BUILD_WIN / "quilldemo.exe"


def test_the_demo_installs_silently_and_leaves_no_work_directory(harness):
    temp = harness.temp_dir()
    target = harness._fresh("installed")
    args = b"-ms /D=" + winpath(target).encode("latin-1")
    run = harness.run(DEMO, args, temp=temp)
    assert run.status == "exit" and run.exit_code == 0 and run.messages == []
    assert list(temp.iterdir()) == []
    sample = ROOT / "samples" / "demo"
    for f in sorted(p for p in sample.rglob("*") if p.is_file()):
        installed = target / str(f.relative_to(sample)).upper()
        assert installed.read_bytes() == f.read_bytes()
    log = (target / "INSTALL.LOG").read_bytes()
    assert b"silent (-ms):      yes" in log
    assert b" -n " + winpath(DEMO).encode("latin-1") + b" " + args + b"\r\n" in log
