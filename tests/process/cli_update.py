#!/usr/bin/env python3
"""krv-update as shipped, in a folder of its own with a device library beside it: a whole
update (exit 0, its final sentence or its JSON lines, the controller holds the file's
records and version); with --json also --version (the program's and the library's).
python3 cli_update.py --exe krv-update --library LIB --sample FILE [--host krv_emulated_host]
                      [--wine PREFIX] [--json]
Exit 0 passed, 1 failed."""
import argparse
import json
import os
import re
import sys
import tempfile

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path[:0] = [os.path.join(HERE, "..", "..", "scripts")]

import krvharness as h  # noqa: E402
from krvharness.updfile import read_update_file  # noqa: E402


def check_version(updater, args):
    """--version: the program's version, then the library beside it, by its own words."""
    done = updater.run_console("--version")
    lines = done.stdout.strip().splitlines()
    if done.returncode != 0 or len(lines) != 2 or not re.fullmatch(r"krv-update \d+(\.\d+)+", lines[0]):
        raise h.Failure(f"--version gave exit {done.returncode}:\n{done.stdout}{done.stderr[-1000:]}")
    library = os.path.basename(updater.library)
    if not (lines[1].startswith("device library: ") and library in lines[1]):
        raise h.Failure(f"--version does not name the {library} beside it: {lines[1]}")
    if updater.wine and "KRV-7000 device library over Windows HID" not in lines[1]:
        raise h.Failure(f"--version does not say it is our library: {lines[1]}")


def check_json_lines(lines, text, shown):
    """found (the controller's 1.02, the file's version), progress rising to 100, result 0."""
    try:
        events = [json.loads(line) for line in lines]
    except ValueError:
        raise h.Failure("a line is no JSON object:\n" + shown)
    kinds = [e.get("event") for e in events]
    if len(events) < 3 or kinds[0] != "found" or kinds[-1] != "result" or set(kinds[1:-1]) != {"progress"}:
        raise h.Failure(f"events {kinds}:\n" + shown)
    if events[0].get("controllerFirmware") != "1.02" or events[0].get("fileFirmware") != text:
        raise h.Failure(f"found {events[0]}")
    percents = [e["percent"] for e in events[1:-1]]
    if percents != sorted(set(percents)) or percents[-1] != 100 or events[-1].get("exit") != 0:
        raise h.Failure(f"progress {percents}, result {events[-1]}")


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--exe", required=True)
    parser.add_argument("--library", required=True)
    parser.add_argument("--sample", required=True)
    parser.add_argument("--host", help="run beside a KRV-7000 emulated at the kernel interface")
    parser.add_argument("--wine", help="a Wine prefix (wine_prefix.py) for the Windows build")
    parser.add_argument("--json", action="store_true", help="the JSON lines, and --version first")
    args = parser.parse_args()

    wine = h.Wine(args.wine) if args.wine else None
    beside = os.path.dirname(os.path.abspath(args.exe))
    # krv-updfile, built beside krv-update; under Wine for the Windows build.
    updfile = ["env", *[f"{k}={v}" for k, v in wine.env("C.UTF-8").items()], "WINEDEBUG=-all",
               *wine.command(os.path.join(beside, "krv-updfile.exe"))] if wine else os.path.join(beside, "krv-updfile")
    version, records = read_update_file(args.sample, updfile)
    with tempfile.TemporaryDirectory(prefix="krv-cli-") as folder:
        wrapper = [os.path.abspath(args.host), "--state", os.path.join(folder, "sim-state.txt"), "--version", "102",
                   *(["--knob-interval", "100"] if wine else []), "--"] if args.host else []
        if wine and args.host:
            # Wine's services must start under the emulation's preload library.
            wine.end_session()
            wrapper += h.Wine.SESSION
        updater = h.Updater(args.exe, folder, library=args.library, update_file=args.sample, wrapper=wrapper,
                            wine=wine)
        try:
            if args.json:
                check_version(updater, args)
            # Under Wine the emulated controller shows up a moment after the program starts.
            waiting = ["--wait", "20"] if args.host else []
            done = updater.run_console("--update", "--trace", *waiting, *(["--json"] if args.json else []))
            shown = f"exit {done.returncode}\n{done.stdout}\n{updater.trace()[-2000:]}"
            if done.returncode != 0:
                raise h.Failure("no completed update:\n" + shown)
            lines = done.stdout.strip().splitlines()
            text = f"{version // 100}.{version % 100:02d}"
            if args.json:
                check_json_lines(lines, text, shown)
            else:
                if not lines or lines[-1] != f"The update completed: the controller now runs firmware {text}.":
                    raise h.Failure("no completed update:\n" + shown)
                if not any(line.startswith("Updating: 100%") for line in lines):
                    raise h.Failure("no progress line for 100%:\n" + shown)
            state = updater.sim_state()
            expected = {number: data for number, (data, transfer) in enumerate(records, start=1) if transfer}
            if state is None or state != (version, expected):
                held = "nothing" if state is None else f"version {state[0]}, records {sorted(state[1])}"
                raise h.Failure(f"the controller holds {held}, expected {version} and records {sorted(expected)}")
        except h.Failure as failure:
            print(f"FAILED: {failure}")
            return 1
    print("passed: a whole update, the final sentence and the controller's records")
    return 0


if __name__ == "__main__":
    sys.exit(main())
