#!/usr/bin/env bash
# Runs one Windows program under Wine (the cross build's test emulator).
#   wine-run.sh PROGRAM.exe [ARG...]
here=$(cd "$(dirname "$0")" && pwd)
if [ -z "${QUILL_WINE_ENV:-}" ]; then exec "$here/wine-env.sh" "$0" "$@"; fi
exec timeout "${QUILL_WINE_TIMEOUT:-600}" wine "$@"
