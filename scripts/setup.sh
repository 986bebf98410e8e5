#!/usr/bin/env bash
# Installs every Debian package Perchbox needs to build, run, test and benchmark.
# Idempotent: packages already present are skipped, and nothing is done when all are there.
set -euo pipefail

PACKAGES=(
  # build
  build-essential cmake pkg-config ninja-build
  qt6-base-dev qt6-base-dev-tools qt6-svg-dev qt6-image-formats-plugins
  libqt6svg6 libqt6dbus6 qt6-qpa-plugins
  libgl-dev libxcb1-dev libx11-dev libx11-xcb-dev libxkbcommon-dev
  libsimdjson-dev libdbus-1-dev
  # media
  libavformat-dev libavcodec-dev libswscale-dev libswresample-dev libavfilter-dev libavutil-dev
  libvips-dev libvips-tools libheif-dev libheif-examples zlib1g-dev libtiff-dev
  libicu-dev libopencv-dev
  # outside programs the tools run
  zip unzip tar 7zip lame
  # the Retro theme's font, copied into the build and install trees
  fonts-dotgothic16
  # reference tools for tests and benchmarks
  ffmpeg python3 python3-onnx
  # desktop end-to-end tests
  xvfb xauth xdotool xclip openbox xcompmgr trayer dunst dbus-x11 x11-utils imagemagick
  thunar
  hicolor-icon-theme adwaita-icon-theme
  # install checks and the Debian package (scripts/package.sh)
  desktop-file-utils appstream xdg-utils dpkg-dev file fakeroot
)

missing=()
for p in "${PACKAGES[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done

if ((${#missing[@]})); then
  echo "setup: installing ${#missing[@]} package(s): ${missing[*]}"
  SUDO=""
  if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi
  export DEBIAN_FRONTEND=noninteractive
  $SUDO apt-get update -q
  $SUDO apt-get install -y -q --no-install-recommends "${missing[@]}"
else
  echo "setup: all packages present"
fi

# The background-removal model is fetched and converted once; its absence only
# disables "Remove background", so a failure here is not fatal.
if [ -x "$(dirname "$0")/fetch-model.sh" ]; then
  "$(dirname "$0")/fetch-model.sh" || echo "setup: background-removal model unavailable (continuing)"
fi
