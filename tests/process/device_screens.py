#!/usr/bin/env python3
"""The updater's device screens against the simulated KRV-7000, in a real process under a
private Xvfb. One scenario per run: python3 device_screens.py SCENARIO --exe ... --sim ...
Exit 0 passed, 1 failed, 77 skipped (a part it needs is still a placeholder)."""
import argparse
import os
import shutil
import subprocess
import sys

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path[:0] = [HERE, os.path.join(HERE, "..", "..", "scripts")]

import krvharness as h  # noqa: E402
from krv_update_file import build_update_file, sample_records  # noqa: E402


class Skip(Exception):
    pass


def expect(condition, message):
    if not condition:
        raise h.Failure(message)


def leave_language_screen(updater, args, expected):
    """Presses OK on the language screen and waits for the expected screen."""
    updater.click(h.RIGHT_BUTTON)
    screen = updater.wait_for_change("language")
    if (screen.left, screen.right) == ("", "OK") and h.placeholder(args.source, "update/UpdateFile.cpp"):
        raise Skip("the updater rejects every update file while its parser is a placeholder")
    return updater.wait_for(expected)


def scenario_screens(args, display, folder):
    """Language screen; OK without a controller gives not-found; plugging the controller in
    gives the ready screen with its version; unplugging goes back; plugging in again with
    another version shows that one."""
    updater = h.Updater(args.exe, folder, display, library=args.sim,
                        update_file=build_update_file(103, sample_records()),
                        env={"KRV_SIM_ATTACHED": "0", "KRV_SIM_VERSION": "102"}).start()
    try:
        updater.wait_for("language")
        expect(updater.title() == h.WINDOW_TITLE, f"window title {updater.title()!r}")

        leave_language_screen(updater, args, "not-found")

        updater.command("attach")
        ready = updater.wait_for("ready")
        expect(ready.version("Current") == 102, f"current version read as {ready.version('Current')}:\n{ready}")
        expect(ready.version("Update") == 103, f"update version read as {ready.version('Update')}:\n{ready}")

        updater.command("detach")
        updater.wait_for("not-found")

        updater.command("version 104")
        updater.command("attach")
        ready = updater.wait_for("ready")
        expect(ready.version("Current") == 104, f"current version read as {ready.version('Current')}:\n{ready}")

        updater.command("detach")
        updater.wait_for("not-found")
        log = updater.sim_log()
        for line in ("attached as HID 0", "detached HID 0", "attached as HID 1", "detached HID 1"):
            expect(line in log, f"the simulator's log lacks {line!r}")
        expect("out  HID" not in log, "nothing is written to a controller that is not being updated")

        code = updater.quit_with(h.RIGHT_BUTTON)
        expect(code == 0, f"exit code {code}")
    finally:
        updater.close()


def scenario_present_at_start(args, display, folder):
    """A controller plugged in before the start is found without any arrival."""
    updater = h.Updater(args.exe, folder, display, library=args.sim,
                        update_file=build_update_file(103, sample_records()),
                        env={"KRV_SIM_ATTACHED": "1", "KRV_SIM_VERSION": "101"}).start()
    try:
        updater.wait_for("language")
        ready = leave_language_screen(updater, args, "ready")
        expect(ready.version("Current") == 101, f"current version read as {ready.version('Current')}:\n{ready}")
        code = updater.quit_with(h.LEFT_BUTTON)
        expect(code == 0, f"exit code {code}")
    finally:
        updater.close()


def without_a_working_library(args, display, folder, library, debug_text):
    updater = h.Updater(args.exe, folder, display, library=library,
                        update_file=build_update_file(103, sample_records())).start()
    try:
        updater.wait_for("language")
        lines = [l for l in updater.stderr().splitlines() if l.startswith("device library:")]
        expect(len(lines) == 1, f"one debug line about the device library, saw: {lines}")
        expect(debug_text in lines[0], f"the debug line does not say {debug_text!r}: {lines[0]}")
        leave_language_screen(updater, args, "not-found")
        code = updater.quit_with(h.RIGHT_BUTTON)
        expect(code == 0, f"exit code {code}")
    finally:
        updater.close()


def scenario_no_library(args, display, folder):
    """No device library at all: the tool starts and finds no controller."""
    without_a_working_library(args, display, folder, None, "libfwbridge.so not loaded")


def scenario_partial_library(args, display, folder):
    """A device library without HID_Write counts as none."""
    without_a_working_library(args, display, folder, args.partial, "lacks HID_Write")


def scenario_update(args, display, folder):
    """A whole update: the controller ends up holding exactly the transferred records and
    comes back with the new version."""
    if h.placeholder(args.source, "update/UpdateSession.cpp"):
        raise Skip("the update session is still a placeholder")

    records = sample_records()
    updater = h.Updater(args.exe, folder, display, library=args.sim,
                        update_file=build_update_file(103, records),
                        env={"KRV_SIM_ATTACHED": "1", "KRV_SIM_VERSION": "102"}).start()
    try:
        updater.wait_for("language")
        leave_language_screen(updater, args, "ready")
        updater.click(h.RIGHT_BUTTON)
        updater.wait_for("complete", timeout=60)

        state = open(updater.state).read() if os.path.exists(updater.state) else ""
        expect("version 103\n" in state, f"the controller's state:\n{state}")
        held = {}
        for line in state.splitlines():
            words = line.split()
            if len(words) >= 3 and words[0] == "record":
                held[int(words[1])] = bytes.fromhex(words[-1]) if words[2] == "length" and words[-2] == "data" else \
                    (b"" if words[2] == "length" else None)
        for number, (data, transfer) in enumerate(records, start=1):
            expect(held.get(number) == (data if transfer else None),
                   f"record {number}: holds {held.get(number)!r}, expected {(data if transfer else None)!r}")

        log = updater.sim_log()
        for text in ("HID_UPDATE_CMD_MODE", "HID_UPDATE_ANS_INFO_OK", "HID_UPDATE_ANS_COMPLETE", "re-enumerating"):
            expect(text in log, f"the simulator's log lacks {text!r}")

        code = updater.quit_with(h.RIGHT_BUTTON)
        expect(code == 0, f"exit code {code}")
    finally:
        updater.close()


SCENARIOS = {
    "screens": scenario_screens,
    "present-at-start": scenario_present_at_start,
    "no-library": scenario_no_library,
    "partial-library": scenario_partial_library,
    "update": scenario_update,
}


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("scenario", choices=sorted(SCENARIOS))
    parser.add_argument("--exe", required=True)
    parser.add_argument("--sim", required=True)
    parser.add_argument("--partial", required=True)
    parser.add_argument("--source", required=True)
    args = parser.parse_args()

    for tool in ("Xvfb", "xdotool", "import", "convert", "tesseract"):
        if not shutil.which(tool):
            print(f"FAILED: {tool} is not installed (scripts/deps.sh installs it)")
            return 1

    folder = h.work_folder(args.scenario)
    display = None
    try:
        display = h.VirtualDisplay()
        SCENARIOS[args.scenario](args, display.display, folder)
    except Skip as reason:
        print(f"SKIPPED: {reason}")
        shutil.rmtree(folder, ignore_errors=True)
        return h.SKIP
    except (h.Failure, OSError, subprocess.CalledProcessError) as failure:
        print(f"FAILED: {failure}\nScreenshots, logs and the updater's debug output are in {folder}")
        return 1
    finally:
        if display is not None:
            display.close()

    shutil.rmtree(folder, ignore_errors=True)
    print(f"passed: {args.scenario}")
    return 0


if __name__ == "__main__":
    sys.exit(main())
