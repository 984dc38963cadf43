#!/usr/bin/env bash
# Builds the plug-in, renders a short demo input through it and prints the
# folder with the results. Usage: tools/demo.sh [OUTPUT_FOLDER]
set -euo pipefail

root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
out="$(mkdir -p "${1:-$root/out/demo}" && cd "${1:-$root/out/demo}" && pwd)"
build="$root/build"
uri=https://plonkbrett.org/plugins/plonkbrett-streuwolke

[[ -x "$root/tools/install-deps.sh" ]] && "$root/tools/install-deps.sh"
cmake -S "$root" -B "$build" >/dev/null
cmake --build "$build" -j"$(nproc)" >/dev/null

# A few plucked notes and a spoken phrase at 48 kHz, peaking at -12 dBFS.
tmp="$(mktemp -d)"
trap 'rm -rf "$tmp"' EXIT
notes=()
for n in C3 E3 G3 C4; do
    sox -R -n -r 48000 -c 1 -b 32 -e float "$tmp/$n.wav" synth 0.5 pluck "$n" fade 0 0.5 0.4
    notes+=("$tmp/$n.wav")
done
espeak-ng -w "$tmp/speech22k.wav" "One, two, three. Plonkbrett Streuwolke."
sox -R "$tmp/speech22k.wav" -r 48000 -b 32 -e float "$tmp/speech.wav" rate -v
sox -R -n -r 48000 -c 1 -b 32 -e float "$tmp/gap.wav" trim 0 0.3
sox -R "${notes[@]}" "$tmp/gap.wav" "$tmp/speech.wav" -b 32 -e float "$out/input.wav" norm -12

LV2_PATH="$build" lv2apply -i "$out/input.wav" -o "$out/default.wav" "$uri"
sox -R "$out/default.wav" -n spectrogram -o "$out/default.png" -t "default"
echo "$out"
