#!/usr/bin/env bash
# Builds the Debian package perchbox_<version>_<arch>.deb from a build of its own, configured
# for /usr, and copies it into the project folder (or OUTPUT-DIR).
#   scripts/package.sh [--build DIR] [OUTPUT-DIR]
# --build packs an existing build folder instead (the program finds its modules and data from
# its own place, so a build configured for another prefix packs the same).
# Install the package with: sudo apt-get install ./perchbox_*.deb
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build="$root/build-package"
if [ "${1:-}" = "--build" ]; then build="$(cd "${2:?--build needs a folder}" && pwd)"; shift 2; fi
out="$(mkdir -p "${1:-$root}" && cd "${1:-$root}" && pwd)"
"$root/scripts/setup.sh"
generator=()
command -v ninja >/dev/null && generator=(-G Ninja)
if [ ! -f "$build/CMakeCache.txt" ]; then
  cmake -S "$root" -B "$build" "${generator[@]}" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_INSTALL_PREFIX=/usr \
    -DPERCHBOX_BUILD_TESTS=OFF -DPERCHBOX_BUILD_BENCH=OFF
fi
cmake --build "$build" --parallel "$(nproc)"
rm -rf "$build/package"
(cd "$build" && cpack -G DEB -B "$build/package")
deb="$(ls "$build"/package/perchbox_*.deb)"
cp "$deb" "$out/"
echo "package: $out/$(basename "$deb")"
dpkg-deb --field "$out/$(basename "$deb")" Package Version Architecture Depends
