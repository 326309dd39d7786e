#!/usr/bin/env bash
# clang-tidy (checks in .clang-tidy) and cppcheck over the product code; fails on any finding.
# Portable files are checked with the host build's flags, *_win32.cpp files with the Windows
# build's flags and clang targeting MinGW.
set -uo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
dirs=(base fsutil launcher payload progress handoff pack)
mapfile -t portable < <(git ls-files "${dirs[@]/%//*.cpp}" | grep -v '_win32\.cpp$')
mapfile -t win32 < <(git ls-files "${dirs[@]/%//*_win32.cpp}")
gcc_inc=$(ls -d /usr/lib/gcc/i686-w64-mingw32/*-posix | head -n 1)/include/c++
failed=0

echo "clang-tidy: ${#portable[@]} portable files, ${#win32[@]} Win32 files"
# One file per clang-tidy process, two at a time: the machine has two cores.
printf '%s\n' "${portable[@]}" | xargs -P2 -n1 clang-tidy -p build/host --quiet 2>/dev/null |
  grep -E '(warning|error):' && failed=1
printf '%s\n' "${win32[@]}" | xargs -P2 -n1 clang-tidy -p build/win32 --quiet \
  --extra-arg=--target=i686-w64-mingw32 \
  --extra-arg=-isystem"$gcc_inc" --extra-arg=-isystem"$gcc_inc/i686-w64-mingw32" 2>/dev/null |
  grep -E '(warning|error):' && failed=1

echo "cppcheck"
cppcheck --quiet --error-exitcode=1 --std=c++20 --language=c++ -I . \
  --enable=warning,performance,portability --inline-suppr \
  --suppress=missingIncludeSystem --suppress=unknownMacro \
  "${dirs[@]}" || failed=1

if [ "$failed" -ne 0 ]; then echo "static checks: findings above"; exit 1; fi
echo "static checks: clean"
