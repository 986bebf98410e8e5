#!/usr/bin/env bash
# Configures and builds Perchbox.
# Usage: scripts/build.sh [--sanitize | --thread] [build-dir] [cmake --build arguments…]
#   --sanitize  AddressSanitizer + UndefinedBehaviorSanitizer (default folder build-asan)
#   --thread    ThreadSanitizer (default folder build-tsan)
# Sanitizer builds leave the benchmarks out and compile with -O1 -g1 (line tables for the
# reports; a quicker build than -O2 -g).
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
options=(-DPERCHBOX_SANITIZE=OFF)
default_dir="$root/build"
case "${1:-}" in
  --sanitize) options=(-DPERCHBOX_SANITIZE=ON -DPERCHBOX_BUILD_BENCH=OFF "-DCMAKE_CXX_FLAGS_RELWITHDEBINFO=-O1 -g1 -DNDEBUG"
                       "-DCMAKE_C_FLAGS_RELWITHDEBINFO=-O1 -g1 -DNDEBUG"); default_dir="$root/build-asan"; shift ;;
  --thread) options=(-DPERCHBOX_SANITIZE_THREAD=ON -DPERCHBOX_BUILD_BENCH=OFF "-DCMAKE_CXX_FLAGS_RELWITHDEBINFO=-O1 -g1 -DNDEBUG"
                     "-DCMAKE_C_FLAGS_RELWITHDEBINFO=-O1 -g1 -DNDEBUG"); default_dir="$root/build-tsan"; shift ;;
esac
build="${1:-$default_dir}"
[ $# -gt 0 ] && shift
generator=()
command -v ninja >/dev/null && generator=(-G Ninja)
launcher=()
command -v ccache >/dev/null && launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache -DCMAKE_C_COMPILER_LAUNCHER=ccache)
if [ ! -f "$build/CMakeCache.txt" ]; then
  cmake -S "$root" -B "$build" "${generator[@]}" "${launcher[@]}" -DCMAKE_BUILD_TYPE=RelWithDebInfo "${options[@]}"
fi
cmake --build "$build" --parallel "$(nproc)" "$@"
