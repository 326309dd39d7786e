#!/usr/bin/env bash
# make bench: the benchmark behind docs/performance.md, once for each architecture whose launcher
# this machine can run under Wine, each in its own Wine environment; then the report's summary.
#   bench.sh [--arch x86|x64] [--scale S] [--runs N] [--out DIR]   (arguments go to run_bench.py)
# Each run replaces only its own architecture's section of DIR/performance.md (default docs).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
source scripts/arch.sh
LC_ALL=C quill_detect_archs  # the reason goes into the report: in English
# run_bench.py reads these to decide about the NSIS comparison (32-bit installers only).
export QUILL_RUN_ARCHS QUILL_SKIP_REASON

out=docs
archs=$QUILL_RUN_ARCHS
args=("$@")
for ((i = 0; i < ${#args[@]}; i++)); do
  case "${args[i]}" in
    --out) out=${args[i + 1]:-docs} ;;
    --out=*) out=${args[i]#--out=} ;;
    --arch) archs=${args[i + 1]:-} ;;
    --arch=*) archs=${args[i]#--arch=} ;;
  esac
done
case " $QUILL_RUN_ARCHS " in
  *" $archs "*) ;;
  *) echo "bench: this machine cannot run the $archs launcher: $QUILL_SKIP_REASON" >&2; exit 1 ;;
esac

for arch in $archs; do
  echo "bench: the $arch launcher"
  # An --arch among the arguments comes last and wins; it is the same one then.
  scripts/wine-env.sh --arch "$arch" /usr/bin/python3 bench/run_bench.py --arch "$arch" "$@"
done
case " $QUILL_RUN_ARCHS " in
  *" x86 "*) ;;
  *) echo "bench: the x86 launcher and NSIS were not measured: $QUILL_SKIP_REASON" ;;
esac
/usr/bin/python3 bench/report.py --out "$out"
