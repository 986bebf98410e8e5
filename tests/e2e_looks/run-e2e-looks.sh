#!/usr/bin/env bash
# End-to-end test of how Perchbox's windows sit on a real (virtual) desktop.
#
#   run-e2e-looks.sh PATH/TO/perchbox
#
# Starts its own D-Bus session, Xvfb (on a free display), openbox, xcompmgr and trayer, points
# every XDG folder at a temporary directory, and checks that:
#   - shelf windows are titled with their shelves' names and open where they were last
#     (positions kept in shelves.json), a position off every screen coming back inside;
#   - a dialog opened from a centred shelf is transient for it, above every shelf in the
#     stacking order, and not covered: the screen shows the dialog's own pixels;
#   - Escape closes that dialog;
#   - a shelf moved by its grip, hidden and shown again comes back where it was moved to,
#     and is there again after a restart.
# Every process it starts is stopped on exit. Exit 77 means a required tool is missing.
set -uo pipefail

perchbox="${1:?usage: run-e2e-looks.sh PATH/TO/perchbox}"
perchbox="$(cd "$(dirname "$perchbox")" && pwd)/$(basename "$perchbox")"

e2e_args=("$@")
source "$(dirname "$0")/../e2e/desktop.sh"
e2e_prepare e2e-looks Xvfb openbox xcompmgr trayer xdotool xprop xwininfo import compare convert dbus-run-session python3
e2e_desktop 1440x900 strut

# --- state: a shelf remembered in the middle of the screen, one near the left, one off screen --
C=11111111-1111-4111-8111-111111111111
L=22222222-2222-4222-8222-222222222222
O=33333333-3333-4333-8333-333333333333
mkdir -p "$XDG_DATA_HOME/Perchbox/Shelves"
python3 - "$XDG_DATA_HOME/Perchbox" "$C" "$L" "$O" <<'PY'
import json, os, sys
root, c, l, o = sys.argv[1:]
positions = {c: {"x": 610, "y": 330}, l: {"x": 60, "y": 420}, o: {"x": 5000, "y": -900, "screen": "gone"}}
shelves = []
for name, i in [("Centre", c), ("Left", l), ("Lost", o)]:
    folder = os.path.join(root, "Shelves", i)
    os.makedirs(folder, exist_ok=True)
    shelves.append({"id": i, "name": name, "colorData": {"r": 0, "g": 0.478, "b": 1, "a": 1}, "icon": "tray",
                    "folderURL": "file://" + folder + "/", "files": [], "favorites": [],
                    "favoriteButtonDisplayMode": "iconAndName", "windowPosition": positions[i]})
json.dump(shelves, open(os.path.join(root, "shelves.json"), "w"))
json.dump([c, l, o], open(os.path.join(root, "openShelves.json"), "w"))
PY
# No tutorial over the shelves.
mkdir -p "$XDG_CONFIG_HOME/Perchbox"
echo '{"format": 1, "values": {"hasSeenTutorial": {"type": "bool", "value": true}}}' >"$XDG_CONFIG_HOME/Perchbox/settings.json"

start_app() {
  "$perchbox" >>"$work/perchbox.log" 2>&1 &
  app_pid=$!
}
quit_app() {
  timeout 10 "$perchbox" --quit
  wait_for 10 bash -c "! kill -0 $app_pid 2>/dev/null" || kill "$app_pid"
  wait "$app_pid" 2>/dev/null
  app_pid=""
}
shelf_visible() { xdotool search --onlyvisible --classname "^perchbox-shelf-$1\$" | head -n1; }
# X Y WIDTH HEIGHT of a window's inside, on the screen (xdotool's position is off for framed windows).
geometry_of() {
  xwininfo -id "$1" | awk '/Absolute upper-left X/ {print "X=" $4} /Absolute upper-left Y/ {print "Y=" $4}
                           /Width:/ {print "WIDTH=" $2} /Height:/ {print "HEIGHT=" $2}'
}
position_of() { local X Y; eval "$(geometry_of "$1")"; echo "$X $Y"; }
near() { # near "x y" "x y" [tolerance]
  python3 - "$1" "$2" "${3:-3}" <<'PY'
import sys
a = [int(v) for v in sys.argv[1].split()]; b = [int(v) for v in sys.argv[2].split()]; t = int(sys.argv[3])
sys.exit(0 if abs(a[0] - b[0]) <= t and abs(a[1] - b[1]) <= t else 1)
PY
}
stored_position() {
  python3 - "$XDG_DATA_HOME/Perchbox/shelves.json" "$1" <<'PY'
import json, sys
s = next(s for s in json.load(open(sys.argv[1])) if s["id"] == sys.argv[2])
p = s.get("windowPosition")
print(f'{p["x"]} {p["y"]}' if p else "none")
PY
}

start_app
if wait_for 15 shelf_visible "$C" && wait_for 5 shelf_visible "$L" && wait_for 5 shelf_visible "$O"; then
  pass "shelves shown"
else
  fail "shelves not shown"; cat "$work/perchbox.log"; exit 1
fi
centre=$(shelf_visible "$C"); left=$(shelf_visible "$L"); lost=$(shelf_visible "$O")
sleep 0.5

# --- titles and remembered positions ----------------------------------------------------------
[ "$(xdotool getwindowname "$centre")" = "Centre" ] && pass "window title is the shelf's name" \
  || fail "window title is '$(xdotool getwindowname "$centre")'"
near "$(position_of "$centre")" "610 330" && pass "centre shelf opened where it was" \
  || fail "centre shelf at $(position_of "$centre"), not 610 330"
near "$(position_of "$left")" "60 420" && pass "left shelf opened where it was" \
  || fail "left shelf at $(position_of "$left"), not 60 420"
eval "$(geometry_of "$lost")"
if [ "$X" -ge 0 ] && [ "$Y" -ge 0 ] && [ $((X + WIDTH)) -le 1440 ] && [ $((Y + HEIGHT)) -le 900 ]; then
  pass "a position off every screen came back inside ($X,$Y)"
else
  fail "lost shelf at $X,$Y ${WIDTH}x$HEIGHT"
fi

# --- a dialog opened from the centred shelf ---------------------------------------------------
# Put the other shelves on top first, as a user clicking around would.
xdotool windowraise "$left" windowraise "$lost" windowraise "$centre" >/dev/null 2>&1
eval "$(geometry_of "$centre")"
# The shelf's name in its header opens the rename dialog.
xdotool mousemove $((X + 45)) $((Y + 22)) click 1
dialog=""
find_dialog() { dialog=$(xdotool search --onlyvisible --name '^Rename Shelf$' | head -n1); [ -n "$dialog" ]; }
if wait_for 5 find_dialog; then
  pass "rename dialog opened from the shelf"
else
  fail "no dialog opened"; import -window root "$work/no-dialog.png" 2>/dev/null
fi
if [ -n "$dialog" ]; then
  sleep 0.5
  transient=$(xprop -id "$dialog" WM_TRANSIENT_FOR 2>/dev/null | grep -o '0x[0-9a-f]*')
  [ -n "$transient" ] && [ $((transient)) -eq "$centre" ] && pass "dialog is transient for its shelf" \
    || fail "dialog transient for '$transient', shelf is $(printf '0x%x' "$centre")"
  xprop -id "$dialog" _NET_WM_STATE | grep -q _NET_WM_STATE_ABOVE && pass "dialog floats with the shelves" \
    || fail "dialog not above normal windows: $(xprop -id "$dialog" _NET_WM_STATE)"
  stacking=$(xprop -root _NET_CLIENT_LIST_STACKING | sed 's/.*# //; s/,//g')
  order=$(python3 - "$dialog" "$centre" "$left" "$lost" "$stacking" <<'PY'
import sys
dialog, *shelves, stacking = sys.argv[1:]
ids = [int(w, 16) for w in stacking.split()]
d = ids.index(int(dialog))
print("above" if all(int(s) in ids and ids.index(int(s)) < d for s in shelves) else "below")
PY
)
  [ "$order" = "above" ] && pass "dialog is above every shelf in the stacking order" || fail "dialog stacked under a shelf"
  # Not covered: the screen shows exactly what the dialog draws.
  eval "$(geometry_of "$dialog")"
  import -window root "$work/screen.png" 2>/dev/null
  import -window "$dialog" "$work/dialog.png" 2>/dev/null
  convert "$work/screen.png" -crop "${WIDTH}x${HEIGHT}+${X}+${Y}" +repage "$work/screen-dialog.png"
  differing=$(compare -metric AE -fuzz 8% "$work/screen-dialog.png" "$work/dialog.png" null: 2>&1 | awk '{print int($1)}')
  if [ -n "$differing" ] && [ "$differing" -le $((WIDTH * HEIGHT / 100)) ]; then
    pass "dialog not covered ($differing of $((WIDTH * HEIGHT)) pixels differ)"
  else
    fail "dialog covered or hidden: $differing of $((WIDTH * HEIGHT)) pixels differ"
  fi
  xdotool windowactivate --sync "$dialog" >/dev/null 2>&1
  xdotool key --window "$dialog" Escape
  if wait_for 5 bash -c "! xdotool search --onlyvisible --name '^Rename Shelf\$' | grep -q ."; then
    pass "Escape closes the dialog"
  else
    fail "Escape left the dialog open"; xdotool key Escape
  fi
fi

# --- moved, hidden, shown, restarted ----------------------------------------------------------
eval "$(geometry_of "$left")"
grip_x=$((X + WIDTH / 2)); grip_y=$((Y + 6))
xdotool mousemove "$grip_x" "$grip_y" mousedown 1
for step in 1 2 3 4 5 6 7 8; do xdotool mousemove $((grip_x + step * 20)) $((grip_y - step * 15)); sleep 0.05; done
xdotool mouseup 1
sleep 0.5
moved="$(position_of "$left")"
near "$moved" "$((X + 160)) $((Y - 120))" 4 && pass "grip moved the shelf to $moved" || fail "grip drag ended at $moved"
stored_is_moved() { near "$(stored_position "$L")" "$moved" 1; }
wait_for 5 stored_is_moved && pass "moved position kept in shelves.json" || fail "shelves.json has $(stored_position "$L")"

# Hide every shelf with their header buttons, then ask the running Perchbox to show them.
for w in "$centre" "$left" "$lost"; do
  eval "$(geometry_of "$w")"
  xdotool mousemove $((X + WIDTH - 18)) $((Y + 22)) click 1
  sleep 0.3
done
hidden() { ! xdotool search --onlyvisible --classname "^perchbox-shelf-$L\$" | grep -q .; }
if wait_for 5 hidden; then pass "hide button hid the shelf"; else fail "shelf still visible after hide"; fi
# left_back_at_moved SECONDS WHEN : the moved shelf shows up within SECONDS where it was moved to.
left_back_at_moved() {
  if wait_for "$1" shelf_visible "$L"; then
    sleep 0.3
    local at; at="$(position_of "$(shelf_visible "$L")")"
    near "$at" "$moved" && pass "$2 the shelf is where it was moved to" || fail "$2 the shelf is at $at, was $moved"
  else
    fail "$2 the shelf is not shown"
  fi
}
timeout 10 "$perchbox" >>"$work/perchbox.log" 2>&1
left_back_at_moved 5 "shown again,"
quit_app
start_app
left_back_at_moved 15 "after a restart"
quit_app

e2e_finish
