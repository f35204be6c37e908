#!/usr/bin/env python3
"""The real updater with the shipped device library (libfwbridge.so over hidapi and
libudev) against a KRV-7000 emulated at the kernel interface (krv_emulated_host: umockdev's
hidraw node, sysfs and udev events), clicked through its screens under a private Xvfb.
python3 emulated_screens.py SCENARIO --exe ... --library ... --host ... --sample ...
Exit 0 passed, 1 failed."""
import argparse
import os
import sys

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
    return h.Updater(args.exe, folder, display, library=args.library, update_file=args.sample,
                     env={"KRV_HIDRAW_LOG": os.path.join(folder, "protocol-log.txt"), **(env or {})},
                     wrapper=wrapper).start()


def scenario_update(args, display, folder):
    """Language screen, ready screen with the controller's 1.02, Start, the progress bar,
    the completed screen; the controller holds exactly the file's records; the protocol
    log shows its return under the new version."""
    version, records = read_update_file(args.sample, os.path.join(os.path.dirname(args.exe), "krv-updfile"))
    updater = updater_beside(args, folder, display, "--version", "102")
    try:
        updater.wait_for("language")
        updater.click(h.RIGHT_BUTTON)
        ready = updater.wait_for("ready")
        expect(ready.version("Current") == 102, f"current version read as {ready.version('Current')}:\n{ready}")
        updater.click(h.RIGHT_BUTTON)
        updater.wait_for("complete", timeout=120)
        trace = updater.stderr().splitlines()
        expect("HID_UPDATE_ANS_COMPLETE(0xfc, 100). @467" in trace, "the debug trace has no completion:\n"
               + "\n".join(trace[-20:]))

        new_version = f"firmware {version // 100}.{version % 100:02d}"
        log_path = os.path.join(folder, "protocol-log.txt")
        expect(h.wait_for(lambda: f"attached as HID 1, {new_version}" in open(log_path).read(), timeout=5),
               f"the protocol log shows no return with {new_version}")
        code = updater.quit_with(h.RIGHT_BUTTON)
        expect(code == 0, f"exit code {code}")

        state = updater.sim_state()
        expect(state is not None, "the controller holds no update")
        held_version, held = state
        expect(held_version == version, f"the controller holds version {held_version}, expected {version}")
        expected = {number: data for number, (data, transfer) in enumerate(records, start=1) if transfer}
        expect(held == expected, f"the controller holds records {sorted(held)}, expected {sorted(expected)} "
                                 "byte for byte")
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


SCENARIOS = {"update": scenario_update, "no-permission": scenario_no_permission}


def parse_args(scenarios):
    parser = argparse.ArgumentParser()
    parser.add_argument("scenario", choices=sorted(scenarios))
    parser.add_argument("--exe", required=True)
    parser.add_argument("--library", required=True)
    parser.add_argument("--host", required=True)
    parser.add_argument("--sample", required=True)
    args = parser.parse_args()
    args.host = os.path.abspath(args.host)
    return args


def main():
    args = parse_args(SCENARIOS)
    return h.run_scenario(args.scenario, SCENARIOS[args.scenario], args, folder_prefix="emulated-")


if __name__ == "__main__":
    sys.exit(main())
