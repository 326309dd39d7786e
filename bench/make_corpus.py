#!/usr/bin/env python3
"""Writes a reproducible package of many files for measuring and testing quillpack.

    make_corpus.py DIR [--files N] [--mib M] [--seed S]

The mix resembles an application's install tree: text (sources, documents, configuration),
structured binary data that compresses somewhat, and already-compressed media that does not,
in nested directories, with sizes from a few bytes to several MiB.
"""
import argparse
import pathlib
import random

WORDS = ("the of and to in is for on with as by at from this that are be or an it which "
         "install setup file directory program window version update registry value key "
         "error message size data table index record field string number begin end return "
         "int char void struct static const unsigned long short double float if else while").split()


def text(rng, size):
    out, n = [], 0
    while n < size:
        line = " ".join(rng.choices(WORDS, k=rng.randint(3, 14))) + "\r\n"
        out.append(line)
        n += len(line)
    return "".join(out).encode()[:size]


def structured(rng, size):
    record = rng.randbytes(64)
    out = bytearray()
    while len(out) < size:
        r = bytearray(record)
        for _ in range(6):
            r[rng.randrange(64)] = rng.randrange(256)
        out += r
    return bytes(out[:size])


def make(root: pathlib.Path, files=300, mib=300, seed=1):
    rng = random.Random(seed)
    total = mib * 1024 * 1024
    # Sizes: mostly small, a few large ones carrying most of the bytes.
    weights = [rng.paretovariate(1.2) for _ in range(files)]
    scale = total / sum(weights)
    dirs = ["", "bin", "lib", "doc", "doc/html", "data", "data/levels", "media", "locale/zh_CN"]
    kinds = [text, structured, lambda r, s: r.randbytes(s)]
    made = {}
    for i, w in enumerate(weights):
        size = max(0, int(w * scale)) if i else 0  # one empty file among them
        kind = kinds[i % 3]
        rel = f"{rng.choice(dirs)}/file{i:04d}.{('txt', 'dat', 'bin')[i % 3]}".lstrip("/")
        path = root / rel
        path.parent.mkdir(parents=True, exist_ok=True)
        path.write_bytes(kind(rng, size))
        made[rel] = size
    return made


def main():
    p = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    p.add_argument("dir", type=pathlib.Path)
    p.add_argument("--files", type=int, default=300)
    p.add_argument("--mib", type=int, default=300)
    p.add_argument("--seed", type=int, default=1)
    a = p.parse_args()
    made = make(a.dir, a.files, a.mib, a.seed)
    print(f"{len(made)} files, {sum(made.values()) / 2**20:.1f} MiB in {a.dir}")


if __name__ == "__main__":
    main()
