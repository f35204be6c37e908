#!/usr/bin/env bash
# Configures (once) and builds into build/ (or $KRV_BUILD_DIR), incrementally.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build="${KRV_BUILD_DIR:-$root/build}"

if [ ! -f "$build/CMakeCache.txt" ]; then
    cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Release "$@"
fi
cmake --build "$build" -j "$(nproc)"
