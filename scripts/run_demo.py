#!/usr/bin/env python3
"""Starts the updater from a folder of its own, beside the simulated KRV-7000 (under the
device library's file name, firmware 1.02) and the sample update file the build makes
(1.03), so a whole update can be watched without a controller.

With a display the user clicks OK and Start. Without one it walks through the update by
itself under a private Xvfb (OK, Start, the completed screen, the final OK), saving a
screenshot of every screen, the controller's log and the updater's debug trace into
out/run-<time>/; it exits 0 only when the update completed and the final OK ended the
updater with exit code 0.

With --tour it renders every screen in every language into out/tour/ instead."""
import os
import shutil
import subprocess
import sys
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
BUILD = os.environ.get("KRV_BUILD_DIR", os.path.join(ROOT, "build"))
BIN = os.path.join(BUILD, "bin")
EXE = os.path.join(BIN, "KRVUpdateProgram")
SIM = os.path.join(BUILD, "sim", "libfwbridge.so")
SAMPLE = os.path.join(BUILD, "sample", "KRV-7000_UP.upd")

import krvharness as h  # noqa: E402
from krvharness.updfile import read_update_file  # noqa: E402

# The simulated controller answers at once; a few milliseconds per answer let the
# progress bar move for a few seconds, as with a real controller.
SIMULATOR_DEFAULTS = {"KRV_SIM_ATTACHED": "1", "KRV_SIM_VERSION": "102", "KRV_SIM_DELAY_MS": "8"}


class Stop(Exception):
    """Ends the walk-through; its text is the sentence shown to the user."""


def version_text(version):
    return f"{version // 100}.{version % 100:02d}"


def simulator_environment():
    """The defaults above, each unless the caller's environment sets it."""
    return {name: os.environ.get(name, value) for name, value in SIMULATOR_DEFAULTS.items()}


def check_build():
    for path, what in ((EXE, "The updater"), (SIM, "The simulated controller"), (SAMPLE, "The sample update file")):
        if not os.path.exists(path):
            raise Stop(f"{what} is missing ({path}); build first with scripts/build.sh.")


def tour():
    """Renders every screen in every language into out/tour/."""
    folder = os.path.join(ROOT, "out", "tour")
    if os.path.isdir(folder):
        shutil.rmtree(folder)
    result = subprocess.call([os.path.join(BIN, "krv_screen_tour"), folder])
    if result == 0:
        print(f"Screen tour: {folder}")
    return result


def interactive():
    """The user drives the updater on the display in DISPLAY, in the user's own language."""
    folder = os.path.join(ROOT, "out", "run")
    shutil.rmtree(folder, ignore_errors=True)
    updater = h.Updater(EXE, folder, library=SIM, update_file=SAMPLE, isolate=False,
                        env=dict(simulator_environment(), LC_ALL=os.environ.get("LC_ALL")))
    version, _ = read_update_file(SAMPLE, os.path.join(BIN, "krv-updfile"))
    try:
        updater.start()
    except h.Failure as failure:
        raise Stop(f"The updater did not open its window: {failure}")
    print(f"The updater is open beside a simulated KRV-7000 (firmware "
          f"{version_text(int(updater.env['KRV_SIM_VERSION']))}) and the sample update file (firmware "
          f"{version_text(version)}).\n"
          "Click OK, then Start, and watch the update; OK on the last screen closes the updater.\n"
          f"  The controller's log:       {updater.log}\n"
          f"  The updater's debug trace:  {updater.stderr_path}\n"
          "To unplug the controller and plug it in again (bridge/sim/README.md has more):\n"
          f"  echo detach >> {updater.control}\n"
          f"  echo attach >> {updater.control}")
    code = updater.proc.wait()
    updater.close()
    state = updater.sim_state()
    if state:
        print(f"The simulated controller now holds firmware {version_text(state[0])}.")
    return code


def save_as(updater, shot, name):
    path = os.path.join(updater.folder, name)
    os.replace(shot, path)
    return path


def watch_update(updater, shots):
    """Screenshots of the updating screen: the first one, then the first with the progress
    bar a third and two thirds of the way. Returns when the bar is gone, or a final screen
    came without it."""
    marks = [0.0, 1 / 3, 2 / 3]
    seen = False
    started = time.time()
    while True:
        shot = updater.screenshot("updating.png")
        shown = h.progress_shown(shot)
        if shown is None:
            if seen:
                os.remove(shot)
                return
            # A session that fails at once may end before the progress bar is ever drawn.
            if time.time() - started > 2 and h.read_screen(shot).kind() in ("complete", "failed"):
                os.remove(shot)
                return
            if time.time() - started > 30:
                raise Stop("The updater did not show its progress bar within 30 s of Start.")
        else:
            seen = True
            if marks and shown >= marks[0]:
                while marks and shown >= marks[0]:
                    marks.pop(0)
                shots.append(save_as(updater, shot, f"{len(shots) + 1:02d}-updating-{round(shown * 100):03d}.png"))
        if time.time() - started > 120:
            raise Stop("The update was still running after 120 s.")
        time.sleep(0.05)


SCREEN_NAMES = {"complete": "completed", "not-found": "not-found", "file-error": "file-error"}


def screen_name(kind):
    return "an unrecognised screen" if kind == "unknown" else f"its {SCREEN_NAMES.get(kind, kind)} screen"


def first_fault(trace):
    """What the trace tells of a failure: its first complaint, else its last line."""
    lines = trace.strip().splitlines()
    complaints = [l for l in lines if any(word in l for word in ("unexpected", "no response", "retry error", "failed to"))]
    if not lines:
        return "its debug trace is empty"
    return f"its debug trace says: {complaints[0]}" if complaints else f"its debug trace ends with: {lines[-1]}"


def expect_screen(updater, kind, shots, after, timeout=10):
    """Waits for a screen and keeps its screenshot; any other screen stops the walk-through."""
    name = f"{len(shots) + 1:02d}-{kind}.png"
    try:
        screen = updater.wait_for(kind, timeout=timeout, name=name)
    except h.Failure:
        if not os.path.exists(os.path.join(updater.folder, name)):
            raise
        seen = h.read_screen(os.path.join(updater.folder, name)).kind()
        shots.append(save_as(updater, os.path.join(updater.folder, name), f"{len(shots) + 1:02d}-{seen}.png"))
        raise Stop(f"After {after} the updater showed {screen_name(seen)} instead of {screen_name(kind)}; "
                   + first_fault(updater.stderr()))
    shots.append(os.path.join(updater.folder, name))
    return screen


def walk_through():
    """OK, Start, the completed screen and the final OK, under a private X server."""
    folder = os.path.join(ROOT, "out", "run-" + time.strftime("%Y%m%d-%H%M%S"))
    version, records = read_update_file(SAMPLE, os.path.join(BIN, "krv-updfile"))
    shots = []
    display = h.VirtualDisplay()
    updater = h.Updater(EXE, folder, display.display, library=SIM, update_file=SAMPLE, env=simulator_environment())
    try:
        print(f"No display: walking through the update under a virtual X server, into {folder}")
        try:
            updater.start()
        except h.Failure as failure:
            raise Stop(f"The updater did not open its window: {failure}")

        expect_screen(updater, "language", shots, "its start")
        updater.click(h.RIGHT_BUTTON)
        ready = expect_screen(updater, "ready", shots, "OK on the language screen")
        shown = {label: ready.version(label) for label in ("Current", "Update")}
        print("Ready: " + ", ".join(f"{label} Version {version_text(v) if v is not None else '(unread)'}"
                                    for label, v in shown.items()) + ". Pressing Start.")

        started = time.time()
        updater.click(h.RIGHT_BUTTON)
        watch_update(updater, shots)
        expect_screen(updater, "complete", shots, "the update")
        print(f"Completed after {time.time() - started:.1f} s. Pressing OK.")

        code = updater.quit_with(h.RIGHT_BUTTON)
        if code != 0:
            raise Stop(f"The final OK ended the updater with exit code {code}, not 0.")

        state = updater.sim_state()
        sent = {n: data for n, (data, transfer) in enumerate(records, start=1) if transfer}
        if state is None or state[0] != version or state[1] != sent:
            raise Stop("The updater showed its completed screen, but the simulated controller does not hold "
                       f"firmware {version_text(version)} with the {len(sent)} records of the file marked for "
                       f"transfer (see {os.path.basename(updater.state)}).")
        print(f"The simulated controller now holds firmware {version_text(version)} and the {len(sent)} records "
              "marked for transfer.")
        return 0
    finally:
        updater.close()
        display.close()
        # The copies of the build's executable and library are of no use afterwards.
        for path in (updater.exe, updater.library):
            if path and os.path.exists(path):
                os.remove(path)
        print(f"Screenshots ({', '.join(os.path.basename(s) for s in shots) or 'none'}), the controller's log "
              f"({os.path.basename(updater.log)}) and the updater's debug trace "
              f"({os.path.basename(updater.stderr_path)}) are in {folder}")


def main():
    if "--tour" in sys.argv[1:]:
        return tour()
    try:
        check_build()
        return interactive() if os.environ.get("DISPLAY") else walk_through()
    except (Stop, h.Failure) as stop:
        sys.stdout.flush()
        print(f"FAILED: {stop}", file=sys.stderr)
        return 1


if __name__ == "__main__":
    sys.exit(main())
