#!/usr/bin/env bash
# End-to-end test of a shelf window on a real (virtual) desktop.
#
#   run-e2e-shelf.sh PATH/TO/e2e_shelf_host PATH/TO/e2e_drag_peer
#
# In its own D-Bus session with Xvfb, openbox and xcompmgr, and every XDG folder in a
# temporary directory, it checks that:
#   - three files dragged from another program onto the shelf are added;
#   - a file dragged out in copy mode is copied and stays on the shelf;
#   - a file dragged out in move mode is moved and leaves the shelf;
#   - an image pasted with Ctrl+V (put on the clipboard by xclip) becomes a PNG in the
#     temporary folder and is added;
#   - in move mode, a receiver that takes the drop as a copy and writes nothing, or writes
#     later, leaves the source file and the entry where they are, and the user is told once
#     (a Notify call on the session bus); Perchbox never deletes a dragged file;
#   - the keys held as a drag starts: Shift moves, Alt flips the setting, Ctrl copies (seen
#     in what the receiver is offered and proposed).
# Exit 77 means a required tool is missing.
set -uo pipefail

host="${1:?usage: run-e2e-shelf.sh HOST PEER}"
peer="${2:?usage: run-e2e-shelf.sh HOST PEER}"

e2e_args=("$@")
source "$(dirname "$0")/../e2e/desktop.sh"
e2e_prepare e2e-shelf Xvfb openbox xcompmgr xdotool xclip dbus-run-session dbus-monitor python3
host_pid=""
peer_pid=""
stop() { [ -n "$1" ] && kill "$1" 2>/dev/null && wait "$1" 2>/dev/null; }
trap 'stop "$peer_pid"; stop "$host_pid"; e2e_cleanup' EXIT

# Number of files on the first shelf in shelves.json.
shelf_count() {
  python3 - "$XDG_DATA_HOME/Perchbox/shelves.json" <<'PY'
import json, sys
try:
    print(len(json.load(open(sys.argv[1]))[0]["files"]))
except Exception:
    print(-1)
PY
}
# seed_shelf FILE…: one shelf holding exactly these files (the host must not run).
seed_shelf() {
  python3 - "$XDG_DATA_HOME/Perchbox/shelves.json" "$@" <<'PY'
import json, sys, urllib.parse, uuid
files = [{"id": str(uuid.uuid4()).upper(), "url": "file://" + urllib.parse.quote(p)} for p in sys.argv[2:]]
json.dump([{"id": "5E1F0000-0000-4000-8000-000000000001", "name": "E2E", "icon": "tray",
            "colorData": {"r": 0, "g": 0.478, "b": 1, "a": 1}, "folderURL": "file:///nonexistent/",
            "files": files}], open(sys.argv[1], "w"))
PY
}
notify_count() { grep -c 'Copied, Not Moved' "$work/notify.log" 2>/dev/null; }
shelf_has() { # URL fragment
  grep -q "$1" "$XDG_DATA_HOME/Perchbox/shelves.json" 2>/dev/null
}

# --- the desktop -----------------------------------------------------------------------------
e2e_desktop 1440x900 notray
export TMPDIR="$work/tmp"
mkdir -p "$TMPDIR" "$work/dest"
dbus-monitor --session "interface='org.freedesktop.Notifications',member='Notify'" >"$work/notify.log" 2>&1 &
e2e_track $!
sleep 1

start_host() { # copy|move
  "$host" "$1" >"$work/host.log" 2>&1 &
  host_pid=$!
  wait_for 10 xdotool search --classname '^perchbox-shelf-' || { fail "shelf window did not appear"; cat "$work/host.log"; exit 1; }
  sleep 0.7
}
start_peer() {
  "$peer" "$@" >"$work/peer.log" 2>&1 &
  peer_pid=$!
  wait_for 10 xdotool search --name '^perchbox-e2e-peer$' || { fail "peer did not appear"; exit 1; }
  sleep 0.7
}
# drag FROM_X FROM_Y TO_X TO_Y [KEY]: KEY (shift, ctrl, alt) is held from just after the press
# (a window manager takes Alt held at the press) until the drop.
drag() {
  xdotool mousemove "$1" "$2"; sleep 0.2
  xdotool mousedown 1; sleep 0.2
  [ -n "${5:-}" ] && { xdotool keydown "$5"; sleep 0.2; }
  for step in 1 2 3 4 5 6 7 8; do
    xdotool mousemove $(( $1 + ($3 - $1) * step / 8 )) $(( $2 + ($4 - $2) * step / 8 )); sleep 0.15
  done
  sleep 0.3
  xdotool mouseup 1; sleep 0.5
  [ -n "${5:-}" ] && xdotool keyup "$5"
  return 0
}

for n in a b c; do echo "content $n" >"$work/files/$n.txt"; done

# --- 1. drop three files on the shelf ----------------------------------------------------------
start_host copy
start_peer source "$work/files/a.txt" "$work/files/b.txt" "$work/files/c.txt"
drag 850 250 200 160
if wait_for 5 sh -c "[ \"\$(python3 -c 'import json,sys;print(len(json.load(open(sys.argv[1]))[0][\"files\"]))' '$XDG_DATA_HOME/Perchbox/shelves.json' 2>/dev/null)\" = 3 ]"; then
  pass "three dropped files are on the shelf"
else
  fail "dropped files not added (count $(shelf_count))"
fi
stop "$peer_pid"; peer_pid=""

# --- 2. drag out in copy mode --------------------------------------------------------------------
# The first row lies just below the header (window at 100,100).
row_y=150
start_peer target "$work/dest" copy
drag 160 $row_y 850 250
if wait_for 5 test -f "$work/dest/a.txt" && [ -f "$work/files/a.txt" ] && [ "$(shelf_count)" = 3 ]; then
  pass "copy drag: copied, source and entry kept"
else
  fail "copy drag (dest: $(ls "$work/dest"), shelf count $(shelf_count))"; cat "$work/peer.log"
fi
stop "$peer_pid"; peer_pid=""
stop "$host_pid"; host_pid=""
rm -f "$work/dest/"*

# --- 3. drag out in move mode --------------------------------------------------------------------
start_host move
start_peer target "$work/dest" move
drag 160 $row_y 850 250
if wait_for 5 test -f "$work/dest/a.txt" && [ ! -e "$work/files/a.txt" ] \
   && wait_for 3 sh -c "! grep -q 'files/a.txt' '$XDG_DATA_HOME/Perchbox/shelves.json'"; then
  pass "move drag: moved on disk and removed from the shelf"
else
  fail "move drag (dest: $(ls "$work/dest"), source exists: $([ -e "$work/files/a.txt" ] && echo yes || echo no), count $(shelf_count))"
  cat "$work/peer.log"
fi
stop "$peer_pid"; peer_pid=""

# --- 4. paste an image -----------------------------------------------------------------------------
python3 - "$work/img.png" <<'PY'
import struct, sys, zlib
w, h = 4, 3
raw = b"".join(b"\x00" + b"\xff\x00\x00" * w for _ in range(h))
def chunk(t, d): return struct.pack(">I", len(d)) + t + d + struct.pack(">I", zlib.crc32(t + d) & 0xffffffff)
png = b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", w, h, 8, 2, 0, 0, 0)) + chunk(b"IDAT", zlib.compress(raw)) + chunk(b"IEND", b"")
open(sys.argv[1], "wb").write(png)
PY
xclip -selection clipboard -t image/png -i "$work/img.png" &
pids+=($!)
sleep 0.5
xdotool mousemove 200 108; sleep 0.2
xdotool click 1; sleep 0.3        # focus the shelf (on its grip)
xdotool key ctrl+v; sleep 1
if wait_for 5 sh -c "ls '$TMPDIR' | grep -q '^Pasted Image [0-9]*\\.png$'" && wait_for 3 grep -q 'Pasted%20Image' "$XDG_DATA_HOME/Perchbox/shelves.json"; then
  pass "pasted image written as PNG and added"
else
  fail "paste (tmp: $(ls "$TMPDIR"))"
fi

stop "$host_pid"; host_pid=""

# --- 5. move mode, the receiver accepts as a copy and writes nothing ---------------------------
rm -rf "$work/dest"; mkdir -p "$work/dest"
echo "keep me" >"$work/files/n1.txt"
seed_shelf "$work/files/n1.txt"
start_host move
start_peer target "$work/dest" nothing
drag 160 $row_y 850 250
sleep 2
if [ -f "$work/files/n1.txt" ] && [ -z "$(ls "$work/dest")" ] && [ "$(shelf_count)" = 1 ]; then
  pass "receiver that wrote nothing: source and entry kept"
else
  fail "receiver that wrote nothing (source: $(ls "$work/files"), count $(shelf_count))"; cat "$work/peer.log"
fi
if wait_for 3 sh -c "[ \"\$(grep -c 'Copied, Not Moved' '$work/notify.log')\" -ge 1 ]" && [ "$(notify_count)" = 1 ]; then
  pass "told once that the receiver copied instead of moving"
else
  fail "notification count $(notify_count)"
fi
stop "$peer_pid"; peer_pid=""

# --- 6. move mode, the receiver accepts as a copy and writes two seconds later -----------------
start_peer target "$work/dest" slow
drag 160 $row_y 850 250
sleep 3.5
if [ -f "$work/files/n1.txt" ] && [ -f "$work/dest/n1.txt" ] && [ "$(shelf_count)" = 1 ]; then
  pass "slow receiver: its copy arrived, source and entry kept"
else
  fail "slow receiver (source: $(ls "$work/files"), dest: $(ls "$work/dest"), count $(shelf_count))"; cat "$work/peer.log"
fi
stop "$peer_pid"; peer_pid=""
stop "$host_pid"; host_pid=""

# --- 7. keys held as the drag starts ---------------------------------------------------------------
rm -rf "$work/dest"; mkdir -p "$work/dest"
for n in m1 m2 m3; do echo "$n" >"$work/files/$n.txt"; done
seed_shelf "$work/files/m1.txt" "$work/files/m2.txt" "$work/files/m3.txt"
start_host copy
start_peer target "$work/dest" proposed
drag 160 $row_y 850 250 shift
if grep -q 'offered copy=1 move=1 proposed=move' "$work/peer.log" && wait_for 3 test -f "$work/dest/m1.txt" \
   && [ ! -e "$work/files/m1.txt" ] && wait_for 3 sh -c "! grep -q 'files/m1.txt' '$XDG_DATA_HOME/Perchbox/shelves.json'"; then
  pass "copy mode + Shift: a move is proposed and the entry leaves"
else
  fail "copy mode + Shift ($(cat "$work/peer.log"), count $(shelf_count))"
fi
: >"$work/peer.log"
drag 160 $row_y 850 250 alt
if grep -q 'offered copy=1 move=1 proposed=move' "$work/peer.log" && wait_for 3 test -f "$work/dest/m2.txt" \
   && wait_for 3 sh -c "! grep -q 'files/m2.txt' '$XDG_DATA_HOME/Perchbox/shelves.json'"; then
  pass "copy mode + Alt (after the press): flipped to a move"
else
  fail "copy mode + Alt ($(cat "$work/peer.log"), count $(shelf_count))"
fi
stop "$peer_pid"; peer_pid=""
stop "$host_pid"; host_pid=""
before=$(notify_count)
start_host move
start_peer target "$work/dest" proposed
drag 160 $row_y 850 250 ctrl
if grep -q 'offered copy=1 move=0 proposed=copy' "$work/peer.log" && wait_for 3 test -f "$work/dest/m3.txt" \
   && [ -f "$work/files/m3.txt" ] && [ "$(shelf_count)" = 1 ]; then
  pass "move mode + Ctrl: only a copy is offered; source and entry kept"
else
  fail "move mode + Ctrl ($(cat "$work/peer.log"), count $(shelf_count))"
fi
sleep 1
[ "$(notify_count)" = "$before" ] && pass "a copy asked for with Ctrl is not reported" || fail "Ctrl copy was reported"
stop "$peer_pid"; peer_pid=""

[ "$failures" -ne 0 ] && cat "$work/host.log"
e2e_finish
