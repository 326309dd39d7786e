#!/usr/bin/env bash
# Runs the test levels: host unit tests (sanitizers); each fuzz target briefly; the static checks;
# the checks of the built Windows artifacts of both architectures (run nowhere, read everywhere);
# the build scripts' own tests;
# and under Wine, for each architecture this machine can run, the Win32 unit tests and the
# end-to-end tests.
#   run-tests.sh [host|fuzz|static|artifacts|scripts|wine|e2e [PYTEST ARGS...]]   (default: all)
# ARCH=x86 or ARCH=x64 limits the Wine levels to one architecture.
set -uo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
source scripts/arch.sh
which=${1:-all}
[ $# -gt 0 ] && shift
failed=0
level() { [ "$which" = all ] || [ "$which" = "$1" ]; }

if level host; then
  echo "== host unit tests (AddressSanitizer, UndefinedBehaviorSanitizer)"
  ctest --test-dir build/host --output-on-failure --timeout 600 || failed=1
fi

if level fuzz; then
  echo "== fuzz targets (about 20 seconds each)"
  scripts/run-fuzz.sh --smoke || failed=1
fi

if level static; then
  echo "== static checks (clang-tidy, cppcheck)"
  scripts/static-checks.sh || failed=1
fi

if level artifacts; then
  echo "== the built Windows artifacts, x86 and x64 (headers, imports, resources, size)"
  /usr/bin/python3 -m pytest tests/artifacts -q -p no:cacheprovider || failed=1
fi

if level scripts; then
  echo "== the build scripts (the fetch of liblzma's source, against a local repository)"
  /usr/bin/python3 -m pytest tests/scripts -q -p no:cacheprovider || failed=1
fi

ran=() skipped=()
if level wine || level e2e; then
  quill_detect_archs
  for arch in x86 x64; do
    if [ -n "${ARCH:-}" ] && [ "$ARCH" != "$arch" ]; then continue; fi
    if [[ " $QUILL_RUN_ARCHS " != *" $arch "* ]]; then
      skipped+=("$arch: $QUILL_SKIP_REASON")
      continue
    fi
    ran+=("$arch")
    build=$(quill_build_dir "$arch")
    if [ "$which" = e2e ]; then
      echo "== end-to-end tests under Wine, $arch ($build)"
      scripts/wine-env.sh --arch "$arch" /usr/bin/python3 -m pytest tests/e2e -q \
        -p no:cacheprovider "$@" || failed=1
      continue
    fi
    echo "== Win32 unit tests and end-to-end tests under Wine, $arch ($build)"
    scripts/wine-env.sh --arch "$arch" bash -c '
      rc=0
      ctest --test-dir "$1" --output-on-failure --timeout 600 || rc=1
      /usr/bin/python3 -m pytest tests/e2e -q -p no:cacheprovider || rc=1
      exit $rc' _ "$build" || failed=1
  done
fi

summary=
if ((${#ran[@]})); then summary="; under Wine: ${ran[*]}"; fi
if ((${#skipped[@]})); then summary+="; skipped: $(IFS=';'; echo "${skipped[*]}" | sed 's/;/; /g')"; fi
if [ "$failed" -ne 0 ]; then echo "SOME TESTS FAILED$summary"; exit 1; fi
echo "all tests passed$summary"
