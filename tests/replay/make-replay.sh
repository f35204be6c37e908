#!/usr/bin/env bash
# Records tests/replay from the emulated KRV-7000: its sysfs entries with umockdev-record
# (as from a real controller), its ioctls and the start of an update with the probe.
#   tests/replay/make-replay.sh [BUILD_DIR]
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
build="$(cd "${1:-$here/../../build}" && pwd)"
"$build/bin/krv_emulated_host" -- umockdev-record /dev/hidraw0 > "$here/krv7000.umockdev"
"$build/bin/krv_emulated_host" -- "$build/bin/krv_replay_probe" "$build/bin/libfwbridge.so" --record "$here"
