#!/usr/bin/env python3
"""Finds, under Wine, the largest package the launcher of one architecture loads and extracts whole.

Packages are made of one incompressible entry (random bytes, encoded once with the shipped 8 MiB
dictionary) repeated N times by qreplicate; each is run with "-u" into an empty directory through
that architecture's qdriver, which presses any message box. A package counts as good when the
launcher exits 0 with no message and every entry is on disk at its full size. N is bisected
between 1 and the count at which the image would pass 2 GiB, the most a PE image can be for
either architecture: quillpack's resource writer (which qreplicate uses, without quillpack's
own smaller size limit) refuses images of 0x7FFF0000 bytes or more, and such a count is "not
built". When the bisection ends on one of those, the writer's limit came first, not Wine's.

  scripts/wine-env.sh [--arch x86|x64] /usr/bin/python3 bench/package-limit.py \
      [--arch x86|x64] [--entry-mib 32] [--work DIR]

The architecture defaults to wine-env.sh's (x86 where this machine runs 32-bit code, else x64).

Files of several GiB are made in DIR (default: a fresh temporary directory), none in the
repository; a fresh DIR is removed at the end, a given one keeps only the encoded entry.
"""
import argparse
import os
import pathlib
import shutil
import subprocess
import sys
import tempfile
import time

from wine_arch import BUILDS, ROOT, WINE, wine_arch, winpath

HOST = ROOT / "build" / "host"



def make_entry(work: pathlib.Path, mib: int) -> pathlib.Path:
    plain, entry = work / "random.bin", work / f"entry-{mib}.bin"
    if entry.exists():  # kept from an earlier run with the same --work
        return entry
    with open(plain, "wb") as f:
        for _ in range(mib):
            f.write(os.urandom(1 << 20))
    subprocess.run([str(HOST / "qencode"), "--preset", "0", "--dict", str(0x800000), str(plain),
                    str(entry)], check=True)
    plain.unlink()
    return entry


def try_count(win: pathlib.Path, work: pathlib.Path, entry: pathlib.Path, count: int,
              plain_size: int) -> str:
    exe, out = work / "package.exe", work / "out"
    shutil.rmtree(out, ignore_errors=True)
    out.mkdir()
    made = subprocess.run([str(HOST / "qreplicate"), str(win / "quillstub.exe"), str(entry),
                           str(count), str(exe)], capture_output=True, text=True)
    if made.returncode != 0:
        exe.unlink(missing_ok=True)
        return "not built: " + made.stderr.strip()
    size = exe.stat().st_size
    request, result = work / "request.txt", work / "result.txt"
    result.unlink(missing_ok=True)
    request.write_text(f"exe={winpath(exe)}\nargs={b'-u -ms'.hex()}\ncwd={winpath(out)}\n"
                       f"temp={winpath(work)}\ntimeout_ms=900000\n", encoding="latin-1")
    started = time.monotonic()
    subprocess.run([WINE, str(win / "tests" / "qdriver.exe"), winpath(request),
                    winpath(result)], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                   timeout=1000)
    seconds = time.monotonic() - started
    lines = result.read_text(encoding="latin-1").splitlines() if result.exists() else []
    files = sorted(out.iterdir())
    whole = len(files) == count and all(f.stat().st_size == plain_size for f in files)
    shutil.rmtree(out, ignore_errors=True)
    exe.unlink()
    # The driver's last line is "exit CODE MS" when the launcher ended by itself.
    exited = len(lines) == 1 and lines[0].split()[:2] == ["exit", "0"]
    verdict = "good" if exited and whole else "bad"
    return f"{verdict}: image {size} bytes ({size / 2**20:.0f} MiB), {len(files)} files, " \
           f"{' | '.join(lines) or 'no result'}, {seconds:.0f} s"


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--arch", choices=sorted(BUILDS))
    parser.add_argument("--entry-mib", type=int, default=32)
    parser.add_argument("--work", type=pathlib.Path)
    args = parser.parse_args()
    arch = wine_arch(args.arch)
    win = BUILDS[arch]
    subprocess.run(["cmake", "--build", str(HOST), "--target", "qreplicate", "qencode"],
                   check=True, stdout=subprocess.DEVNULL)
    work = args.work or pathlib.Path(tempfile.mkdtemp(prefix="quill-limit-"))
    work.mkdir(parents=True, exist_ok=True)
    try:
        entry = make_entry(work, args.entry_mib)
        plain = args.entry_mib << 20
        good, bad = 1, (2048 // args.entry_mib) + 1
        print(f"{arch} launcher {win / 'quillstub.exe'}; entry: {args.entry_mib} MiB of random "
              f"bytes, {entry.stat().st_size} bytes stored")
        first = try_count(win, work, entry, good, plain)
        print(f"  {good:4} entries: {first}", flush=True)
        if not first.startswith("good"):
            sys.exit("even one entry fails")
        unbuilt = True  # the upper bound is never built: it is past 2 GiB
        best = first
        while bad - good > 1:
            mid = (good + bad) // 2
            verdict = try_count(win, work, entry, mid, plain)
            print(f"  {mid:4} entries: {verdict}", flush=True)
            if verdict.startswith("good"):
                good, best = mid, verdict
            else:
                bad = mid
                unbuilt = verdict.startswith("not built")
        print(f"largest good package: {good} entries of {args.entry_mib} MiB "
              f"(about {good * entry.stat().st_size / 2**20:.0f} MiB stored); "
              f"{bad} entries fail; largest good {best.split(', ')[0].removeprefix('good: ')}")
        if unbuilt:
            print(f"{bad} entries exceed what a PE image can hold: the {arch} launcher under Wine "
                  "loaded every image the writer can make")
    finally:
        if not args.work:
            shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    main()
