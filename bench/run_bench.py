#!/usr/bin/env python3
"""The benchmark behind docs/performance.md, for the launcher of one architecture: extraction
speed against the bare decode loop (the codec's ceiling in the same kind of process, built for
the same architecture) and against NSIS installers of the same files, start-up latency, memory,
stub size, and the packaging tool's speed and output size.

    run_bench.py [--arch x86|x64] [--scale S] [--runs N] [--out docs]

Runs inside scripts/wine-env.sh of the same architecture (scripts/bench.sh, which make bench
calls, runs it once for each architecture this machine can run). The architecture defaults to
that environment's. NSIS makes 32-bit installers only, so its comparison is left out, with the
reason in the report, where this machine cannot run 32-bit code. Every Windows program is timed
as a whole process under Wine, after a warm-up, with the tools in alternation (A B C D A B C D
...) so that a drifting machine does not bias the ratios; each figure is the median with its
min-max spread. The results also go to build/bench/results-ARCH.json, from which
`report.py --out DIR build/bench/results-ARCH.json` writes the report again.
"""
import argparse
import datetime
import json
import os
import pathlib
import platform
import shutil
import statistics
import subprocess
import sys
import threading
import time

from wine_arch import BUILDS, ROOT, WINE, wine_arch, winpath
WORK = ROOT / "build" / "bench"
MIB = 1 << 20



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
    # quillpack embeds both stubs. Configured every time: cheap, and a tree made before the
    # x64 stub existed learns where it is.
    tool = QUILLPACK.parent
    sh("cmake", "-S", ROOT, "-B", tool, "-G", "Ninja", "-DCMAKE_BUILD_TYPE=Release",
       "-DQUILL_SANITIZE=OFF", "-DQUILL_BUILD_TESTS=OFF", f"-DQUILL_WIN32_BIN={BUILDS['x86']}",
       f"-DQUILL_WIN64_BIN={BUILDS['x64']}",
       env={**os.environ, "CC": "clang", "CXX": "clang++"}, stdout=subprocess.DEVNULL)
    sh("cmake", "--build", tool, "--target", "quillpack", stdout=subprocess.DEVNULL)


def build_quill(arch, src, out, jobs=None, store="auto"):
    cmd = [QUILLPACK, "build", "-q", "--no-setup", "--arch", arch, "--store", store, "-o", out]
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


def build_setup_only(win, tmp):
    """A one-file package whose setup program, of the launcher's architecture, exits at once,
    for start-up latency."""
    pkg = fresh(tmp / "onefile")
    shutil.copy(win / "bench" / "qbench_nop.exe", pkg / "SETUP.EXE")
    return pkg


def x86_skip_reason():
    """None where this machine runs 32-bit code, else why not (scripts/arch.sh finds out)."""
    run_archs = os.environ.get("QUILL_RUN_ARCHS")
    reason = os.environ.get("QUILL_SKIP_REASON", "")
    if run_archs is None:  # not started by scripts/bench.sh: ask the same test it uses
        found = subprocess.run(
            ["bash", "-c", f"source '{ROOT}/scripts/arch.sh' && quill_detect_archs && "
                           "printf '%s\\n%s\\n' \"$QUILL_RUN_ARCHS\" \"$QUILL_SKIP_REASON\""],
            capture_output=True, text=True, check=True,
            env={**os.environ, "LC_ALL": "C"}).stdout.split("\n")  # wine-env's locale is zh_CN
        run_archs, reason = found[0], found[1]
    if "x86" in run_archs.split():
        return None
    return reason or "this machine cannot run 32-bit code"


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
    p = subprocess.Popen([WINE, *map(str, cmd)], cwd=cwd, stdout=subprocess.DEVNULL,
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


# The tools that write the package's files below their directory, as unpack mode does.
WRITERS = ("launcher", "bare loop + files", "launcher, all LZMA")


def run_alternating(tools, runs, tree=None):
    """tools: name -> (command, cwd to clear). Returns name -> list of seconds. The directory of
    a tool that writes the package's files gets the package's folders first (`tree`), as unpack
    mode expects."""
    times = {name: [] for name in tools}
    for round_ in range(runs + 1):  # round 0 is the warm-up
        for name, (cmd, cwd) in tools.items():
            if name in WRITERS and tree is not None:
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

def nsis_skip_reason(no_x86):
    """None where NSIS installers can be built and run here, else why not."""
    # NSIS makes 32-bit installers only.
    if no_x86:
        return f"NSIS makes 32-bit installers only, and {no_x86}"
    if not shutil.which("makensis"):
        return "makensis is not installed (scripts/install-deps.sh bench installs it)"
    return None


def build_installers(arch, corpus, inst, shared, no_nsis):
    """Installers of each part of the corpus: the launcher's as quillpack makes them (the files
    that do not compress stored) and with every file LZMA-encoded (--store never, as before
    stored entries existed), and NSIS's solid and non-solid."""
    for part in ("all", "comp", "incomp"):
        build_quill(arch, corpus / part, inst / f"quill-{part}.exe")
        build_quill(arch, corpus / part, inst / f"quill-lzma-{part}.exe", store="never")
        for solid in (True, False):
            n = shared / f"nsis-{'solid' if solid else 'nonsolid'}-{part}.exe"
            if not no_nsis and not n.exists():
                build_nsis(corpus / part, n, solid)


def measure_extraction(win, corpus, inst, shared, no_nsis, runs):
    """Extraction: launcher (unpack mode, silent) against the bare loop and NSIS; the launcher
    and the bare loop also over the installer without stored entries, and that loop also over
    the liblzma build the launcher carried before."""
    out = WORK / "out"
    parts = {}
    for part in ("all", "comp", "incomp"):
        size = tree_size(corpus / part)
        quill, lzma_only = winpath(inst / f"quill-{part}.exe"), winpath(inst / f"quill-lzma-{part}.exe")
        decode, baseline = win / "bench" / "qbench_decode.exe", win / "bench" / "qbench_decode_baseline.exe"
        tools = {
            "launcher": ([inst / f"quill-{part}.exe", "-u", "-ms"], out / "launcher"),
            "bare loop": ([decode, quill], out / "bare"),
            "bare loop + files": ([decode, "--write", quill], out / "barew"),
            "launcher, all LZMA": ([inst / f"quill-lzma-{part}.exe", "-u", "-ms"], out / "launcher"),
            "bare loop, all LZMA": ([decode, lzma_only], out / "bare"),
            "bare loop, all LZMA, 5.4.1 small": ([baseline, lzma_only], out / "bare"),
        }
        if not no_nsis:
            tools["NSIS solid"] = ([shared / f"nsis-solid-{part}.exe", "/S",
                                    "/D=" + winpath(out / "nsis")], out / "nsis")
            tools["NSIS non-solid"] = ([shared / f"nsis-nonsolid-{part}.exe", "/S",
                                        "/D=" + winpath(out / "nsis")], out / "nsis")
        times = run_alternating(tools, runs, corpus / part)
        parts[part] = {"bytes": size, "times": times}
    return parts


def measure_native(corpus, runs):
    """Native 64-bit decoding of the same files with the same settings, for reference: the
    times, and the size of the files compressed."""
    native = WORK / "native"
    fresh(native)
    for f in (corpus / "all").rglob("*"):
        if f.is_file():
            with open(native / (f.name + ".lzma"), "wb") as o:
                sh("xz", "--format=lzma", "-6", "-c", f, stdout=o)
    samples = []
    for _ in range(runs):
        t = time.perf_counter()
        for f in native.iterdir():
            sh("xz", "--format=lzma", "-dc", f, stdout=subprocess.DEVNULL)
        samples.append(time.perf_counter() - t)
    return samples, tree_size(native)


def measure_latency(arch, win, inst, no_nsis, runs):
    """Start-up latency on a one-file package: start to end of a setup program that exits at
    once."""
    out = WORK / "out"
    onefile = build_setup_only(win, WORK / arch)
    build_quill(arch, onefile, inst / "quill-onefile.exe")
    temp = WORK / "temp"
    starts = {"launcher": ([inst / "quill-onefile.exe", "-ms"], temp)}
    if not no_nsis:
        build_nsis(onefile, inst / "nsis-onefile.exe", False)
        starts["NSIS"] = ([inst / "nsis-onefile.exe", "/S", "/D=" + winpath(out / "nsis1")],
                          out / "nsis1")
    return run_alternating(starts, runs * 2)


def measure_memory(corpus, inst):
    """Peak private (anonymous) memory of the launcher extracting everything."""
    out = WORK / "out"
    peaks = []
    for _ in range(3):
        fresh_with_dirs(out / "launcher", corpus / "all")
        peaks.append(timed_run([inst / "quill-all.exe", "-u", "-ms"], out / "launcher", True)[1])
    return peaks


def measure_packing(arch, corpus, inst, runs):
    """The packaging tool: one job against all cores."""
    one = []
    many = []
    for _ in range(max(1, runs // 2)):
        one.append(build_quill(arch, corpus / "all", inst / "quill-j1.exe", jobs=1))
        many.append(build_quill(arch, corpus / "all", inst / "quill-jn.exe"))
    return {"one": one, "all": many, "cores": os.cpu_count()}


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--arch", choices=sorted(BUILDS))
    ap.add_argument("--scale", type=float, default=1.0)
    ap.add_argument("--runs", type=int, default=5)
    ap.add_argument("--out", default=str(ROOT / "docs"))
    args = ap.parse_args()
    arch = wine_arch(args.arch, "it (make bench does)")
    win = BUILDS[arch]
    no_x86 = x86_skip_reason()
    no_nsis = nsis_skip_reason(no_x86)
    WORK.mkdir(parents=True, exist_ok=True)
    build_tool()
    # The bare loop over the liblzma the launcher carried before (bench/CMakeLists.txt).
    sh("cmake", "--build", win, "--target", "qbench_decode_baseline", stdout=subprocess.DEVNULL)
    corpus = make_corpus(args.scale)
    # NSIS installers are the same for both architectures; the launcher's are not.
    shared = WORK / f"installers-{args.scale}"
    inst = WORK / f"installers-{arch}-{args.scale}"
    shared.mkdir(exist_ok=True)
    inst.mkdir(exist_ok=True)
    results = {"arch": arch, "scale": args.scale, "runs": args.runs, "parts": {},
               "date": datetime.date.today().isoformat(), "machine": machine_description(),
               "x86_skipped": no_x86, "nsis_skipped": no_nsis}

    build_installers(arch, corpus, inst, shared, no_nsis)
    results["parts"] = measure_extraction(win, corpus, inst, shared, no_nsis, args.runs)
    results["native"], results["xz_size"] = measure_native(corpus, args.runs)
    results["quill_size"] = (inst / "quill-all.exe").stat().st_size
    results["quill_size_lzma"] = (inst / "quill-lzma-all.exe").stat().st_size
    if not no_nsis:
        results["nsis_sizes"] = {k: (shared / f"nsis-{k}-all.exe").stat().st_size
                                 for k in ("solid", "nonsolid")}
    results["latency"] = measure_latency(arch, win, inst, no_nsis, args.runs)
    results["peak_anon_kib"] = measure_memory(corpus, inst)
    results["pack"] = measure_packing(arch, corpus, inst, args.runs)
    results["stub_size"] = (win / "quillstub.exe").stat().st_size

    (WORK / f"results-{arch}.json").write_text(json.dumps(results, indent=1))
    import report
    report.write(results, pathlib.Path(args.out))


def machine_description():
    cpu = "unknown CPU"
    try:
        for line in open("/proc/cpuinfo"):
            if line.startswith("model name"):
                cpu = line.split(":", 1)[1].strip()
                break
    except OSError:
        pass
    wine = subprocess.run([WINE, "--version"], capture_output=True, text=True).stdout.strip()
    mem = os.sysconf("SC_PAGE_SIZE") * os.sysconf("SC_PHYS_PAGES") / (1 << 30)
    return f"{cpu}, {os.cpu_count()} cores, {mem:.0f} GiB, {platform.platform()}, {wine}"


if __name__ == "__main__":
    sys.path.insert(0, str(ROOT / "bench"))
    main()
