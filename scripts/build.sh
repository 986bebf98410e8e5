#!/usr/bin/env bash
# Configures and builds Perchbox. Usage: scripts/build.sh [--sanitize] [build-dir]
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
sanitize=OFF
if [ "${1:-}" = "--sanitize" ]; then sanitize=ON; shift; fi
default_dir="$root/build"
[ "$sanitize" = ON ] && default_dir="$root/build-asan"
build="${1:-$default_dir}"
generator=()
command -v ninja >/dev/null && generator=(-G Ninja)
if [ ! -f "$build/CMakeCache.txt" ]; then
  cmake -S "$root" -B "$build" "${generator[@]}" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DPERCHBOX_SANITIZE=$sanitize
fi
cmake --build "$build" --parallel "$(nproc)"
