#!/usr/bin/env bash
# Installs what is missing, builds, and runs every test (engine suites headless, desktop
# suites under their own Xvfb).
# Usage: scripts/test.sh [--sanitize | --thread] [ctest arguments…]
#   --sanitize  the whole suite under AddressSanitizer + UndefinedBehaviorSanitizer
#   --thread    the threaded suites (ctest label "threaded") under ThreadSanitizer
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
"$root/scripts/setup.sh"
mode=()
build="$root/build"
case "${1:-}" in
  --sanitize) mode=(--sanitize); build="$root/build-asan"; shift ;;
  --thread) mode=(--thread); build="$root/build-tsan"; shift ;;
esac
if [ "${mode[*]}" = "--thread" ]; then
  # Configure, then build only what the threaded suites need.
  "$root/scripts/build.sh" --thread "$build" --target perchbox_foundation
  mapfile -t suites < <(cd "$build" && ctest -N -L threaded | awk '/Test +#/ {print $3}')
  targets=()
  for s in "${suites[@]}"; do targets+=(--target "$s"); done
  "$root/scripts/build.sh" --thread "$build" "${targets[@]}"
  # die_after_fork=0: the suites start child processes (QProcess) from threaded programs.
  export TSAN_OPTIONS="${TSAN_OPTIONS:-} halt_on_error=1 second_deadlock_stack=1 die_after_fork=0 suppressions=$root/scripts/tsan.supp"
  cd "$build"
  exec ctest --output-on-failure -L threaded "$@"
fi
"$root/scripts/build.sh" "${mode[@]}" "$build"
cd "$build"
ctest --output-on-failure --parallel "$(nproc)" "$@"
