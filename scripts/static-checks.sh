#!/usr/bin/env bash
# clang-tidy (checks in .clang-tidy) and cppcheck over the product code; fails on any finding.
# Portable files are checked with the host build's flags; *_win32.cpp files twice, with the flags
# of each Windows build (x86 and x64) and clang targeting MinGW.
#   static-checks.sh [FILE...]    (default: every product file)
set -uo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
dirs=(base fsutil launcher payload progress handoff pe pack)
if (($#)); then
  files=("$@")
else
  mapfile -t files < <(git ls-files "${dirs[@]/%//*.cpp}")
fi
portable=() win32=()
for f in "${files[@]}"; do
  if [[ $f == *_win32.cpp ]]; then win32+=("$f"); else portable+=("$f"); fi
done
failed=0
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT

# tidy DATABASE_DIR [EXTRA_ARG...] < files: one file per clang-tidy process, two at a time (the
# machine has two cores). Findings are collected first and judged after: in a pipeline, xargs's
# own status would hide grep's.
tidy() {
  local db=$1 out
  shift
  out=$(xargs -P2 -n1 clang-tidy -p "$db" --quiet "${@/#/--extra-arg=}" 2>&1)
  if grep -E '(warning|error):' <<<"$out"; then failed=1; fi
}

echo "clang-tidy: ${#portable[@]} portable files, ${#win32[@]} Win32 files for x86 and for x64"
((${#portable[@]})) && tidy build/host < <(printf '%s\n' "${portable[@]}")
for build in build/win32:i686-w64-mingw32 build/win64:x86_64-w64-mingw32; do
  dir=${build%%:*} triple=${build#*:}
  ((${#win32[@]})) || continue
  # GCC's flags that clang does not know are dropped from a copy of the compile database; a file
  # that clang cannot parse must fail the check, not be skipped.
  mkdir -p "$scratch/$triple"
  python3 - "$dir/compile_commands.json" "$scratch/$triple/compile_commands.json" <<'PY'
import json, sys
gcc_only = {"-mpreferred-stack-boundary=2"}
commands = json.load(open(sys.argv[1]))
for c in commands:
    c["command"] = " ".join(w for w in c["command"].split(" ") if w not in gcc_only)
json.dump(commands, open(sys.argv[2], "w"))
PY
  inc=$(ls -d /usr/lib/gcc/$triple/*-posix | head -n 1)/include/c++
  tidy "$scratch/$triple" --target="$triple" "-isystem$inc" "-isystem$inc/$triple" \
    < <(printf '%s\n' "${win32[@]}")
done

echo "cppcheck"
cppcheck --quiet --error-exitcode=1 --std=c++20 --language=c++ -I . \
  --enable=warning,performance,portability --inline-suppr \
  --suppress=missingIncludeSystem --suppress=unknownMacro \
  "${files[@]}" || failed=1

if [ "$failed" -ne 0 ]; then echo "static checks: findings above"; exit 1; fi
echo "static checks: clean"
