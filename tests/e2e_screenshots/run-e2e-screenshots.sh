#!/usr/bin/env bash
# End-to-end test of screenshot auto-capture and of the update check, on a real (virtual)
# desktop.
#
#   run-e2e-screenshots.sh PATH/TO/perchbox
#
# On the shared test desktop (tests/e2e/desktop.sh), as a GNOME-like desktop whose Pictures folder is
# "$HOME/Pictures", with Screenshot Auto-Capture on in the settings, it checks that:
#   - the launch check finds the newer version of a feed served on 127.0.0.1 and says so,
#     and "Open Download Page" hands the page to the browser (a stand-in xdg-open);
#   - screenshots of the screen (ffmpeg x11grab) written into Pictures/Screenshots land on a
#     new "Screenshots" shelf in "shelves.json", whose window opens; the file that was there
#     before does not; a slowly written one arrives only once complete;
#   - `perchbox check-updates` reads the same feed and prints the newer version.
# Every process it starts is stopped on exit. Exit 77 means a required tool is missing.
set -uo pipefail

perchbox="${1:?usage: run-e2e-screenshots.sh PATH/TO/perchbox}"
perchbox="$(cd "$(dirname "$perchbox")" && pwd)/$(basename "$perchbox")"

e2e_args=("$@")
source "$(dirname "$0")/../e2e/desktop.sh"
e2e_prepare e2e-screenshots Xvfb openbox xcompmgr trayer xdotool dbus-run-session python3 ffmpeg
e2e_desktop 1440x900
mkdir -p "$work/home/Pictures/Screenshots" "$work/config/Perchbox" "$work/feeds" "$work/bin"
export XDG_CURRENT_DESKTOP=GNOME LANGUAGE=C
printf 'XDG_PICTURES_DIR="$HOME/Pictures"\nXDG_DESKTOP_DIR="$HOME/Desktop"\n' >"$XDG_CONFIG_HOME/user-dirs.dirs"
shots="$HOME/Pictures/Screenshots"

# The browser: a stand-in xdg-open that notes what it was asked to open.
cat >"$work/bin/xdg-open" <<SH
#!/bin/sh
printf '%s\n' "\$*" >>"$work/opened"
SH
chmod +x "$work/bin/xdg-open"
export PATH="$work/bin:$PATH"

# --- the update feed on the loopback interface -----------------------------------------------
python3 -u -m http.server 0 --bind 127.0.0.1 --directory "$work/feeds" >"$work/http.log" 2>&1 &
e2e_track $!
port_known() { grep -qE 'port [0-9]+' "$work/http.log"; }
if ! wait_for 10 port_known; then echo "e2e-screenshots: feed server did not start"; cat "$work/http.log"; exit 1; fi
port=$(grep -oE 'port [0-9]+' "$work/http.log" | head -n1 | awk '{print $2}')
feed="http://127.0.0.1:$port"
cat >"$work/feeds/stable.xml" <<XML
<?xml version="1.0" encoding="utf-8"?>
<rss version="2.0" xmlns:sparkle="http://www.andymatuschak.org/xml-namespaces/sparkle">
<channel><title>Perchbox</title>
<item><title>Perchbox 99.0.0</title><link>$feed/releases/99.0.0.html</link>
<sparkle:shortVersionString>99.0.0</sparkle:shortVersionString>
<enclosure url="$feed/perchbox-99.0.0.tar.gz" length="1" type="application/gzip"/></item>
</channel></rss>
XML
export PERCHBOX_STABLE_FEED_URL="$feed/stable.xml" PERCHBOX_NIGHTLY_FEED_URL="$feed/nightly.xml"

# --- settings: auto-capture on, tutorial seen; a screenshot that was there before --------------
cat >"$XDG_CONFIG_HOME/Perchbox/settings.json" <<'JSON'
{"format": 1, "values": {"screenshotEnabled": {"type": "bool", "value": true},
                         "hasSeenTutorial": {"type": "bool", "value": true}}}
JSON
ffmpeg -v error -f lavfi -i color=c=gray:s=64x64 -frames:v 1 "$shots/old.png"

"$perchbox" >>"$work/perchbox.log" 2>&1 &
app_pid=$!

# --- the launch check ------------------------------------------------------------------------
update_window() { xdotool search --onlyvisible --name '^Update Available$'; }
if wait_for 20 update_window; then
  pass "launch check found the newer version"
  win=$(update_window | head -n1)
  xdotool windowactivate --sync "$win" >/dev/null 2>&1 || xdotool windowfocus --sync "$win" >/dev/null 2>&1
  xdotool key --window "$win" Return
  if wait_for 5 grep -qx "$feed/releases/99.0.0.html" "$work/opened"; then
    pass "\"Open Download Page\" opened the release page in the browser"
  else
    fail "download page not opened: $(cat "$work/opened" 2>/dev/null)"
  fi
else
  fail "no \"Update Available\" message after launch"
fi
if grep -q 'perchbox-99.0.0.tar.gz' "$work/http.log"; then fail "the download itself was fetched"; else pass "nothing downloaded"; fi

# --- screenshots --------------------------------------------------------------------------------
screenshot() { ffmpeg -v error -f x11grab -video_size 1440x900 -i "$DISPLAY" -frames:v 1 -y "$1"; }
screenshot "$shots/Screenshot from e2e 1.png" || fail "ffmpeg could not take a screenshot"
screenshot "$work/shot2.png" && cp "$work/shot2.png" "$shots/Screenshot from e2e 2.PNG"

shelf_files() {
  python3 - "$XDG_DATA_HOME/Perchbox/shelves.json" <<'PY'
import json, sys, urllib.parse
try:
    shelves = json.load(open(sys.argv[1]))
except Exception:
    sys.exit(0)
for s in shelves:
    if s["name"] == "Screenshots":
        print("shelf", s["id"], s["icon"])
        for f in s["files"]:
            print("file", urllib.parse.unquote(f["url"]).rsplit("/", 1)[-1])
PY
}
# on_shelf LINE…: every line is in shelf_files' output (read whole first: grep -q would
# close the pipe early).
on_shelf() {
  local listing line
  listing=$(shelf_files)
  for line in "$@"; do grep -qxF "$line" <<<"$listing" || return 1; done
}
has_two() { on_shelf 'file Screenshot from e2e 1.png' 'file Screenshot from e2e 2.PNG'; }
if wait_for 10 has_two; then
  pass "two screenshots on the \"Screenshots\" shelf in shelves.json"
else
  fail "screenshots not in shelves.json:"; shelf_files
fi
listing=$(shelf_files)
if grep -q '^shelf .* photo$' <<<"$listing"; then pass "the shelf has the photo icon"; else fail "no Screenshots shelf with the photo icon"; fi
if on_shelf 'file old.png'; then fail "a screenshot from before the start was added"; else pass "the earlier file was not added"; fi
shelves=$(grep -c '^shelf ' <<<"$listing")
[ "$shelves" = 1 ] && pass "one Screenshots shelf" || fail "$shelves Screenshots shelves"
sid=$(awk '/^shelf / {print $2; exit}' <<<"$listing")
if [ -n "$sid" ] && wait_for 5 xdotool search --onlyvisible --classname "^perchbox-shelf-$sid\$"; then
  pass "the Screenshots shelf window opened"
else
  fail "the Screenshots shelf window did not open"
fi

# A slow writer: half the image, a pause until told to go on, the rest.
python3 - "$work/shot2.png" "$shots/slow.png" "$work/half-written" "$work/go-on" <<'PY' &
import os, sys, time
data = open(sys.argv[1], "rb").read()
with open(sys.argv[2], "wb") as out:
    out.write(data[: len(data) // 2]); out.flush()
    open(sys.argv[3], "w").close()
    while not os.path.exists(sys.argv[4]):
        time.sleep(0.05)
    out.write(data[len(data) // 2 :])
PY
writer=$!
wait_for 10 test -e "$work/half-written"
sleep 2
if on_shelf 'file slow.png'; then fail "a half-written screenshot reached the shelf"; else pass "a half-written screenshot waits"; fi
touch "$work/go-on"
wait "$writer"
if wait_for 10 on_shelf 'file slow.png'; then
  pass "the slow screenshot arrived once complete"
else
  fail "the slow screenshot never arrived"
fi

# --- from the shell ----------------------------------------------------------------------------
out=$(timeout 30 "$perchbox" check-updates 2>&1); rc=$?
if [ $rc -eq 0 ] && [ "$out" = "Perchbox 99.0.0 is available (stable channel): $feed/releases/99.0.0.html" ]; then
  pass "perchbox check-updates: $out"
else
  fail "perchbox check-updates (exit $rc): $out"
fi
out=$(timeout 30 "$perchbox" check-updates --channel nightly 2>&1); rc=$?
[ $rc -eq 1 ] && [[ "$out" == *"HTTP 404"* ]] && pass "a missing nightly feed: exit 1, $out" || fail "nightly without feed (exit $rc): $out"

# --- quit --------------------------------------------------------------------------------------
timeout 10 "$perchbox" --quit
if wait_for 10 bash -c "! kill -0 $app_pid 2>/dev/null"; then pass "--quit quits"; else fail "--quit did not quit"; fi
wait "$app_pid" 2>/dev/null
app_pid=""

e2e_finish
