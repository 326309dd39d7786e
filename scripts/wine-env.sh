#!/usr/bin/env bash
# Runs a command with a private Wine prefix of one architecture under its own Xvfb display, then
# stops both: no wineserver, Xvfb or helper process outlives the command.
#   wine-env.sh [--arch x86|x64] COMMAND [ARG...]
# The architecture defaults to QUILL_ARCH, else to x86 where this machine can run it and x64
# where not. Each has its own prefix, build/wineprefix-<arch> (QUILL_WINEPREFIX overrides it): a
# 32-bit prefix cannot run 64-bit programs. Nested calls reuse the environment of the outer one.
set -uo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)

arch=${QUILL_ARCH:-}
if [ "${1:-}" = --arch ]; then arch=$2; shift 2; fi
if [ -z "$arch" ]; then
  source "$root/scripts/arch.sh"
  quill_detect_archs
  arch=${QUILL_RUN_ARCHS%% *}
fi
# Each architecture's programs start through its own loader. With 32-bit Wine installed, plain
# `wine` is the 32-bit loader, which hands a 64-bit program over to the 64-bit one only for some
# paths (not for one of 260 characters or more), so nothing here relies on that hand-over.
case "$arch" in
  x86) winearch=win32 loader=/usr/lib/wine/wine ;;
  x64) winearch=win64 loader=/usr/lib/wine/wine64 ;;
  *) echo "wine-env: unknown architecture '$arch' (x86 or x64)" >&2; exit 2 ;;
esac
if [ ! -x "$loader" ]; then
  echo "wine-env: $loader is missing: the $arch programs cannot run here (scripts/install-deps.sh)" >&2
  exit 2
fi

if [ -n "${QUILL_WINE_ENV:-}" ]; then
  if [ "$QUILL_ARCH" != "$arch" ]; then
    echo "wine-env: already inside the $QUILL_ARCH environment, cannot switch to $arch" >&2
    exit 2
  fi
  exec "$@"
fi

export QUILL_ARCH=$arch
export WINEPREFIX=${QUILL_WINEPREFIX:-$root/build/wineprefix-$arch}
export WINEARCH=$winearch
# QUILL_WINE is the loader every script and test starts a program with; WINELOADER makes Wine
# start the programs that those start with the same one.
export QUILL_WINE=$loader WINELOADER=$loader
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml=,winemenubuilder.exe=d"
export LC_ALL=zh_CN.UTF-8
export QUILL_WINE_ENV=1

xvfb_pid= command_pid=
cleanup() {
  wineserver -k >/dev/null 2>&1
  wineserver -w >/dev/null 2>&1
  # Whatever the command started and left behind (a Wine client that lost its server, a test
  # helper) is in the command's own process group.
  if [ -n "$command_pid" ]; then kill -KILL -- "-$command_pid" 2>/dev/null; fi
  if [ -n "$xvfb_pid" ]; then kill "$xvfb_pid" 2>/dev/null; wait "$xvfb_pid" 2>/dev/null; fi
  [ -n "${fdfile:-}" ] && rm -f "$fdfile"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

fdfile=$(mktemp)
Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$fdfile" >/dev/null 2>&1 &
xvfb_pid=$!
for _ in $(seq 1 100); do
  [ -s "$fdfile" ] && break
  sleep 0.1
done
if ! [ -s "$fdfile" ]; then echo "wine-env: Xvfb did not start" >&2; exit 1; fi
export DISPLAY=":$(head -n 1 "$fdfile")"

if [ ! -f "$WINEPREFIX/system.reg" ]; then
  mkdir -p "$WINEPREFIX"
  timeout 300 "$QUILL_WINE" wineboot.exe -i >/dev/null 2>&1
  # A crashing test program must end, not wait for someone to close Wine's crash dialog.
  timeout 60 "$QUILL_WINE" reg add 'HKCU\Software\Wine\WineDbg' /v ShowCrashDialog /t REG_DWORD /d 0 /f >/dev/null 2>&1
  timeout 60 wineserver -w
fi
# One wineserver for the whole command keeps each program start cheap.
wineserver -p >/dev/null 2>&1
# Wine starts its service processes with the first program; start them here, detached from the
# caller's output, or a test runner reading a program's output would wait for them to exit.
timeout 60 "$QUILL_WINE" cmd /c exit </dev/null >/dev/null 2>&1
# The launcher's dialog font, 宋体 (SimSun), does not exist here. Left alone, Wine falls back on the
# outlines of WenQuanYi Zen Hei, whose glyphs break up at 12 pixels; its Sharp face is drawn for
# such small sizes. Done once per prefix (the marker also updates prefixes made before this step).
if [ ! -f "$WINEPREFIX/.quill-fonts-1" ]; then
  for face in 宋体 SimSun; do
    timeout 60 "$QUILL_WINE" reg add 'HKLM\Software\Microsoft\Windows NT\CurrentVersion\FontSubstitutes' \
      /v "$face" /t REG_SZ /d 'WenQuanYi Zen Hei Sharp' /f </dev/null >/dev/null 2>&1
  done
  touch "$WINEPREFIX/.quill-fonts-1"
fi

# The command in a process group of its own, so that the cleanup can end all it started.
setsid "$@" &
command_pid=$!
trap 'kill -TERM -- "-$command_pid" 2>/dev/null; exit 130' INT TERM
wait "$command_pid"
