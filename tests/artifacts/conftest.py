"""Checks of the built Windows programs that read them without running them: they run on every
machine, for both architectures, whether or not it can execute the programs. The launcher as
specified is the x86 one; the x64 launcher is built from the same sources."""
import pathlib
import subprocess

import pytest

ROOT = pathlib.Path(__file__).resolve().parents[2]
QUILLPACK = ROOT / "build" / "host" / "quillpack"
BUILDS = {"x86": ROOT / "build" / "win32", "x64": ROOT / "build" / "win64"}
TRIPLES = {"x86": "i686-w64-mingw32", "x64": "x86_64-w64-mingw32"}


@pytest.fixture(params=["x86", "x64"], scope="module")
def arch(request):
    return request.param


@pytest.fixture(scope="module")
def stub(arch):
    return BUILDS[arch] / "quillstub.exe"


def quillpack(*args, check=True):
    return subprocess.run([str(QUILLPACK), *map(str, args)], capture_output=True, text=True,
                          check=check)
