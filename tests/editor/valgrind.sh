#!/bin/bash
# valgrind's memcheck over one open/close cycle of the editor in editor_host
# (its first picture, the picture after two port events, and a render still
# running when it closes): no error and no memory lost. valgrind 3.19 cannot
# run AVX-512 code, so the engine runs its AVX2 code here.
# Usage: valgrind.sh EDITOR_HOST UI_LIBRARY
. "${0%/*}/../hosts/common.sh"
. "${0%/*}/x11.sh"
need valgrind
start_xvfb
STREUWOLKE_SIMD=avx2 valgrind --leak-check=full --show-leak-kinds=definite,indirect \
  --errors-for-leak-kinds=definite,indirect --error-exitcode=9 \
  "$1" "$2" --cycles 1 >"$scratch/valgrind.log" 2>&1 || status=$?
grep -E 'ERROR SUMMARY|definitely lost|indirectly lost|editor_host:' "$scratch/valgrind.log"
[ "${status:-0}" = 0 ] || { cat "$scratch/valgrind.log"; fail "valgrind or the host failed (status $status)"; }
echo "valgrind: one open/close cycle of the editor, no error, nothing lost"
