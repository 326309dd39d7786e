#!/usr/bin/env python3
"""Finds, under Wine, the largest package the 32-bit launcher loads and extracts whole.

Packages are made of one incompressible entry (random bytes, encoded once with the shipped 8 MiB
dictionary) repeated N times by qreplicate; each is run with "-u" into an empty directory through
qdriver, which presses any message box. A package counts as good when the launcher exits 0 with
no message and every entry is on disk at its full size. N is bisected between 1 and the count at
which the image would pass 2 GiB.

  scripts/wine-env.sh bench/package-limit.py [--entry-mib 32] [--work DIR]

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

ROOT = pathlib.Path(__file__).resolve().parents[1]
HOST = ROOT / "build" / "host"
WIN32 = ROOT / "build" / "win32"


def winpath(path) -> str:
    return "Z:" + str(pathlib.Path(path).resolve()).replace("/", "\\")


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


def try_count(work: pathlib.Path, entry: pathlib.Path, count: int, plain_size: int) -> str:
    exe, out = work / "package.exe", work / "out"
    shutil.rmtree(out, ignore_errors=True)
    out.mkdir()
    made = subprocess.run([str(HOST / "qreplicate"), str(WIN32 / "quillstub.exe"), str(entry),
                           str(count), str(exe)], capture_output=True, text=True)
    if made.returncode != 0:
        return "not built: " + made.stderr.strip()
    size = exe.stat().st_size
    request, result = work / "request.txt", work / "result.txt"
    result.unlink(missing_ok=True)
    request.write_text(f"exe={winpath(exe)}\nargs={b'-u -ms'.hex()}\ncwd={winpath(out)}\n"
                       f"temp={winpath(work)}\ntimeout_ms=900000\n", encoding="latin-1")
    started = time.monotonic()
    subprocess.run(["wine", str(WIN32 / "tests" / "qdriver.exe"), winpath(request),
                    winpath(result)], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                   timeout=1000)
    seconds = time.monotonic() - started
    lines = result.read_text(encoding="latin-1").splitlines() if result.exists() else []
    files = sorted(out.iterdir())
    whole = len(files) == count and all(f.stat().st_size == plain_size for f in files)
    shutil.rmtree(out, ignore_errors=True)
    exe.unlink()
    verdict = "good" if lines == ["exit 0"] and whole else "bad"
    return f"{verdict}: image {size} bytes ({size / 2**20:.0f} MiB), {len(files)} files, " \
           f"{' | '.join(lines) or 'no result'}, {seconds:.0f} s"


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--entry-mib", type=int, default=32)
    parser.add_argument("--work", type=pathlib.Path)
    args = parser.parse_args()
    if not os.environ.get("QUILL_WINE_ENV"):
        sys.exit("run it inside scripts/wine-env.sh")
    subprocess.run(["cmake", "--build", str(HOST), "--target", "qreplicate", "qencode"],
                   check=True, stdout=subprocess.DEVNULL)
    work = args.work or pathlib.Path(tempfile.mkdtemp(prefix="quill-limit-"))
    work.mkdir(parents=True, exist_ok=True)
    try:
        entry = make_entry(work, args.entry_mib)
        plain = args.entry_mib << 20
        good, bad = 1, (2048 // args.entry_mib) + 1
        print(f"entry: {args.entry_mib} MiB of random bytes, {entry.stat().st_size} bytes stored")
        first = try_count(work, entry, good, plain)
        print(f"  {good:4} entries: {first}", flush=True)
        if not first.startswith("good"):
            sys.exit("even one entry fails")
        while bad - good > 1:
            mid = (good + bad) // 2
            verdict = try_count(work, entry, mid, plain)
            print(f"  {mid:4} entries: {verdict}", flush=True)
            if verdict.startswith("good"):
                good = mid
            else:
                bad = mid
        print(f"largest good package: {good} entries of {args.entry_mib} MiB "
              f"(about {good * entry.stat().st_size / 2**20:.0f} MiB stored); "
              f"{bad} entries fail")
    finally:
        if not args.work:
            shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    main()
