#!/usr/bin/env bash
# apt-get update that rides out a mirror caught mid-sync ("File has unexpected size"): it
# tries up to four times, then goes on with the lists apt already has, warning, so that the
# install after it decides. Usage: scripts/apt-update.sh [chroot ROOT]
set -uo pipefail
if [ "$(id -u)" -ne 0 ]; then SUDO=sudo; else SUDO=; fi
run=($SUDO)
[ "${1:-}" != chroot ] || run+=(chroot "$2")

for attempt in 1 2 3 4; do
    "${run[@]}" apt-get -o DPkg::Lock::Timeout=900 update -qq && exit 0
    [ "$attempt" -eq 4 ] || { echo "apt-get update failed (attempt $attempt of 4); again in 20 s" >&2; sleep 20; }
done
echo "!! apt-get update kept failing: going on with the package lists apt already has" >&2
exit 0
