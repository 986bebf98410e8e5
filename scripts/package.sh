#!/usr/bin/env bash
# Builds the Debian package perchbox_<version>_<arch>.deb (into the project folder, or the
# folder given) from a build of its own, configured for /usr.
#   scripts/package.sh [OUTPUT-DIR]
# Install it with: sudo apt-get install ./perchbox_*.deb
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
out="$(mkdir -p "${1:-$root}" && cd "${1:-$root}" && pwd)"
"$root/scripts/setup.sh"
build="$root/build-package"
generator=()
command -v ninja >/dev/null && generator=(-G Ninja)
if [ ! -f "$build/CMakeCache.txt" ]; then
  cmake -S "$root" -B "$build" "${generator[@]}" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_INSTALL_PREFIX=/usr \
    -DPERCHBOX_BUILD_TESTS=OFF -DPERCHBOX_BUILD_BENCH=OFF
fi
cmake --build "$build" --parallel "$(nproc)"
(cd "$build" && cpack -G DEB -B "$build/package")
deb="$(ls -t "$build"/package/perchbox_*.deb | head -n1)"
cp "$deb" "$out/"
echo "package: $out/$(basename "$deb")"
dpkg-deb --field "$out/$(basename "$deb")" Package Version Architecture Depends
