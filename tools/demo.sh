#!/usr/bin/env bash
# Builds the plug-in and renders a short demo through the default settings
# and every preset: for each a sound file, a spectrogram and a picture of the
# impulse responses of both channels. Prints the folder with the results.
#
# Usage: tools/demo.sh [OUTPUT_FOLDER]   (default: out/demo)
# It installs only the packages of its own lists in tools/deps/ (demo_lists
# below), and builds the plug-in and streuwolke-render alone, without the
# tests and the editor, in build-demo/ (or $STREUWOLKE_BUILD; a folder
# configured before keeps its options, but for the tools, which it turns on).
set -euo pipefail

root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build="${STREUWOLKE_BUILD:-$root/build-demo}"
mkdir -p "${1:-$root/out/demo}"
out="$(cd "${1:-$root/out/demo}" && pwd)"

# The compiler, CMake and the LV2 headers; the render tool's libraries with
# the programs that make the input and the pictures; and FFTW, which the
# tools' configure asks for. tools/test.sh hides every other package.
demo_lists=(build render analyze)
if [[ -x "$root/tools/install-deps.sh" ]]; then
    "$root/tools/install-deps.sh" "${demo_lists[@]}"
fi
if [[ -f "$build/CMakeCache.txt" ]]; then
    cmake -S "$root" -B "$build" -DSTREUWOLKE_BUILD_TOOLS=ON >/dev/null
else
    cmake -S "$root" -B "$build" -DBUILD_TESTING=OFF -DSTREUWOLKE_BUILD_TOOLS=ON -DSTREUWOLKE_BUILD_UI=OFF >/dev/null
fi
cmake --build "$build" -j"$(nproc)" --target streuwolke-render >/dev/null
render="$build/streuwolke-render"

tmp="$(mktemp -d)"
trap 'rm -rf "$tmp"' EXIT
sox=(sox -V1 -R)
float=(-r 48000 -c 1 -b 32 -e float)

# The input: plucked notes and a spoken phrase at -12 dBFS.
"$root/tools/demo-input.sh" "$out/input.wav"
# A one-sample impulse at 0 dBFS with a little silence after it.
"${sox[@]}" -n "${float[@]}" "$tmp/impulse.wav" synth 1s square 1 pad 0 0.1

# Each setting: the demo at the default mix, the impulse response wet only.
picture() { # NAME LABEL RENDER-OPTIONS...
    local name="$1" label="$2"
    shift 2
    "$render" "$out/input.wav" "$out/$name.wav" "$@"
    "${sox[@]}" "$out/$name.wav" -n rate 32k spectrogram -x 800 -y 240 -z 100 \
        -t "Streuwolke: $label (mix 50 %)" -c "plucks and speech at -12 dBFS" -o "$out/$name-spectrogram.png"
    "$render" "$tmp/impulse.wav" "$out/$name-ir.wav" --set mix=100 "$@"
    "$root/tools/plot_ir.sh" "$out/$name-ir.wav" "$out/$name-ir.png" \
        "Streuwolke: $label, impulse responses (mix 100 %)"
    echo "  $name"
}

echo "rendering into $out:"
picture default "default settings"
"$render" --list | sed -n '/^Presets/,/^Controls/p' | sed '1d;$d' | while read -r name label; do
    picture "$name" "$label" --preset "$name"
done
echo "$out"
