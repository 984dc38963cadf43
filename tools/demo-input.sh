#!/usr/bin/env bash
# Writes the demo material: four plucked notes, a pause and a spoken phrase,
# 48 kHz mono 32-bit float, peaking at -12 dBFS. sox -R and espeak-ng make it
# the same on every run. tools/demo.sh renders it; the preset measurements
# (tools/report.sh, tests/test_presets.cpp) take their wet gain and peaks on it.
# Usage: tools/demo-input.sh OUT.wav
set -euo pipefail

out="$1"
tmp="$(mktemp -d)"
trap 'rm -rf "$tmp"' EXIT
sox=(sox -V1 -R)
float=(-r 48000 -c 1 -b 32 -e float)

notes=()
for note in C3 E3 G3 C4; do
    "${sox[@]}" -n "${float[@]}" "$tmp/$note.wav" synth 0.5 pluck "$note" fade 0 0.5 0.4
    notes+=("$tmp/$note.wav")
done
"${sox[@]}" -n "${float[@]}" "$tmp/pause.wav" trim 0 0.3
espeak-ng -w "$tmp/speech.wav" "One, two, three. Plonkbrett Streuwolke."
"${sox[@]}" "$tmp/speech.wav" "${float[@]}" "$tmp/speech48k.wav" rate -v
"${sox[@]}" "${notes[@]}" "$tmp/pause.wav" "$tmp/speech48k.wav" "${float[@]}" "$out" norm -12
