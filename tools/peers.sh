#!/usr/bin/env bash
# Renders the impulse response of each peer reverb (the reverbs Debian ships
# that mixing engineers already use) through streuwolke-peer: a one-sample
# impulse at 0 dBFS, 48 kHz, then 8 s of tail, each peer wet only and set to
# a reverb time of about 2 s. Writes <name>.wav (32-bit float, stereo) into
# OUT_FOLDER, and <name>-tone.wav, the same peer's render of a sustained
# 1 kHz sine (6 s at -12 dBFS peak, as streuwolke-report measures the pitch
# wobble), and prints one line per peer; a peer that is not installed is
# skipped, and one that fails is reported (the exit code is then 1).
#
# "About 2 s" is the T30 of the response (the Schroeder decay from -5 to
# -35 dB, extrapolated to 60 dB, from 10 ms on, both channels) measured at
# 48 kHz with the settings below. Where a peer's decay control is labelled
# in seconds but measures otherwise, the setting is the one that measures
# about 2 s, and its comment says so. Every other control stays at its
# default, so each peer keeps its own character and level.
#
# Usage: tools/peers.sh OUT_FOLDER
# The build goes to build/ (or $STREUWOLKE_BUILD).
set -euo pipefail

if (($# != 1)); then
    echo "usage: tools/peers.sh OUT_FOLDER" >&2
    exit 2
fi
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build="${STREUWOLKE_BUILD:-$root/build}"
mkdir -p "$1"
out="$(cd "$1" && pwd)"

cmake -S "$root" -B "$build" >/dev/null
cmake --build "$build" -j"$(nproc)" --target streuwolke-peer >/dev/null
peer="$build/streuwolke-peer"

tmp="$(mktemp -d)"
trap 'rm -rf "$tmp"' EXIT

# The impulse, written byte by byte: sox would store 1.0 as 0.99999994
# (it converts through 32-bit integers). A WAV of one 32-bit float sample
# (format 3), with the fmt extension and fact chunk such files carry.
# The format strings are built on purpose: they hold the bytes as \x escapes.
# shellcheck disable=SC2059
le16() { printf "\\x$(printf %02x $(($1 & 255)))\\x$(printf %02x $((($1 >> 8) & 255)))"; }
le32() { le16 $(($1 & 65535)); le16 $((($1 >> 16) & 65535)); }
{
    printf 'RIFF'; le32 54; printf 'WAVE'
    printf 'fmt '; le32 18; le16 3; le16 1; le32 48000; le32 192000; le16 4; le16 32; le16 0
    printf 'fact'; le32 4; le32 1
    printf 'data'; le32 4; printf '\x00\x00\x80\x3f' # 1.0f
} >"$tmp/impulse.wav"

sox -n -r 48000 -c 1 -b 32 -e floating-point "$tmp/tone.wav" synth 6 sine 1000 vol 0.25

failed=0
render() { # NAME URI SETTINGS...
    local name="$1" uri="$2" error
    shift 2
    local sets=()
    for s in "$@"; do sets+=(--set "$s"); done
    if error="$("$peer" "$uri" "$tmp/impulse.wav" "$out/$name.wav" --tail 8 "${sets[@]}" 2>&1 >/dev/null)" &&
        error="$("$peer" "$uri" "$tmp/tone.wav" "$out/$name-tone.wav" --tail 0 "${sets[@]}" 2>&1 >/dev/null)"; then
        local seconds peak
        seconds="$(soxi -V1 -D "$out/$name.wav")"
        peak="$(sox -V1 "$out/$name.wav" -n stats 2>&1 | awk '/^Pk lev dB/ { print $4 }')"
        echo "$name: $out/$name.wav, $seconds s, peak $peak dBFS ($*)"
    elif [[ "$error" == *" not found "* ]]; then
        echo "skipped: $name not installed"
    else
        echo "failed: $name: ${error##*streuwolke-peer: }"
        failed=1
    fi
}

# Dragonfly Hall: dry_level=0 leaves the early (10 %) and late (20 %) levels
# at their defaults, so the output is wet only. decay is the RT60 in s and
# measures 2.0 s at 2.
render dragonfly-hall https://github.com/michaelwillis/dragonfly-reverb dry_level=0 decay=2

# Dragonfly Room: as the hall, dry_level=0 for wet only (early 10 %, late
# 20 %, the defaults); decay=2 measures 2.0 s.
render dragonfly-room urn:dragonfly:room dry_level=0 decay=2

# Dragonfly Plate: dry_level=0, its "Wet Level" (early_level) stays at 20 %;
# decay=2 measures 1.9 s.
render dragonfly-plate urn:dragonfly:plate dry_level=0 decay=2

# Calf Reverb: dry=0 for wet only, the wet amount stays at 0.25. Its "Decay
# time" does not measure as an RT60: 2 s gives a T30 of about 6.8 s with the
# default room size (Large); decay_time=0.68 measures 2.0 s.
render calf-reverb http://calf.sourceforge.net/plugins/Reverb dry=0 decay_time=0.68

# swh GVerb: cannot be made fully wet, its dry level ends at -70 dB (the
# default), so a click at -70 dBFS stays at t = 0 under the early part
# (which itself starts with a sample of 0.29 at t = 0). At the default tail
# level of -17.5 dB the early reflections bury the tail: the response
# measures 0.7 s at revtime 2, and hardly less at 0.5. taillevel=0 (dB)
# makes the tail carry the decay. revtime (s) measures shorter than its label: 2 gives
# 1.6 s, revtime=2.5 measures 2.0 s.
render swh-gverb http://plugin.org.uk/swh-plugins/gverb taillevel=0 revtime=2.5

# Ardour a-reverb (ACE Reverb): blend=1 is the wet end of its dry/wet
# crossfade (the dry part goes linearly to 0); its wet output still starts
# with a strong sample (0.79) at t = 0. It has no decay control, only
# roomsz (0.5 to 1): roomsz=0.95 measures 2.0 s (1 gives 2.6 s, 0.9 1.65 s;
# 0.75 is an odd one out at 2.7 s).
render ardour-a-reverb urn:ardour:a-reverb blend=1 roomsz=0.95

exit "$failed"
