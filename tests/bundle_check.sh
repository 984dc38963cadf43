#!/usr/bin/env bash
# One check of the built bundle with the tools a packager or host uses.
# Usage: bundle_check.sh validate|exports|ui-exports|needed|lv2info BUNDLE_DIR LIBRARY
#        bundle_check.sh version BUNDLE_DIR LIBRARY PROJECT_VERSION CHANGELOG
set -uo pipefail
check="$1" bundle="$2" library="$3"
uri=https://plonkbrett.org/plugins/plonkbrett-streuwolke

fail() { echo "FAIL: $*"; exit 1; }

case "$check" in
validate)
    # Every Turtle file of the bundle, against the installed LV2 vocabulary.
    # Debian's core bundle lacks a file that the script names; that notice
    # is the only stderr line allowed.
    out="$(lv2_validate "$bundle"/*.ttl 2>&1)" || fail "lv2_validate exited non-zero:"$'\n'"$out"
    echo "$out"
    rest="$(grep -v '^Skipping file /usr/lib/lv2/' <<<"$out")"
    grep -qx 'Found 0 errors among [0-9]* files (checked [0-9]* restrictions)' <<<"$rest" \
        || fail "no clean summary"
    grep -qiE '^(error|warning)|: (error|warning)' <<<"$rest" && fail "lv2_validate reported a problem"
    ;;
exports)
    syms="$(nm -D --defined-only "$library" | awk '{print $NF}')"
    echo "$syms"
    [[ "$syms" == lv2_descriptor ]] || fail "exports other than lv2_descriptor"
    ;;
ui-exports)
    syms="$(nm -D --defined-only "$library" | awk '{print $NF}')"
    echo "$syms"
    [[ "$syms" == lv2ui_descriptor ]] || fail "exports other than lv2ui_descriptor"
    ;;
needed)
    needed="$(readelf -d "$library" | sed -n 's/.*(NEEDED).*\[\(.*\)\]/\1/p' | sort)"
    echo "$needed"
    [[ "$needed" == $'libc.so.6\nlibm.so.6' ]] || fail "needs more than libc and libm"
    ;;
lv2info)
    err="$(mktemp)"
    trap 'rm -f "$err"' EXIT
    out="$(lv2info "$uri" 2>"$err")" || fail "lv2info exited non-zero: $(cat "$err")"
    echo "$out"
    [[ ! -s "$err" ]] || fail "lv2info wrote to stderr: $(cat "$err")"
    ports="$(grep -cE '^[[:space:]]*Port [0-9]+:$' <<<"$out")"
    [[ "$ports" == 16 ]] || fail "lv2info lists $ports ports, not 16"
    grep -q 'Class:[[:space:]]*Reverb Plugin' <<<"$out" || fail "not listed as a reverb"
    ;;
version)
    # Hosts compare lv2:minorVersion and lv2:microVersion to tell an update
    # from a downgrade: both must be the project's, and debian/changelog's
    # newest entry must name the same version. LV2 reads an odd minor as a
    # development snapshot, so a released entry needs an even one.
    want="$4" changelog="$5"
    triples="$(cat "$bundle"/*.ttl | sordi -i turtle - "file://$bundle/" 2>&1)" || fail "sordi: $triples"
    turtle_version() {
        sed -n "s|^<$uri> <http://lv2plug.in/ns/lv2core#$1> \"\([0-9]*\)\".*|\1|p" <<<"$triples"
    }
    minor="$(turtle_version minorVersion)" micro="$(turtle_version microVersion)"
    read -r entry distribution < <(sed -n '1s/^[^ ]* (\([^)]*\)) \([^;]*\);.*/\1 \2/p' "$changelog")
    upstream="${entry#*:}" upstream="${upstream%-*}"
    echo "project $want, Turtle minor $minor micro $micro, changelog $entry ($distribution)"
    [[ "$want" == *."$minor"."$micro" ]] || fail "the Turtle says minor ${minor:-none}, micro ${micro:-none}, the project $want"
    [[ "$upstream" == "$want" ]] || fail "debian/changelog names ${entry:-no version}, the project $want"
    [[ "$distribution" == UNRELEASED ]] || ((minor % 2 == 0)) || fail "a released version with the odd minor $minor"
    ;;
*)
    fail "unknown check $check"
    ;;
esac
echo "PASS: $check"
