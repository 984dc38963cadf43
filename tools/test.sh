#!/usr/bin/env bash
# Runs every test of the project from a fresh clone: installs the Debian
# packages it needs (root, apt-get), then builds and tests three times:
#   build/       optimised with debug info, all tests
#   build-asan/  address + undefined-behaviour sanitizers, all but the host tests
#   build-tsan/  thread sanitizer, the tests labelled "threads"
# Exits non-zero when anything fails. Extra arguments go to every ctest call
# (e.g. tools/test.sh -R lilv).
set -uo pipefail

root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
cd "$root"

bash tools/install-deps.sh || { echo "test.sh: installing packages failed" >&2; exit 1; }

total_passed=0
total_failed=0
total_skipped=0
failures=()
summaries=()
start=$SECONDS

# stage NAME BUILD_DIR "CMAKE ARGS" CTEST ARGS...
stage() {
    local name="$1" dir="$2" cmake_args="$3"
    shift 3
    local t0=$SECONDS log="$dir/ctest-output.log"
    echo "=== $name: configure and build in $dir"
    # shellcheck disable=SC2086
    if ! cmake -S "$root" -B "$root/$dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo $cmake_args >/dev/null \
        || ! cmake --build "$root/$dir" -j2 >"$root/$dir/build-output.log" 2>&1; then
        [[ -f "$root/$dir/build-output.log" ]] && tail -n 60 "$root/$dir/build-output.log"
        failures+=("$name: build failed")
        summaries+=("$name: BUILD FAILED")
        return
    fi
    # A label that no test carries yet is not a failure; skip the run so the
    # log holds no ctest closing line that counts nothing.
    if ! (cd "$root/$dir" && ctest -N "$@" "${extra[@]}") | grep -qE '^Total Tests: [1-9]'; then
        echo "=== $name: no tests match: ctest $*"
        summaries+=("$name: no tests match ($((SECONDS - t0)) s)")
        return
    fi
    echo "=== $name: ctest $*"
    (cd "$root/$dir" && ctest -j2 --output-on-failure "$@" "${extra[@]}") 2>&1 | tee "$root/$log"
    local rc=${PIPESTATUS[0]}
    local line passed=0 failed=0 skipped
    skipped="$(grep -cE 'Test +#[0-9]+: .*\*\*\*Skipped' "$root/$log")"
    line="$(grep -E '^[0-9]+% tests passed, [0-9]+ tests? failed out of [0-9]+' "$root/$log" | tail -n 1)"
    if [[ -n "$line" ]]; then
        failed="$(sed -E 's/.* ([0-9]+) tests? failed out of.*/\1/' <<<"$line")"
        passed=$(( $(sed -E 's/.* out of ([0-9]+).*/\1/' <<<"$line") - failed - skipped ))
    else
        line="ctest printed no summary"
        ((rc == 0)) && rc=1
    fi
    total_passed=$((total_passed + passed))
    total_failed=$((total_failed + failed))
    total_skipped=$((total_skipped + skipped))
    ((rc != 0)) && failures+=("$name: ctest exit $rc")
    summaries+=("$name: $line ($((SECONDS - t0)) s)")
}

extra=("$@")
stage "release" build ""
stage "asan+ubsan" build-asan "-DSTREUWOLKE_SANITIZE=ON" -LE host
stage "tsan" build-tsan "-DSTREUWOLKE_TSAN=ON" -L threads

echo
echo "=== summary ($((SECONDS - start)) s)"
printf '  %s\n' "${summaries[@]}"
if ((${#failures[@]})); then
    printf 'FAILED: %s\n' "${failures[@]}"
fi
echo "tests: $total_passed passed, $total_failed failed, $total_skipped skipped"
((${#failures[@]} == 0 && total_failed == 0 && total_passed > 0))
