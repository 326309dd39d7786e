#!/usr/bin/env python3
"""The benchmark behind docs/performance.md: extraction speed of the launcher against the bare
decode loop (the codec's ceiling in the same kind of process) and against NSIS installers of the
same files, start-up latency, memory, stub size, and the packaging tool's speed and output size.

    run_bench.py [--scale S] [--runs N] [--out docs]

Runs inside scripts/wine-env.sh (make bench does that). Every Windows program is timed as a whole
process under Wine, after a warm-up, with the tools in alternation (A B C D A B C D ...) so that a
drifting machine does not bias the ratios; each figure is the median with its min-max spread.
"""
import argparse
import os
import pathlib
import platform
import shutil
import statistics
import subprocess
import sys
import threading
import time

ROOT = pathlib.Path(__file__).resolve().parents[1]
HOST = ROOT / "build" / "host"
WIN = ROOT / "build" / "win32"
WORK = ROOT / "build" / "bench"
MIB = 1 << 20


def winpath(p):
    return "Z:" + str(pathlib.Path(p).resolve()).replace("/", "\\")


def sh(*cmd, **kw):
    return subprocess.run([str(c) for c in cmd], check=True, **kw)


def tree_size(d):
    return sum(p.stat().st_size for p in pathlib.Path(d).rglob("*") if p.is_file())


# --- inputs ----------------------------------------------------------------------------------

def make_corpus(scale):
    corpus = WORK / f"corpus-{scale}"
    if not (corpus / ".done").exists():
        shutil.rmtree(corpus, ignore_errors=True)
        sh(sys.executable, ROOT / "bench" / "gen_corpus.py", corpus / "all", "--scale", scale)
        for part, keep in (("comp", False), ("incomp", True)):
            for f in (corpus / "all").rglob("*"):
                if f.is_file() and (f.relative_to(corpus / "all").parts[0] == "RAW") == keep:
                    dst = corpus / part / f.relative_to(corpus / "all")
                    dst.parent.mkdir(parents=True, exist_ok=True)
                    os.link(f, dst)
        (corpus / ".done").touch()
    return corpus


# quillpack built without the sanitizers, as publishers run it (bench/quillpack-bench.sh makes it).
QUILLPACK = ROOT / "build" / "bench" / "tool" / "quillpack"


def build_tool():
    tool = QUILLPACK.parent
    if not (tool / "build.ninja").exists():
        sh("cmake", "-S", ROOT, "-B", tool, "-G", "Ninja", "-DCMAKE_BUILD_TYPE=Release",
           "-DQUILL_SANITIZE=OFF", "-DQUILL_BUILD_TESTS=OFF", f"-DQUILL_WIN32_BIN={WIN}",
           env={**os.environ, "CC": "clang", "CXX": "clang++"}, stdout=subprocess.DEVNULL)
    sh("cmake", "--build", tool, "--target", "quillpack", stdout=subprocess.DEVNULL)


def build_quill(src, out, jobs=None):
    cmd = [QUILLPACK, "build", "-q", "--no-setup", "-o", out]
    if jobs:
        cmd += ["-j", str(jobs)]
    t = time.perf_counter()
    sh(*cmd, src)
    return time.perf_counter() - t


def build_nsis(src, out, solid):
    script = out.with_suffix(".nsi")
    script.write_text(f"""Unicode true
SetCompressor {"/SOLID " if solid else ""}lzma
SetCompressorDictSize 8
OutFile "{out}"
RequestExecutionLevel user
SilentInstall silent
InstallDir "$TEMP\\nsisbench"
Section
  SetOutPath "$INSTDIR"
  File /r "{src}/*.*"
SectionEnd
""")
    sh("makensis", "-V1", script, stdout=subprocess.DEVNULL)


def build_setup_only(tmp):
    """A one-file package whose setup program exits at once, for start-up latency."""
    pkg = tmp / "onefile"
    pkg.mkdir(parents=True, exist_ok=True)
    shutil.copy(WIN / "bench" / "qbench_nop.exe", pkg / "SETUP.EXE")
    return pkg


# --- measuring -------------------------------------------------------------------------------

def anon_kib(pid):
    try:
        with open(f"/proc/{pid}/smaps_rollup") as f:
            for line in f:
                if line.startswith("Anonymous:"):
                    return int(line.split()[1])
    except OSError:
        pass
    return 0


def timed_run(cmd, cwd, sample_memory=False):
    """Runs a Windows program under Wine; answers (seconds, peak anonymous KiB)."""
    peak = [0]
    start = time.perf_counter()
    p = subprocess.Popen(["wine", *map(str, cmd)], cwd=cwd, stdout=subprocess.DEVNULL,
                         stderr=subprocess.DEVNULL)
    if sample_memory:
        def sample():
            while p.poll() is None:
                peak[0] = max(peak[0], anon_kib(p.pid))
                time.sleep(0.005)
        t = threading.Thread(target=sample)
        t.start()
    p.wait(timeout=900)
    elapsed = time.perf_counter() - start
    if sample_memory:
        t.join()
    if p.returncode != 0:
        raise RuntimeError(f"{cmd} exited with {p.returncode}")
    return elapsed, peak[0]


def fresh(d):
    shutil.rmtree(d, ignore_errors=True)
    d.mkdir(parents=True)
    return d


def fresh_with_dirs(d, like):
    """An empty copy of the directory tree of `like`: unpack mode creates no directories."""
    fresh(d)
    for sub in pathlib.Path(like).rglob("*"):
        if sub.is_dir():
            (d / sub.relative_to(like)).mkdir(parents=True, exist_ok=True)


def run_alternating(tools, runs, tree=None):
    """tools: name -> (command, cwd to clear). Returns name -> list of seconds. The launcher's
    directory gets the package's folders first (`tree`), as unpack mode expects."""
    times = {name: [] for name in tools}
    for round_ in range(runs + 1):  # round 0 is the warm-up
        for name, (cmd, cwd) in tools.items():
            if name == "launcher" and tree is not None:
                fresh_with_dirs(cwd, tree)
            else:
                fresh(cwd)
            seconds, _ = timed_run(cmd, cwd)
            if round_:
                times[name].append(seconds)
    return times


def summary(samples):
    return statistics.median(samples), min(samples), max(samples)


# --- main ------------------------------------------------------------------------------------

def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--scale", type=float, default=1.0)
    ap.add_argument("--runs", type=int, default=5)
    ap.add_argument("--out", default=str(ROOT / "docs"))
    args = ap.parse_args()
    WORK.mkdir(parents=True, exist_ok=True)
    build_tool()
    corpus = make_corpus(args.scale)
    inst = WORK / f"installers-{args.scale}"
    inst.mkdir(exist_ok=True)
    results = {"scale": args.scale, "runs": args.runs, "parts": {}}

    # Installers of each part of the corpus.
    pack_times = {}
    for part in ("all", "comp", "incomp"):
        q = inst / f"quill-{part}.exe"
        seconds = build_quill(corpus / part, q)
        if part == "all":
            pack_times["all-cores"] = seconds
        for solid in (True, False):
            n = inst / f"nsis-{'solid' if solid else 'nonsolid'}-{part}.exe"
            if not n.exists():
                build_nsis(corpus / part, n, solid)

    # Extraction: launcher (unpack mode, silent) against the bare loop and NSIS.
    out = WORK / "out"
    for part in ("all", "comp", "incomp"):
        size = tree_size(corpus / part)
        tools = {
            "launcher": ([inst / f"quill-{part}.exe", "-u", "-ms"], out / "launcher"),
            "bare loop": ([WIN / "bench" / "qbench_decode.exe", winpath(inst / f"quill-{part}.exe")],
                          out / "bare"),
            "NSIS solid": ([inst / f"nsis-solid-{part}.exe", "/S", "/D=" + winpath(out / "nsis")],
                           out / "nsis"),
            "NSIS non-solid": ([inst / f"nsis-nonsolid-{part}.exe", "/S",
                                "/D=" + winpath(out / "nsis")], out / "nsis"),
        }
        times = run_alternating(tools, args.runs, corpus / part)
        results["parts"][part] = {"bytes": size, "times": times}

    # Native 64-bit decoding of the same files with the same settings, for reference.
    native = WORK / "native"
    fresh(native)
    for f in (corpus / "all").rglob("*"):
        if f.is_file():
            with open(native / (f.name + ".lzma"), "wb") as o:
                sh("xz", "--format=lzma", "-6", "-c", f, stdout=o)
    samples = []
    for _ in range(args.runs):
        t = time.perf_counter()
        for f in native.iterdir():
            sh("xz", "--format=lzma", "-dc", f, stdout=subprocess.DEVNULL)
        samples.append(time.perf_counter() - t)
    results["native"] = samples
    results["xz_size"] = tree_size(native)
    results["quill_size"] = (inst / "quill-all.exe").stat().st_size
    results["nsis_sizes"] = {k: (inst / f"nsis-{k}-all.exe").stat().st_size
                             for k in ("solid", "nonsolid")}

    # Start-up latency on a one-file package: start to end of a setup program that exits at once.
    onefile = build_setup_only(WORK)
    build_quill(onefile, inst / "quill-onefile.exe")
    build_nsis(onefile, inst / "nsis-onefile.exe", False)
    temp = WORK / "temp"
    latency = run_alternating({
        "launcher": ([inst / "quill-onefile.exe", "-ms"], temp),
        "NSIS": ([inst / "nsis-onefile.exe", "/S", "/D=" + winpath(out / "nsis1")], out / "nsis1"),
    }, args.runs * 2)
    results["latency"] = latency

    # Peak private (anonymous) memory of the launcher extracting everything.
    peaks = []
    for _ in range(3):
        fresh_with_dirs(out / "launcher", corpus / "all")
        peaks.append(timed_run([inst / "quill-all.exe", "-u", "-ms"], out / "launcher", True)[1])
    results["peak_anon_kib"] = peaks

    # The packaging tool: one job against all cores.
    one = []
    many = []
    for _ in range(max(1, args.runs // 2)):
        one.append(build_quill(corpus / "all", inst / "quill-j1.exe", jobs=1))
        many.append(build_quill(corpus / "all", inst / "quill-jn.exe"))
    results["pack"] = {"one": one, "all": many, "cores": os.cpu_count()}
    results["stub_size"] = (WIN / "quillstub.exe").stat().st_size

    import report
    report.write(results, pathlib.Path(args.out), machine_description())


def machine_description():
    cpu = "unknown CPU"
    try:
        for line in open("/proc/cpuinfo"):
            if line.startswith("model name"):
                cpu = line.split(":", 1)[1].strip()
                break
    except OSError:
        pass
    wine = subprocess.run(["wine", "--version"], capture_output=True, text=True).stdout.strip()
    mem = os.sysconf("SC_PAGE_SIZE") * os.sysconf("SC_PHYS_PAGES") / (1 << 30)
    return f"{cpu}, {os.cpu_count()} cores, {mem:.0f} GiB, {platform.platform()}, {wine}"


if __name__ == "__main__":
    sys.path.insert(0, str(ROOT / "bench"))
    main()
