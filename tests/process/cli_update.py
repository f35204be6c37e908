#!/usr/bin/env python3
"""krv-update as shipped, in a folder of its own with a device library beside it: a whole
update (exit 0, its final sentence, the controller holds the file's records and version).
python3 cli_update.py --exe krv-update --library LIB --sample FILE [--host krv_emulated_host]
                      [--wine PREFIX]
Exit 0 passed, 1 failed."""
import argparse
import os
import sys
import tempfile

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path[:0] = [os.path.join(HERE, "..", "..", "scripts")]

import krvharness as h  # noqa: E402
from krvharness.updfile import read_update_file  # noqa: E402


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--exe", required=True)
    parser.add_argument("--library", required=True)
    parser.add_argument("--sample", required=True)
    parser.add_argument("--host", help="run beside a KRV-7000 emulated at the kernel interface")
    parser.add_argument("--wine", help="a Wine prefix (wine_prefix.py) for the Windows build")
    args = parser.parse_args()

    wine = h.Wine(args.wine) if args.wine else None
    beside = os.path.dirname(os.path.abspath(args.exe))
    # krv-updfile, built beside krv-update; under Wine for the Windows build.
    updfile = ["env", *[f"{k}={v}" for k, v in wine.env("C.UTF-8").items()], "WINEDEBUG=-all",
               *wine.command(os.path.join(beside, "krv-updfile.exe"))] if wine else os.path.join(beside, "krv-updfile")
    version, records = read_update_file(args.sample, updfile)
    with tempfile.TemporaryDirectory(prefix="krv-cli-") as folder:
        wrapper = [os.path.abspath(args.host), "--state", os.path.join(folder, "sim-state.txt"), "--version", "102",
                   "--"] if args.host else []
        updater = h.Updater(args.exe, folder, library=args.library, update_file=args.sample, wrapper=wrapper,
                            wine=wine)
        done = updater.run_console("--update", "--trace")
        shown = f"exit {done.returncode}\n{done.stdout}\n{updater.trace()[-2000:]}"
        try:
            lines = done.stdout.strip().splitlines()
            text = f"{version // 100}.{version % 100:02d}"
            if done.returncode != 0 or not lines or lines[-1] != f"The update completed: the controller now runs firmware {text}.":
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
