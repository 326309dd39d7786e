"""What the bench scripts share about the Windows builds and the Wine environment they run in."""
import os
import pathlib
import sys

ROOT = pathlib.Path(__file__).resolve().parents[1]
BUILDS = {"x86": ROOT / "build" / "win32", "x64": ROOT / "build" / "win64"}
# The loader of the environment's architecture (scripts/wine-env.sh); plain `wine` is the 32-bit
# one wherever 32-bit Wine is installed.
WINE = os.environ.get("QUILL_WINE", "wine")


def winpath(path) -> str:
    """The Windows path under Wine's Z: drive for a Unix path."""
    return "Z:" + str(pathlib.Path(path).resolve()).replace("/", "\\")


def wine_arch(requested, what="it"):
    """The architecture to measure: `requested` (--arch) or that of the scripts/wine-env.sh
    environment this runs in, which must agree. Ends the program when they do not, or outside
    such an environment."""
    if not os.environ.get("QUILL_WINE_ENV"):
        sys.exit(f"run {what} inside scripts/wine-env.sh")
    prefix_arch = os.environ.get("QUILL_ARCH", "x86")
    arch = requested or prefix_arch
    if arch != prefix_arch:
        sys.exit(f"--arch {arch} needs the {arch} Wine environment: "
                 f"scripts/wine-env.sh --arch {arch} ...")
    return arch
