#!/bin/sh
# Builds the emulated KRV-7000's host program for this machine, whatever the build's own
# target is (the Windows tests run it beside Wine): build-host.sh OUTPUT SOURCE_ROOT SOURCES...
set -e
output="$1"
root="$2"
shift 2
mkdir -p "$(dirname "$output")"
# The cross toolchain's pkg-config settings name the target's libraries, not this machine's.
flags="$(env -u PKG_CONFIG_LIBDIR -u PKG_CONFIG_SYSROOT_DIR -u PKG_CONFIG_PATH pkg-config --cflags --libs umockdev-1.0)"
# shellcheck disable=SC2086
exec c++ -std=c++17 -O2 -I"$root" "$@" -o "$output" -pthread $flags
