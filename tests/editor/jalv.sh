#!/bin/bash
# The editor in a real host: jalv.gtk3 embeds it through suil's X11-in-Gtk3
# wrapper, on a dummy JACK server under Xvfb. The editor must come up inside
# jalv's window and draw its picture, and a drag of its Mix knob to 0 % must
# reach the plug-in: the left output becomes the dry click alone (at 50 %
# hardly a frame of it is).
# Usage: jalv.sh LV2_DIR (a folder holding the plug-in bundle)
. "${0%/*}/../hosts/common.sh"
. "${0%/*}/x11.sh"
need jackd jalv.gtk3 jack_metro jack_rec jack_connect jack_lsp jack_wait sox soxi xwininfo

uri=https://plonkbrett.org/plugins/plonkbrett-streuwolke
export LV2_PATH=$1:/usr/lib/lv2
export JACK_DEFAULT_SERVER=streuwolke-editor-$$ JACK_NO_START_SERVER=1 JACK_NO_AUDIO_RESERVATION=1
export HOME=$scratch XDG_CONFIG_HOME=$scratch/config
start_xvfb

jackd -n "$JACK_DEFAULT_SERVER" --no-realtime -d dummy -r 48000 -p 256 >"$scratch/jackd.log" 2>&1 &
started $!
timeout 15 jack_wait -w -t 10 >/dev/null 2>&1 || { cat "$scratch/jackd.log"; fail "jackd did not start"; }
jack_metro -n metro -b 240 -f 660 -A 0.5 -D 40 >"$scratch/metro.log" 2>&1 &
started $!
jalv.gtk3 --no-menu --jack-name=streuwolke "$uri" >"$scratch/jalv.log" 2>&1 &
jalv_pid=$!
started $jalv_pid

for _ in $(seq 100); do
  window=$(xdotool search --classname streuwolke-editor 2>/dev/null | head -n 1) || true
  [ -n "$window" ] && break
  kill -0 $jalv_pid 2>/dev/null || break
  sleep 0.1
done
[ -n "$window" ] || { cat "$scratch/jalv.log"; fail "jalv.gtk3 shows no editor"; }
parent=$(xwininfo -children -id "$window" | awk '/Parent window id/ { print $4 }')
root=$(xwininfo -root | awk '/Window id/ { print $4 }')
[ "$parent" != "$root" ] || fail "the editor is a window of its own, not embedded"
xwininfo -id "$window" | grep -q 'Map State: IsViewable' || fail "the editor is not viewable"
current "$window"
echo "jalv.gtk3: the editor is embedded and shows its picture"

ports="metro:240_bpm streuwolke:in streuwolke:out_left"
for _ in $(seq 100); do
  missing=0 present=$(jack_lsp)
  for port in $ports; do grep -qx "$port" <<<"$present" || missing=1; done
  [ $missing = 0 ] && break
  sleep 0.1
done
[ $missing = 0 ] || { cat "$scratch/jalv.log"; fail "ports did not appear: $ports"; }
jack_connect metro:240_bpm streuwolke:in || fail "cannot connect the click to the plug-in"

# record NAME: two seconds of the click and the left output.
record() {
  timeout 30 jack_rec -f "$scratch/$1.wav" -d 2 -b 32 metro:240_bpm streuwolke:out_left \
    >"$scratch/rec.log" 2>&1 || { cat "$scratch/rec.log"; fail "jack_rec failed"; }
}
record before
expect_level "$scratch/before.wav" 2,1v-1 "at mix 50 %, left minus click" -50

# Mix from 50 % down through more than half its travel (150 pixels, inside
# the window): 0 %, the dry input alone.
# In steps, as a hand moves: under suil's wrapper a motion right after the
# press is sometimes not delivered.
xdotool mousemove --sync --window "$window" 69 324
xdotool mousedown 1
for y in $(seq 339 15 474); do
  sleep 0.05
  xdotool mousemove --sync --window "$window" 69 "$y"
done
xdotool mouseup 1
# The knob's arc at its left (the travel's first third) goes out at 0 %.
for _ in $(seq 50); do [ "$(pixel "$window" 47 324)" = "61 66 76" ] && break; sleep 0.1; done
[ "$(pixel "$window" 47 324)" = "61 66 76" ] || fail "the Mix knob did not go down to 0 %"
sleep 0.5
record after
# Left minus click is silent but where the dummy server on a loaded machine
# let a period slip between the ports (a few blocks of 256 frames), so the
# share of silent frames counts, not the level.
silent=$(sox "$scratch/after.wav" -t dat - remix 2,1v-1 |
  awk '!/^;/ { n++; if ($2 < 1e-6 && $2 > -1e-6) z++ } END { printf "%.3f", n ? z / n : 0 }')
echo "at mix 0 %, left minus click: $silent of the frames silent"
awk -v s="$silent" 'BEGIN { exit !(s >= 0.9) }' || fail "at mix 0 % the left output is not the dry click"
kill -0 $jalv_pid 2>/dev/null || { cat "$scratch/jalv.log"; fail "jalv quit"; }
echo "jalv.gtk3: the editor's Mix reaches the plug-in"
