#!/bin/bash
# The editor in the project's own host (editor_host, on the UI descriptor)
# under Xvfb: it draws the impulse response and follows port events, the
# mouse and the keyboard write what they should, and nothing in the LV2 UI
# rules' corners (no display, no idle calls, a 1x1 window, no parent, a
# scale factor) crashes or hangs the host. The diagnostic log stays
# untouched although it is switched on.
# Usage: host.sh EDITOR_HOST UI_LIBRARY
. "${0%/*}/../hosts/common.sh"
. "${0%/*}/x11.sh"
host=$1 module=$2
start_xvfb
# default_of SYMBOL: the control's default, as the bundle beside the editor
# declares it.
default_of() {
  local value
  value=$(awk -v symbol="\"$1\"" '$1 == "lv2:symbol" && $2 == symbol { found = 1 }
    found && $1 == "lv2:default" { print $2 + 0; exit }' "$(dirname "$module")/plonkbrett-streuwolke.ttl")
  [ -n "$value" ] || fail "no default for $1 in the bundle"
  echo "$value"
}
decay_default=$(default_of decay) low_cut_default=$(default_of low_cut)

# The log switched on: the editor's engine must not write to it.
log=/tmp/plonkbrett.log
if [ ! -e "$log" ]; then
  echo 1 >"$log"
  trap 'cleanup; rm -f "$log"' EXIT
fi
log_before=$(md5sum <"$log")

# run_host NAME [ARGS]: the host with its commands from a pipe held open on
# fd 3 and its output in $scratch/NAME.out; `window` is the editor's window.
run_host() {
  local name=$1
  shift
  out=$scratch/$name.out
  mkfifo "$scratch/$name.in"
  "$host" "$module" "$@" <"$scratch/$name.in" >"$out" 2>"$scratch/$name.err" &
  host_pid=$!
  started $host_pid
  exec 3>"$scratch/$name.in"
  for _ in $(seq 100); do grep -q '^ready ' "$out" && break; sleep 0.1; done
  window=$(awk '/^ready /{ print $2 }' "$out")
  [ -n "$window" ] || { cat "$out" "$scratch/$name.err"; fail "$name: the editor did not come up"; }
}
say() { echo "$*" >&3; }
# quit_host: the host closes the editor and exits by itself, in time.
quit_host() {
  say quit
  exec 3>&-
  for _ in $(seq 100); do kill -0 "$host_pid" 2>/dev/null || break; sleep 0.1; done
  kill -0 "$host_pid" 2>/dev/null && fail "the host hangs after quit"
  wait "$host_pid" || fail "the host exited with status $?: $(cat "$scratch"/*.err)"
  grep -q '^done$' "$out" || fail "the host did not finish: $(cat "$out")"
}
# last_write PORT: the last value the editor wrote to PORT.
last_write() { awk -v p="$1" '$1 == "write" && $2 == p { v = $3 } END { print v }' "$out"; }
writes() { grep -c "^write $1 " "$out" || true; }
# wait_write PORT COUNT: until the editor has written PORT COUNT times.
wait_write() {
  for _ in $(seq 50); do [ "$(writes "$1")" -ge "$2" ] && return 0; sleep 0.1; done
  fail "no write to port $1 (writes so far: $(grep '^write' "$out" | tr '\n' ' '))"
}
# expect PORT CONDITION WHAT: the last write to PORT satisfies the awk CONDITION on v.
expect() {
  local v; v=$(last_write "$1")
  awk -v v="$v" "BEGIN { exit !($2) }" || fail "$3: port $1 wrote '$v', wanted $2"
  echo "$3: port $1 = $v"
}

# drag X Y DY [KEY]: press at X,Y, move DY pixels down (up when negative)
# with KEY held, release. One xdotool call per step: chained, the press can
# overtake the pointer's move.
drag() {
  [ -n "${4:-}" ] && xdotool keydown "$4"
  xdotool mousemove --sync --window "$window" "$1" "$2"
  xdotool mousedown 1
  xdotool mousemove --sync --window "$window" "$1" $(($2 + $3))
  xdotool mouseup 1
  [ -n "${4:-}" ] && xdotool keyup "$4"
  return 0
}
# click_at X Y [REPEAT]
click_at() {
  xdotool mousemove --sync --window "$window" "$1" "$2"
  xdotool click --repeat "${3:-1}" --delay 80 1
}

# Control centres on the page at scale 1 (ui/EditorView.cpp lays them out).
mix=(69 324) lines=(183 324) decay=(296 324) parallel=(751 324) low_cut=(126 428)

run_host main
grep -qx 'size 820 480' "$out" || fail "the editor did not ask for its size: $(cat "$out")"
current "$window"
defaults=$(capture "$window")

# The picture follows port events: another decay draws another response, and
# the same settings draw the same picture again.
say "set 5 3000"
changed "$window" "$defaults"
current "$window"
long=$(capture "$window")
[ "$long" != "$defaults" ] || fail "decay 3000 ms draws the same picture as $decay_default ms"
say "set 5 $decay_default"
changed "$window" "$long"
current "$window"
[ "$(capture "$window")" = "$defaults" ] || fail "back at $decay_default ms the picture differs from the first"
echo "picture: follows port events, and the same settings draw the same picture"
[ "$(writes 5)" = 0 ] || fail "port events made the editor write: $(grep '^write' "$out")"

# The mouse: a drag of 50 pixels up is a quarter of the travel, with Shift a
# tenth of that; one wheel notch a hundredth; a double-click the default.
drag "${decay[@]}" -50
wait_write 5 1
expect 5 "v > $decay_default + 2385 && v < $decay_default + 2585" "drag"
drag "${decay[@]}" -50 shift
wait_write 5 2
expect 5 "v > $decay_default + 2685 && v < $decay_default + 2885" "fine drag"
n=$(writes 5)
xdotool mousemove --sync --window "$window" "${decay[@]}"
xdotool click 4
wait_write 5 $((n + 1))
expect 5 "v > $decay_default + 2835 && v < $decay_default + 2935" "wheel"
click_at "${decay[@]}" 2
for _ in $(seq 50); do [ "$(last_write 5)" = "$decay_default" ] && break; sleep 0.1; done
expect 5 "v == $decay_default" "double-click"

# The keyboard: the clicked control has the focus, Up and Down step it, Tab
# moves on to the next control.
click_at "${mix[@]}"
n=$(writes 3)
xdotool key Up
wait_write 3 $((n + 1))
expect 3 'v == 51' "arrow key"
xdotool key Tab Down
wait_write 4 1
expect 4 'v == 7' "Tab, then arrow key on Lines"

# Lines is a count and Parallel a switch.
drag "${lines[@]}" 60
for _ in $(seq 50); do [ "$(last_write 4)" = 5 ] && break; sleep 0.1; done
expect 4 'v == 5' "Lines dragged down by 0.3 of the travel from 7"
grep '^write 4 ' "$out" | awk '$3 != int($3) { exit 1 }' || fail "Lines wrote a fraction: $(grep '^write 4' "$out")"
click_at "${parallel[@]}"
wait_write 9 1
expect 9 'v == 1' "Parallel clicked"
drag "${low_cut[@]}" -100
wait_write 10 1
# Half the travel of a logarithmic 5..2000 Hz multiplies by sqrt(400) = 20:
# the default becomes twenty times that (from 21 Hz even steps would give
# about 1018 Hz, not 420).
expect 10 "v > 19.5 * $low_cut_default && v < 20.5 * $low_cut_default" "Low cut, logarithmic"

# Sizes: down to 1x1 and back.
for cmd in "resize 1 1" "resize 410 240" "resize 1640 960" "resize 1 1" "resize 820 480"; do
  say "$cmd"
  sleep 0.3
  kill -0 "$host_pid" 2>/dev/null || fail "the host died at '$cmd': $(cat "$scratch/main.err")"
done
current "$window"
click_at "${mix[@]}" 2
for _ in $(seq 50); do [ "$(last_write 3)" = 50 ] && break; sleep 0.1; done
expect 3 'v == 50' "after the resizes, double-click on Mix"
quit_host
echo "mouse, keyboard and resizes: as expected"

# HiDPI: the host's scale factor of 2 doubles the editor, as it tells the
# host through ui:resize and its window's size hints.
run_host scaled --scale 2
grep -qx 'size 1640 960' "$out" || fail "scale factor 2: $(cat "$out")"
xprop -id "$window" WM_NORMAL_HINTS | grep -q 'program specified base size: 1640 by 960' ||
  fail "scale factor 2: size hints $(xprop -id "$window" WM_NORMAL_HINTS)"
current "$window" 2
quit_host

# A host that never calls idle still closes the editor at once.
run_host idle-less
say "idle off"
sleep 1
quit_host

# No parent: a window of its own, shown and hidden through the show interface.
run_host top-level --no-parent
say show
current "$window"
say hide
quit_host

# No display: no editor, and the host goes on.
status=0
DISPLAY= "$host" "$module" --no-parent >"$scratch/headless.out" 2>&1 </dev/null || status=$?
[ $status = 3 ] && grep -qx 'no editor' "$scratch/headless.out" ||
  fail "without a display: status $status, $(cat "$scratch/headless.out")"
echo "corners: scale factor, no idle calls, no parent, no display"

[ "$(md5sum <"$log")" = "$log_before" ] || fail "the editor wrote to the diagnostic log"
echo "editor host: all checks passed"
