#!/usr/bin/env bash
# Runs the test levels: host unit tests (sanitizers), then under Wine the Win32 unit tests and the
# end-to-end tests; each fuzz target briefly; and the static checks.
#   run-tests.sh [host|fuzz|static|wine]   (default: all)
set -uo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
which=${1:-all}
failed=0

if [ "$which" = all ] || [ "$which" = host ]; then
  echo "== host unit tests (AddressSanitizer, UndefinedBehaviorSanitizer)"
  ctest --test-dir build/host --output-on-failure --timeout 600 || failed=1
fi

if [ "$which" = all ] || [ "$which" = fuzz ]; then
  echo "== fuzz targets (about 20 seconds each)"
  scripts/run-fuzz.sh --smoke || failed=1
fi

if [ "$which" = all ] || [ "$which" = static ]; then
  echo "== static checks (clang-tidy, cppcheck)"
  scripts/static-checks.sh || failed=1
fi

if [ "$which" = all ] || [ "$which" = wine ]; then
  echo "== Win32 unit tests and end-to-end tests under Wine"
  scripts/wine-env.sh bash -c '
    rc=0
    ctest --test-dir build/win32 --output-on-failure --timeout 600 || rc=1
    /usr/bin/python3 -m pytest tests/e2e -q -p no:cacheprovider || rc=1
    exit $rc' || failed=1
fi

if [ "$failed" -ne 0 ]; then echo "SOME TESTS FAILED"; exit 1; fi
echo "all tests passed"
