#!/usr/bin/env bash
# Installs what is missing, builds, and runs every test (engine suites headless, desktop
# suites under their own Xvfb). Usage: scripts/test.sh [--sanitize] [ctest arguments…]
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
"$root/scripts/setup.sh"
sanitize=()
build="$root/build"
if [ "${1:-}" = "--sanitize" ]; then sanitize=(--sanitize); build="$root/build-asan"; shift; fi
"$root/scripts/build.sh" "${sanitize[@]}" "$build"
cd "$build"
ctest --output-on-failure --parallel "$(nproc)" "$@"
