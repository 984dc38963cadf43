#!/usr/bin/env bash
# Measures the defaults, every preset and the peer reverbs and writes what
# the README shows of them: the tables between the README's "report" marks
# (one pair per section of streuwolke-report's output) and
# docs/presets-decay.png (energy decay and echo density over time).
# Usage: tools/report.sh      (the build goes to build/, or $STREUWOLKE_BUILD)
set -euo pipefail

root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build="${STREUWOLKE_BUILD:-$root/build}"
cmake -S "$root" -B "$build" >/dev/null
cmake --build "$build" -j2 --target streuwolke-report streuwolke-peer >/dev/null

tmp="$(mktemp -d)"
trap 'rm -rf "$tmp"' EXIT
"$root/tools/demo-input.sh" "$tmp/input.wav"
STREUWOLKE_BUILD="$build" "$root/tools/peers.sh" "$tmp/peers" >/dev/null
"$build/streuwolke-report" "$tmp/input.wav" --peers "$tmp/peers" --curves "$tmp/curves.dat" >"$tmp/tables.md"

# Each section of tables replaces whatever stands between the README's marks
# of its name ("<!-- report: NAME begin" and "<!-- report: NAME end").
readme="$root/README.md"
awk -v tables="$tmp/tables.md" '
    BEGIN {
        while ((getline line < tables) > 0) {
            if (line ~ /^<!-- section [a-z]+ -->$/) { name = substr(line, 14, length(line) - 17); continue }
            text[name] = text[name] line "\n"
        }
    }
    /<!-- report: [a-z]+ begin/ { print; split($0, w, " "); printf "%s", text[w[3]]; done[w[3]] = 1; skip = 1; next }
    /<!-- report: [a-z]+ end/ { skip = 0 }
    !skip
    END { for (n in text) if (!(n in done)) { print "report.sh: README.md has no report marks for " n > "/dev/stderr"; exit 1 } }
' "$readme" >"$tmp/README.md"
cp "$tmp/README.md" "$readme"

# One curve per setting, in table order (the defaults first).
count="$(grep -c '^# ' "$tmp/curves.dat")"
labels="$(sed -n 's/^# \(.*\)/"\1"/p' "$tmp/curves.dat" | tr '\n' ' ')"
gnuplot <<GNUPLOT
labels = '$labels'
set terminal pngcairo size 900,650 font "DejaVu Sans,10"
set output "$root/docs/presets-decay.png"
set multiplot layout 2,1 title "Streuwolke: defaults and presets, impulse responses at mix 100 %" font ",12"
set grid lc rgb "#dddddd"
set key outside right top
set xlabel "time (s)"
set ylabel "energy decay (dB)"
set xrange [0:4]
set yrange [-70:0]
plot for [i=0:$count-1] "$tmp/curves.dat" index i using 1:2 with lines lw (i == 0 ? 3 : 1.5) title word(labels, i + 1)
set ylabel "echo density"
set xrange [0:1]
set yrange [0:1.3]
plot for [i=0:$count-1] "$tmp/curves.dat" index i using 1:3 with lines lw (i == 0 ? 3 : 1.5) notitle, \
     0.9 with lines dt 2 lc rgb "gray" title "0.9"
unset multiplot
GNUPLOT
echo "updated README.md and docs/presets-decay.png"
