#!/usr/bin/env python3
"""Writes a deterministic corpus that looks like an application package.

    gen_corpus.py OUTDIR [--scale 1.0]

About 200 MiB at scale 1: a few large binaries with code-like statistics, documentation and
configuration text, a fifth of the bytes incompressible (already compressed media and archives),
and a few hundred small files. Fixed seeds: the same bytes on every machine and every run.
Files whose names start with "RAW" hold the incompressible data, so the benchmark can time the
compressible and incompressible parts separately.
"""
import argparse
import pathlib

import numpy as np

MIB = 1 << 20


def code_like(rng, size):
    """Bytes with the skew of machine code: a small alphabet of frequent opcodes and operands,
    short repeated sequences, and little-endian addresses that change slowly."""
    alphabet = np.array([0x00, 0x8B, 0x89, 0xFF, 0xE8, 0x48, 0x83, 0xC4, 0x24, 0x45, 0x0F, 0x85,
                         0x74, 0xEB, 0x5D, 0xC3, 0x55, 0x50, 0x8D, 0x01, 0x04, 0x10, 0x08, 0xCC],
                        dtype=np.uint8)
    weights = np.linspace(3.0, 0.5, len(alphabet))
    weights /= weights.sum()
    out = rng.choice(alphabet, size=size, p=weights)
    # Sprinkle 4-byte "addresses" and copies of earlier stretches, as a linker's output has.
    for _ in range(size // 64):
        at = int(rng.integers(0, size - 64))
        if rng.random() < 0.5:
            src = int(rng.integers(0, max(1, at - 1)))
            n = int(rng.integers(8, 48))
            out[at:at + n] = out[src:src + n]
        else:
            out[at:at + 4] = np.frombuffer(np.uint32(0x401000 + at // 7).tobytes(), dtype=np.uint8)
    return out.tobytes()


WORDS = ("the of and to in is for on that with by this be are from or as at an it install setup "
         "file directory package version update user system option value default error windows "
         "program data configuration license copyright release notes module library component "
         "service registry path temporary launcher progress window").split()


def text_like(rng, size):
    ranks = np.arange(1, len(WORDS) + 1, dtype=np.float64)
    p = 1 / ranks
    p /= p.sum()
    words = []
    total = 0
    picks = rng.choice(len(WORDS), size=size // 4, p=p)
    for i, w in enumerate(picks):
        word = WORDS[w]
        words.append(word)
        total += len(word) + 1
        if i % 13 == 12:
            words.append(".\r\n")
        if total >= size:
            break
    return " ".join(words).encode("ascii")[:size]


def incompressible(rng, size):
    return rng.integers(0, 256, size=size, dtype=np.uint8).tobytes()


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("outdir")
    ap.add_argument("--scale", type=float, default=1.0)
    args = ap.parse_args()
    out = pathlib.Path(args.outdir)
    out.mkdir(parents=True, exist_ok=True)
    rng = np.random.default_rng(20261208)
    s = args.scale

    def write(name, data):
        path = out / name
        path.parent.mkdir(parents=True, exist_ok=True)
        path.write_bytes(data)

    # Large binaries: about 100 MiB.
    for i, size in enumerate([40, 24, 16, 12, 8]):
        write(f"BIN/APP{i}.DLL", code_like(rng, int(size * MIB * s)))
    # Documentation and configuration text: about 40 MiB.
    for i in range(8):
        write(f"DOC/MANUAL{i}.TXT", text_like(rng, int(5 * MIB * s)))
    # Incompressible media and archives: 20 % of the whole, about 40 MiB.
    for i, size in enumerate([16, 12, 8, 4]):
        write(f"RAW/MEDIA{i}.PAK", incompressible(rng, int(size * MIB * s)))
    # A few hundred small files: about 20 MiB, mixed kinds.
    for i in range(320):
        kind = i % 4
        size = int(rng.integers(4, 120) * 1024 * s) + 1
        if kind == 0:
            write(f"LIB/MOD{i:03}.DLL", code_like(rng, max(size, 128)))
        elif kind == 1:
            write(f"RES/STR{i:03}.TXT", text_like(rng, size))
        elif kind == 2:
            write(f"RAW/ICON{i:03}.PNG", incompressible(rng, size // 2))
        else:
            write(f"CFG/SET{i:03}.INI", text_like(rng, size // 4))


if __name__ == "__main__":
    main()
