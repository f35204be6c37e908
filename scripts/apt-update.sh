#!/usr/bin/env bash
# apt-get update that rides out a mirror caught mid-sync ("File has unexpected size"): it
# tries up to four times, then goes on with the lists apt already has, warning, so that the
# install after it decides. A list of a foreign architecture (i386, for the 32-bit Wine)
# that fails is not waited on: apt has loaded every other list by then, and nothing
# amd64 needs it. Usage: scripts/apt-update.sh [chroot ROOT]
set -uo pipefail
if [ "$(id -u)" -ne 0 ]; then SUDO=sudo; else SUDO=; fi
run=($SUDO)
[ "${1:-}" != chroot ] || run+=(chroot "$2")
native="$("${run[@]}" dpkg --print-architecture)"
log="$(mktemp)"
trap 'rm -f "$log"' EXIT

for attempt in 1 2 3 4; do
    "${run[@]}" apt-get -o DPkg::Lock::Timeout=900 update -qq 2> "$log" && exit 0
    cat "$log" >&2
    failed="$(grep -E '^(E|W): Failed to fetch ' "$log")"
    if [ -n "$failed" ] && ! grep -qvE '/binary-[a-z0-9]+/' <<< "$failed" \
        && ! grep -qE "/binary-(all|$native)/" <<< "$failed"; then
        echo "!! apt-get update: only lists of a foreign architecture failed; going on without them" >&2
        exit 0
    fi
    [ "$attempt" -eq 4 ] || { echo "apt-get update failed (attempt $attempt of 4); again in 20 s" >&2; sleep 20; }
done
echo "!! apt-get update kept failing: going on with the package lists apt already has" >&2
exit 0
