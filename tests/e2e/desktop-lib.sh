# Shared by the desktop end-to-end scripts (source it): a virtual desktop on a free display
# with a window manager, a compositor and a tray host, every XDG folder in a temporary
# directory, and helpers to wait and to stop what was started.
#
#   source desktop-lib.sh NAME     (NAME prefixes the messages and the temporary folder)
#   start_desktop                  (sets DISPLAY, HOME, XDG_*; fills $work)
#   pass / fail MESSAGE            (counted; e2e_summary prints the closing line)
#   wait_for SECONDS COMMAND…
# Every process put in `pids` (and $app_pid) is stopped on exit.

e2e_name="$1"
work="$(mktemp -d "/tmp/perchbox-$e2e_name.XXXXXX")"
pids=()
app_pid=""
failures=0
checks=0

e2e_cleanup() {
  local pid
  [ -n "$app_pid" ] && kill "$app_pid" 2>/dev/null && wait "$app_pid" 2>/dev/null
  for ((i=${#pids[@]}-1; i>=0; i--)); do kill "${pids[$i]}" 2>/dev/null; done
  for pid in "${pids[@]}"; do wait "$pid" 2>/dev/null; done
  rm -rf "$work"
}
trap e2e_cleanup EXIT

pass() { checks=$((checks+1)); echo "$e2e_name: ok   $*"; }
fail() { checks=$((checks+1)); failures=$((failures+1)); echo "$e2e_name: FAIL $*"; }

# wait_for SECONDS COMMAND… : polls every 100 ms until COMMAND (a program or a function)
# succeeds, for at most SECONDS (a decimal number).
wait_for() {
  local limit="$1"; shift
  local end=$(( $(date +%s%N) + $(awk -v s="$limit" 'BEGIN { printf "%d", s * 1000000000 }') ))
  while true; do
    if "$@" >/dev/null 2>&1; then return 0; fi
    [ "$(date +%s%N)" -gt "$end" ] && return 1
    sleep 0.1
  done
}

# Exits 77 (skipped) when a tool is missing.
require_tools() {
  local tool
  for tool in "$@"; do
    if ! command -v "$tool" >/dev/null 2>&1; then
      echo "$e2e_name: SKIP: $tool is not installed (scripts/setup.sh installs it)"
      exit 77
    fi
  done
}

start_desktop() {
  exec 3>"$work/display"
  Xvfb -displayfd 3 -screen 0 1440x900x24 -nolisten tcp >"$work/xvfb.log" 2>&1 &
  pids+=($!)
  exec 3>&-
  if ! wait_for 10 test -s "$work/display"; then
    echo "$e2e_name: Xvfb did not start"; cat "$work/xvfb.log"; exit 1
  fi
  export DISPLAY=":$(head -n1 "$work/display")"
  echo "$e2e_name: display $DISPLAY"
  mkdir -p "$work/home" "$work/data" "$work/config" "$work/cache" "$work/runtime"
  chmod 700 "$work/runtime"
  export HOME="$work/home" XDG_DATA_HOME="$work/data" XDG_CONFIG_HOME="$work/config" \
         XDG_CACHE_HOME="$work/cache" XDG_RUNTIME_DIR="$work/runtime" XDG_CONFIG_DIRS="$work/etc"
  export QT_QPA_PLATFORM=xcb
  # The launch update check must not leave the machine: nobody answers on port 9.
  export PERCHBOX_STABLE_FEED_URL=http://127.0.0.1:9/appcast.xml PERCHBOX_NIGHTLY_FEED_URL=http://127.0.0.1:9/appcast.xml
  unset QT_QPA_PLATFORMTHEME
  openbox >"$work/openbox.log" 2>&1 &
  pids+=($!)
  xcompmgr >"$work/xcompmgr.log" 2>&1 &
  pids+=($!)
  trayer --edge top --align right --widthtype request --height 24 --SetDockType true --SetPartialStrut true \
    >"$work/trayer.log" 2>&1 &
  pids+=($!)
  wait_for 10 xdotool search --classname trayer || echo "$e2e_name: note: trayer window not found by class"
}

e2e_summary() {
  echo "$e2e_name: $((checks-failures)) passed, $failures failed"
  [ $failures -eq 0 ]
}
