#!/usr/bin/env bash
# Takes the README's picture of the editor inside Ardour 7: a session made
# with ardour7-lua, opened in Ardour's GUI under Xvfb on the Dummy backend,
# the mixer shown and the plug-in's editor opened from its strip, the screen
# captured (xwd, netpbm) into docs/editor-ardour.png. It clicks where Ardour
# 7.3's windows put their buttons; another Ardour may need other places.
# Usage: tools/editor-screenshot.sh [BUILD_DIR] (default build/, built)
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build="$(cd "${1:-$root/build}" && pwd)"
[[ -f "$build/lv2/plonkbrett-streuwolke.lv2/libplonkbrett-streuwolke-ui.so" ]] \
    || { echo "editor-screenshot: no editor in $build/lv2; build it first" >&2; exit 1; }
for tool in ardour ardour7-lua Xvfb xdotool xwd xwdtopnm pnmcut pnmtopng xwininfo; do
    command -v "$tool" >/dev/null || { echo "editor-screenshot: $tool is not installed" >&2; exit 1; }
done

scratch="$(mktemp -d)"
pids=()
cleanup() {
    local pid
    for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
    sleep 1
    rm -rf "$scratch"
}
trap cleanup EXIT

# A private Ardour configuration that shows the Dummy backend and skips the
# first-run wizard; the bundle of this build alone besides Debian's.
export HOME=$scratch XDG_CONFIG_HOME=$scratch/config XDG_CACHE_HOME=$scratch/cache XDG_DATA_HOME=$scratch/data
mkdir -p "$XDG_CONFIG_HOME/ardour7" "$scratch/lv2"
cat >"$XDG_CONFIG_HOME/ardour7/config" <<'XML'
<?xml version="1.0" encoding="UTF-8"?>
<Ardour><Config><Option name="hide-dummy-backend" value="0"/></Config></Ardour>
XML
touch "$XDG_CONFIG_HOME/ardour7/.a7"
ln -s "$build/lv2/plonkbrett-streuwolke.lv2" "$scratch/lv2/"
export LV2_PATH=$scratch/lv2:/usr/lib/lv2
timeout 120 ardour7-lua "$root/tools/editor-screenshot.lua" "$scratch/session" >"$scratch/lua.log" 2>&1 \
    || { cat "$scratch/lua.log"; exit 1; }

Xvfb -displayfd 9 -screen 0 1600x1000x24 -nolisten tcp 9>"$scratch/display" >/dev/null 2>&1 &
pids+=($!)
for _ in $(seq 100); do [[ -s "$scratch/display" ]] && break; sleep 0.1; done
export DISPLAY=:$(head -n 1 "$scratch/display")
ardour "$scratch/session/streuwolke.ardour" >"$scratch/ardour.log" 2>&1 &
pids+=($!)

# find NAME [SECONDS]: the first window named NAME, once it is there.
find_window() {
    local id
    for _ in $(seq $((${2:-60} * 10))); do
        id=$(xdotool search --name "$1" 2>/dev/null | head -n 1) && [[ -n "$id" ]] && { echo "$id"; return; }
        sleep 0.1
    done
    echo "editor-screenshot: no window '$1'" >&2
    return 1
}
# click WINDOW X Y [COUNT]
click() { xdotool mousemove --sync --window "$1" "$2" "$3" click --repeat "${4:-1}" --delay 100 1; sleep 1; }

# The engine: Ardour first says the session's device has changed (Return
# answers it), then shows Audio/MIDI Setup: the Dummy backend, then Start.
setup=""
for _ in $(seq 18); do
    sleep 5
    setup=$(xdotool search --name "Audio/MIDI Setup" 2>/dev/null | head -n 1) && [[ -n "$setup" ]] && break
    xdotool key Return
done
[[ -n "$setup" ]] || { echo "editor-screenshot: no Audio/MIDI Setup" >&2; exit 1; }
sleep 2
click "$setup" 287 49
click "$setup" 268 93
click "$setup" 498 351
sleep 10
# The mixer, and the editor from the track's strip.
main=$(find_window "^streuwolke - Ardour")
click "$main" 1326 73
sleep 3
click "$main" 334 207 2
editor=""
for _ in $(seq 100); do
    editor=$(xdotool search --classname streuwolke-editor 2>/dev/null | head -n 1) && [[ -n "$editor" ]] && break
    sleep 0.1
done
[[ -n "$editor" ]] || { echo "editor-screenshot: the editor did not open" >&2; exit 1; }
# Its window beside the strip, then time for the first picture.
top=$editor rootwin=$(xwininfo -root | awk '/Window id/ { print $4 }')
while :; do
    parent=$(xwininfo -children -id "$top" | awk '/Parent window id/ { print $4 }')
    [[ "$parent" == "$rootwin" ]] && break
    top=$parent
done
xdotool windowmove "$top" 440 150
xdotool mousemove 1590 990  # no tooltip over the picture
sleep 4
width=$(xwininfo -id "$main" | awk '/Width:/ { print $2 }')
height=$(xwininfo -id "$main" | awk '/Height:/ { print $2 }')
xwd -root -silent | xwdtopnm 2>/dev/null | pnmcut -left 0 -top 0 -width "$((width > 1300 ? width : 1300))" \
    -height "$((height > 700 ? height : 700))" | pnmtopng >"$scratch/shot.png"
mv "$scratch/shot.png" "$root/docs/editor-ardour.png"
echo "editor-screenshot: wrote docs/editor-ardour.png"
