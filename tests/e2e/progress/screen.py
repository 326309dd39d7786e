"""Looking at the screen as a person would: screenshots of the Xvfb display and the window list
of a running launcher as another program on its Wine desktop sees it."""
import os
import pathlib
import subprocess

from conftest import BUILD_WIN, WINE

QINSPECT = BUILD_WIN / "tests" / "qinspect.exe"


class Shot:
    """An RGB screenshot; pixel(x, y) -> (r, g, b)."""

    def __init__(self, path: pathlib.Path):
        data = path.read_bytes()
        # P6 WIDTH HEIGHT 255, each field ended by one blank.
        fields, at = [], 0
        while len(fields) < 4:
            while data[at:at + 1].isspace():
                at += 1
            start = at
            while not data[at:at + 1].isspace():
                at += 1
            fields.append(data[start:at])
        assert fields[0] == b"P6" and fields[3] == b"255"
        self.width, self.height = int(fields[1]), int(fields[2])
        self.pixels = data[at + 1:]
        self.path = path

    def pixel(self, x, y):
        i = 3 * (y * self.width + x)
        return tuple(self.pixels[i:i + 3])


def screenshot(path: pathlib.Path) -> Shot:
    """The whole Xvfb screen (DISPLAY comes from scripts/wine-env.sh)."""
    subprocess.run(["import", "-display", os.environ["DISPLAY"], "-window", "root", "-depth", "8",
                    f"ppm:{path}"], check=True, timeout=60)
    return Shot(path)


def to_png(shot: Shot, path: pathlib.Path, crop=None):
    args = ["convert", str(shot.path)]
    if crop:
        left, top, right, bottom = crop
        args += ["-crop", f"{right - left}x{bottom - top}+{left}+{top}", "+repage"]
    subprocess.run(args + [str(path)], check=True, timeout=60)


def parse_fields(words):
    out = {}
    for word in words:
        key, _, value = word.partition("=")
        if key in ("rect", "client"):
            out[key] = tuple(int(v) for v in value.split(","))
        elif key in ("style", "exstyle"):
            out[key] = int(value, 16)
        elif key == "text":
            out[key] = b"" if value == "-" else bytes.fromhex(value)
        elif key in ("id", "visible"):
            out[key] = int(value)
        else:
            out[key] = value
    return out


def inspect(desktop: str, exe_name: str) -> dict:
    """Windows of the processes running `exe_name`, seen from the Wine desktop `desktop`."""
    out = subprocess.run([WINE, "explorer", f"/desktop={desktop}", str(QINSPECT), exe_name],
                         check=True, timeout=60, capture_output=True).stdout.decode("latin-1")
    result = {"windows": [], "colours": {}}
    for line in out.splitlines():
        words = line.split()
        if not words:
            continue
        if words[0] == "processes":
            result["processes"] = int(words[1])
        elif words[0] == "window":
            result["windows"].append(dict(parse_fields(words[1:]), children=[]))
        elif words[0] == "child":
            result["windows"][-1]["children"].append(parse_fields(words[1:]))
        elif words[0] == "screen":
            result["screen"] = (int(words[1]), int(words[2]))
        elif words[0] == "colour":
            result["colours"][words[1]] = tuple(int(v) for v in words[2:5])
    return result


def font_for(face: bytes, points: int, text: bytes):
    """The face a dialog font `face` of `points` gets, and how many characters of `text` it has
    no glyph for."""
    out = subprocess.run([WINE, str(QINSPECT), "--font", face.hex(), str(points), text.hex()],
                         check=True, timeout=60, capture_output=True).stdout.decode("latin-1")
    words = out.split()
    assert words[0] == "font", out
    return bytes.fromhex(words[1]).decode("gbk"), int(words[3])


def close(desktop: str, exe_name: str, cls: str) -> int:
    """Does to the windows of class `cls` what their close box does; answers how many."""
    out = subprocess.run([WINE, "explorer", f"/desktop={desktop}", str(QINSPECT), "--close",
                          exe_name, cls], check=True, timeout=60,
                         capture_output=True).stdout.decode("latin-1")
    return int(out.split()[-1])
