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
# Start-up on a desktop (window manager, compositor, tray host): whole programs side by side.
echo "== bench_startup --desktop"
"$root/bench/desktop-startup.sh" "$root/build/bench/bench_startup" || status=1
exit $status
