#!/bin/bash
# jalv runs the plug-in as a JACK client on a dummy-backend server, fed by
# jack_metro; jack_rec records the click and both outputs in one cycle-aligned
# file, so the outputs can be compared with their input sample by sample.
# Usage: jalv.sh LV2_DIR (a folder holding the plug-in bundle)
. "${0%/*}/common.sh"
need jackd jalv jack_metro jack_rec jack_connect jack_lsp jack_wait sox soxi

uri=https://plonkbrett.org/plugins/plonkbrett-streuwolke
export LV2_PATH=$1
export JACK_DEFAULT_SERVER=streuwolke-$$ JACK_NO_START_SERVER=1 JACK_NO_AUDIO_RESERVATION=1

jackd -n "$JACK_DEFAULT_SERVER" --no-realtime -d dummy -r 48000 -p 256 >"$scratch/jackd.log" 2>&1 &
started $!
timeout 15 jack_wait -w -t 10 >/dev/null 2>&1 || { cat "$scratch/jackd.log"; fail "jackd did not start"; }

jack_metro -n metro -b 240 -f 660 -A 0.5 -D 40 >"$scratch/metro.log" 2>&1 &
started $!
# jalv quits at the end of its standard input: feed it from a pipe that this
# script holds open until it exits.
mkfifo "$scratch/stdin"
jalv -n streuwolke -c mix=100 -c spread=80 -c depth_max=40 "$uri" <"$scratch/stdin" >"$scratch/jalv.log" 2>&1 &
started $!
exec 3>"$scratch/stdin"

ports="metro:240_bpm streuwolke:in streuwolke:out_left streuwolke:out_right"
for _ in $(seq 100); do
  missing=0 present=$(jack_lsp)
  for port in $ports; do grep -qx "$port" <<<"$present" || missing=1; done
  [ $missing = 0 ] && break
  kill -0 "${pids%% *}" 2>/dev/null || break
  sleep 0.1
done
[ $missing = 0 ] || { cat "$scratch/jalv.log"; jack_lsp; fail "ports did not appear: $ports"; }
jack_connect metro:240_bpm streuwolke:in || fail "cannot connect the click to the plug-in"

rec=$scratch/rec.wav
timeout 30 jack_rec -f "$rec" -d 3 -b 32 metro:240_bpm streuwolke:out_left streuwolke:out_right \
  >"$scratch/rec.log" 2>&1 || { cat "$scratch/rec.log"; fail "jack_rec failed"; }
kill -0 "${pids%% *}" 2>/dev/null || { cat "$scratch/jalv.log"; fail "jalv quit while recording"; }

expect_channels "$rec" 3
expect_level "$rec" 1 "click" -40
expect_level "$rec" 2 "left" -50
expect_level "$rec" 3 "right" -50
# A pass-through or a dry-only plug-in would cancel here.
expect_level "$rec" 2,1v-1 "left minus click" -50
# The two banks differ when spread and modulation are on.
expect_level "$rec" 2,3v-1 "left minus right" -60
echo "jalv: plug-in output is stereo, finite and not silent"
