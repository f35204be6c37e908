#!/usr/bin/env bash
# Starts the tool once per locale under a private X server and takes a screenshot of its
# first screen, the language screen. Needs the locales (scripts/deps.sh) and a build.
#   tests/process/language_screenshots.sh [output folder] [locale ...]
set -euo pipefail
root="$(cd "$(dirname "$0")/../.." && pwd)"
exe="${KRV_EXE:-$root/build/bin/KRVUpdateProgram}"
out="${1:-$root/build/screenshots}"
shift || true
locales=("$@")
[ ${#locales[@]} -gt 0 ] || locales=(en_US.UTF-8 ru_RU.UTF-8 zh_CN.UTF-8 ko_KR.UTF-8 ja_JP.UTF-8)

mkdir -p "$out"
export KRV_FORCE_XVFB=1
# shellcheck source=/dev/null
source "$root/scripts/xvfb.sh"

status=0
for locale in "${locales[@]}"; do
    if ! locale -a | grep -qix "$(echo "$locale" | sed 's/UTF-8/utf8/I')"; then
        echo "$locale: not installed (run scripts/deps.sh)" >&2
        status=1
        continue
    fi

    LC_ALL="$locale" "$exe" >/dev/null 2>&1 &
    pid=$!

    window=""
    for _ in $(seq 1 100); do
        window="$(xdotool search --onlyvisible --pid "$pid" 2>/dev/null | head -n 1 || true)"
        [ -n "$window" ] && break
        sleep 0.1
    done

    if [ -z "$window" ]; then
        echo "$locale: no window" >&2
        status=1
    else
        sleep 0.5 # first paint
        file="$out/language-${locale%%.*}.png"
        import -window "$window" "$file"
        echo "$locale: \"$(xdotool getwindowname "$window")\" -> $file"
    fi

    kill "$pid" 2>/dev/null || true
    wait "$pid" 2>/dev/null || true
done
exit $status
