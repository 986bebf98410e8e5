#!/usr/bin/env bash
# Checks Perchbox as installed, from a build folder.
#
#   run-install-check.sh tree BUILD SOURCE
#       `cmake --install` into a DESTDIR with prefix /usr: every file of the tree is where the
#       desktop looks for it (launcher, icons, AppStream data, man page, bus service, Dolphin and
#       Nemo entries, media modules); desktop-file-validate and appstreamcli accept the data; the
#       installed program runs and finds its media modules without any environment variable;
#       a prefix the user cannot write stops with a clear error; installing over an older
#       install replaces its files.
#   run-install-check.sh activation BUILD SOURCE
#       `cmake --install` into a prefix; on an Xvfb desktop with a private session bus that
#       knows that prefix's services, `perchbox --send FILE` starts Perchbox through D-Bus
#       activation and the file lands on a shelf; `perchbox --new-shelf` reaches it too.
# Exit 77 means a required tool is missing.
set -uo pipefail

mode="${1:?usage: run-install-check.sh tree|activation BUILD SOURCE}"
build="$(cd "${2:?}" && pwd)"
source="$(cd "${3:?}" && pwd)"
id=org.perchbox.Perchbox

need() {
  for tool in "$@"; do
    if ! command -v "$tool" >/dev/null 2>&1; then
      echo "install: SKIP: $tool is not installed (scripts/setup.sh installs it)"
      exit 77
    fi
  done
}

work="$(mktemp -d /tmp/perchbox-install.XXXXXX)"
chmod 755 "$work"
pids=()
failures=0
checks=0
cleanup() {
  local pid
  for ((i=${#pids[@]}-1; i>=0; i--)); do kill "${pids[$i]}" 2>/dev/null; done
  for pid in "${pids[@]}"; do wait "$pid" 2>/dev/null; done
  rm -rf "$work"
}
trap cleanup EXIT

pass() { checks=$((checks+1)); echo "install: ok   $*"; }
fail() { checks=$((checks+1)); failures=$((failures+1)); echo "install: FAIL $*"; }
check() { local what="$1"; shift; if "$@" >"$work/check.out" 2>&1; then pass "$what"; else fail "$what"; sed 's/^/    /' "$work/check.out"; fi; }
finish() { echo "install: $((checks-failures)) passed, $failures failed"; [ $failures -eq 0 ]; }

wait_for() {
  local limit="$1"; shift
  local end=$(( $(date +%s) + limit ))
  while ! "$@" >/dev/null 2>&1; do
    [ "$(date +%s)" -ge "$end" ] && return 1
    sleep 0.1
  done
}

# A PNG of SIZE×SIZE pixels.
png_size() { python3 -c "import struct,sys; d=open(sys.argv[1],'rb').read(24); sys.exit(0 if d[:8]==b'\x89PNG\r\n\x1a\n' and struct.unpack('>II', d[16:24])==(int(sys.argv[2]),)*2 else 1)" "$1" "$2"; }

if [ "$mode" = tree ]; then
  need desktop-file-validate appstreamcli python3 gzip
  root="$work/root"
  if ! DESTDIR="$root" cmake --install "$build" --prefix /usr >"$work/install.log" 2>&1; then
    fail "cmake --install with DESTDIR"; cat "$work/install.log"; finish; exit
  fi
  pass "cmake --install with DESTDIR"
  u="$root/usr"
  check "nothing outside the prefix" test "$(ls -A "$root")" = usr
  check "executable" test -x "$u/bin/perchbox"
  for m in libperchbox-av.so libperchbox-image.so; do check "media module lib/perchbox/$m" test -f "$u/lib/perchbox/$m"; done
  check "background-removal helper lib/perchbox/perchbox-remove-background" test -x "$u/lib/perchbox/perchbox-remove-background"
  launcher="$u/share/applications/$id.desktop"
  check "launcher validates" desktop-file-validate "$launcher"
  missing_lines=0
  for line in "Exec=perchbox" "Icon=$id" "Categories=Utility;FileTools;" "Actions=new-shelf;" "Exec=perchbox --new-shelf" \
              "Name=New Shelf" "GenericName=File Shelves"; do
    grep -qxF "$line" "$launcher" || { fail "launcher lacks: $line"; missing_lines=1; }
  done
  [ $missing_lines -eq 0 ] && pass "launcher: Exec=perchbox, icon, categories, \"New Shelf\" action"
  check "launcher claims no MIME type" bash -c "! grep -q '^MimeType' '$launcher'"
  check "scalable icon" test -s "$u/share/icons/hicolor/scalable/apps/$id.svg"
  check "symbolic icon" test -s "$u/share/icons/hicolor/symbolic/apps/$id-symbolic.svg"
  bad_pngs=0
  for s in 16 22 24 32 48 64 128 256 512; do
    png_size "$u/share/icons/hicolor/${s}x${s}/apps/$id.png" "$s" || { fail "PNG icon ${s}x${s}"; bad_pngs=1; }
  done
  [ $bad_pngs -eq 0 ] && pass "PNG icons in 9 sizes"
  metainfo="$u/share/metainfo/$id.metainfo.xml"
  check "AppStream data validates (appstreamcli validate --no-net)" appstreamcli validate --no-net "$metainfo"
  for shot in $(grep -o '<image[^>]*>[^<]*' "$metainfo" | sed 's/.*>//; s#.*/##'); do
    check "screenshot $shot is in data/screenshots" test -s "$source/data/screenshots/$shot"
  done
  check "AppStream provides the binary and the bus name" grep -q "<binary>perchbox</binary>" "$metainfo"
  grep -q "<dbus type=\"user\">$id</dbus>" "$metainfo" || fail "AppStream lacks the bus name"
  check "man page" gzip -t "$u/share/man/man1/perchbox.1.gz"
  service="$u/share/dbus-1/services/$id.service"
  check "bus service names the installed program (not the DESTDIR)" grep -qx "Exec=/usr/bin/perchbox" "$service"
  grep -qx "Name=$id" "$service" || fail "bus service name"
  check "Dolphin service menu" grep -qx "Exec=/usr/bin/perchbox --send %F" "$u/share/kio/servicemenus/$id.send.desktop"
  check "Nemo action" grep -qx "Exec=/usr/bin/perchbox --send %F" "$u/share/nemo/actions/$id.send.nemo_action"

  # The installed program: its version, and its media modules found from its own place.
  check "installed perchbox --version" bash -c "'$u/bin/perchbox' --version | grep -qx 'Perchbox [0-9.]*'"
  if command -v ffmpeg >/dev/null 2>&1; then
    mkdir -p "$work/home/in" "$work/home/out"
    ffmpeg -v error -f lavfi -i "sine=frequency=440:duration=1" "$work/home/in/tone.wav"
    cat >"$work/preset.json" <<'JSON'
{"id":"6F0C2A3E-6E1D-4C55-9A50-6B1B2B1C0D01","name":"To AIFF","audioFormat":"aiff","sampleRate":"original",
 "bitDepth":"original","channels":"original","mp3Bitrate":320,"aacBitrate":256,"videoFormat":"h264",
 "proResProfile":"2","videoCRF":"21","frameRate":"original","resolution":"original","videoChannels":"original",
 "preserveDuration":false,"burnSubtitles":false,"videoAsAudioOnly":false,"outputMode":"flatFolder"}
JSON
    (cd "$work/home" && env -u PERCHBOX_MODULE_DIR HOME="$work/home" XDG_CONFIG_HOME="$work/home/config" \
       XDG_DATA_HOME="$work/home/data" "$u/bin/perchbox" run convert --preset-file "$work/preset.json" -o out in) \
       >"$work/convert.log" 2>&1
    check "installed program converts with its lib/perchbox module" test -s "$work/home/out/tone.aiff"
    [ -s "$work/home/out/tone.aiff" ] || cat "$work/convert.log"
  fi

  # Installing over an older install: changed files are replaced.
  echo "Name=Old" >>"$launcher"
  DESTDIR="$root" cmake --install "$build" --prefix /usr >"$work/install2.log" 2>&1
  check "installing over an older install replaces its files" bash -c "! grep -q Name=Old '$launcher' && desktop-file-validate '$launcher'"

  # A prefix that this user cannot write: a clear error, nothing half-installed.
  readonly_prefix="$work/locked"
  mkdir -p "$readonly_prefix"
  if [ "$(id -u)" -eq 0 ]; then
    as_user=(setpriv --reuid=65534 --regid=65534 --clear-groups)
  else
    chmod 555 "$readonly_prefix"; as_user=()
  fi
  if ! "${as_user[@]}" test -r "$build/cmake_install.cmake"; then
    echo "install: note: the build folder is not readable by an unprivileged user; unwritable prefix not checked"
  else
    "${as_user[@]}" cmake --install "$build" --prefix "$readonly_prefix/usr" >"$work/denied.log" 2>&1
    denied_rc=$?
    check "unwritable prefix fails" test "$denied_rc" -ne 0
    check "…with a clear message" grep -q "is not writable by this user" "$work/denied.log"
    check "…and installs nothing" test -z "$(ls -A "$readonly_prefix")"
  fi
  finish
  exit
fi

# --- activation --------------------------------------------------------------------------------
need Xvfb openbox trayer xdotool dbus-run-session dbus-daemon python3
prefix="$work/prefix"
if ! cmake --install "$build" --prefix "$prefix" >"$work/install.log" 2>&1; then
  fail "cmake --install"; cat "$work/install.log"; finish; exit
fi

exec 3>"$work/display"
Xvfb -displayfd 3 -screen 0 1280x800x24 -nolisten tcp >"$work/xvfb.log" 2>&1 &
pids+=($!)
exec 3>&-
wait_for 10 test -s "$work/display" || { echo "install: Xvfb did not start"; exit 1; }
export DISPLAY=":$(head -n1 "$work/display")"
mkdir -p "$work/home" "$work/data" "$work/config" "$work/runtime" "$work/files" "$work/etc"
chmod 700 "$work/runtime"
export HOME="$work/home" XDG_DATA_HOME="$work/data" XDG_CONFIG_HOME="$work/config" XDG_RUNTIME_DIR="$work/runtime" \
       XDG_CONFIG_DIRS="$work/etc" XDG_DATA_DIRS="$prefix/share:/usr/share" QT_QPA_PLATFORM=xcb
unset QT_QPA_PLATFORMTHEME PERCHBOX_MODULE_DIR
openbox >"$work/openbox.log" 2>&1 &
pids+=($!)
trayer --edge top --align right --widthtype request --height 24 --SetDockType true >"$work/trayer.log" 2>&1 &
pids+=($!)

# A session bus of our own that finds the installed service file (and nothing else of ours).
cat >"$work/session.conf" <<CONF
<!DOCTYPE busconfig PUBLIC "-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN"
 "http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd">
<busconfig>
  <type>session</type>
  <listen>unix:tmpdir=$work</listen>
  <servicedir>$prefix/share/dbus-1/services</servicedir>
  <policy context="default">
    <allow send_destination="*" eavesdrop="true"/>
    <allow eavesdrop="true"/>
    <allow own="*"/>
  </policy>
</busconfig>
CONF

printf 'hello' >"$work/files/report.txt"
cat >"$work/inner.sh" <<'INNER'
#!/usr/bin/env bash
# Runs inside the private bus: every process started here, and every one the bus starts, sees it.
set -uo pipefail
perchbox="$1"; id="$2"; files="$3"; state="$XDG_DATA_HOME/Perchbox/shelves.json"
ok() { echo "install: ok   $*"; }
bad() { echo "install: FAIL $*"; failed=1; }
failed=0
owner_pid() { dbus-send --session --print-reply --dest=org.freedesktop.DBus /org/freedesktop/DBus \
                org.freedesktop.DBus.GetConnectionUnixProcessID "string:$id" 2>/dev/null | awk '/uint32/ {print $2}'; }
if [ -n "$(owner_pid)" ]; then bad "Perchbox runs before the test"; fi
(cd "$files" && timeout 60 "$perchbox" --send report.txt) && ok "--send returned 0" || bad "--send failed"
pid="$(owner_pid)"
if [ -n "$pid" ]; then
  [ "$(readlink -f /proc/$pid/exe)" = "$(readlink -f "$perchbox")" ] && ok "the bus ran the installed executable" || bad "the bus ran $(readlink -f /proc/$pid/exe)"
else
  bad "nothing owns $id after --send"
fi
has_file() { python3 - "$state" <<'PY'
import json, sys
shelves = json.load(open(sys.argv[1]))
sys.exit(0 if any(f["url"].endswith("/report.txt") for s in shelves for f in s["files"]) else 1)
PY
}
end=$(( $(date +%s) + 30 ))
until has_file 2>/dev/null; do [ "$(date +%s)" -ge "$end" ] && break; sleep 0.2; done
has_file 2>/dev/null && ok "the sent file is on a shelf" || bad "the sent file did not reach shelves.json"
count() { python3 -c "import json,sys; print(len(json.load(open(sys.argv[1]))))" "$state"; }
before="$(count)"
timeout 30 "$perchbox" --new-shelf && ok "--new-shelf returned 0" || bad "--new-shelf failed"
end=$(( $(date +%s) + 30 ))
until [ "$(count)" -gt "$before" ]; do [ "$(date +%s)" -ge "$end" ] && break; sleep 0.2; done
[ "$(count)" -gt "$before" ] && ok "--new-shelf made a shelf in the running Perchbox" || bad "no new shelf"
timeout 30 "$perchbox" --quit
end=$(( $(date +%s) + 20 ))
while [ -n "$pid" ] && kill -0 "$pid" 2>/dev/null; do [ "$(date +%s)" -ge "$end" ] && { kill "$pid"; bad "--quit did not quit"; break; }; sleep 0.2; done
exit $failed
INNER
chmod +x "$work/inner.sh"
dbus-run-session --config-file="$work/session.conf" -- "$work/inner.sh" "$prefix/bin/perchbox" "$id" "$work/files" \
  >"$work/inner.log" 2>&1
inner_rc=$?
grep '^install:' "$work/inner.log"
# The bus says so itself when it starts a service for a caller.
if grep -q "Successfully activated service '$id'" "$work/inner.log"; then
  pass "the session bus started Perchbox (D-Bus activation)"
else
  fail "the session bus did not start Perchbox"
fi
checks=$((checks + $(grep -c '^install: ' "$work/inner.log")))
failures=$((failures + $(grep -c '^install: FAIL' "$work/inner.log")))
if [ $inner_rc -ne 0 ] && [ "$(grep -c '^install: FAIL' "$work/inner.log")" -eq 0 ]; then
  fail "the activation run exited $inner_rc"; cat "$work/inner.log"
fi
[ $failures -ne 0 ] && { echo "---- log"; cat "$work/inner.log"; }
finish
