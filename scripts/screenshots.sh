#!/usr/bin/env bash
# Takes the screenshots of the AppStream data (data/screenshots/*.png) from the real program
# on an Xvfb desktop of 1200×750, with sample files made here.
#   scripts/screenshots.sh [BUILD-DIR] [OUTPUT-DIR]
# Needs what scripts/setup.sh installs (Xvfb, openbox, xcompmgr, trayer, xdotool, ffmpeg,
# ImageMagick's import).
set -uo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build="$(cd "${1:-$root/build}" && pwd)"
out="$(mkdir -p "${2:-$root/data/screenshots}" && cd "${2:-$root/data/screenshots}" && pwd)"
perchbox="$build/src/app/perchbox"
[ -x "$perchbox" ] || { echo "screenshots: build Perchbox first ($perchbox)"; exit 1; }

e2e_args=("$build" "$out")
source "$root/tests/e2e/desktop.sh"
e2e_prepare screenshots Xvfb openbox xcompmgr trayer xdotool ffmpeg import dbus-run-session python3
e2e_desktop 1200x750
mkdir -p "$HOME/Pictures/Holiday" "$HOME/Documents/Project" "$XDG_DATA_HOME/Perchbox/Shelves"
# A desktop background, so that the shelves float over something.
xsetroot -solid '#5d7a99' 2>/dev/null || true

# Sample files: photos, a recording and documents.
pics="$HOME/Pictures/Holiday"
ffmpeg -v error -f lavfi -i "mandelbrot=size=960x640" -frames:v 1 "$pics/Lagoon.jpg"
ffmpeg -v error -f lavfi -i "testsrc2=size=960x640" -frames:v 1 "$pics/Harbour.jpg"
ffmpeg -v error -f lavfi -i "cellauto=size=960x640:rule=110" -frames:v 1 "$pics/Terraces.png"
ffmpeg -v error -f lavfi -i "life=size=960x640:mold=10:ratio=0.5:death_color=#2b5f8a:life_color=#f2c65a" -frames:v 1 "$pics/Market.png"
docs="$HOME/Documents/Project"
ffmpeg -v error -f lavfi -i "sine=frequency=330:duration=2" "$docs/Interview.wav"
printf 'Agenda\n' >"$docs/Meeting notes.txt"
printf '%%PDF-1.4\n' >"$docs/Proposal.pdf"
printf 'a,b\n1,2\n' >"$docs/Budget.csv"

python3 - "$XDG_DATA_HOME/Perchbox" "$pics" "$docs" <<'PY'
import json, os, sys, uuid, urllib.parse
root, pics, docs = sys.argv[1:]
def files(folder):
    return [{"id": str(uuid.uuid4()).upper(), "url": "file://" + urllib.parse.quote(os.path.join(folder, n))}
            for n in sorted(os.listdir(folder))]
shelves = []
for name, colour, icon, folder in [("Holiday Photos", (1.0, 0.58, 0.0), "photo", pics),
                                   ("Project", (0.0, 0.478, 1.0), "doc", docs)]:
    sid = str(uuid.uuid4()).upper()
    os.makedirs(os.path.join(root, "Shelves", sid), exist_ok=True)
    shelves.append({"id": sid, "name": name, "colorData": {"r": colour[0], "g": colour[1], "b": colour[2], "a": 1},
                    "icon": icon, "folderURL": "file://" + os.path.join(root, "Shelves", sid) + "/",
                    "files": files(folder), "favorites": [], "favoriteButtonDisplayMode": "iconAndName"})
json.dump(shelves, open(os.path.join(root, "shelves.json"), "w"))
json.dump([s["id"] for s in shelves], open(os.path.join(root, "openShelves.json"), "w"))
print(" ".join(s["id"] for s in shelves))
PY
ids=($(python3 -c "import json,sys; print(' '.join(s['id'] for s in json.load(open(sys.argv[1]))))" "$XDG_DATA_HOME/Perchbox/shelves.json"))
# No tutorial over the shelves.
mkdir -p "$XDG_CONFIG_HOME/Perchbox"

"$perchbox" >"$work/perchbox.log" 2>&1 &
app_pid=$!
shelf() { xdotool search --onlyvisible --classname "^perchbox-shelf-$1\$" | head -n1; }
for id in "${ids[@]}"; do wait_for 20 shelf "$id" || { echo "screenshots: shelf $id not shown"; cat "$work/perchbox.log"; exit 1; }; done
# Close the tutorial if it came up, and place the shelves.
for w in $(xdotool search --onlyvisible --name "Tutorial" 2>/dev/null); do xdotool windowclose "$w" 2>/dev/null || xdotool windowunmap "$w"; done
photos="$(shelf "${ids[0]}")"; project="$(shelf "${ids[1]}")"
xdotool windowmove "$photos" 110 90
xdotool windowmove "$project" 160 420
sleep 2
import -window root "$out/shelves.png"
echo "screenshots: $out/shelves.png"

# A tool window for the photos: select them all, open the context menu and choose the entry
# `down` steps below its title ("4 Files Selected"; then Zip, Rename, Flatten, Convert).
tool_window() { # down title file [text to type into the field at x y of the window: x y text]
  xdotool mousemove --window "$photos" 60 60 click 1
  xdotool key --window "$photos" ctrl+a
  sleep 0.5
  xdotool mousemove --window "$photos" 60 60 click 3
  sleep 1
  for ((i=0; i<$1; i++)); do xdotool key Down; sleep 0.1; done
  xdotool key Return
  wait_for 20 xdotool search --onlyvisible --name "^$2\$" || { echo "screenshots: no $2 window"; return 1; }
  local w; w="$(xdotool search --onlyvisible --name "^$2\$" | head -n1)"
  xdotool windowmove "$w" 380 40
  sleep 1
  if [ $# -ge 6 ]; then
    xdotool mousemove --window "$w" "$4" "$5" click 1
    xdotool type --delay 30 "$6"
  fi
  sleep 2
  import -window root "$out/$3"
  echo "screenshots: $out/$3"
  xdotool windowclose "$w" 2>/dev/null || xdotool key --window "$w" Escape
  sleep 1
}
tool_window 4 Convert convert.png
# Rename with a prefix typed, so that the preview shows new names.
tool_window 2 "Batch Rename" rename.png 265 159 "Greece 2026 - "
