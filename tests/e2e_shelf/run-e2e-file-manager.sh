#!/usr/bin/env bash
# End-to-end drag from a shelf of the real program into a real file manager's folder window
# (Thunar), once in each drag mode:
#   - copy: the file is copied into the folder, the source stays, the entry stays;
#   - move: the folder holds exactly that one file, the source is gone (the file manager moved
#     it), and the entry leaves the shelf.
#
#   run-e2e-file-manager.sh PATH/TO/perchbox
#
# On the shared test desktop (tests/e2e/desktop.sh). Exit 77 means a required program is
# missing (scripts/setup.sh installs them all).
set -uo pipefail

perchbox="${1:?usage: run-e2e-file-manager.sh PATH/TO/perchbox}"
perchbox="$(cd "$(dirname "$perchbox")" && pwd)/$(basename "$perchbox")"

e2e_args=("$@")
source "$(dirname "$0")/../e2e/desktop.sh"
e2e_prepare e2e-fm Xvfb openbox xcompmgr trayer xdotool dbus-run-session python3 thunar
fm_pid=""
trap 'finish; e2e_cleanup' EXIT
e2e_desktop 1440x900
mkdir -p "$work/dest"

SHELF=5E1F0000-0000-4000-8000-0000000000F1
shelves="$XDG_DATA_HOME/Perchbox/shelves.json"

# seed MODE FILE: settings with the drag mode, one open shelf holding FILE.
seed() {
  mkdir -p "$XDG_DATA_HOME/Perchbox" "$XDG_CONFIG_HOME/Perchbox"
  python3 - "$XDG_DATA_HOME/Perchbox" "$XDG_CONFIG_HOME/Perchbox/settings.json" "$SHELF" "$1" "$2" <<'PY'
import json, os, sys, urllib.parse, uuid
data, settings, shelf, mode, path = sys.argv[1:]
json.dump([{"id": shelf, "name": "Drag Test", "icon": "tray", "colorData": {"r": 0, "g": 0.478, "b": 1, "a": 1},
            "folderURL": "file:///nonexistent/", "files": [{"id": str(uuid.uuid4()).upper(),
                                                             "url": "file://" + urllib.parse.quote(path)}]}],
          open(os.path.join(data, "shelves.json"), "w"))
json.dump([shelf], open(os.path.join(data, "openShelves.json"), "w"))
json.dump({"format": 1, "values": {"dragMode": {"type": "string", "value": mode},
                                   "hasSeenTutorial": {"type": "bool", "value": True}}}, open(settings, "w"))
PY
}
shelf_has() { grep -q "$1" "$shelves" 2>/dev/null; }
shelf_window() { xdotool search --onlyvisible --classname "^perchbox-shelf-$SHELF\$" 2>/dev/null | head -n1; }
fm_window() { xdotool search --onlyvisible --class Thunar 2>/dev/null | tail -n1; }

# run MODE: the shelf at (100, 100), the folder window at (700, 100), one drag of the only row
# into the folder's empty space.
run() {
  local mode="$1" file="$work/files/$1.txt"
  echo "$mode content" >"$file"
  rm -rf "$work/dest"; mkdir -p "$work/dest"
  seed "$mode" "$file"
  "$perchbox" >>"$work/perchbox.log" 2>&1 &
  app_pid=$!
  thunar "$work/dest" >>"$work/thunar.log" 2>&1 &
  fm_pid=$!
  if ! wait_for 15 shelf_window; then
    fail "$mode: the shelf window did not appear"; finish; return
  fi
  xdotool windowmove "$(shelf_window)" 100 100
  if ! wait_for 40 fm_window; then
    fail "$mode: Thunar's window did not appear"; finish; return
  fi
  sleep 1
  local fm; fm=$(fm_window)
  xdotool windowmove "$fm" 700 100 windowsize "$fm" 650 500
  sleep 1.5
  # The one row is the shelf's last: the header above it grows with its second line.
  local height; height=$(xdotool getwindowgeometry --shell "$(shelf_window)" | awk -F= '/^HEIGHT=/ {print $2}')
  local x=160 y=$(( 100 + height - 20 ))
  xdotool mousemove $x $y; sleep 0.3
  xdotool mousedown 1; sleep 0.3
  for step in 1 2 3 4 5 6 7 8 9 10; do
    xdotool mousemove $(( x + (1050 - x) * step / 10 )) $(( y + (420 - y) * step / 10 )); sleep 0.15
  done
  sleep 0.5
  xdotool mouseup 1
  sleep 2
  # PERCHBOX_E2E_SHOTS=DIR keeps a screenshot of the desktop after each drop.
  if [ -n "${PERCHBOX_E2E_SHOTS:-}" ] && command -v import >/dev/null; then
    import -window root "$PERCHBOX_E2E_SHOTS/file-manager-$mode.png" 2>/dev/null
  fi
  if [ "$mode" = copy ]; then
    if wait_for 5 test -f "$work/dest/copy.txt" && [ -f "$file" ] && [ "$(cat "$work/dest/copy.txt")" = "copy content" ] \
       && sleep 1 && shelf_has "files/copy.txt"; then
      pass "copy mode: Thunar copied the file; source and entry kept"
    else
      fail "copy mode (dest: $(ls "$work/dest"), source: $(ls "$work/files"))"
    fi
  else
    if wait_for 5 test -f "$work/dest/move.txt" && [ ! -e "$file" ] && [ "$(ls -A "$work/dest" | wc -l)" = 1 ] \
       && wait_for 5 bash -c "! grep -q 'files/move.txt' '$shelves'"; then
      pass "move mode: Thunar moved the file (exactly one at the destination); entry off the shelf"
    else
      fail "move mode (dest: $(ls -A "$work/dest"), source: $(ls "$work/files"), shelf: $(cat "$shelves"))"
    fi
  fi
  finish
}

# Quits both programs of a run (also on the way out).
finish() {
  if [ -n "$app_pid" ]; then
    timeout 10 "$perchbox" --quit >/dev/null 2>&1
    wait_for 5 bash -c "! kill -0 $app_pid 2>/dev/null" || kill "$app_pid"
    wait "$app_pid" 2>/dev/null; app_pid=""
  fi
  if [ -n "$fm_pid" ]; then
    thunar -q >/dev/null 2>&1
    wait_for 5 bash -c "! kill -0 $fm_pid 2>/dev/null" || kill "$fm_pid"
    wait "$fm_pid" 2>/dev/null; fm_pid=""
  fi
}

run copy
run move

[ "$failures" -ne 0 ] && tail -20 "$work/thunar.log"
e2e_finish
