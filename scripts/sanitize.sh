#!/usr/bin/env bash
# Builds the whole tree with a sanitizer and runs every test under it.
#   scripts/sanitize.sh address   AddressSanitizer + UndefinedBehaviorSanitizer (build-asan/)
#   scripts/sanitize.sh thread    ThreadSanitizer (build-tsan/)
# Extra arguments go to ctest (for example -R Session).
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
kind="${1:?address or thread}"
shift
"$root/scripts/deps.sh"

case "$kind" in
    address) build="$root/build-asan" ;;
    thread) build="$root/build-tsan" ;;
    *) echo "address or thread" >&2; exit 2 ;;
esac

if [ ! -f "$build/CMakeCache.txt" ]; then
    cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKRV_SANITIZE="$kind" -DKRV_BUILD_BENCH=OFF
fi
cmake --build "$build" -j "$(nproc)"

# intercept_tls_get_addr=0: up to GCC 13 the runtime's __tls_get_addr interceptor can take a
# malloc'd dynamic TLS block for an old glibc header and read past it, and the leak check's
# tracer then dies at exit ("Tracer caught signal 11") after a test has passed.
export ASAN_OPTIONS="detect_leaks=1:abort_on_error=1:detect_stack_use_after_return=1:intercept_tls_get_addr=0"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"
export TSAN_OPTIONS="halt_on_error=1:second_deadlock_stack=1:suppressions=$root/scripts/tsan.supp"
export LSAN_OPTIONS="suppressions=$root/scripts/lsan.supp"

KRV_FORCE_XVFB=1 source "$root/scripts/xvfb.sh"
cd "$build"
# The atoms a window manager would have made: without them JUCE cannot put a
# window on a bare X server.
bin/krv_xhelper wm-atoms
# The soak's memory check means nothing here: freed memory waits in AddressSanitizer's
# quarantine. The open language list and the screen reader's screens put windows on the X
# server, which loads the X11 libraries at run time (see below): they run with the process
# tests.
export KRV_SOAK_MEMORY_CHECK=0
on_desktop='^(LanguageList|ScreenReader)\.'
ctest --output-on-failure -j "$(nproc)" --timeout 600 -LE process -E "$on_desktop" "$@"

# The real executable loads the X11 libraries at run time and unloads them at exit, so
# LeakSanitizer can no longer tell whose their allocations were: the process tests run
# with every check but the leak check.
ASAN_OPTIONS="${ASAN_OPTIONS/detect_leaks=1/detect_leaks=0}" \
    ctest --output-on-failure -j "$(nproc)" --timeout 600 -L process "$@"
ASAN_OPTIONS="${ASAN_OPTIONS/detect_leaks=1/detect_leaks=0}" \
    ctest --output-on-failure -j "$(nproc)" --timeout 600 -R "$on_desktop" "$@"
