#!/usr/bin/env bash
# Runs `bench_startup --desktop` on a desktop of its own: a private D-Bus session, Xvfb on a
# free display, openbox, xcompmgr and trayer (what a user's X11 desktop has: a window manager,
# a compositor and a tray host).
#
#   bench/desktop-startup.sh PATH/TO/bench_startup
set -uo pipefail
bench="${1:?usage: desktop-startup.sh PATH/TO/bench_startup}"
for tool in Xvfb openbox xcompmgr trayer xdotool dbus-run-session; do
  command -v "$tool" >/dev/null 2>&1 || { echo "desktop-startup: $tool is missing (scripts/setup.sh installs it)"; exit 77; }
done
if [ -z "${PERCHBOX_BENCH_INNER:-}" ]; then
  exec dbus-run-session -- env PERCHBOX_BENCH_INNER=1 "$0" "$@"
fi

work="$(mktemp -d /tmp/perchbox-bench-desktop.XXXXXX)"
pids=()
cleanup() {
  for ((i=${#pids[@]}-1; i>=0; i--)); do kill "${pids[$i]}" 2>/dev/null; done
  for pid in "${pids[@]}"; do wait "$pid" 2>/dev/null; done
  rm -rf "$work"
}
trap cleanup EXIT

exec 3>"$work/display"
Xvfb -displayfd 3 -screen 0 1920x1080x24 -nolisten tcp >"$work/xvfb.log" 2>&1 &
pids+=($!)
exec 3>&-
for _ in $(seq 100); do [ -s "$work/display" ] && break; sleep 0.1; done
[ -s "$work/display" ] || { echo "desktop-startup: Xvfb did not start"; exit 1; }
export DISPLAY=":$(head -n1 "$work/display")"
export QT_QPA_PLATFORM=xcb
unset QT_QPA_PLATFORMTHEME

openbox >"$work/openbox.log" 2>&1 &
pids+=($!)
xcompmgr >"$work/xcompmgr.log" 2>&1 &
pids+=($!)
trayer --edge top --align right --widthtype request --height 24 --SetDockType true >"$work/trayer.log" 2>&1 &
pids+=($!)
for _ in $(seq 100); do xdotool search --classname trayer >/dev/null 2>&1 && break; sleep 0.1; done

"$bench" --desktop
