"""Writes docs/performance.md and docs/performance.png from the benchmark's results."""
import pathlib
import statistics

MB = 1e6


def med(xs):
    return statistics.median(xs)


def spread(xs):
    return f"{med(xs):.2f} s ({min(xs):.2f}-{max(xs):.2f})"


def mbps(size, xs):
    return size / MB / med(xs)


def write(r, out: pathlib.Path, machine: str):
    out.mkdir(parents=True, exist_ok=True)
    parts = r["parts"]
    labels = {"all": "whole corpus", "comp": "compressible part", "incomp": "incompressible part"}
    tools = ["launcher", "bare loop", "NSIS solid", "NSIS non-solid"]
    lines = ["# Performance", "",
             "Measured by `make bench` (bench/run_bench.py). Every Windows program runs under Wine as a",
             "whole process, timed from its start to its end after a warm-up run, with the tools in",
             f"alternation; each figure is the median of {r['runs']} runs with the minimum and maximum in",
             "brackets.", "", f"Machine: {machine}.", "",
             f"Corpus: bench/gen_corpus.py at scale {r['scale']} (fixed seeds): large code-like binaries,",
             "text, a few hundred small files, and incompressible data (the RAW folder).", "",
             "## Extraction", "",
             "The launcher runs in unpack mode (`-u -ms`: every entry into the current directory, no",
             "window); the bare loop decodes the same entries with the same liblzma build in 64 KiB",
             "chunks and discards the output; the NSIS installers (LZMA, 8 MiB dictionary) extract",
             "silently into a fresh directory.", ""]
    lines += ["| data | size | " + " | ".join(tools) + " |",
              "|---|---|" + "---|" * len(tools)]
    for part, data in parts.items():
        size = data["bytes"]
        cells = [f"{spread(data['times'][t])}, {mbps(size, data['times'][t]):.1f} MB/s" for t in tools]
        lines.append(f"| {labels[part]} | {size / MB:.1f} MB | " + " | ".join(cells) + " |")
    lines += ["", "Ratios of medians (time of the launcher divided by the time of the other):", "",
              "| data | launcher / bare loop | launcher / NSIS solid | launcher / NSIS non-solid |",
              "|---|---|---|---|"]
    for part, data in parts.items():
        t = data["times"]
        lines.append(f"| {labels[part]} | {med(t['launcher']) / med(t['bare loop']):.3f} | "
                     f"{med(t['launcher']) / med(t['NSIS solid']):.3f} | "
                     f"{med(t['launcher']) / med(t['NSIS non-solid']):.3f} |")
    native = r["native"]
    lines += ["", f"Native 64-bit `xz --format=lzma -d` over the same files compressed with the same",
              f"settings: {spread(native)}, {parts['all']['bytes'] / MB / med(native):.1f} MB/s.", "",
              "## Start-up, memory, size", "",
              "| figure | value |", "|---|---|",
              f"| start to end of a one-file package whose setup program exits at once, launcher `-ms` | {spread(r['latency']['launcher'])} |",
              f"| the same for a one-file NSIS installer | {spread(r['latency']['NSIS'])} |",
              f"| launcher's peak anonymous (private) memory while extracting the corpus | {max(r['peak_anon_kib']) / 1024:.1f} MiB (runs: {', '.join(f'{k / 1024:.1f}' for k in r['peak_anon_kib'])}) |",
              f"| stub size (quillstub.exe with all its resources) | {r['stub_size']} bytes ({r['stub_size'] / 1024:.1f} KiB) |",
              f"| installer of the whole corpus | {r['quill_size'] / MB:.1f} MB |",
              f"| per-file `xz --format=lzma -6` of the same files | {r['xz_size'] / MB:.1f} MB |",
              f"| NSIS solid / non-solid installers | {r['nsis_sizes']['solid'] / MB:.1f} MB / {r['nsis_sizes']['nonsolid'] / MB:.1f} MB |",
              "", "## Packaging", "",
              f"`quillpack build` of the whole corpus ({parts['all']['bytes'] / MB:.1f} MB):", "",
              "| jobs | time | throughput |", "|---|---|---|",
              f"| 1 | {spread(r['pack']['one'])} | {mbps(parts['all']['bytes'], r['pack']['one']):.1f} MB/s |",
              f"| {r['pack']['cores']} (all cores) | {spread(r['pack']['all'])} | {mbps(parts['all']['bytes'], r['pack']['all']):.1f} MB/s |",
              "", f"Speed-up with all cores: {med(r['pack']['one']) / med(r['pack']['all']):.2f}x.", "",
              "![Extraction throughput](performance.png)", ""]
    (out / "performance.md").write_text("\n".join(lines))
    chart(r, out / "performance.png", tools, labels)


def chart(r, path, tools, labels):
    import matplotlib
    matplotlib.use("Agg")
    import matplotlib.pyplot as plt
    parts = list(r["parts"])
    fig, ax = plt.subplots(figsize=(8, 4), dpi=100)
    width = 0.8 / len(tools)
    for i, tool in enumerate(tools):
        values = [mbps(r["parts"][p]["bytes"], r["parts"][p]["times"][tool]) for p in parts]
        ax.bar([x + i * width for x in range(len(parts))], values, width, label=tool)
    ax.set_xticks([x + width * (len(tools) - 1) / 2 for x in range(len(parts))])
    ax.set_xticklabels([labels[p] for p in parts])
    ax.set_ylabel("MB/s (median)")
    ax.set_title("Extraction throughput under Wine")
    ax.legend()
    fig.tight_layout()
    fig.savefig(path)
