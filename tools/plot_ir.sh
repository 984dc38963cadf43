#!/usr/bin/env bash
# Draws the impulse response of both channels of a stereo file into a PNG:
# each channel's waveform (its range per pixel column) and the level of both
# in dBFS (the peak per 10 ms, or per 1/200 of the length if that is longer),
# until the response has fallen below -100 dBFS.
# Usage: tools/plot_ir.sh IR.wav OUT.png [TITLE]
set -euo pipefail

ir="$1" png="$2" title="${3:-$(basename "$1" .wav)}"
tmp="$(mktemp -d)"
trap 'rm -rf "$tmp"' EXIT

seconds="$(soxi -V1 -D "$ir")"
sox -V1 "$ir" -t dat - | awk -v seconds="$seconds" -v wave="$tmp/wave" -v level="$tmp/level" -v end="$tmp/end" '
    function db(x) { return x > 1e-6 ? 20 * log(x) / log(10) : -120 }
    function abs(x) { return x < 0 ? -x : x }
    BEGIN { ms = -1; cs = -1; bin = seconds / 800; win = seconds / 200 < 0.01 ? 0.01 : seconds / 200 }
    /^;/ { next }
    {
        t = int($1 / bin)
        if (t != ms) {
            if (ms >= 0) print ms * bin * 1000, lo1, hi1, lo2, hi2 > wave
            ms = t; lo1 = hi1 = $2; lo2 = hi2 = $3
        }
        if ($2 < lo1) lo1 = $2; if ($2 > hi1) hi1 = $2
        if ($3 < lo2) lo2 = $3; if ($3 > hi2) hi2 = $3
        if (int($1 / win) != cs) {
            if (cs >= 0) print cs * win * 1000, db(p1), db(p2) > level
            cs = int($1 / win); p1 = p2 = 0
        }
        if (abs($2) > p1) p1 = abs($2); if (abs($3) > p2) p2 = abs($3)
        if (abs($2) > 1e-5 || abs($3) > 1e-5) last = $1
    }
    END { print ms * bin * 1000, lo1, hi1, lo2, hi2 > wave; print cs * win * 1000, db(p1), db(p2) > level
          print "end =", (last > 0 ? last : seconds) * 1100 > end }'

gnuplot <<EOF
set terminal pngcairo size 900,600 font "DejaVu Sans,10"
set output "$png"
set multiplot layout 3,1 title "$title" font ",12"
set grid lc rgb "#dddddd"
set lmargin 10
load "$tmp/end"
set xrange [0:end]
set format x ""
set tmargin 1
set bmargin 0.5
set ylabel "left"
plot "$tmp/wave" using 1:2 with impulses lc rgb "#1f5fa8" notitle, "" using 1:3 with impulses lc rgb "#1f5fa8" notitle
set ylabel "right"
plot "$tmp/wave" using 1:4 with impulses lc rgb "#c0392b" notitle, "" using 1:5 with impulses lc rgb "#c0392b" notitle
set format x "%g"
set xlabel "time (ms)"
set bmargin 3
set yrange [-100:0]
set ylabel "level (dBFS)"
set key top right opaque box
plot "$tmp/level" using 1:2 with lines lw 1.5 lc rgb "#1f5fa8" title "left", \
     "$tmp/level" using 1:3 with lines lw 1.5 lc rgb "#c0392b" title "right"
unset multiplot
EOF
