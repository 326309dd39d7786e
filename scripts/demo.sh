#!/usr/bin/env bash
# The main job, end to end: quillpack packs the sample package (samples/demo and a small setup
# program, samples/setup, staged by each Windows build) into build/demo/<arch>/quilldemo.exe, which
# installs it under Wine, twice:
#   1. silently (-ms): no window at all;
#   2. with the launcher's progress window.
# This happens for each architecture the machine can run: x86 (the launcher as specified) and x64,
# or x64 alone where the kernel cannot execute 32-bit code.
# Each run gets a fresh temp directory; afterwards the script shows the exit code, what is left of
# the launcher's work directory (nothing), and what the setup program installed and received.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
source scripts/arch.sh
quill_detect_archs
rm -rf build/demo
winpath() { echo "Z:$(cd "$(dirname "$1")" && pwd)/$(basename "$1")" | tr / '\\'; }

# run NAME ARGS: runs the launcher through qdriver (which reads and closes any message box)
run() {
  local name=$1 args=$2 dir="$demo/$1"
  mkdir -p "$dir/temp"
  cat >"$dir/request.txt" <<REQ
exe=$(winpath "$launcher")
args=$(printf '%s' "$args" | od -An -tx1 | tr -d ' \n')
temp=$(winpath "$dir/temp")
cwd=$(winpath "$dir")
timeout_ms=60000
REQ
  echo
  echo "== quilldemo.exe $args"
  scripts/wine-run.sh --arch "$arch" "$(quill_build_dir "$arch")/tests/qdriver.exe" \
    "$(winpath "$dir/request.txt")" "$(winpath "$dir/result.txt")" >/dev/null 2>&1 || true
  local outcome
  outcome=$(grep -E '^(exit|timeout|killed|start-failed)' "$dir/result.txt" |
    sed -E 's/^exit ([0-9]+) ([0-9]+)$/exit \1 after \2 ms/')
  [ -n "$outcome" ] || outcome="no result"
  echo "launcher finished: $outcome   (the setup program's own code, 0 = installed; 2 = the launcher failed)"
  if grep -q '^message' "$dir/result.txt"; then
    echo "message boxes shown: $(grep -c '^message' "$dir/result.txt")"
  fi
  if [ -e "$dir/temp/quill_temp" ]; then
    echo "work directory %TEMP%\\quill_temp still holds:"
    (cd "$dir/temp/quill_temp" && find . -type f -printf '  %P\n' | sort)
  else
    echo "work directory %TEMP%\\quill_temp: removed after the setup program ended"
  fi
  local target="$dir/installed"
  if [ -f "$target/INSTALL.LOG" ]; then
    echo "the setup program's log ($target/INSTALL.LOG):"
    tr -d '\r' <"$target/INSTALL.LOG" | sed 's/^/  /'
    echo "installed files compared with samples/demo:"
    (cd samples/demo && find . -type f -printf '%P\n' | sort) | while read -r f; do
      up=$(echo "$f" | tr a-z A-Z)
      if cmp -s "samples/demo/$f" "$target/$up"; then echo "  $up: identical"; else echo "  $up: DIFFERENT"; fi
    done
  else
    echo "the setup program wrote no log: it did not run"
  fi
}

for arch in $QUILL_RUN_ARCHS; do
  demo=build/demo/$arch
  launcher=$demo/quilldemo.exe
  mkdir -p "$demo"
  package=$(quill_build_dir "$arch")/samples/demo-package
  # As a publisher builds it: its own icon and version information, Chinese and English texts.
  python3 samples/make_demo_icon.py "$demo/quilldemo.ico"
  build/host/quillpack build -q --arch "$arch" -o "$launcher" --icon "$demo/quilldemo.ico" \
    --version-info CompanyName="Quill samples" --version-info FileDescription="Quill demo setup" \
    --version-info ProductName="Quill demo" --file-version 1.0.0.0 --product-version 1.0 \
    --language both "$package"
  echo
  echo "######## The $arch launcher"
  echo "Each run: the launcher unpacks its payload into %TEMP%\\quill_temp, starts SETUP.EXE there"
  echo "with \" -n <launcher path> <its own arguments>\", waits for it to end, then removes what it unpacked."
  echo
  echo "Launcher: $launcher ($(stat -c %s "$launcher") bytes), carrying:"
  (cd "$package" && find . -type f -printf '  %-20P %8s bytes\n' | sort)

  # /D= tells the demo setup program where to install; the launcher passes it on unchanged.
  mkdir -p "$demo/silent" "$demo/window"
  run silent "-ms /D=$(winpath "$demo/silent")\\installed"
  # Without -ms the progress window appears (on the private Xvfb display) until SETUP.EXE is ready.
  run window "/D=$(winpath "$demo/window")\\installed"
done
if [ -n "$QUILL_SKIP_REASON" ]; then
  echo
  echo "The x86 launcher was built (build/win32) but not run: $QUILL_SKIP_REASON."
fi
