#!/usr/bin/env bash
# Runs every test of the project from a fresh clone: installs the Debian
# packages it needs (root, apt-get), then builds in these folders, all with
# -DSTREUWOLKE_WERROR=ON but the demo's (built as a user builds it):
#   build-packager/  what a packager builds (-DBUILD_TESTING=OFF) with the
#                    test, benchmark and tool packages hidden: configure,
#                    build, install into a temporary prefix, check the bundle
#   build-fresh-demo/  tools/demo.sh from a fresh copy of the tree, with
#                    the packages of the lists it does not install hidden
#   build/           optimised with debug info, all tests
#   build-asan/      address + undefined-behaviour sanitizers, all but the host tests
#   build-tsan/      thread sanitizer, the tests labelled "threads"
#   build-aarch64/   cross builds for 64-bit ARM and for 32-bit ARM (hard
#   build-armhf/     float) without tools and benchmarks: the units and the
#                    robust tests under qemu-user, then seeded random
#                    sessions rendered there and compared bit for bit with
#                    the same sessions rendered by build/ on x86-64
#   build-debian/    the Debian packages, built by dpkg-buildpackage from a
#                    clean copy of the tree, checked by lintian, with the
#                    packaged bundle in /usr/lib/lv2 of a private mount
#                    namespace for lv2ls, lv2info and the packaged tools,
#                    and the manual pages rendered
#   build/lv2lint/   lv2lint, built from ../shared/third-party/lv2lint, run
#                    under Xvfb on build/'s bundle: no FAIL, no WARN
# The release stage's PipeWire test must run here (STREUWOLKE_REQUIRE_PIPEWIRE).
# Exits non-zero when anything fails. Extra arguments go to every ctest call
# (e.g. tools/test.sh -R lilv). STREUWOLKE_STAGES="aarch64 armhf" runs only
# the stages named (packager, demo, release, asan+ubsan, tsan, aarch64, armhf,
# debian, lv2lint).
set -uo pipefail

root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
cd "$root"

bash tools/install-deps.sh || { echo "test.sh: installing packages failed" >&2; exit 1; }
# The PipeWire test may skip where PipeWire cannot start; here it must run.
export STREUWOLKE_REQUIRE_PIPEWIRE=1

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
        return 1
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

# A mount namespace of its own for a command, in a user namespace when this
# is not root.
private_ns=(unshare -m)
((EUID == 0)) || private_ns=(unshare -U -r -m)

# The packager's build needs a compiler, CMake, pkg-config, lv2-dev and, for
# the editor, cairo, Xlib and FFTW, and nothing else. It runs in a mount
# namespace of its own in which the headers, CMake packages and static
# libraries of the test, benchmark and tool dependencies are covered up (a
# read-only empty tmpfs over each folder, a file that is one #error over each
# header or archive), and pkg-config sees only lv2.pc and the editor's
# packages (with what they require). Before the build it proves the hiding
# works: asking for the tests, the benchmarks or the tools there must fail to
# find GTest, benchmark and lilv-0. After it, the plug-in alone
# (-DSTREUWOLKE_BUILD_UI=OFF) builds with pkg-config seeing lv2.pc only.
packager_hidden_dirs=(
    /usr/include/gtest /usr/include/gmock /usr/include/benchmark /usr/include/lilv-0
    /usr/include/serd-0 /usr/include/sord-0 /usr/include/sratom-0
    /usr/src/googletest /usr/lib/*/cmake/GTest /usr/lib/*/cmake/benchmark
)
packager_hidden_files=(
    /usr/include/sndfile.h /usr/include/sndfile.hh
    /usr/lib/*/libgtest*.a /usr/lib/*/libgmock*.a /usr/lib/*/libbenchmark*.a
)
packager_editor_packages=(cairo cairo-xlib x11 fftw3)

# Runs inside the namespace: packager_inner ROOT BUILD_DIR SCRATCH_DIR
packager_inner() {
    local root="$1" dir="$2" scratch="$3" path hidden=()
    set -u
    mount -t tmpfs -o mode=0755 tmpfs "$scratch" || return 1
    mkdir "$scratch/pkgconfig" "$scratch/pkgconfig-lv2" "$scratch/prefix" "$scratch/prefix-lv2"
    echo '#error "hidden in the packager build of tools/test.sh"' >"$scratch/hidden"
    cp "$(pkg-config --variable=pcfiledir lv2)/lv2.pc" "$scratch/pkgconfig/" || return 1
    cp "$scratch/pkgconfig/lv2.pc" "$scratch/pkgconfig-lv2/" || return 1
    # The editor's packages and every package they require, privately too.
    local queue=("${packager_editor_packages[@]}") name
    while ((${#queue[@]})); do
        name="${queue[0]}" queue=("${queue[@]:1}")
        [[ -f "$scratch/pkgconfig/$name.pc" ]] && continue
        cp "$(pkg-config --variable=pcfiledir "$name")/$name.pc" "$scratch/pkgconfig/" || return 1
        mapfile -t -O "${#queue[@]}" queue < <(pkg-config --print-requires --print-requires-private "$name" | awk '{ print $1 }')
    done
    for path in "${packager_hidden_dirs[@]}"; do
        [[ -d "$path" ]] || continue
        mount -t tmpfs -o ro,size=4k tmpfs "$path" || return 1
        hidden+=("$path/")
    done
    for path in "${packager_hidden_files[@]}"; do
        [[ -f "$path" ]] || continue
        mount --bind "$scratch/hidden" "$path" || return 1
        hidden+=("$path")
    done
    export PKG_CONFIG_LIBDIR="$scratch/pkgconfig"
    unset PKG_CONFIG_PATH PKG_CONFIG_SYSROOT_DIR CMAKE_PREFIX_PATH
    echo "=== packager: hidden: ${hidden[*]}; pkg-config sees only lv2.pc and the editor's: ${packager_editor_packages[*]}"

    # The hiding holds: each option that needs a hidden package fails.
    local probe options want out
    for probe in "-DBUILD_TESTING=ON:GTest" \
                 "-DBUILD_TESTING=OFF -DSTREUWOLKE_BUILD_BENCH=ON:benchmark" \
                 "-DBUILD_TESTING=OFF -DSTREUWOLKE_BUILD_TOOLS=ON:lilv-0"; do
        options="${probe%%:*}" want="${probe#*:}"
        # shellcheck disable=SC2086
        if out="$(cmake -S "$root" -B "$scratch/probe" $options 2>&1)"; then
            echo "packager: configure with $options succeeded: the hiding does not work"
            return 1
        elif ! grep -q "$want" <<<"$out"; then
            echo "packager: configure with $options failed, but not for want of $want:"
            tail -n 20 <<<"$out"
            return 1
        fi
        echo "packager: configure with $options fails as it should: $want not found"
        rm -rf "$scratch/probe"
    done

    rm -rf "${root:?}/$dir"
    mkdir -p "$root/$dir"
    if ! cmake -S "$root" -B "$root/$dir" -DBUILD_TESTING=OFF -DSTREUWOLKE_WERROR=ON \
            >"$root/$dir/configure-output.log" 2>&1; then
        tail -n 40 "$root/$dir/configure-output.log"
        echo "packager: configure failed"
        return 1
    fi
    local option_value
    for option_value in BUILD_TESTING STREUWOLKE_BUILD_BENCH STREUWOLKE_BUILD_TOOLS; do
        grep -q "^$option_value:BOOL=OFF$" "$root/$dir/CMakeCache.txt" \
            || { echo "packager: $option_value is not OFF in the cache"; return 1; }
    done
    grep -q "^STREUWOLKE_BUILD_UI:BOOL=ON$" "$root/$dir/CMakeCache.txt" \
        || { echo "packager: the editor is not on by default"; return 1; }
    if ! cmake --build "$root/$dir" -j2 >"$root/$dir/build-output.log" 2>&1; then
        tail -n 60 "$root/$dir/build-output.log"
        echo "packager: build failed"
        return 1
    fi
    if ! cmake --install "$root/$dir" --prefix "$scratch/prefix" >"$root/$dir/install-output.log" 2>&1; then
        tail -n 20 "$root/$dir/install-output.log"
        echo "packager: install failed"
        return 1
    fi
    # Exactly the bundle: the module, the editor's module and the Turtle
    # files, nothing else.
    packager_check_bundle "$scratch/prefix" libplonkbrett-streuwolke.so libplonkbrett-streuwolke-ui.so || return 1
    grep -q 'ui:X11UI' "$scratch/prefix/lib/lv2/plonkbrett-streuwolke.lv2/manifest.ttl" \
        || { echo "packager: the manifest declares no editor"; return 1; }

    # The plug-in alone, with pkg-config seeing lv2.pc only: no editor, and
    # no Turtle that declares one.
    export PKG_CONFIG_LIBDIR="$scratch/pkgconfig-lv2"
    if ! { cmake -S "$root" -B "$root/$dir/alone" -DBUILD_TESTING=OFF -DSTREUWOLKE_BUILD_UI=OFF -DSTREUWOLKE_WERROR=ON \
            && cmake --build "$root/$dir/alone" -j2 --target plonkbrett-streuwolke \
            && cmake --install "$root/$dir/alone" --prefix "$scratch/prefix-lv2"; } >"$root/$dir/alone-output.log" 2>&1; then
        tail -n 40 "$root/$dir/alone-output.log"
        echo "packager: the plug-in alone (-DSTREUWOLKE_BUILD_UI=OFF) failed"
        return 1
    fi
    packager_check_bundle "$scratch/prefix-lv2" libplonkbrett-streuwolke.so || return 1
    if grep -q 'ui:ui\|ui:X11UI' "$scratch/prefix-lv2/lib/lv2/plonkbrett-streuwolke.lv2/"*.ttl; then
        echo "packager: the bundle without the editor still declares it"
        return 1
    fi
}

# packager_check_bundle PREFIX MODULE...: PREFIX holds the bundle's Turtle
# files and these modules, each not empty, and nothing else.
packager_check_bundle() {
    local prefix="$1" bundle=lib/lv2/plonkbrett-streuwolke.lv2 expected="" installed ttl module
    shift
    for module in "$@"; do
        expected+="$bundle/$module"$'\n'
        [[ -s "$prefix/$bundle/$module" ]] || { echo "packager: $module missing or empty"; return 1; }
    done
    for ttl in "$root"/bundle/*.ttl; do
        expected+="$bundle/$(basename "$ttl")"$'\n'
    done
    expected="$(sort <<<"$expected" | sed '/^$/d')"
    installed="$(cd "$prefix" && find . -type f -printf '%P\n' | sort)"
    echo "packager: installed: $(tr '\n' ' ' <<<"$installed")"
    if [[ "$installed" != "$expected" ]]; then
        echo "packager: expected: $(tr '\n' ' ' <<<"$expected")"
        return 1
    fi
}

# packager_stage NAME BUILD_DIR
packager_stage() {
    local name="$1" dir="$2" t0=$SECONDS scratch rc
    echo "=== $name: configure, build and install in $dir with -DBUILD_TESTING=OFF, test, bench and tool packages hidden"
    scratch="$(mktemp -d)"
    # shellcheck disable=SC2016
    "${private_ns[@]}" bash -c "$(declare -p packager_hidden_dirs packager_hidden_files packager_editor_packages); $(declare -f packager_inner packager_check_bundle)"'; packager_inner "$@"' \
        packager "$root" "$dir" "$scratch"
    rc=$?
    rmdir "$scratch"
    if ((rc == 0)); then
        summaries+=("$name: configured, built and installed the bundle with its editor, and the plug-in alone, without test, bench and tool packages ($((SECONDS - t0)) s)")
    else
        failures+=("$name: failed")
        summaries+=("$name: FAILED ($((SECONDS - t0)) s)")
    fi
}

# build/ as the release stage configures it, when that stage did not run,
# with the plug-in built: for the sessions and for lv2lint.
release_bundle() {
    local dir="$root/build"
    mkdir -p "$dir"
    { [[ -f "$dir/CMakeCache.txt" ]] || cmake -S "$root" -B "$dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DSTREUWOLKE_WERROR=ON; } \
        && cmake --build "$dir" -j2 --target plonkbrett-streuwolke
}

# The demo needs only the lists that tools/demo.sh names (demo_lists=(...)).
# It runs from a fresh copy of the tree (what git tracks or would track) in
# a mount namespace of its own, with a private /tmp, in which every other
# list's packages are covered up, together with whatever they alone depend
# on (neither the demo's packages nor the essential and required ones do):
# an empty read-only tmpfs over each folder that holds nothing of the
# packages that stay, a file that is one #error over each other file of
# theirs. Before the demo it proves the hiding holds: one file of each
# hidden package on the lists reads as hidden.

# Prints the installed packages that no package of the given lists, nor an
# essential or required one, needs, of those the other lists need, as
# name:arch. demo_hidden_packages ROOT LIST...
demo_hidden_packages() {
    local root="$1" list native tmp own=() other=()
    shift
    native="$(dpkg --print-architecture)"
    for list in "$root"/tools/deps/*.txt; do
        if printf '%s\n' "$@" | grep -qx "$(basename "$list" .txt)"; then own+=("$list"); else other+=("$list"); fi
    done
    tmp="$(mktemp -d)"
    dpkg-query -W -f='${db:Status-Status} ${Package}:${Architecture} ${Essential} ${Priority}\n' \
        | awk '$1 == "installed" { print $2, $3, $4 }' >"$tmp/installed"
    # apt-cache names a package of the native architecture or of "all"
    # without its architecture, dpkg-query always with it.
    demo_closure() {
        apt-cache depends --recurse --installed --no-recommends --no-suggests --no-conflicts --no-breaks \
            --no-replaces --no-enhances "$@" 2>/dev/null | grep -v '^[ <]' \
            | awk -v native="$native" '
                NR == FNR {
                    split($1, p, ":")
                    if (p[2] == native || p[2] == "all") plain[p[1]] = $1; else full[$1] = $1
                    next
                }
                $1 in full { print full[$1]; next }
                !index($1, ":") && $1 in plain { print plain[$1] }' "$tmp/installed" - | LC_ALL=C sort -u
    }
    demo_names() { sed -e 's/#.*//' -e 's/[[:space:]]//g' "$@" | grep -v '^$' | sort -u; }
    # shellcheck disable=SC2046
    demo_closure $(demo_names "${own[@]}") \
        $(awk '$2 == "yes" || $3 == "required" { sub(/:.*/, "", $1); print $1 }' "$tmp/installed") >"$tmp/keep"
    # shellcheck disable=SC2046
    demo_closure $(demo_names "${other[@]}") | comm -23 - "$tmp/keep"
    rm -rf "$tmp"
}

# Writes what to cover for the packages in DIR/hidden into DIR/cover: "d
# FOLDER" for a folder that holds no path of a package that stays, "f PATH"
# for each other path of theirs that no such folder holds. And into
# DIR/probes, for each hidden package that a list names, one file of its own
# that must read as hidden. demo_cover ROOT DIR
demo_cover() {
    local root="$1" dir="$2" usr=() top pkg path
    # With /bin, /lib, ... linked into /usr, one file has two names.
    for top in bin sbin lib lib32 lib64 libx32; do
        [[ -L "/$top" ]] && usr+=(-e "s|^/$top/|/usr/$top/|")
    done
    demo_paths() { grep '^/' | sed "${usr[@]}" -e '' | LC_ALL=C sort -u; }
    # shellcheck disable=SC2046
    dpkg-query -L $(dpkg-query -W -f='${db:Status-Status} ${Package}:${Architecture}\n' \
                    | awk '$1 == "installed" { print $2 }' | LC_ALL=C sort | comm -23 - "$dir/hidden") 2>/dev/null \
        | demo_paths >"$dir/kept-paths"
    # shellcheck disable=SC2046
    awk '
        function ancestors(p, into,   i) {
            for (i = length(p); i > 1; --i)
                if (substr(p, i, 1) == "/") into[substr(p, 1, i - 1)] = 1
        }
        NR == FNR { kept[$0] = 1; ancestors($0, holdsKept); next }
        { hidden[++n] = $0; ancestors($0, isFolder) }
        END {
            for (k = 1; k <= n; ++k) {
                p = hidden[k]
                if (p in kept || p in holdsKept) continue
                split("", up); ancestors(p, up)
                inside = 0
                for (a in up) if (a in covered) inside = 1
                if (inside) continue
                if (p in isFolder) { covered[p] = 1; print "d " p } else print "f " p
            }
        }' "$dir/kept-paths" <(dpkg-query -L $(cat "$dir/hidden") 2>/dev/null | demo_paths) >"$dir/cover"
    : >"$dir/probes"
    for pkg in $(sed -e 's/#.*//' -e 's/[[:space:]]//g' "$root"/tools/deps/*.txt \
                 | awk 'NR == FNR { named[$0] = 1; next } $0 in named || substr($0, 1, index($0, ":") - 1) in named' \
                       - "$dir/hidden"); do
        path="$(dpkg-query -L "$pkg" | demo_paths | LC_ALL=C comm -23 - "$dir/kept-paths" | while read -r path; do
            [[ -f "$path" && ! -L "$path" ]] && { echo "$path"; break; }; done)"
        [[ -n "$path" ]] && echo "$pkg $path" >>"$dir/probes"
    done
}

# Runs inside the namespace: demo_inner TREE DIR
demo_inner() {
    local tree="$1" dir="$2" path folders=0 files=0 name missing settings
    mount -t tmpfs tmpfs /tmp || return 1
    echo '#error "hidden in the demo stage of tools/test.sh"' >/tmp/hidden
    while read -r _ path; do
        [[ -L "$path" ]] && continue
        if [[ -d "$path" ]]; then
            mount -t tmpfs -o ro,size=4k tmpfs "$path" || return 1
            ((++folders))
        elif [[ -f "$path" ]]; then
            mount --bind /tmp/hidden "$path" || return 1
            ((++files))
        fi
    done <"$dir/cover"
    echo "=== demo: hid $(wc -l <"$dir/hidden") packages ($folders folders, $files files)"
    while read -r name path; do
        if [[ -e "$path" ]] && ! cmp -s "$path" /tmp/hidden; then
            echo "demo: $path of $name is still there: the hiding does not work"
            return 1
        fi
    done <"$dir/probes"
    echo "demo: one file of each of the $(wc -l <"$dir/probes") hidden packages on the lists reads as hidden"

    STREUWOLKE_BUILD="$dir/build" "$tree/tools/demo.sh" "$dir/out" >"$dir/demo-output.log" 2>&1 \
        || { tail -n 40 "$dir/demo-output.log"; echo "demo: tools/demo.sh failed"; return 1; }
    [[ "$(tail -n 1 "$dir/demo-output.log")" == "$dir/out" ]] \
        || { tail -n 5 "$dir/demo-output.log"; echo "demo: the last line is not the output folder"; return 1; }
    # Each setting it names ("  NAME") has its sound, its spectrogram and its
    # impulse responses with their picture.
    missing=()
    mapfile -t settings < <(sed -n 's/^  \([a-z0-9-]*\)$/\1/p' "$dir/demo-output.log")
    for name in "${settings[@]}"; do
        for path in "$name.wav" "$name-spectrogram.png" "$name-ir.wav" "$name-ir.png"; do
            [[ -s "$dir/out/$path" ]] || missing+=("$path")
        done
    done
    ((${#settings[@]} > 1 && ${#missing[@]} == 0)) \
        || { echo "demo: settings: ${settings[*]}; missing or empty: ${missing[*]}"; return 1; }
    echo "demo: rendered ${#settings[@]} settings into $dir/out"
}

# demo_stage NAME DIR
demo_stage() {
    local name="$1" dir="$root/$2" t0=$SECONDS lists rc
    echo "=== $name: tools/demo.sh from a fresh copy in $2, the packages of the lists it does not name hidden"
    read -ra lists <<<"$(sed -n 's/^demo_lists=(\(.*\))$/\1/p' "$root/tools/demo.sh")"
    if ((${#lists[@]} == 0)); then
        failures+=("$name: no demo_lists=(...) in tools/demo.sh")
        summaries+=("$name: FAILED, tools/demo.sh names no lists")
        return
    fi
    rm -rf "$dir"
    mkdir -p "$dir/tree"
    (cd "$root" && git ls-files -z --cached --others --exclude-standard \
        | tar --null --ignore-failed-read -T - -cf -) | tar -xf - -C "$dir/tree"
    demo_hidden_packages "$root" "${lists[@]}" >"$dir/hidden"
    demo_cover "$root" "$dir"
    # shellcheck disable=SC2016
    "${private_ns[@]}" bash -c "$(declare -f demo_inner)"'; demo_inner "$@"' demo "$dir/tree" "$dir"
    rc=$?
    if ((rc == 0)); then
        summaries+=("$name: built and rendered from a fresh copy, $(wc -l <"$dir/hidden") packages of the other lists hidden ($((SECONDS - t0)) s)")
    else
        failures+=("$name: failed")
        summaries+=("$name: FAILED ($((SECONDS - t0)) s)")
    fi
}

# The sessions of tests/render_sessions.cpp rendered on x86-64 by build/
# (configured as the release stage does, when that stage did not run), once
# for both cross stages, into build/sessions-x86-64/.
module=lv2/plonkbrett-streuwolke.lv2/libplonkbrett-streuwolke.so
x86_sessions=""
render_x86_sessions() {
    local dir="$root/build" log="$root/build/sessions-x86-64.log"
    [[ -n "$x86_sessions" ]] && return
    if ! { release_bundle && cmake --build "$dir" -j2 --target render_sessions \
            && rm -rf "$dir/sessions-x86-64" \
            && (cd "$dir" && tests/render_sessions "$module" sessions-x86-64); } >"$log" 2>&1; then
        tail -n 40 "$log"
        return 1
    fi
    x86_sessions="$dir/sessions-x86-64"
}

# cross_stage NAME BUILD_DIR TOOLCHAIN: the stage() of a cross build without
# tools, benchmarks and editor, its tests under the toolchain's emulator, then the
# sessions rendered under the emulator and compared with the x86-64 render.
cross_stage() {
    local name="$1" dir="$2" toolchain="$root/$3" emulator rc t0
    stage "$name" "$dir" "-DCMAKE_TOOLCHAIN_FILE=$toolchain -DSTREUWOLKE_WERROR=ON -DSTREUWOLKE_BUILD_TOOLS=OFF -DSTREUWOLKE_BUILD_BENCH=OFF -DSTREUWOLKE_BUILD_UI=OFF" \
        || return
    t0=$SECONDS
    echo "=== $name: sessions against x86-64"
    if ! render_x86_sessions; then
        failures+=("$name sessions: no x86-64 render")
        summaries+=("$name sessions: FAILED, no x86-64 render ($((SECONDS - t0)) s)")
        return
    fi
    emulator="$(sed -n 's/^set(CROSS_QEMU \(.*\))$/\1/p' "$toolchain")"
    if [[ -z "$emulator" ]]; then
        failures+=("$name sessions: no CROSS_QEMU in $toolchain")
        summaries+=("$name sessions: FAILED, no emulator named in $3")
        return
    fi
    # shellcheck disable=SC2086
    (cd "$root/$dir" && $emulator tests/render_sessions "$module" --against "$x86_sessions") 2>&1 \
        | tee "$root/$dir/sessions-output.log"
    rc=${PIPESTATUS[0]}
    ((rc != 0)) && failures+=("$name sessions: exit $rc")
    summaries+=("$name sessions: $(tail -n 1 "$root/$dir/sessions-output.log") ($((SECONDS - t0)) s)")
}

# debian_build DIR: the source package and the binary packages, from a clean
# copy of the tree (the tracked files and the new ones git does not ignore)
# in DIR/plonkbrett-streuwolke-VERSION, so dpkg-buildpackage writes its
# .debs, .changes and .buildinfo into DIR and never beside the checkout.
debian_build() {
    local dir="$1" version copy
    version="$(sed -n '1s/^[^ ]* (\([^)]*\)).*/\1/p' "$root/debian/changelog")"
    [[ -n "$version" ]] || { echo "debian: no version in debian/changelog"; return 1; }
    copy="$dir/plonkbrett-streuwolke-$version"
    rm -rf "$dir" && mkdir -p "$copy" || return 1
    (cd "$root" && git ls-files -z --cached --others --exclude-standard \
        | while IFS= read -r -d '' path; do [[ -e "$path" ]] && printf '%s\0' "$path"; done \
        | tar --null -T - -cf -) | tar -C "$copy" -xf - || { echo "debian: cannot copy the tree"; return 1; }
    (cd "$dir" && dpkg-source --build "$(basename "$copy")") >"$dir/source-output.log" 2>&1 \
        || { tail -n 20 "$dir/source-output.log"; echo "debian: dpkg-source failed"; return 1; }
    (cd "$copy" && dpkg-buildpackage -us -uc -b -j2) >"$dir/build-output.log" 2>&1 \
        || { tail -n 60 "$dir/build-output.log"; echo "debian: dpkg-buildpackage failed"; return 1; }
    echo "debian: built $(cd "$dir" && echo *.deb)"
}

# Runs in a mount namespace of its own with a private /tmp and the plug-in
# package's /usr/lib/lv2 laid over the machine's (which stays as it is):
# lv2ls and lv2info find the bundle there, and the packaged tools render an
# impulse through it and measure the result.
debian_installed() {
    local extracted="$1" uri=https://plonkbrett.org/plugins/plonkbrett-streuwolke out
    mount -t tmpfs tmpfs /tmp \
        && mount -t overlay overlay -o "lowerdir=$extracted/usr/lib/lv2:/usr/lib/lv2" /usr/lib/lv2 || return 1
    unset LV2_PATH
    lv2ls | grep -qxF "$uri" || { echo "debian: lv2ls does not list $uri"; return 1; }
    out="$(lv2info "$uri" 2>&1)" || { echo "debian: lv2info failed: $out"; return 1; }
    grep -qF "file:///usr/lib/lv2/plonkbrett-streuwolke.lv2/" <<<"$out" \
        || { echo "debian: lv2info does not show the bundle in /usr/lib/lv2:"; echo "$out" | head -n 20; return 1; }
    [[ "$(grep -cE '^[[:space:]]*Port [0-9]+:$' <<<"$out")" == 16 ]] || { echo "debian: lv2info lists no 16 ports"; return 1; }
    grep -qF "http://lv2plug.in/ns/extensions/ui#X11UI" <<<"$out" \
        || { echo "debian: lv2info shows no X11 editor for $uri"; return 1; }
    echo "debian: lv2ls and lv2info find $uri in /usr/lib/lv2, with its editor"
    sox -n -r 48000 -c 1 /tmp/impulse.wav synth 0.0001 square 1 pad 0 0.3 \
        && "$extracted/usr/bin/streuwolke-render" /tmp/impulse.wav /tmp/response.wav --set mix=100 \
        && out="$("$extracted/usr/bin/streuwolke-analyze" /tmp/response.wav)" \
        || { echo "debian: the packaged tools cannot render and measure an impulse"; return 1; }
    echo "debian: the packaged tools measure the impulse response: $(grep -E '^(file|T30) ' <<<"$out" | tr -s ' ' | paste -sd ';')"
}

# debian_check DIR: lintian, the packages' contents and Depends, the
# installed bundle and tools, and the manual pages.
debian_check() {
    local dir="$1" lv2 tools deb out extracted="$1/extracted" page bin
    lv2="$(echo "$dir"/plonkbrett-streuwolke-lv2_*.deb)" tools="$(echo "$dir"/plonkbrett-streuwolke-tools_*.deb)"
    [[ -f "$lv2" && -f "$tools" ]] || { echo "debian: the plug-in or the tools package is missing"; return 1; }
    # No error and no warning; the rest (informational, pedantic and
    # experimental tags) is shown, and fails nothing.
    out="$(lintian --fail-on error,warning --display-info --pedantic --display-experimental --tag-display-limit 0 \
        "$dir"/*.dsc "$dir"/*.changes 2>&1)" || { echo "$out"; echo "debian: lintian failed"; return 1; }
    echo "debian: lintian: no error, no warning; other tags: $(grep -cE '^[IPX]: ' <<<"$out")"
    grep -E '^[IPX]: ' <<<"$out"
    # The plug-in's module needs the C library (with libm) and nothing else;
    # the package needs besides only what its editor draws and measures with.
    out="$(dpkg-deb -f "$lv2" Depends)"
    echo "debian: $(basename "$lv2") depends on: $out"
    [[ -n "$out" && -z "$(tr ',' '\n' <<<"$out" | sed -e 's/^ *//' -e 's/[ (].*//' \
        | grep -vxE 'libc6|libcairo2|libx11-6|libfftw3-double3')" ]] \
        || { echo "debian: the plug-in package needs more than libc6 and the editor's cairo, Xlib and FFTW"; return 1; }
    # The bundle is whatever cmake --install put into it.
    if ! diff <(cd "$dir"/plonkbrett-streuwolke-*/debian/tmp && find usr/lib/lv2 -type f | sort) \
              <(dpkg-deb -c "$lv2" | awk '$1 !~ /^d/ { sub(/^\.\//, "", $6); print $6 }' | grep '^usr/lib/lv2/' | sort); then
        echo "debian: the package's bundle is not what cmake --install put into it"
        return 1
    fi
    rm -rf "$extracted"
    for deb in "$lv2" "$tools"; do dpkg-deb -x "$deb" "$extracted" || return 1; done
    out="$(objdump -p "$extracted"/usr/lib/lv2/plonkbrett-streuwolke.lv2/libplonkbrett-streuwolke.so \
        | awk '$1 == "NEEDED" { print $2 }' | grep -vxE 'libc\.so\.6|libm\.so\.6')"
    [[ -z "$out" ]] || { echo "debian: the packaged plug-in module needs more than libc and libm: $out"; return 1; }
    # shellcheck disable=SC2016
    "${private_ns[@]}" bash -c "$(declare -f debian_installed)"'; debian_installed "$@"' debian "$extracted" || return 1
    # Every program has its manual page, and every page renders without a
    # warning (man --warnings, as lintian runs it).
    for bin in "$extracted"/usr/bin/*; do
        [[ -f "$extracted/usr/share/man/man1/$(basename "$bin").1.gz" ]] || { echo "debian: no manual page for $(basename "$bin")"; return 1; }
    done
    for page in "$extracted"/usr/share/man/man1/*.1.gz; do
        out="$(LC_ALL=C.UTF-8 MANROFFSEQ='' MANWIDTH=80 man --warnings -E UTF-8 -l -Tutf8 -Z "$page" 2>&1 >/dev/null)"
        [[ -z "$out" ]] || { echo "debian: $(basename "$page") renders with warnings:"; echo "$out"; return 1; }
    done
    echo "debian: $(cd "$extracted/usr/share/man/man1" && echo *.1.gz) render without warnings"
}

# debian_stage NAME DIR
debian_stage() {
    local name="$1" dir="$root/$2" t0=$SECONDS
    echo "=== $name: dpkg-buildpackage in $2, lintian, the installed bundle and tools, the manual pages"
    if debian_build "$dir" && debian_check "$dir"; then
        summaries+=("$name: built and checked $(cd "$dir" && echo *.deb | wc -w) packages ($((SECONDS - t0)) s)")
    else
        failures+=("$name: failed")
        summaries+=("$name: FAILED ($((SECONDS - t0)) s)")
    fi
}

# lv2lint, from its source beside the checkout (../shared/third-party/lv2lint
# in CI), built with meson into build/lv2lint, runs on the release build's
# bundle under Xvfb, so that a UI is loaded and checked too. Its LV2_PATH holds
# the LV2 specifications from lv2-dev and the bundle, nothing else.
lv2lint_stage() {
    local name="$1" t0=$SECONDS src prefix="$root/build/lv2lint" path="$root/build/lv2lint-path" bundle log rc
    local uri=https://plonkbrett.org/plugins/plonkbrett-streuwolke
    echo "=== $name: build lv2lint into build/lv2lint, run it on the bundle"
    # Beside the checkout, or beside the main checkout when this is a git
    # worktree of it.
    local common place places=("$root/..")
    common="$(git -C "$root" rev-parse --path-format=absolute --git-common-dir 2>/dev/null)" \
        && places+=("$(dirname "$common")/..")
    src=""
    for place in "${places[@]}"; do
        [[ -f "$place/shared/third-party/lv2lint/meson.build" ]] \
            && { src="$(cd "$place/shared/third-party/lv2lint" && pwd)"; break; }
    done
    if [[ -z "$src" ]]; then
        echo "lv2lint: its source is in none of: ${places[*]/%//shared/third-party/lv2lint}"
        failures+=("$name: no lv2lint source in ../shared/third-party/lv2lint")
        summaries+=("$name: FAILED, no source ($((SECONDS - t0)) s)")
        return
    fi
    log="$root/build/lv2lint-output.log"
    if ! release_bundle >"$root/build/lv2lint-bundle.log" 2>&1; then
        tail -n 40 "$root/build/lv2lint-bundle.log"
        failures+=("$name: bundle build failed")
        summaries+=("$name: FAILED, no bundle ($((SECONDS - t0)) s)")
        return
    fi
    if [[ ! -x "$prefix/bin/lv2lint" ]] && ! { rm -rf "$root/build/lv2lint-build" \
            && meson setup "$root/build/lv2lint-build" "$src" --prefix="$prefix" -Delf-tests=enabled \
                -Dx11-tests=enabled -Donline-tests=disabled -Dc_args="-include limits.h" \
            && ninja -C "$root/build/lv2lint-build" -j2 && ninja -C "$root/build/lv2lint-build" install; } \
            >"$root/build/lv2lint-build.log" 2>&1; then
        tail -n 40 "$root/build/lv2lint-build.log"
        failures+=("$name: building lv2lint failed")
        summaries+=("$name: FAILED, lv2lint did not build ($((SECONDS - t0)) s)")
        return
    fi
    rm -rf "$path" && mkdir -p "$path"
    for bundle in $(dpkg -L "lv2-dev:$(dpkg --print-architecture)" | grep -E '^/usr/lib/lv2/[^/]+\.lv2$'); do
        ln -s "$bundle" "$path/"
    done
    ln -s "$root/build/lv2/plonkbrett-streuwolke.lv2" "$path/"
    # The plug-in reads /tmp/plonkbrett.log: a private /tmp.
    "${private_ns[@]}" bash -c 'mount -t tmpfs tmpfs /tmp && LV2_PATH="$1" xvfb-run -a "$2" -M nopack -S all -E warn "$3"' \
        lv2lint "$path" "$prefix/bin/lv2lint" "$uri" >"$log" 2>&1
    rc=$?
    local fails warns notes
    fails="$(grep -c '\[FAIL\]' "$log")" warns="$(grep -c '\[WARN\]' "$log")" notes="$(grep -c '\[NOTE\]' "$log")"
    grep -E '\[(FAIL|WARN)\]' -A2 "$log"
    if ((rc == 0 && fails == 0 && warns == 0)) && grep -q '\[PASS\]' "$log"; then
        summaries+=("$name: $fails FAIL, $warns WARN, $notes NOTE ($((SECONDS - t0)) s)")
    else
        tail -n 40 "$log"
        failures+=("$name: lv2lint exit $rc, $fails FAIL, $warns WARN")
        summaries+=("$name: FAILED, $fails FAIL, $warns WARN ($((SECONDS - t0)) s)")
    fi
}

# STREUWOLKE_STAGES picks stages by name; all of them by default.
wanted() { [[ -z "${STREUWOLKE_STAGES:-}" || " $STREUWOLKE_STAGES " == *" $1 "* ]]; }

extra=("$@")
wanted packager && packager_stage "packager" build-packager
wanted demo && demo_stage "demo" build-fresh-demo
wanted release && stage "release" build "-DSTREUWOLKE_WERROR=ON"
wanted asan+ubsan && stage "asan+ubsan" build-asan "-DSTREUWOLKE_WERROR=ON -DSTREUWOLKE_SANITIZE=ON" -LE host
wanted tsan && stage "tsan" build-tsan "-DSTREUWOLKE_WERROR=ON -DSTREUWOLKE_TSAN=ON" -L threads
wanted aarch64 && cross_stage "aarch64" build-aarch64 cmake/toolchain-aarch64.cmake
wanted armhf && cross_stage "armhf" build-armhf cmake/toolchain-armhf.cmake
wanted debian && debian_stage "debian" build-debian
wanted lv2lint && lv2lint_stage "lv2lint"

echo
echo "=== summary ($((SECONDS - start)) s)"
printf '  %s\n' "${summaries[@]}"
if ((${#failures[@]})); then
    printf 'FAILED: %s\n' "${failures[@]}"
fi
echo "tests: $total_passed passed, $total_failed failed, $total_skipped skipped"
((${#failures[@]} == 0 && total_failed == 0 && total_passed > 0))
