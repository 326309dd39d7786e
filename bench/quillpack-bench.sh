#!/usr/bin/env bash
# Measures quillpack on a generated package: build throughput with one job and with every core,
# and the compressed size next to `xz --format=lzma -6` on the same files (each file on its own,
# as quillpack stores them). Checks that both builds are byte-identical.
#   bench/quillpack-bench.sh [FILES] [MIB]        (default: 300 files, 300 MiB)
# Needs build/win32 and build/win64 (make build) for the stubs; quillpack itself is built without
# the sanitizers in build/bench/tool (QUILLPACK=path picks another). The corpus is generated under
# build/bench, not kept in the repository.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
files=${1:-300}
mib=${2:-300}
work=build/bench
quillpack=${QUILLPACK:-}
if [ -z "$quillpack" ]; then
  tool=$work/tool
  [ -f "$tool/build.ninja" ] || CC=clang CXX=clang++ cmake -S . -B "$tool" -G Ninja \
    -DCMAKE_BUILD_TYPE=Release -DQUILL_SANITIZE=OFF -DQUILL_BUILD_TESTS=OFF \
    -DQUILL_WIN32_BIN="$root/build/win32" -DQUILL_WIN64_BIN="$root/build/win64" >/dev/null
  cmake --build "$tool" --target quillpack >/dev/null
  quillpack=$tool/quillpack
fi
corpus=$work/corpus-$files-$mib
mkdir -p "$work"
[ -d "$corpus" ] || python3 bench/make_corpus.py "$corpus" --files "$files" --mib "$mib"
input=$(find "$corpus" -type f -printf '%s\n' | awk '{s+=$1} END {print s}')
cores=$(nproc)

calc() { awk "BEGIN { printf \"%.2f\", $1 }"; }
seconds() { local start=$(date +%s.%N); "$@"; calc "$(date +%s.%N) - $start"; }
rate() { calc "$input / 1048576 / $1"; }

# The corpus has no setup program: --no-setup.
t1=$(seconds "$quillpack" build -q --no-setup -j 1 -o "$work/one.exe" "$corpus")
tn=$(seconds "$quillpack" build -q --no-setup -j "$cores" -o "$work/all.exe" "$corpus")
cmp -s "$work/one.exe" "$work/all.exe" && same=yes || same=NO

# xz per file, in parallel over the cores like quillpack, sizes summed.
xz_bytes=$(find "$corpus" -type f -print0 |
  xargs -0 -P "$cores" -n 8 sh -c 'for f; do xz --format=lzma -6 -c "$f" | wc -c; done' sh |
  awk '{s+=$1} END {print s}')
entries=$("$quillpack" list "$work/one.exe" | tail -n 1 | awk '{print $3}')

printf 'package: %d files, %.1f MiB (%s)\n' "$files" "$(calc "$input / 1048576")" "$corpus"
printf 'quillpack -j 1:       %6.1f s  %6s MiB/s\n' "$t1" "$(rate "$t1")"
printf 'quillpack -j %-2d       %6.1f s  %6s MiB/s\n' "$cores" "$tn" "$(rate "$tn")"
printf 'builds identical:     %s\n' "$same"
printf 'installer:            %12d bytes (entries %d bytes, %.2f%% of input)\n' \
  "$(stat -c %s "$work/one.exe")" "$entries" "$(calc "100 * $entries / $input")"
printf 'xz --format=lzma -6:  %12d bytes (per file, %.2f%% of input)\n' \
  "$xz_bytes" "$(calc "100 * $xz_bytes / $input")"
[ "$same" = yes ]
