#!/bin/bash
# The two PipeWire filter-chain examples, unchanged, in a real PipeWire with
# WirePlumber, headless: a private runtime folder, session bus, configuration
# and state; a null sink is the default output and a virtual source the
# default microphone, and the filter-chains load the built bundle. A noise
# burst played into the reverb sink, and one played into the microphone,
# come out with a tail that decays and differs between the channels; then
# pw-cli sets the sink's mix to 0 while it runs, and the sink's output turns
# dry: no tail, both channels alike.
# Usage: pipewire.sh LV2_DIR EXAMPLES_DIR
# Skips (77) when PipeWire is missing or cannot start, and fails instead when
# STREUWOLKE_REQUIRE_PIPEWIRE=1 (tools/test.sh) says it has to run.
must_run=${STREUWOLKE_REQUIRE_PIPEWIRE:-0}
# The test runs on a session bus of its own (WirePlumber needs one).
if [ -z "${STREUWOLKE_PIPEWIRE_BUS:-}" ] && command -v dbus-run-session >/dev/null; then
  STREUWOLKE_PIPEWIRE_BUS=1 exec dbus-run-session -- bash "$0" "$@"
fi
. "${0%/*}/common.sh"
need pipewire wireplumber pw-cli pw-link pw-play pw-record dbus-run-session sox

export LV2_PATH=$1
examples=$2
export HOME=$scratch XDG_RUNTIME_DIR=$scratch/run XDG_CONFIG_HOME=$scratch/config
export XDG_STATE_HOME=$scratch/state XDG_DATA_HOME=$scratch/data PIPEWIRE_RUNTIME_DIR=$scratch/run
unset PIPEWIRE_REMOTE PIPEWIRE_CONFIG_DIR
conf=$XDG_CONFIG_HOME/pipewire
mkdir -p -m 0700 "$XDG_RUNTIME_DIR"
mkdir -p "$conf/pipewire.conf.d"
cp "$examples"/*.conf "$conf/pipewire.conf.d/"
# The server: no sound card, a null sink and a virtual source as the devices,
# each preferred over the examples' nodes as the default.
cat >"$conf/pipewire.conf" <<'EOF'
context.properties = { core.daemon = true core.name = pipewire-0 }
context.spa-libs = {
    audio.convert.* = audioconvert/libspa-audioconvert
    support.*       = support/libspa-support
}
context.modules = [
    { name = libpipewire-module-protocol-native }
    { name = libpipewire-module-metadata }
    { name = libpipewire-module-spa-node-factory }
    { name = libpipewire-module-client-node }
    { name = libpipewire-module-access }
    { name = libpipewire-module-adapter }
    { name = libpipewire-module-link-factory }
]
context.objects = [
    { factory = adapter args = {
        factory.name = support.null-audio-sink node.name = test_out
        media.class = Audio/Sink audio.position = [ FL FR ] priority.session = 3000 } }
    { factory = adapter args = {
        factory.name = support.null-audio-sink node.name = test_mic
        media.class = Audio/Source/Virtual audio.position = [ MONO ] priority.session = 3000 } }
]
EOF

pipewire >"$scratch/pipewire.log" 2>&1 &
started $!
for _ in $(seq 50); do timeout 2 pw-cli info 0 >/dev/null 2>&1 && break; sleep 0.1; done
timeout 2 pw-cli info 0 >/dev/null 2>&1 || { cat "$scratch/pipewire.log"; skip "PipeWire did not start"; }
wireplumber >"$scratch/wireplumber.log" 2>&1 &
started $!

# links_to NODE:PORT: the port has a link.
links_to() { timeout 5 pw-link -l 2>/dev/null | grep -A1 -x "$1" | grep -q '|'; }
wait_for_link() {
  for _ in $(seq 100); do links_to "$1" && return; sleep 0.1; done
  kill -0 "${pids%% *}" 2>/dev/null || { cat "$scratch/wireplumber.log"; skip "WirePlumber did not start"; }
  timeout 5 pw-link -l; cat "$scratch/pipewire.log"; fail "no link to $1"
}
# The filter-chains have loaded the plug-in once WirePlumber has linked them.
wait_for_link effect_output.streuwolke:output_FL
wait_for_link capture.streuwolke_mic:input_MONO

sox -n -r 48000 -c 1 "$scratch/burst.wav" synth 0.05 whitenoise vol 0.5 pad 0 2.5
# play_through NAME INTO RECORD_TARGET [RECORD PROPERTIES]: records the burst
# played into INTO, as it leaves RECORD_TARGET, into NAME.wav, cut to start
# where the burst starts. INTO is a sink, or a NODE:PORT input such as the
# virtual microphone's, which no player may target: it is linked by hand.
play_through() {
  local rec=$scratch/$1-raw.wav record play port
  pw-record -P "{ node.name = rec_$1 ${4:-} }" --target "$3" --format f32 --rate 48000 --channels 2 \
    "$rec" >"$scratch/$1-record.log" 2>&1 &
  record=$!
  wait_for_link "rec_$1:input_FL"
  if [[ "$2" == *:* ]]; then
    timeout 20 pw-play -P "{ node.name = play_$1 }" --target 0 "$scratch/burst.wav" &
    play=$!
    for _ in $(seq 50); do port=$(timeout 5 pw-link -o | grep -m1 "^play_$1:") && break; sleep 0.1; done
    pw-link "$port" "$2" || fail "cannot link the player's ${port:-port} to $2"
    wait $play || fail "pw-play into $2 failed"
  else
    timeout 20 pw-play --target "$2" "$scratch/burst.wav" || fail "pw-play into $2 failed"
  fi
  kill -INT $record; wait $record || true
  sox "$rec" "$scratch/$1.wav" silence 1 1 -50d || fail "sox cannot cut $rec"
  expect_channels "$scratch/$1.wav" 2
}
# window NAME FROM LENGTH: the part of NAME.wav in seconds from the burst.
window() { sox "$scratch/$1.wav" "$scratch/$1-$2.wav" trim "$2" "$3"; echo "$scratch/$1-$2.wav"; }
# rms FILE REMIX: the RMS level in dB (-999 for silence).
rms() { local l; l=$(level "$1" "$2") || fail "sox cannot analyse $1"; echo "${l#* }"; }
at_least() { awk -v a="$2" -v b="$3" 'BEGIN { exit !(a >= b) }' || fail "$1: $2 dB, wanted at least $3 dB"; echo "$1: $2 dB"; }
at_most() { awk -v a="$2" -v b="$3" 'BEGIN { exit !(a <= b) }' || fail "$1: $2 dB, wanted at most $3 dB"; echo "$1: $2 dB"; }

# A tail after the burst that has fallen by 20 dB a second later, and left
# and right that differ in it.
expect_reverb() {
  local early late
  early=$(window "$1" 0.1 0.3) late=$(window "$1" 1.1 0.3)
  at_least "$1, tail left at 0.1 s" "$(rms "$early" 1)" -45
  at_least "$1, tail right at 0.1 s" "$(rms "$early" 2)" -45
  at_most "$1, tail left at 1.1 s" "$(rms "$late" 1)" "$(awk -v db="$(rms "$early" 1)" 'BEGIN { print db - 20 }')"
  at_least "$1, left minus right at 0.1 s" "$(rms "$early" 1,2v-1)" -55
}

play_through sink effect_input.streuwolke test_out "stream.capture.sink = true"
expect_reverb sink
play_through mic test_mic:input_MONO streuwolke_mic
expect_reverb mic

# The mix at 0 while it runs: the dry burst alone, the same on both channels.
timeout 5 pw-cli set-param effect_input.streuwolke Props '{ params = [ "streuwolke:mix" 0 ] }' \
  >/dev/null || fail "pw-cli set-param failed"
play_through dry effect_input.streuwolke test_out "stream.capture.sink = true"
at_least "mix 0, the burst" "$(rms "$(window dry 0 0.05)" 1)" -30
at_most "mix 0, left at 0.1 s" "$(rms "$(window dry 0.1 0.3)" 1)" -90
at_most "mix 0, left minus right" "$(rms "$scratch/dry.wav" 1,2v-1)" -90
echo "pipewire: the reverb sink and the reverb microphone ring out in stereo, and pw-cli sets the mix"
