# Shared by the host checks: a scratch folder removed on exit, a skip when a
# host is not installed, and sox-based level checks of recorded WAV files.
# Every failure prints what went wrong and exits non-zero.

set -eu

SKIP=77

# skip REASON: the test cannot run here. A script that must not skip sets
# must_run=1 before it sources this file, and then it fails.
skip() {
  [ "${must_run:-0}" = 1 ] && fail "$* (and this test must not skip here)"
  echo "SKIP: $*"; exit $SKIP
}

need() {
  local tool
  for tool in "$@"; do
    command -v "$tool" >/dev/null 2>&1 || skip "$tool is not installed"
  done
}

fail() { echo "FAIL: $*" >&2; exit 1; }

scratch=$(mktemp -d "${TMPDIR:-/tmp}/streuwolke-host.XXXXXX")
pids=""
cleanup() {
  for pid in $pids; do
    kill "$pid" 2>/dev/null || continue
    for _ in $(seq 25); do kill -0 "$pid" 2>/dev/null || break; sleep 0.2; done
    kill -9 "$pid" 2>/dev/null || true
  done
  rm -rf "$scratch"
}
trap cleanup EXIT
trap 'exit 1' INT TERM
# Later starts come first, so hosts stop before the servers they talk to.
started() { pids="$1 $pids"; }

# level FILE REMIX prints "peak_dB rms_dB" of one channel, or of a mix such as
# "1,2v-1" (channel 1 minus channel 2); silence is -999. sox clips NaN and
# infinity to full scale, so a peak below 0 dB also means every sample is finite.
level() {
  sox "$1" -n remix "$2" stats 2>&1 | awk '
    function db(v) { return v ~ /inf/ ? -999 : v + 0 }
    /^Pk lev dB/ { p = db($4) } /^RMS lev dB/ { r = db($4) }
    END { if (p == "" || r == "") exit 1; print p, r }'
}

# expect_level FILE REMIX WHAT MIN_RMS [MAX_RMS]: the RMS lies in
# [MIN_RMS, MAX_RMS] dB and, for a single channel, the peak stays below full
# scale (a difference of two channels may reach it legitimately).
expect_level() {
  local got hi=${5:-0}
  got=$(level "$1" "$2") || fail "sox cannot analyse $1"
  echo "$3: peak/rms dB $got"
  echo "$got" | awk -v one="${2//[0-9]/}" -v lo="$4" -v hi="$hi" \
    '{ exit !((one != "" || $1 < -0.01) && $2 >= lo && $2 <= hi) }' ||
    fail "$3 ($2 of $(basename "$1")): peak/rms dB $got, wanted rms in [$4, $hi] and a finite peak below 0"
}

expect_channels() {
  local n; n=$(soxi -c "$1" 2>/dev/null) || fail "soxi cannot read $1"
  [ "$n" = "$2" ] || fail "$(basename "$1") has $n channels, wanted $2"
}
