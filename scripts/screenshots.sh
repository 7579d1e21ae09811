#!/usr/bin/env bash
# Screenshots of the real program: scripts/screenshots.sh OUTDIR
# Starts mendra under Xvfb and drives it with xdotool as a person would: the splash, the idle main
# window, a real copy running (64 MiB at the default 100-byte blocks, chosen through the file
# dialogs), the Rescue Map window opened by the Map button and following the copy, the final
# message, and the About window. The copy reads a slow, damaged medium: the image served by the
# test fixture damagedfs with every read delayed, so that it lasts long enough to be seen, and three
# small areas that cannot be read (where FUSE is missing, a plain 1 GiB file is copied instead and
# may end too soon).
# Writes splash.png, main-idle.png, main-copying.png, map.png, main-finished.png and about.png
# into OUTDIR.
set -euo pipefail
cd "$(dirname "$0")/.."
out=$(realpath -m "${1:?usage: scripts/screenshots.sh OUTDIR}")
mkdir -p "$out"
scripts/bootstrap.sh
BUILD_TARGETS="mendra vrel damagedfs" scripts/build.sh release -DCMAKE_BUILD_TYPE=Release
mendra_bin=$PWD/build/release/bin/mendra
damagedfs_bin=$PWD/build/release/bin/damagedfs

work=$(mktemp -d)
xvfb_pid=
mendra_pid=
medium_pid=
cleanup() {
  if [ -n "$mendra_pid" ] && kill -0 "$mendra_pid" 2>/dev/null; then kill "$mendra_pid"; fi
  if [ -n "$xvfb_pid" ]; then kill "$xvfb_pid" 2>/dev/null || true; fi
  if [ -n "$medium_pid" ]; then kill "$medium_pid" 2>/dev/null && wait "$medium_pid" || true; fi
  rm -rf "$work"
}
trap cleanup EXIT

# Waits (30 s at most, or $wait_seconds) until the command succeeds; prints its output.
wait_for() {
  local deadline=$((SECONDS + ${wait_seconds:-30})) result
  until result=$("$@" 2>/dev/null) && [ -n "$result" ]; do
    if [ $SECONDS -ge $deadline ]; then
      echo "screenshots: gave up waiting for: $*" >&2
      exit 1
    fi
    sleep 0.1
  done
  echo "$result" | head -n 1
}

# The window's place and size on the screen: "X Y WIDTH HEIGHT".
geometry() {
  xdotool getwindowgeometry --shell "$1" |
    awk -F= '/^X=/{x=$2} /^Y=/{y=$2} /^WIDTH=/{w=$2} /^HEIGHT=/{h=$2} END{print x, y, w, h}'
}

# shot FILE WINDOW...: the part of the screen that holds all the windows (a message box may
# reach past the window it belongs to).
shot() {
  local file=$1 x y w h left=100000 top=100000 right=0 bottom=0
  shift
  for window in "$@"; do
    read -r x y w h < <(geometry "$window")
    left=$((x < left ? x : left)) top=$((y < top ? y : top))
    right=$((x + w > right ? x + w : right)) bottom=$((y + h > bottom ? y + h : bottom))
  done
  import -window root -crop "$((right - left))x$((bottom - top))+$left+$top" +repage "$out/$file"
  echo "screenshots: $out/$file"
}

click() {  # click WINDOW X Y (pixels in the window)
  xdotool mousemove --window "$1" "$2" "$3" click 1
}

# Types a full path into the file dialog named $1 and accepts it.
choose_file() {
  local dialog
  dialog=$(wait_for xdotool search --onlyvisible --name "^$1\$")
  xdotool windowfocus --sync "$dialog" 2>/dev/null || true
  xdotool type --delay 2 "$2"
  xdotool key Return
  while xdotool search --onlyvisible --name "^$1\$" >/dev/null 2>&1; do sleep 0.1; done
}

# A display of our own, and the progress channel in the work folder.
Xvfb -displayfd 3 -screen 0 1280x800x24 -nolisten tcp 3>"$work/display" 2>/dev/null &
xvfb_pid=$!
display=$(wait_for cat "$work/display")
export DISPLAY=":$display" XDG_CONFIG_HOME="$work/config"
source_file="$work/damaged disc.iso"
source_content=$source_file
if [ -e /dev/fuse ]; then
  head -c $((64 * 1024 * 1024)) /dev/urandom >"$work/disc image"
  mkdir "$work/disc"
  # Every read request waits 60 ms: the copy takes about 10 s. Three areas of 1000 bytes fail.
  bad_areas="9000000:1000 30000000:1000 50000000:1000"
  "$damagedfs_bin" --image "$work/disc image" --slow 0:$((64 * 1024 * 1024)) --slow-usec 60000 \
    --bad "$(echo $bad_areas | tr ' ' ,)" --parent $$ "$work/disc" &
  medium_pid=$!
  wait_for sh -c "test -e '$work/disc/image' && echo mounted" >/dev/null
  source_file="$work/disc/image"
  # Compared with the image itself, with zeros where it cannot be read: reading it back through
  # the slow medium would take minutes.
  source_content="$work/disc image"
  for area in $bad_areas; do
    dd if=/dev/zero of="$source_content" bs=1 seek="${area%%:*}" count="${area##*:}" \
      conv=notrunc status=none
  done
else
  head -c $((1024 * 1024 * 1024)) /dev/urandom >"$source_file"
fi

"$mendra_bin" &
mendra_pid=$!

splash=$(wait_for xdotool search --onlyvisible --pid "$mendra_pid")
sleep 1  # the bar about half full
shot splash.png "$splash"

main=$(wait_for xdotool search --onlyvisible --name '^Mendra 2$')
sleep 0.5
shot main-idle.png "$main"

click "$main" 265 86  # B1
choose_file 'Select source file:' "$source_file"
click "$main" 265 150  # B2
choose_file 'Select target file:' "$work/rescued disc.iso"
click "$main" 184 280  # Copy
sleep 2.5  # a few estimates in
shot main-copying.png "$main"
click "$main" 117 280  # Map
map=$(wait_for xdotool search --onlyvisible --name '^Rescue Map$')

# The copy's end: a loaded machine, and the bad areas read in small pieces, can take a minute.
done_box=$(wait_seconds=180 wait_for xdotool search --onlyvisible --name '^File Copy$')
sleep 1  # the map window's next look at the map
shot main-finished.png "$main" "$done_box"
shot map.png "$map"
xdotool windowfocus --sync "$done_box" 2>/dev/null || true
xdotool key Return  # OK

click "$main" 32 280  # About
about=$(wait_for xdotool search --onlyvisible --name '^About Mendra2$')
sleep 0.3
shot about.png "$about"
click "$about" 242 322  # Close

click "$main" 251 280  # Exit
for _ in $(seq 100); do kill -0 "$mendra_pid" 2>/dev/null || break; sleep 0.1; done
if kill -0 "$mendra_pid" 2>/dev/null; then
  echo "screenshots: mendra did not end on Exit" >&2
  exit 1
fi
wait "$mendra_pid" || true
mendra_pid=
cmp -s "$source_content" "$work/rescued disc.iso" || {
  echo "screenshots: the rescued copy differs from the source" >&2
  exit 1
}
