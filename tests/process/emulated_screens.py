#!/usr/bin/env python3
"""The real updater with the shipped device library (libfwbridge.so over hidapi and
libudev; with --wine, fwbridge.dll through Wine's HID stack) against a KRV-7000 emulated at
the kernel interface (krv_emulated_host: umockdev's hidraw node, sysfs and udev events),
clicked through its screens under a private Xvfb.
python3 emulated_screens.py SCENARIO --exe ... --library ... --host ... --sample ... [--wine PREFIX]
Exit 0 passed, 1 failed."""
import argparse
import os
import sys
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path[:0] = [os.path.join(HERE, "..", "..", "scripts")]

import krvharness as h  # noqa: E402
from krvharness.updfile import read_update_file  # noqa: E402


def expect(condition, message):
    if not condition:
        raise h.Failure(message)


def updater_beside(args, folder, display, *options, without_file_access_override=False, env=None):
    state = os.path.join(folder, "sim-state.txt")
    wrapper = [args.host, "--state", state, *options, "--"]
    if without_file_access_override and os.geteuid() == 0:
        # Root opens any node; a desktop user has no such power.
        wrapper += ["setpriv", "--bounding-set", "-dac_override,-dac_read_search", "--"]
    log = os.path.join(folder, "protocol-log.txt")
    if args.wine:
        # Wine's services must start under the emulation's preload, so nothing of the
        # prefix may run yet.
        args.wine.end_session()
        wrapper += h.Wine.SESSION
        log = h.Wine.path(log)
    return h.Updater(args.exe, folder, display, library=args.library, update_file=args.sample, wine=args.wine,
                     env={"KRV_HIDRAW_LOG": log, **(env or {})}, wrapper=wrapper).start()


def knobs(args):
    """The knobs' report rate: under Wine a tenth of the emulation's own."""
    return ["--knob-interval", "100"] if args.wine else []


def leave_language_screen(updater):
    """OK on the language screen. Under Wine a click that comes while the window is still
    settling can be lost; it is repeated only while the screen is still the language one."""
    for attempt in range(3):
        updater.click(h.RIGHT_BUTTON)
        if updater.wait_for_change("language", timeout=10).kind() != "language":
            return
    raise h.Failure("the language screen did not take its OK")


def update_file(args):
    beside = os.path.dirname(os.path.abspath(args.exe))
    if args.wine:
        args.wine.end_session()  # the last test's session may still be ending
        tool = ["env", *[f"{k}={v}" for k, v in args.wine.env("C.UTF-8").items()], "WINEDEBUG=-all",
                *args.wine.command(os.path.join(beside, "krv-updfile.exe"))]
    else:
        tool = os.path.join(beside, "krv-updfile")
    return read_update_file(args.sample, tool)


def expect_held(updater, version, records):
    state = updater.sim_state()
    expect(state is not None, "the controller holds no update")
    held_version, held = state
    expect(held_version == version, f"the controller holds version {held_version}, expected {version}")
    expected = {number: data for number, (data, transfer) in enumerate(records, start=1) if transfer}
    expect(held == expected, f"the controller holds records {sorted(held)}, expected {sorted(expected)} byte for byte")


def scenario_update(args, display, folder, *options):
    """Language screen, ready screen with the controller's 1.02, Start, the progress bar,
    the completed screen; the controller holds exactly the file's records; the protocol
    log shows its return under the new version; the controller resets right after its
    completion answer. Its knobs send reports until the update's mode switch: 300 a second,
    or 30 under Wine, where each one costs the window trips through wineserver that a busy
    machine cannot make 300 times a second."""
    version, records = update_file(args)
    updater = updater_beside(args, folder, display, "--version", "102", *knobs(args), *options)
    try:
        updater.wait_for("language", timeout=30)
        leave_language_screen(updater)
        ready = updater.wait_for("ready")
        expect(ready.version("Current") == 102, f"current version read as {ready.version('Current')}:\n{ready}")
        updater.click(h.RIGHT_BUTTON)
        updater.wait_for("complete", timeout=120)
        trace = updater.trace().splitlines()
        expect("HID_UPDATE_ANS_COMPLETE(0xfc, 100). @467" in trace, "the debug trace has no completion:\n"
               + "\n".join(trace[-20:]))

        new_version = f"firmware {version // 100}.{version % 100:02d}"
        log_path = os.path.join(folder, "protocol-log.txt")
        expect(h.wait_for(lambda: f"attached as HID 1, {new_version}" in open(log_path).read(), timeout=5),
               f"the protocol log shows no return with {new_version}")
        before_switch = open(log_path).read().partition("HID_UPDATE_CMD_MODE")[0]
        expect(" unasked report " in before_switch, "no knob report reached the library before the mode switch")
        if args.wine:
            loaded = [line for line in trace if line.startswith("device library: loaded ")]
            expect(loaded and "KRV-7000 device library over Windows HID" in loaded[0],
                   f"the debug trace does not say our library was loaded: {loaded}")
        code = updater.quit_with(h.RIGHT_BUTTON)
        expect(code == 0, f"exit code {code}")
        expect_held(updater, version, records)
    finally:
        updater.close()


def scenario_numbered(args, display, folder):
    """A whole update with reports numbered by the descriptor (id 5 before each)."""
    scenario_update(args, display, folder, "--report-id", "5")


def scenario_composite(args, display, folder):
    """A whole update of a composite controller: only its protocol interface is listed."""
    scenario_update(args, display, folder, "--composite")


def scenario_reset_at_once(args, display, folder):
    """The controller resets 5 ms after its completion answer (and is back 200 ms later: a
    shorter absence is lost inside Wine, whose bus driver takes the new device for the old
    one it has not yet removed)."""
    scenario_update(args, display, folder, "--reset-after", "5")


def scenario_unplugged(args, display, folder):
    """Pulled out in the middle of a record: the failed screen within the session's
    time-outs, and nothing stored."""
    updater = updater_beside(args, folder, display, "--unplug-at", "13", *knobs(args))
    try:
        updater.wait_for("language", timeout=30)
        leave_language_screen(updater)
        updater.wait_for("ready")
        updater.click(h.RIGHT_BUTTON)
        updater.wait_for("failed", timeout=40)
        trace = updater.trace().splitlines()
        expect("no response from KRV-7000. @458" in trace or any("unexpected response" in l for l in trace),
               "the debug trace does not show the session noticing the loss:\n" + "\n".join(trace[-20:]))
        code = updater.quit_with(h.RIGHT_BUTTON)
        expect(code == 0, f"exit code {code}")
        expect(updater.sim_state() is None, "the controller holds an update")
    finally:
        updater.close()


def scenario_late_plug(args, display, folder):
    """No controller at start; plugged in on the not-found screen, it shows on the ready
    screen within a second of arriving, and updates."""
    version, records = update_file(args)
    plug = os.path.join(folder, "plug-in-now")
    updater = updater_beside(args, folder, display, "--plug-in-when", plug, *knobs(args))
    try:
        updater.wait_for("language", timeout=30)
        leave_language_screen(updater)
        updater.wait_for("not-found")
        open(plug, "w").close()
        log = os.path.join(folder, "protocol-log.txt")
        expect(h.wait_for(lambda: os.path.exists(log) and "attached as HID" in open(log).read(), timeout=20),
               "the library never saw the controller arrive")
        seen = time.time()
        updater.wait_for("ready", timeout=5)
        shown = time.time()
        # Reading the screen back (a screenshot and OCR) takes its own time on a busy machine.
        updater.read()
        reading = time.time() - shown
        expect(shown - seen <= 1.0 + 2 * reading,
               f"the ready screen came {shown - seen:.1f} s after the arrival (a reading takes {reading:.1f} s)")
        updater.click(h.RIGHT_BUTTON)
        updater.wait_for("complete", timeout=120)
        code = updater.quit_with(h.RIGHT_BUTTON)
        expect(code == 0, f"exit code {code}")
        expect_held(updater, version, records)
    finally:
        updater.close()


def scenario_no_permission(args, display, folder):
    """A node the user may not open: the not-found screen, and the debug trace names the
    node and the reason."""
    updater = updater_beside(args, folder, display, "--unreadable", without_file_access_override=True)
    try:
        updater.wait_for("language")
        updater.click(h.RIGHT_BUTTON)
        updater.wait_for("not-found")
        trace = updater.stderr()
        expect("/dev/hidraw0" in trace and "Permission denied" in trace,
               f"the debug trace does not name the node and the reason:\n{trace}")
        code = updater.quit_with(h.RIGHT_BUTTON)
        expect(code == 0, f"exit code {code}")
    finally:
        updater.close()


SCENARIOS = {"update": scenario_update, "no-permission": scenario_no_permission, "numbered": scenario_numbered,
             "composite": scenario_composite, "reset-at-once": scenario_reset_at_once, "unplugged": scenario_unplugged, "late-plug": scenario_late_plug}


def parse_args(scenarios):
    parser = argparse.ArgumentParser()
    parser.add_argument("scenario", choices=sorted(scenarios))
    parser.add_argument("--exe", required=True)
    parser.add_argument("--library", required=True)
    parser.add_argument("--host", required=True)
    parser.add_argument("--sample", required=True)
    parser.add_argument("--wine", help="a Wine prefix (wine_prefix.py) for the Windows build")
    args = parser.parse_args()
    args.host = os.path.abspath(args.host)
    args.wine = h.Wine(args.wine) if args.wine else None
    return args


def main():
    args = parse_args(SCENARIOS)
    return h.run_scenario(args.scenario, SCENARIOS[args.scenario], args, folder_prefix="emulated-")


if __name__ == "__main__":
    sys.exit(main())
