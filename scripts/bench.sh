#!/usr/bin/env bash
# Builds and runs every benchmark; each prints its figures (and ratios against the
# reference tools where there is one).
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
"$root/scripts/setup.sh"
"$root/scripts/build.sh"
cmake --build "$root/build" --target bench
status=0
for b in "$root"/build/bench/bench_*; do
  [ -x "$b" ] || continue
  echo "== $(basename "$b")"
  QT_QPA_PLATFORM=offscreen "$b" || status=1
done
exit $status
