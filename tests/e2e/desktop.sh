# Shared pieces of the desktop end-to-end suites (sourced, not run).
#
#   e2e_prepare NAME TOOL…   skip (exit 77) when a tool is missing; re-run the calling script
#                            in a private D-Bus session; make the work folder and the cleanup
#   e2e_desktop [WxH] [strut|notray]
#                            Xvfb on a free display, openbox, xcompmgr and trayer (with
#                            "strut" the tray bar reserves its strip: windows' available area
#                            starts below it; with "notray" there is no tray host), with every
#                            XDG folder inside the work folder
#   pass / fail TEXT         count a check
#   wait_for SECONDS CMD…    poll CMD every 50 ms until it succeeds, for at most SECONDS
#   e2e_shelves OPEN ID…     shelves "Alpha", "Beta", "Gamma", … with these ids in
#                            shelves.json, the first OPEN of them in openShelves.json
#   e2e_finish               the summary line; exits 0 when every check passed
#
# Processes started with e2e_track PID are stopped on exit (in reverse order), and so is
# "$app_pid" when set.

e2e_prepare() {
  e2e_name="$1"; shift
  local tool
  for tool in "$@"; do
    if ! command -v "$tool" >/dev/null 2>&1; then
      echo "$e2e_name: SKIP: $tool is not installed (scripts/setup.sh installs it)"
      exit 77
    fi
  done
  if [ -z "${PERCHBOX_E2E_INNER:-}" ]; then
    exec dbus-run-session -- env PERCHBOX_E2E_INNER=1 "$0" "${e2e_args[@]}"
  fi
  work="$(mktemp -d "/tmp/perchbox-$e2e_name.XXXXXX")"
  pids=()
  app_pid=""
  failures=0
  checks=0
  trap e2e_cleanup EXIT
}

e2e_track() { pids+=("$1"); }

e2e_cleanup() {
  local i pid
  [ -n "$app_pid" ] && kill "$app_pid" 2>/dev/null && wait "$app_pid" 2>/dev/null
  for ((i=${#pids[@]}-1; i>=0; i--)); do
    kill "${pids[$i]}" 2>/dev/null
  done
  for pid in "${pids[@]}"; do
    wait "$pid" 2>/dev/null
  done
  rm -rf "$work"
}

pass() { checks=$((checks+1)); echo "$e2e_name: ok   $*"; }
fail() { checks=$((checks+1)); failures=$((failures+1)); echo "$e2e_name: FAIL $*"; }

wait_for() {
  local limit="$1"; shift
  # "%.0f", not "%d": Debian's awk (mawk) clamps "%d" to 2^31-1, which cut every wait to 2.1 s.
  local end=$(( $(date +%s%N) + $(awk -v s="$limit" 'BEGIN { printf "%.0f", s * 1000000000 }') ))
  while true; do
    if "$@" >/dev/null 2>&1; then return 0; fi
    [ "$(date +%s%N)" -gt "$end" ] && return 1
    sleep 0.05
  done
}

e2e_shelves() {
  local open="$1"; shift
  mkdir -p "$XDG_DATA_HOME/Perchbox/Shelves"
  python3 - "$XDG_DATA_HOME/Perchbox" "$open" "$@" <<'PY'
import json, os, sys
root, open_count, ids = sys.argv[1], int(sys.argv[2]), sys.argv[3:]
names = ["Alpha", "Beta", "Gamma", "Delta", "Epsilon"]
shelves = []
for n, i in zip(names, ids):
    folder = os.path.join(root, "Shelves", i)
    os.makedirs(folder, exist_ok=True)
    shelves.append({"id": i, "name": n, "colorData": {"r": 0, "g": 0.478, "b": 1, "a": 1}, "icon": "tray",
                    "folderURL": "file://" + folder + "/", "files": [], "favorites": [],
                    "favoriteButtonDisplayMode": "iconAndName"})
json.dump(shelves, open(os.path.join(root, "shelves.json"), "w"))
json.dump(ids[:open_count], open(os.path.join(root, "openShelves.json"), "w"))
PY
}

e2e_desktop() {
  local size="${1:-1440x900}" strut=()
  [ "${2:-}" = strut ] && strut=(--SetPartialStrut true)
  exec 3>"$work/display"
  Xvfb -displayfd 3 -screen 0 "${size}x24" -nolisten tcp >"$work/xvfb.log" 2>&1 &
  e2e_track $!
  exec 3>&-
  if ! wait_for 10 test -s "$work/display"; then
    echo "$e2e_name: Xvfb did not start"; cat "$work/xvfb.log"; exit 1
  fi
  export DISPLAY=":$(head -n1 "$work/display")"
  echo "$e2e_name: display $DISPLAY"

  mkdir -p "$work/home" "$work/data" "$work/config" "$work/cache" "$work/runtime" "$work/files"
  chmod 700 "$work/runtime"
  export HOME="$work/home" XDG_DATA_HOME="$work/data" XDG_CONFIG_HOME="$work/config" \
         XDG_CACHE_HOME="$work/cache" XDG_RUNTIME_DIR="$work/runtime" XDG_CONFIG_DIRS="$work/etc"
  export QT_QPA_PLATFORM=xcb
  # The launch update check must not leave the machine: nobody answers on port 9.
  export PERCHBOX_STABLE_FEED_URL=http://127.0.0.1:9/appcast.xml PERCHBOX_NIGHTLY_FEED_URL=http://127.0.0.1:9/appcast.xml
  unset QT_QPA_PLATFORMTHEME WAYLAND_DISPLAY XDG_SESSION_TYPE

  openbox >"$work/openbox.log" 2>&1 &
  e2e_track $!
  xcompmgr >"$work/xcompmgr.log" 2>&1 &
  e2e_track $!
  [ "${2:-}" = notray ] && return 0
  trayer --edge top --align right --widthtype request --height 24 --SetDockType true "${strut[@]}" \
    >"$work/trayer.log" 2>&1 &
  e2e_track $!
  wait_for 10 xdotool search --classname trayer || echo "$e2e_name: note: trayer window not found by class"
}

e2e_finish() {
  # A complaint of the toolkit that means the program is broken however the checks went.
  if [ -f "$work/perchbox.log" ] && grep -q "was not created in the main() thread" "$work/perchbox.log"; then
    fail "the toolkit took another thread for the program's main thread"
  fi
  if [ "$failures" -ne 0 ] && [ -f "$work/perchbox.log" ]; then
    echo "---- perchbox log"; cat "$work/perchbox.log"
  fi
  echo "$e2e_name: $((checks-failures)) passed, $failures failed"
  [ "$failures" -eq 0 ]
}
