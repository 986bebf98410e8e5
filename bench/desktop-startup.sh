#!/usr/bin/env bash
# Runs `bench_startup --desktop` on a desktop of its own: a private D-Bus session, Xvfb on a
# free display, openbox, xcompmgr and trayer (what a user's X11 desktop has: a window manager,
# a compositor and a tray host).
#
#   bench/desktop-startup.sh PATH/TO/bench_startup
set -uo pipefail
bench="${1:?usage: desktop-startup.sh PATH/TO/bench_startup}"

e2e_args=("$@")
source "$(dirname "$0")/../tests/e2e/desktop.sh"
e2e_prepare desktop-startup Xvfb openbox xcompmgr trayer xdotool dbus-run-session
e2e_desktop 1920x1080

"$bench" --desktop
