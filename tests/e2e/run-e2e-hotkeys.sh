#!/usr/bin/env bash
# End-to-end test of global hot keys and edge tucking on a real (virtual) desktop.
#
#   run-e2e-hotkeys.sh PATH/TO/perchbox PATH/TO/e2e_key_grabber
#
# In its own D-Bus session with Xvfb, openbox, xcompmgr and trayer, it checks that:
#   - a combination recorded in a shelf's shortcut dialog (header menu, keyboard only) is
#     stored in the settings, and pressing it flies the shelf to the pointer; the second
#     press sends it back;
#   - a combination another X client already holds is skipped: the other client gets it;
#   - `perchbox tuck right` gives a 24 px strip at the screen's right edge, hovering the strip
#     peeks the shelf out, leaving it retucks it;
#   - quitting and starting again keeps the shelf tucked;
#   - `perchbox summon` acts in the running instance, starts Perchbox when none runs, and
#     fails with status 2 and one line for a shelf that does not exist.
# Exit 77 means a required tool is missing.
set -uo pipefail

perchbox="${1:?usage: run-e2e-hotkeys.sh PERCHBOX KEY_GRABBER}"
grabber="${2:?usage: run-e2e-hotkeys.sh PERCHBOX KEY_GRABBER}"
perchbox="$(cd "$(dirname "$perchbox")" && pwd)/$(basename "$perchbox")"

e2e_args=("$@")
source "$(dirname "$0")/desktop.sh"
e2e_prepare e2e-hotkeys Xvfb openbox xcompmgr trayer xdotool dbus-run-session python3
e2e_desktop 1440x900

# --- state: three open shelves; Gamma's combination is Ctrl+Alt+J ----------------------------
A=11111111-1111-4111-8111-111111111111
B=22222222-2222-4222-8222-222222222222
C=33333333-3333-4333-8333-333333333333
e2e_shelves 3 "$A" "$B" "$C"
mkdir -p "$XDG_CONFIG_HOME/Perchbox"
python3 - "$XDG_CONFIG_HOME/Perchbox" "$C" <<'PY'
import base64, json, os, sys
config, gamma = sys.argv[1], sys.argv[2]
# Ctrl+Alt+J (key J, Control|Option) for Gamma; the tutorial already seen.
combos = {gamma: {"keyCode": 38, "modifierFlags": 0x40000 | 0x80000}}
values = {"customShelfCombos_json": {"type": "data",
                                     "value": base64.b64encode(json.dumps(combos).encode()).decode()},
          "hasSeenTutorial": {"type": "bool", "value": True}}
json.dump({"format": 1, "values": values}, open(os.path.join(config, "settings.json"), "w"))
PY

start_app() {
  "$perchbox" "$@" >>"$work/perchbox.log" 2>&1 &
  app_pid=$!
}
stop_app() {
  timeout 10 "$perchbox" --quit >>"$work/perchbox.log" 2>&1
  wait_for 10 bash -c "! kill -0 $app_pid 2>/dev/null" || kill "$app_pid"
  wait "$app_pid" 2>/dev/null
  app_pid=""
}
shelf_visible() { xdotool search --onlyvisible --classname "^perchbox-shelf-$1\$" | head -n1; }
# "X Y WIDTH HEIGHT" of a shelf's window.
geometry() {
  local w; w=$(shelf_visible "$1") || return 1
  [ -n "$w" ] || return 1
  xdotool getwindowgeometry --shell "$w" | awk -F= '/^X=/{x=$2} /^Y=/{y=$2} /^WIDTH=/{w=$2} /^HEIGHT=/{h=$2} END {print x, y, w, h}'
}
# geometry_is ID AWK-CONDITION: true when the window's geometry (x y w h) meets the condition.
geometry_is() {
  local g; g=$(geometry "$1") || return 1
  echo "$g" | awk "{ x=\$1; y=\$2; w=\$3; h=\$4; exit !($2) }"
}
centred_on() { # ID PX PY: the window's centre within 2 px of the point
  geometry_is "$1" "(x + w/2 - $2)^2 <= 4 && (y + h/2 - $3)^2 <= 4"
}

# --- another client holds Ctrl+Alt+J ----------------------------------------------------------
"$grabber" 44 12 >"$work/grabber.out" 2>&1 &
e2e_track $!
if wait_for 5 grep -q grabbed "$work/grabber.out"; then pass "the other client holds Ctrl+Alt+J"; else fail "key grabber did not grab"; cat "$work/grabber.out"; fi

start_app
if wait_for 15 shelf_visible "$A" && wait_for 5 shelf_visible "$B" && wait_for 5 shelf_visible "$C"; then
  pass "three shelves open"
else
  fail "shelves did not open"; e2e_finish; exit 1
fi
sleep 1 # the second restore, 0.8 s after the first

# --- record Ctrl+Alt+K for Beta through its shortcut dialog -----------------------------------
beta=$(shelf_visible "$B")
read -r bx by bw bh < <(geometry "$B")
xdotool mousemove --window "$beta" 50 22 click 3
sleep 0.5
xdotool key Down Down Down Down Down Return
dialog_window() { xdotool search --onlyvisible --name "^Set Shortcut for Beta\$" | head -n1; }
if wait_for 5 dialog_window; then
  pass "\"Set Custom Shortcut…\" opens \"Set Shortcut for Beta\""
  dialog=$(dialog_window)
  xdotool windowactivate --sync "$dialog" >/dev/null 2>&1 || true
  sleep 0.3
  xdotool key Return   # the focused field starts recording
  sleep 0.2
  xdotool key ctrl+alt+k
  sleep 0.2
  xdotool key Return   # Save
else
  fail "shortcut dialog did not open"
fi
stored_combo() {
  python3 - "$XDG_CONFIG_HOME/Perchbox/settings.json" "$B" <<'PY'
import base64, json, sys
values = json.load(open(sys.argv[1]))["values"]
combos = json.loads(base64.b64decode(values["customShelfCombos_json"]["value"]))
combo = combos.get(sys.argv[2])
sys.exit(0 if combo == {"keyCode": 40, "modifierFlags": 0x40000 | 0x80000} else 1)
PY
}
if wait_for 5 stored_combo; then pass "Ctrl+Alt+K stored for Beta"; else fail "combo not stored"; cat "$XDG_CONFIG_HOME/Perchbox/settings.json"; echo; fi
wait_for 3 bash -c "! xdotool search --onlyvisible --name '^Set Shortcut for Beta\$'" || fail "dialog still open"

# --- press it: Beta flies to the pointer; again: back --------------------------------------------
xdotool mousemove 300 600
sleep 0.2
xdotool key ctrl+alt+k
if wait_for 5 centred_on "$B" 300 600; then
  pass "Ctrl+Alt+K flies Beta to the pointer ($(geometry "$B"))"
else
  fail "Beta not at the pointer: $(geometry "$B")"
fi
# Near the bottom right corner it stays 4 px inside the screen.
xdotool key ctrl+alt+k
wait_for 5 geometry_is "$B" "x == $bx && y == $by" && pass "second press sends Beta back" || fail "Beta not back: $(geometry "$B") (was $bx $by)"
xdotool mousemove 1438 898
sleep 0.2
xdotool key ctrl+alt+k
if wait_for 5 geometry_is "$B" "x + w == 1440 - 4 && y + h == 900 - 4"; then pass "flight near the corner keeps 4 px inside"; else fail "corner flight: $(geometry "$B")"; fi
xdotool key ctrl+alt+k
wait_for 5 geometry_is "$B" "x == $bx && y == $by" || fail "Beta not back after the corner flight"

# --- Ctrl+Alt+J is held by the other client: skipped -------------------------------------------
read -r cx cy cw ch < <(geometry "$C")
xdotool mousemove 900 500
sleep 0.2
xdotool key ctrl+alt+j
if wait_for 5 grep -q pressed "$work/grabber.out"; then pass "the other client got Ctrl+Alt+J"; else fail "the other client did not get Ctrl+Alt+J"; fi
sleep 0.5
geometry_is "$C" "x == $cx && y == $cy" && pass "Gamma did not move (its hot key was skipped)" || fail "Gamma moved: $(geometry "$C")"

# --- tuck right: a 24 px strip; hover peeks; leaving retucks ---------------------------------
alpha=$(shelf_visible "$A")
read -r ax ay aw ah < <(geometry "$A")
# The shelves open in a cascade, each a little below and to the right of the one before, so
# Alpha is made the active shelf and hovered at its top left corner, which nothing covers.
xdotool windowactivate "$alpha" 2>/dev/null || true
xdotool mousemove --window "$alpha" 8 8   # hovered: the active shelf
sleep 0.3
xdotool mousemove 700 450
if timeout 10 "$perchbox" tuck right >>"$work/perchbox.log" 2>&1; then pass "perchbox tuck right returns 0"; else fail "perchbox tuck right failed"; fi
strip() { geometry_is "$A" "x == 1440 - 24 && w == 24 && h == $ah"; }
if wait_for 5 strip; then pass "Alpha is a 24 px strip at the right edge ($(geometry "$A"))"; else fail "no strip: $(geometry "$A")"; fi
import -window root "$work/tucked.png" 2>/dev/null || true
xdotool mousemove 1430 $((ay + ah / 2))
peeked() { geometry_is "$A" "w == $aw && x + w == 1440"; }
if wait_for 5 peeked; then pass "hovering the strip peeks Alpha out ($(geometry "$A"))"; else fail "no peek: $(geometry "$A")"; fi
xdotool mousemove 700 450
if wait_for 5 strip; then pass "leaving it slides Alpha back"; else fail "no retuck: $(geometry "$A")"; fi
tucked_in_record() {
  python3 - "$XDG_DATA_HOME/Perchbox/shelves.json" "$A" <<'PY'
import json, sys
shelf = next(s for s in json.load(open(sys.argv[1])) if s["id"] == sys.argv[2])
sys.exit(0 if shelf.get("tuckedEdge") == "right" and shelf.get("tuckedScreenID") else 1)
PY
}
wait_for 5 tucked_in_record && pass "the tuck is in shelves.json" || fail "tuck fields not saved"

# --- summon a tucked shelf: out at the pointer, back on the next one -------------------------
xdotool mousemove 600 400
timeout 10 "$perchbox" summon alpha >>"$work/perchbox.log" 2>&1   # names match ignoring case
if wait_for 5 centred_on "$A" 600 400; then pass "perchbox summon brings the tucked shelf to the pointer"; else fail "summon: $(geometry "$A")"; fi
timeout 10 "$perchbox" summon "$A" >>"$work/perchbox.log" 2>&1
wait_for 5 strip && pass "summoned again: back on its strip" || fail "not back on its strip: $(geometry "$A")"

# --- bad verbs ---------------------------------------------------------------------------------
timeout 10 "$perchbox" summon "No Such Shelf" >"$work/verb.out" 2>"$work/verb.err"
rc=$?
if [ $rc -eq 2 ] && [ "$(wc -l <"$work/verb.err")" -eq 1 ] && grep -q "No Such Shelf" "$work/verb.err"; then
  pass "summon of an unknown shelf: status 2, one line ($(cat "$work/verb.err"))"
else
  fail "summon of an unknown shelf: status $rc, stderr: $(cat "$work/verb.err")"
fi
timeout 10 "$perchbox" tuck up 2>"$work/verb.err"
[ $? -eq 2 ] && pass "tuck up: status 2 ($(cat "$work/verb.err"))" || fail "tuck up accepted"

# --- quit and start again: still tucked --------------------------------------------------------
stop_app
start_app
if wait_for 15 strip; then pass "after a restart Alpha is tucked again ($(geometry "$A"))"; else fail "not tucked after restart: $(geometry "$A")"; fi
stop_app

# --- a verb when no Perchbox runs: it starts, then acts ----------------------------------------
xdotool mousemove 500 300
start_app summon Beta
if wait_for 15 centred_on "$B" 500 300; then pass "summon with no Perchbox running starts it and brings Beta"; else fail "Beta not brought: $(geometry "$B")"; fi
stop_app
timeout 10 "$perchbox" summon "No Such Shelf" 2>"$work/verb.err"
[ $? -eq 2 ] && pass "an unknown shelf with no Perchbox running: status 2, nothing started" || fail "unknown shelf started Perchbox"
if xdotool search --classname "^perchbox-shelf-" >/dev/null 2>&1; then fail "windows left"; fi

e2e_finish
