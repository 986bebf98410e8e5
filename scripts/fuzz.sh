#!/usr/bin/env bash
# Runs the libFuzzer targets of fuzz/. Usage: scripts/fuzz.sh SECONDS [TARGET...]
#
# Configures and builds build-fuzz/ (clang, -DPERCHBOX_FUZZ=ON, only the fuzz targets and the
# libraries they read with) when needed, then runs each target (all of them, or those
# named) for SECONDS, one after the other, at low priority. Each target works on its own
# corpus under build-fuzz/fuzz-work/TARGET/ (seeded from fuzz/corpus/TARGET/, so the
# repository stays clean); findings (crash-*, leak-*, timeout-*, oom-*) are written to
# build-fuzz/fuzz-work/TARGET/findings/. Prints executions, executions per second and
# findings per target and the load average, and exits 1 when any target found something.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build="${PERCHBOX_FUZZ_BUILD:-$root/build-fuzz}"

if [ $# -lt 1 ] || ! [[ "$1" =~ ^[0-9]+$ ]] || [ "$1" -lt 1 ]; then
  echo "usage: scripts/fuzz.sh SECONDS [TARGET...]" >&2
  exit 2
fi
seconds="$1"; shift

all_targets=()
for f in "$root"/fuzz/fuzz_*.cpp; do
  all_targets+=("$(basename "$f" .cpp)")
done
targets=("$@")
[ ${#targets[@]} -eq 0 ] && targets=("${all_targets[@]}")
for t in "${targets[@]}"; do
  if [ ! -f "$root/fuzz/$t.cpp" ]; then
    echo "no fuzz target $t; there are: ${all_targets[*]}" >&2
    exit 2
  fi
done

# Configure once; build what is out of date (ccache keeps rebuilds cheap).
if [ ! -f "$build/CMakeCache.txt" ]; then
  # What every build needs, then clang and its libFuzzer runtime.
  "$root/scripts/setup.sh"
  need=()
  command -v clang++ >/dev/null || need+=(clang)
  compgen -G '/usr/lib/llvm-*/lib/clang/*/lib/linux/libclang_rt.fuzzer-x86_64.a' >/dev/null \
    || need+=(libclang-rt-14-dev)
  if ((${#need[@]})); then
    SUDO=""
    [ "$(id -u)" -ne 0 ] && SUDO="sudo"
    $SUDO apt-get update -q
    DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -q --no-install-recommends "${need[@]}"
  fi
  launcher=()
  command -v ccache >/dev/null && launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache -DCMAKE_C_COMPILER_LAUNCHER=ccache)
  # -O1 with line tables: quick to compile under the sanitizers, and enough for the traces.
  cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DCMAKE_CXX_FLAGS_RELWITHDEBINFO="-O1 -gline-tables-only" -DCMAKE_C_FLAGS_RELWITHDEBINFO="-O1 -gline-tables-only" \
    -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ "${launcher[@]}" \
    -DPERCHBOX_FUZZ=ON -DPERCHBOX_BUILD_TESTS=OFF -DPERCHBOX_BUILD_BENCH=OFF >/dev/null
fi
build_targets=()
for t in "${targets[@]}"; do build_targets+=(--target "$t"); done
nice -n 10 cmake --build "$build" --parallel 2 "${build_targets[@]}"

export ASAN_OPTIONS="${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=1:symbolize=1}"
export UBSAN_OPTIONS="${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}"
export LSAN_OPTIONS="${LSAN_OPTIONS:-suppressions=$root/fuzz/lsan.supp:print_suppressions=0}"

work="$build/fuzz-work"
found_any=0
rows=()
for t in "${targets[@]}"; do
  dir="$work/$t"
  mkdir -p "$dir/corpus"
  [ -d "$root/fuzz/corpus/$t" ] && cp -n "$root/fuzz/corpus/$t"/* "$dir/corpus/" 2>/dev/null || true
  # Findings of an earlier run are kept aside, not mixed with this run's.
  if [ -d "$dir/findings" ] && [ -n "$(ls -A "$dir/findings")" ]; then
    rm -rf "$dir/findings.previous"
    mv "$dir/findings" "$dir/findings.previous"
  fi
  mkdir -p "$dir/findings"
  # The targets that read files work in a scratch folder of their own, in memory when the
  # machine has /dev/shm.
  scratch="$(mktemp -d "$( [ -d /dev/shm ] && [ -w /dev/shm ] && echo /dev/shm || echo "$dir")/perchbox-fuzz.XXXXXX")"
  echo "== $t: $seconds s" >&2
  set +e
  # An input counts as hanging after 60 s: on a loaded machine the sanitizer's allocator
  # alone has stalled a run for over 10 s (returning memory to the system) on an input that
  # takes milliseconds.
  TMPDIR="$scratch" nice -n 10 "$build/fuzz/$t" -max_total_time="$seconds" -print_final_stats=1 \
    -timeout=60 -rss_limit_mb=2048 -max_len=8192 -artifact_prefix="$dir/findings/" \
    "$dir/corpus" >"$dir/last-run.log" 2>&1
  status=$?
  set -e
  rm -rf "$scratch"
  execs="$(sed -n 's/^stat::number_of_executed_units: *//p' "$dir/last-run.log" | tail -1)"
  if [ -z "$execs" ]; then # stopped by a finding: the last status line counts
    execs="$(grep -o '^#[0-9]*' "$dir/last-run.log" | tail -1 | tr -d '#')"
  fi
  execs="${execs:-0}"
  rate="$(sed -n 's/^stat::average_exec_per_sec: *//p' "$dir/last-run.log" | tail -1)"
  [ -z "$rate" ] && rate=$(( execs / seconds ))
  findings=$(find "$dir/findings" -type f \( -name 'crash-*' -o -name 'leak-*' -o -name 'timeout-*' -o -name 'oom-*' \) | wc -l)
  if [ "$findings" -gt 0 ] || [ "$status" -ne 0 ]; then
    found_any=1
    [ "$findings" -eq 0 ] && findings="exit $status"
  fi
  rows+=("$(printf '%-26s %14s %10s %10s' "$t" "$execs" "$rate" "$findings")")
done

printf '\n%-26s %14s %10s %10s\n' target executions exec/s findings
for r in "${rows[@]}"; do echo "$r"; done
echo "load average: $(cut -d' ' -f1-3 /proc/loadavg) ($(nproc) cores)"
if [ "$found_any" -ne 0 ]; then
  echo "findings are in $work/TARGET/findings/ (the run's log: $work/TARGET/last-run.log)"
  exit 1
fi
