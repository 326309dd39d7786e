"""Writes docs/performance.md and docs/performance.png from the benchmark's results.

The file has one section per architecture's launcher, each between `<!-- bench:KEY -->` and
`<!-- /bench:KEY -->` and labelled with its machine and date. A run rewrites the general part at
the top and its own architecture's section; every other section (the other architecture's, and
earlier figures kept by hand under a key of their own) stays as it is. Each section carries its
extraction figures in a `<!-- chart ... -->` line, from which the chart draws one panel per
section.

    report.py [--out DIR] [RESULTS.json ...]

writes the sections of the given results (build/bench/results-ARCH.json, which run_bench.py
leaves), redraws the chart from every section in DIR/performance.md (default docs) and prints
each section's heading and target line.
"""
import argparse
import json
import pathlib
import re
import statistics

MB = 1e6
TARGET = 1.05  # launcher time at most this many times the bare loop's
BASELINE = "bare loop, all LZMA, 5.4.1 small"
# The decoder built for speed against the small build it replaced (bare loops, whole corpus), and
# the launcher against NSIS non-solid on the compressible part: at least this much faster.
CODEC_TARGET = {"x86": 1.1, "x64": 1.4}
NSIS_TARGET = {"x86": 1.4, "x64": 1.8}
MEMORY_HEADROOM_MIB = 4  # peak private memory at most the 8 MiB dictionary and this much
LABELS = {"all": "whole corpus", "comp": "compressible part", "incomp": "incompressible part"}
ALL_TOOLS = ["launcher", "bare loop", "bare loop + files", "launcher, all LZMA",
             "bare loop, all LZMA", BASELINE, "NSIS solid", "NSIS non-solid"]
# Stored entries: the launcher on the incompressible part at least this much faster than with
# every file LZMA-encoded, and its installer at most this much larger.
STORED_SPEEDUP = 4.0
STORED_SIZE_GROWTH = 0.005
ARCH_ORDER = ["x86", "x64"]
ARCH_NAMES = {"x86": "x86 launcher (32-bit, build/win32)",
              "x64": "x64 launcher (64-bit, build/win64)"}
SECTION = re.compile(r"<!-- bench:(?P<key>[\w.-]+) -->\n.*?<!-- /bench:(?P=key) -->\n",
                     re.DOTALL)
CHART = re.compile(r"^<!-- chart (?P<data>\{.*\}) -->$", re.MULTILINE)

HEADER = """# Performance

Measured by `make bench`: scripts/bench.sh runs bench/run_bench.py once for each architecture
whose launcher this machine can run under Wine, and bench/report.py writes this file. Every
Windows program runs under Wine as a whole process, timed from its start to its end after a
warm-up run, with the tools in alternation; each figure is the median of the runs with the
minimum and maximum in brackets.

Each section below is one architecture's launcher, labelled with the machine and the date of its
run; a new run replaces only the section of its own architecture. The target in every section:
the launcher takes at most 1.05 times as long as the bare decode loop of its own architecture.

Corpus: bench/gen_corpus.py (fixed seeds; the scale is given per section): large code-like
binaries, text, a few hundred small files, and incompressible data (the RAW folder), timed whole
and as its compressible and incompressible parts.

The launcher runs in unpack mode (`-u -ms`: every entry into the current directory, no window).
The bare loop (bench/qbench_decode.exe of the same build) decodes the same entries with the same
liblzma build in 64 KiB chunks (a stored entry as the launcher copies it) and discards the
output, in a process of the launcher's own architecture; with `--write` ("bare loop + files") it
also creates and writes each entry's file as the launcher does, which separates the cost of the
files from the launcher's own. "all LZMA" runs over the same files packed with `--store never`,
every file LZMA-encoded as before stored entries existed; the same loop over it with the liblzma
the launcher carried before (Debian 12's xz-utils 5.4.1, built as liblzma's small variant:
bench/qbench_decode_baseline.exe) shows what building the decoder for speed gained. The NSIS
installers (LZMA, 8 MiB dictionary; NSIS makes 32-bit installers only)
extract silently into a fresh directory; they are measured only where this machine runs 32-bit
code.

![Extraction throughput, one panel per section below](performance.png)
"""


def med(xs):
    return statistics.median(xs)


def spread(xs):
    return f"{med(xs):.2f} s ({min(xs):.2f}-{max(xs):.2f})"


def mbps(size, xs):
    return size / MB / med(xs)


def target_line(ratios):
    """ratios: label -> launcher / bare loop."""
    over = [f"{label} {ratio:.3f}" for label, ratio in ratios.items() if ratio > TARGET]
    line = f"Target (launcher time ≤ {TARGET} × bare loop): "
    if not over:
        return line + "met on every part."
    if len(over) == len(ratios):
        return line + "not met on any part: " + ", ".join(over) + "."
    return line + "not met on " + ", ".join(over) + "; met on the rest."


def verdict(value, target, better="higher"):
    met = value >= target if better == "higher" else value <= target
    return "met" if met else "**not met**"


def goal_lines(r, tools):
    """The targets beyond the launcher's own overhead, each with its figure."""
    arch, parts = r["arch"], r["parts"]
    lines = []
    if BASELINE in tools:
        gains = {LABELS[p]: med(d["times"][BASELINE]) / med(d["times"]["bare loop, all LZMA"])
                 for p, d in parts.items()}
        whole = gains[LABELS["all"]]
        lines += ["Decoder built for speed: the bare loop over liblzma 5.8.1 against the same loop "
                  "over the 5.4.1 small build is " +
                  ", ".join(f"{g:.2f}x as fast on the {label}" for label, g in gains.items()) +
                  f"; target at least {CODEC_TARGET[arch]}x on the whole corpus: "
                  f"{verdict(whole, CODEC_TARGET[arch])}.", ""]
    if "NSIS non-solid" in tools:
        t = parts["comp"]["times"]
        faster = med(t["NSIS non-solid"]) / med(t["launcher"])
        lines += [f"Against NSIS non-solid on the compressible part the launcher is {faster:.2f}x as "
                  f"fast; target at least {NSIS_TARGET[arch]}x: {verdict(faster, NSIS_TARGET[arch])}.",
                  ""]
    if "launcher, all LZMA" in tools:
        t = parts["incomp"]["times"]
        gain = med(t["launcher, all LZMA"]) / med(t["launcher"])
        line = (f"Stored entries: on the incompressible part the launcher is {gain:.2f}x as fast as "
                f"with every file LZMA-encoded (target at least {STORED_SPEEDUP:g}x: "
                f"{verdict(gain, STORED_SPEEDUP)})")
        if "NSIS non-solid" in tools:
            vs = med(t["NSIS non-solid"]) / med(t["launcher"])
            whole = parts["all"]["times"]
            vs_solid = med(whole["NSIS solid"]) / med(whole["launcher"])
            vs_non = med(whole["NSIS non-solid"]) / med(whole["launcher"])
            line += (f" and {vs:.2f}x as fast as NSIS non-solid there (target at least 1x: "
                     f"{verdict(vs, 1.0)}); on the whole corpus {vs_non:.2f}x as fast as NSIS "
                     f"non-solid and {vs_solid:.2f}x as fast as NSIS solid (targets above 1x: "
                     f"{verdict(min(vs_non, vs_solid), 1.0 + 1e-9)})")
        growth = r["quill_size"] / r["quill_size_lzma"] - 1
        line += (f". The installer of the whole corpus is {r['quill_size'] / MB:.1f} MB against "
                 f"{r['quill_size_lzma'] / MB:.1f} MB with every file LZMA-encoded "
                 f"({growth * 100:+.2f} %; target at most +{STORED_SIZE_GROWTH * 100:g} %: "
                 f"{verdict(growth, STORED_SIZE_GROWTH, 'lower')}).")
        lines += [line, ""]
    if "bare loop + files" in tools:
        lines += ["Where the launcher's time goes (medians): " + "; ".join(
            f"{LABELS[p]}: decoding {med(d['times']['bare loop']):.2f} s, creating and writing the "
            f"files {med(d['times']['bare loop + files']) - med(d['times']['bare loop']):+.2f} s, "
            f"the launcher's own work (start-up included) "
            f"{med(d['times']['launcher']) - med(d['times']['bare loop + files']):+.2f} s"
            for p, d in parts.items()) + ".", ""]
    peak = max(r["peak_anon_kib"]) / 1024
    limit = 8 + MEMORY_HEADROOM_MIB
    lines += [f"Peak private memory {peak:.1f} MiB; target at most the 8 MiB dictionary + "
              f"{MEMORY_HEADROOM_MIB} MiB = {limit} MiB: {verdict(peak, limit, 'lower')}.", ""]
    return lines


def section(r):
    """The section of one run, markers included."""
    arch, parts = r["arch"], r["parts"]
    tools = [t for t in ALL_TOOLS if t in next(iter(parts.values()))["times"]]
    nsis = "NSIS solid" in tools
    lines = [f"<!-- bench:{arch} -->", f"## {ARCH_NAMES[arch]}, {r['date']}", "",
             f"Machine: {r['machine']}.", "",
             f"Corpus scale {r['scale']}; each figure is the median of {r['runs']} "
             f"run{'s' if r['runs'] != 1 else ''}.", ""]
    if r.get("nsis_skipped"):
        lines += [f"NSIS comparison skipped: {r['nsis_skipped']}.", ""]
    if r.get("x86_skipped") and arch != "x86":
        lines += ["The x86 launcher was not measured on this machine, for the same reason.", ""]
    lines += ["### Extraction", "",
              "| data | size | " + " | ".join(tools) + " |",
              "|---|---|" + "---|" * len(tools)]
    for part, data in parts.items():
        size = data["bytes"]
        cells = [f"{spread(data['times'][t])}, {mbps(size, data['times'][t]):.1f} MB/s"
                 for t in tools]
        lines.append(f"| {LABELS[part]} | {size / MB:.1f} MB | " + " | ".join(cells) + " |")
    others = [t for t in tools if t != "launcher"]
    lines += ["", "Ratios of medians (time of the launcher divided by the time of the other):", "",
              "| data | " + " | ".join(f"launcher / {t}" for t in others) + " |",
              "|---|" + "---|" * len(others)]
    ratios = {}
    for part, data in parts.items():
        t = data["times"]
        ratios[LABELS[part]] = med(t["launcher"]) / med(t["bare loop"])
        lines.append(f"| {LABELS[part]} | " +
                     " | ".join(f"{med(t['launcher']) / med(t[o]):.3f}" for o in others) + " |")
    native = r["native"]
    lines += ["", target_line(ratios), ""] + goal_lines(r, tools) + [
              "Native 64-bit `xz --format=lzma -d` over the same files compressed with the same",
              f"settings: {spread(native)}, {parts['all']['bytes'] / MB / med(native):.1f} MB/s.", "",
              "### Start-up, memory, size", "",
              "| figure | value |", "|---|---|",
              f"| start to end of a one-file package whose setup program exits at once, launcher `-ms` | {spread(r['latency']['launcher'])} |"]
    if nsis:
        lines.append(f"| the same for a one-file NSIS installer | {spread(r['latency']['NSIS'])} |")
    lines += [f"| launcher's peak anonymous (private) memory while extracting the corpus | {max(r['peak_anon_kib']) / 1024:.1f} MiB (runs: {', '.join(f'{k / 1024:.1f}' for k in r['peak_anon_kib'])}) |",
              f"| stub size (quillstub.exe with all its resources) | {r['stub_size']} bytes ({r['stub_size'] / 1024:.1f} KiB) |",
              f"| installer of the whole corpus | {r['quill_size'] / MB:.1f} MB |",
              f"| per-file `xz --format=lzma -6` of the same files | {r['xz_size'] / MB:.1f} MB |"]
    if nsis:
        lines.append(f"| NSIS solid / non-solid installers | {r['nsis_sizes']['solid'] / MB:.1f} MB / {r['nsis_sizes']['nonsolid'] / MB:.1f} MB |")
    lines += ["", "### Packaging", "",
              f"`quillpack build --arch {arch}` of the whole corpus ({parts['all']['bytes'] / MB:.1f} MB):", "",
              "| jobs | time | throughput |", "|---|---|---|",
              f"| 1 | {spread(r['pack']['one'])} | {mbps(parts['all']['bytes'], r['pack']['one']):.1f} MB/s |",
              f"| {r['pack']['cores']} (all cores) | {spread(r['pack']['all'])} | {mbps(parts['all']['bytes'], r['pack']['all']):.1f} MB/s |",
              "", f"Speed-up with all cores: {med(r['pack']['one']) / med(r['pack']['all']):.2f}x.", ""]
    # Sections may come from different machines: the panel names the processor.
    chart_data = {"title": f"{arch}, {r['date']}\n{r['machine'].split(',')[0]}",
                  "parts": {LABELS[p]: {t: round(mbps(d["bytes"], d["times"][t]), 2) for t in tools}
                            for p, d in parts.items()}}
    lines += [f"<!-- chart {json.dumps(chart_data, ensure_ascii=False)} -->",
              f"<!-- /bench:{arch} -->", ""]
    return "\n".join(lines)


def read_sections(path: pathlib.Path):
    """key -> text of every section already in the file, in their order there."""
    if not path.exists():
        return {}
    return {m["key"]: m[0] for m in SECTION.finditer(path.read_text())}


def write_file(path: pathlib.Path, sections):
    keys = [k for k in ARCH_ORDER if k in sections] + [k for k in sections if k not in ARCH_ORDER]
    path.write_text(HEADER + "\n" + "\n".join(sections[k] for k in keys))


def write(r, out: pathlib.Path):
    """Puts the section of one run into out/performance.md and redraws out/performance.png."""
    out.mkdir(parents=True, exist_ok=True)
    sections = read_sections(out / "performance.md")
    sections[r["arch"]] = section(r)
    write_file(out / "performance.md", sections)
    chart(out / "performance.md", out / "performance.png")


def chart(md: pathlib.Path, png: pathlib.Path):
    import matplotlib
    matplotlib.use("Agg")
    import matplotlib.pyplot as plt
    panels = [json.loads(m["data"]) for m in CHART.finditer(md.read_text())]
    if not panels:
        return
    fig, axes = plt.subplots(1, len(panels), figsize=(7 * len(panels), 4), dpi=100, sharey=True,
                             squeeze=False)
    for ax, panel in zip(axes[0], panels):
        parts = list(panel["parts"])
        tools = [t for t in ALL_TOOLS if t in panel["parts"][parts[0]]]
        width = 0.8 / len(tools)
        for i, tool in enumerate(tools):
            # Colours by tool, the same in every panel whatever was skipped.
            ax.bar([x + i * width for x in range(len(parts))],
                   [panel["parts"][p][tool] for p in parts], width, label=tool,
                   color=f"C{ALL_TOOLS.index(tool)}")
        ax.set_xticks([x + width * (len(tools) - 1) / 2 for x in range(len(parts))])
        ax.set_xticklabels(parts)
        ax.set_title(panel["title"])
        ax.legend()
    axes[0][0].set_ylabel("MB/s (median)")
    fig.suptitle("Extraction throughput under Wine")
    fig.tight_layout()
    fig.savefig(png)
    plt.close(fig)


def summary(md: pathlib.Path):
    for line in md.read_text().splitlines():
        if line.startswith(("## ", "NSIS comparison skipped", "Target", "Decoder built",
                             "Against NSIS", "Peak private", "Where the launcher",
                             "Stored entries")):
            print(("" if line.startswith("## ") else "  ") + line.removeprefix("## "))


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--out", default=str(pathlib.Path(__file__).resolve().parents[1] / "docs"))
    ap.add_argument("results", nargs="*", type=pathlib.Path)
    args = ap.parse_args()
    out = pathlib.Path(args.out)
    for path in args.results:
        write(json.loads(path.read_text()), out)
    if not (out / "performance.md").exists():
        raise SystemExit(f"no {out / 'performance.md'}")
    chart(out / "performance.md", out / "performance.png")
    summary(out / "performance.md")


if __name__ == "__main__":
    main()
