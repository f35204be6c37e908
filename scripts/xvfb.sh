#!/usr/bin/env bash
# Sourced: starts a private virtual X server when there is no display and exports DISPLAY.
# The server ends with the shell that sourced this.
if [ -z "${DISPLAY:-}" ] || [ "${KRV_FORCE_XVFB:-0}" = 1 ]; then
    for n in $(seq 90 140); do
        if [ ! -e "/tmp/.X11-unix/X$n" ] && [ ! -e "/tmp/.X$n-lock" ]; then
            Xvfb ":$n" -screen 0 1024x768x24 -nolisten tcp -noreset >/dev/null 2>&1 &
            KRV_XVFB_PID=$!
            export DISPLAY=":$n"
            for _ in $(seq 1 100); do
                [ -e "/tmp/.X11-unix/X$n" ] && break
                sleep 0.05
            done
            trap 'kill $KRV_XVFB_PID 2>/dev/null || true' EXIT
            break
        fi
    done
fi
