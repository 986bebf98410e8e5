#!/usr/bin/env bash
# End-to-end: our windows and the shelves never hide each other, on a desktop without a tray
# host (so Perchbox shows its own window), at the first start (so the tutorial opens too).
#
#   run-e2e-stacking.sh PATH/TO/perchbox
#
# Checks that the window shown in place of the tray item opens in a corner, not in the middle
# where shelves appear; that the Inbox made by `perchbox --send` comes up beside the tutorial
# and that window, not under them (they float above the shelves); and that a new shelf made
# from the shell with a dialog-sized window of ours in the middle is not hidden either. A shelf
# left open at the last quit comes back in the middle of the screen; the tutorial opens beside
# it, not over it.
# Exit 77 means a required tool is missing.
set -uo pipefail
perchbox="${1:?usage: run-e2e-stacking.sh PERCHBOX}"

e2e_args=("$@")
source "$(dirname "$0")/desktop.sh"
e2e_prepare e2e_stacking Xvfb openbox xcompmgr xdotool xwininfo xprop dbus-run-session python3
e2e_desktop 1280x800 notray

# x y w h of a window's frame (as the window manager drew it) by id.
geometry_of() {
  local info extents
  info=$(xwininfo -id "$1" 2>/dev/null) || return 1
  extents=$(xprop -id "$1" _NET_FRAME_EXTENTS 2>/dev/null | sed -n 's/.*= //p' | tr -d ' ')
  awk -v e="${extents:-0,0,0,0}" '
    /Absolute upper-left X/ {x=$NF} /Absolute upper-left Y/ {y=$NF} /^ *Width/ {w=$NF} /^ *Height/ {h=$NF}
    END {split(e, f, ","); print x - f[1], y - f[3], w + f[1] + f[2], h + f[3] + f[4]}' <<<"$info"
}
visible_named() { xdotool search --onlyvisible --name "^$1\$" 2>/dev/null | head -n1; }
visible_class() { xdotool search --onlyvisible --classname "$1" 2>/dev/null | head -n1; }
# True when the two rectangles "x y w h" share any pixel.
overlap() {
  python3 - "$1" "$2" <<'PY'
import sys
ax, ay, aw, ah = map(int, sys.argv[1].split()); bx, by, bw, bh = map(int, sys.argv[2].split())
sys.exit(0 if ax < bx + bw and bx < ax + aw and ay < by + bh and by < ay + ah else 1)
PY
}
# "Alpha", open at the last quit, without a remembered position: it comes back centred.
e2e_shelves 1 11111111-1111-4111-8111-111111111111
"$perchbox" >>"$work/perchbox.log" 2>&1 &
app_pid=$!

if wait_for 15 visible_named Perchbox; then
  panel=$(geometry_of "$(visible_named Perchbox)")
  read -r px py pw ph <<<"$panel"
  if [ $((px + pw)) -ge 1100 ] && [ "$py" -le 120 ]; then
    pass "the window without a tray opens in the top-right corner ($panel)"
  else
    fail "the window without a tray is at $panel"
  fi
else
  fail "no window without a tray host"
  e2e_finish; exit
fi
if wait_for 10 visible_named "Perchbox Tutorial" && wait_for 10 visible_named Alpha; then
  sleep 0.5 # settled
  restored=$(geometry_of "$(visible_named Alpha)")
  tutorial=$(geometry_of "$(visible_named "Perchbox Tutorial")")
  if overlap "$restored" "$tutorial"; then fail "the restored shelf ($restored) is under the tutorial ($tutorial)"
  else pass "the tutorial ($tutorial) opens beside the restored shelf ($restored)"; fi
else
  fail "no tutorial at the first start, or the open shelf did not come back"
fi

printf 'hello' >"$work/files/note.txt"
timeout 10 "$perchbox" --send "$work/files/note.txt" >>"$work/perchbox.log" 2>&1
if wait_for 10 visible_named Inbox; then
  sleep 0.5 # settled
  shelf=$(geometry_of "$(visible_named Inbox)")
  hidden_by=""
  overlap "$shelf" "$panel" && hidden_by="the window without a tray"
  if tutorial=$(visible_named "Perchbox Tutorial") && [ -n "$tutorial" ]; then
    overlap "$shelf" "$(geometry_of "$tutorial")" && hidden_by="$hidden_by the tutorial"
  fi
  if [ -z "$hidden_by" ]; then pass "the Inbox comes up beside our windows ($shelf)"; else fail "the Inbox ($shelf) is under $hidden_by"; fi
else
  fail "--send showed no shelf"
fi

# A new shelf from the shell (centred on the screen) while the tutorial sits in the middle.
before=$(xdotool search --onlyvisible --classname '^perchbox-shelf-' 2>/dev/null | sort)
timeout 10 "$perchbox" new-shelf >>"$work/perchbox.log" 2>&1
new_shelf() { comm -13 <(echo "$before") <(xdotool search --onlyvisible --classname '^perchbox-shelf-' 2>/dev/null | sort) | head -n1 | grep .; }
if wait_for 10 new_shelf; then
  sleep 0.5
  fresh=$(geometry_of "$(new_shelf)")
  covered=""
  for name in Perchbox "Perchbox Tutorial"; do
    w=$(visible_named "$name")
    [ -n "$w" ] && overlap "$fresh" "$(geometry_of "$w")" && covered="$covered $name"
  done
  if [ -z "$covered" ]; then pass "a new shelf is not hidden under our windows ($fresh)"; else fail "the new shelf ($fresh) is under$covered"; fi
else
  fail "new-shelf showed no shelf"
fi

e2e_finish
