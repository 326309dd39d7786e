#!/usr/bin/env bash
# Builds the libFuzzer targets of tests/fuzz in build/fuzz and runs them.
#   run-fuzz.sh [--smoke] [TARGET...]      (default: every target)
# FUZZ_SECONDS: how long each target runs (default 300; with --smoke 20).
# Every run starts from the seeds in tests/fuzz/corpus/<target>/ and the entries found earlier in
# tests/fuzz/corpus-new/<target>/ (git-ignored). A full run keeps what it finds there; a smoke run
# (make test) writes its finds to a scratch folder that is thrown away.
# A target that crashes or breaks a property leaves its input in build/fuzz/artifacts/<target>/.
set -uo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"

smoke=0
if [ "${1:-}" = --smoke ]; then smoke=1; shift; fi
build=build/fuzz

if [ ! -f "$build/build.ninja" ]; then
  CC=clang CXX=clang++ cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DQUILL_FUZZ=ON -DQUILL_BUILD_TESTS=OFF >/dev/null || exit 1
fi
# The list of targets is written when CMake configures: bring it up to date before reading it.
cmake "$build" >/dev/null || exit 1
mapfile -t all < "$build/fuzzers/targets.txt"
targets=("$@")
((${#targets[@]})) || targets=("${all[@]}")
cmake --build "$build" --target "${targets[@]}" || exit 1

if ((smoke)); then
  seconds=$(( ${FUZZ_SECONDS:-20} ))
  ((seconds >= 10)) || seconds=10
else
  seconds=${FUZZ_SECONDS:-300}
fi

failed=0
for t in "${targets[@]}"; do
  seeds=tests/fuzz/corpus/$t
  kept=tests/fuzz/corpus-new/$t
  artifacts=$build/artifacts/$t
  mkdir -p "$seeds" "$kept" "$artifacts"
  if ((smoke)); then
    scratch=$(mktemp -d)
    dirs=("$scratch" "$kept" "$seeds")
  else
    scratch=
    dirs=("$kept" "$seeds")
  fi
  echo "== fuzz $t for ${seconds}s"
  log=$build/artifacts/$t.log
  # The first folder receives new entries; the others are read only.
  "$build/fuzzers/$t" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -print_final_stats=1 \
    -artifact_prefix="$artifacts/" "${dirs[@]}" >"$log" 2>&1
  rc=$?
  grep -E '^(stat::number_of_executed_units|stat::new_units_added)|#[0-9]+ *DONE' "$log" | sed 's/^/   /'
  echo "   corpus: $(ls "$seeds" | wc -l) seeds, $(ls "$kept" | wc -l) kept"
  if [ "$rc" -ne 0 ]; then
    echo "   FAILED (exit $rc); see $log"
    tail -n 30 "$log"
    failed=1
  fi
  [ -n "$scratch" ] && rm -rf "$scratch"
done
exit $failed
