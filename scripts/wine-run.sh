#!/usr/bin/env bash
# Runs one Windows program under Wine (the cross builds' test emulator).
#   wine-run.sh [--arch x86|x64] PROGRAM.exe [ARG...]
here=$(cd "$(dirname "$0")" && pwd)
arch=()
if [ "${1:-}" = --arch ]; then arch=(--arch "$2"); shift 2; fi
if [ -z "${QUILL_WINE_ENV:-}" ]; then exec "$here/wine-env.sh" "${arch[@]}" "$0" "$@"; fi
exec timeout "${QUILL_WINE_TIMEOUT:-600}" "$QUILL_WINE" "$@"
