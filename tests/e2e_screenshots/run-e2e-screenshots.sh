#!/usr/bin/env bash
# End-to-end test of screenshot auto-capture and of the update check, on a real (virtual)
# desktop.
#
#   run-e2e-screenshots.sh PATH/TO/perchbox
#
# In its own D-Bus session with Xvfb (on a free display), openbox, xcompmgr and trayer, every
# XDG folder in a temporary directory and a GNOME-like desktop whose Pictures folder is
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

for tool in Xvfb openbox xcompmgr trayer xdotool dbus-run-session python3 ffmpeg; do
  if ! command -v "$tool" >/dev/null 2>&1; then
    echo "e2e-screenshots: SKIP: $tool is not installed (scripts/setup.sh installs it)"
    exit 77
  fi
done

if [ -z "${PERCHBOX_E2E_INNER:-}" ]; then
  exec dbus-run-session -- env PERCHBOX_E2E_INNER=1 "$0" "$@"
fi

work="$(mktemp -d /tmp/perchbox-e2e-screenshots.XXXXXX)"
pids=()
app_pid=""
failures=0
checks=0

cleanup() {
  local pid
  [ -n "$app_pid" ] && kill "$app_pid" 2>/dev/null && wait "$app_pid" 2>/dev/null
  for ((i=${#pids[@]}-1; i>=0; i--)); do kill "${pids[$i]}" 2>/dev/null; done
  for pid in "${pids[@]}"; do wait "$pid" 2>/dev/null; done
  rm -rf "$work"
}
trap cleanup EXIT

pass() { checks=$((checks+1)); echo "e2e-screenshots: ok   $*"; }
fail() { checks=$((checks+1)); failures=$((failures+1)); echo "e2e-screenshots: FAIL $*"; }

# wait_for SECONDS COMMAND… : polls every 100 ms until COMMAND succeeds, for at most SECONDS.
wait_for() {
  local limit="$1"; shift
  local end=$(( $(date +%s%N) + $(awk -v s="$limit" 'BEGIN { printf "%.0f", s * 1000000000 }') ))
  while true; do
    if "$@" >/dev/null 2>&1; then return 0; fi
    [ "$(date +%s%N)" -gt "$end" ] && return 1
    sleep 0.1
  done
}

# --- the desktop -----------------------------------------------------------------------------
exec 3>"$work/display"
Xvfb -displayfd 3 -screen 0 1440x900x24 -nolisten tcp >"$work/xvfb.log" 2>&1 &
pids+=($!)
exec 3>&-
if ! wait_for 10 test -s "$work/display"; then
  echo "e2e-screenshots: Xvfb did not start"; cat "$work/xvfb.log"; exit 1
fi
export DISPLAY=":$(head -n1 "$work/display")"
echo "e2e-screenshots: display $DISPLAY"

mkdir -p "$work/home/Pictures/Screenshots" "$work/data" "$work/config/Perchbox" "$work/cache" "$work/runtime" \
         "$work/feeds" "$work/bin"
chmod 700 "$work/runtime"
export HOME="$work/home" XDG_DATA_HOME="$work/data" XDG_CONFIG_HOME="$work/config" \
       XDG_CACHE_HOME="$work/cache" XDG_RUNTIME_DIR="$work/runtime" XDG_CONFIG_DIRS="$work/etc" \
       XDG_CURRENT_DESKTOP=GNOME LANGUAGE=C
export QT_QPA_PLATFORM=xcb
unset QT_QPA_PLATFORMTHEME
printf 'XDG_PICTURES_DIR="$HOME/Pictures"\nXDG_DESKTOP_DIR="$HOME/Desktop"\n' >"$XDG_CONFIG_HOME/user-dirs.dirs"
shots="$HOME/Pictures/Screenshots"

# The browser: a stand-in xdg-open that notes what it was asked to open.
cat >"$work/bin/xdg-open" <<SH
#!/bin/sh
printf '%s\n' "\$*" >>"$work/opened"
SH
chmod +x "$work/bin/xdg-open"
export PATH="$work/bin:$PATH"

openbox >"$work/openbox.log" 2>&1 &
pids+=($!)
xcompmgr >"$work/xcompmgr.log" 2>&1 &
pids+=($!)
trayer --edge top --align right --widthtype request --height 24 --SetDockType true >"$work/trayer.log" 2>&1 &
pids+=($!)
wait_for 10 xdotool search --classname trayer || echo "e2e-screenshots: note: trayer window not found by class"

# --- the update feed on the loopback interface -----------------------------------------------
python3 -u -m http.server 0 --bind 127.0.0.1 --directory "$work/feeds" >"$work/http.log" 2>&1 &
pids+=($!)
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

if [ $failures -ne 0 ]; then
  echo "---- perchbox log"; cat "$work/perchbox.log"
fi
echo "e2e-screenshots: $((checks-failures)) passed, $failures failed"
[ $failures -eq 0 ]
