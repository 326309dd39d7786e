#!/usr/bin/env bash
# The main job, end to end: a launcher carrying the sample package (samples/demo) runs under Wine
# with a fresh temp directory; then what it unpacked and its manifest are shown.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
demo=build/demo
rm -rf "$demo"
mkdir -p "$demo/temp"
winpath() { echo "Z:$(cd "$(dirname "$1")" && pwd)/$(basename "$1")" | tr / '\\'; }

cat >"$demo/request.txt" <<REQ
exe=$(winpath build/win32/quilldemo.exe)
temp=$(winpath "$demo/temp")
cwd=$(winpath "$demo")
timeout_ms=60000
REQ
echo "Running build/win32/quilldemo.exe ($(stat -c %s build/win32/quilldemo.exe) bytes) under Wine, TEMP=$demo/temp"
scripts/wine-env.sh wine build/win32/tests/qdriver.exe "$(winpath "$demo/request.txt")" "$(winpath "$demo/result.txt")" >/dev/null 2>&1
echo "Launcher finished: $(grep -E '^(exit|timeout|killed|start-failed)' "$demo/result.txt")"
grep -q '^message' "$demo/result.txt" && echo "It showed message boxes: $(grep -c '^message' "$demo/result.txt")"
echo
echo "Unpacked into %TEMP%\\quill_temp:"
if [ -d "$demo/temp/quill_temp" ]; then
  (cd "$demo/temp/quill_temp" && find . -type f -printf '  %-28P %8s bytes\n' | sort)
  if [ -f "$demo/temp/quill_temp/Archive.lst" ]; then
    echo
    echo "Archive.lst:"
    sed 's/^/  /' "$demo/temp/quill_temp/Archive.lst" | tr -d '\r'
  fi
  echo
  echo "Compared with samples/demo:"
  (cd samples/demo && find . -type f -printf '%P\n' | sort) | while read -r f; do
    up=$(echo "$f" | tr a-z A-Z)
    if cmp -s "samples/demo/$f" "$demo/temp/quill_temp/$up"; then echo "  $up: identical"; else echo "  $up: DIFFERENT"; fi
  done
else
  echo "  (nothing: the work directory was removed)"
fi
