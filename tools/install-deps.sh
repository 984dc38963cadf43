#!/usr/bin/env bash
# Installs the Debian packages listed in tools/deps/*.txt (one name a line,
# '#' starts a comment) that are not installed yet: those of the lists named
# (tools/install-deps.sh build render installs build.txt and render.txt), or
# of every list when none is named. A name:arch is a package of another
# architecture (the cross builds' libraries); that architecture is added to
# dpkg first. Needs root for dpkg and apt-get; does nothing, and needs
# nothing, when all are there already.
set -euo pipefail

here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"

lists=("$here"/deps/*.txt)
if (($#)); then
    lists=()
    for name in "$@"; do
        [[ -f "$here/deps/$name.txt" ]] || { echo "install-deps: no list tools/deps/$name.txt" >&2; exit 1; }
        lists+=("$here/deps/$name.txt")
    done
fi
mapfile -t wanted < <(cat "${lists[@]}" | sed -e 's/#.*//' -e 's/[[:space:]]//g' | grep -v '^$' | sort -u)

missing=()
for pkg in "${wanted[@]}"; do
    # One line per architecture the package is known for (libgtest-dev may be
    # there for several): installed for any of them counts.
    status="$(dpkg-query -W -f='${db:Status-Status}\n' "$pkg" 2>/dev/null || true)"
    grep -qx installed <<<"$status" || missing+=("$pkg")
done

# The architectures of the name:arch entries that dpkg does not know yet.
new_arches=()
for arch in $(printf '%s\n' "${wanted[@]}" | sed -n 's/^[^:]*:\(.*\)$/\1/p' | sort -u); do
    [[ "$arch" == "$(dpkg --print-architecture)" ]] && continue
    dpkg --print-foreign-architectures | grep -qx "$arch" || new_arches+=("$arch")
done

if ((${#missing[@]} == 0)); then
    echo "install-deps: all ${#wanted[@]} packages present"
    exit 0
fi

echo "install-deps: installing ${missing[*]}"
if [[ "$(id -u)" != 0 ]]; then
    echo "install-deps: run as root (dpkg, apt-get) to install: ${missing[*]}" >&2
    exit 1
fi
for arch in "${new_arches[@]}"; do
    echo "install-deps: adding the architecture $arch"
    dpkg --add-architecture "$arch"
done
export DEBIAN_FRONTEND=noninteractive
# One index that fails (a mirror still syncing, say) need not stop the
# install: the packages usually come from the indexes that did arrive, and
# apt-get install fails plainly when one of them cannot be had.
if ! apt-get -o DPkg::Lock::Timeout=600 update -q; then
    echo "install-deps: warning: apt-get update failed for some index; installing from what it has" >&2
fi
if ! apt-get -o DPkg::Lock::Timeout=600 install -y -q --no-install-recommends "${missing[@]}"; then
    echo "install-deps: apt-get install failed for: ${missing[*]}" >&2
    exit 1
fi
