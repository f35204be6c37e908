#!/usr/bin/env python3
"""Drives an updater that scripts/prove-packages started somewhere else (inside a chroot,
under Wine) from this machine's X server, with the harness the process tests use.

  prove_drive.py first-screen --folder DIR --locale L --shot PNG -- COMMAND...
      the first screen, judged legible by OCR (English: the harness's reading of the
      language screen; Japanese: tesseract's jpn model), then Cancel.
  prove_drive.py update --folder DIR --sim-files DIR --update-file FILE -- COMMAND...
      OK, Start, the completed screen and the final OK; the simulated controller must then
      hold the file's version and the records marked for transfer.

COMMAND runs the updater with its environment already set (DISPLAY, the locale, the
simulator's KRV_SIM_* files, which it writes into --sim-files as seen from here). With
--wine PREFIX it is the executable alone, run under Wine in this environment."""
import argparse
import os
import subprocess
import sys
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import krvharness as h  # noqa: E402
from krvharness.updfile import read_update_file  # noqa: E402

JAPANESE_TITLE = "\u30a2\u30c3\u30d7\u30c7\u30fc\u30c8\u30d7\u30ed\u30b0\u30e9\u30e0"
# The language screen's heading and sentence in Japanese, as OCR should read them back.
JAPANESE_TEXT = "言語の選択ご使用になる言語を選択してください"


class Started(h.Updater):
    """The harness's updater, run by a command given whole instead of from a copy. Under
    Wine the command is the executable alone; the harness puts wine before it."""

    def __init__(self, command, folder, sim_files, wine_prefix=None, locale="C.UTF-8"):
        os.makedirs(folder, exist_ok=True)
        self.folder = folder
        self.cwd = folder
        self.wine = h.Wine(wine_prefix) if wine_prefix else None
        self.exe = command[-1]
        self.wrapper = command[:-1]
        self.library = None
        self.control = os.path.join(sim_files, "sim-control.txt")
        self.log = os.path.join(sim_files, "sim-log.txt")
        self.state = os.path.join(sim_files, "sim-state.txt")
        self.stderr_path = os.path.join(folder, "debug-trace.txt")
        self.env = dict(os.environ, **(self.wine.env(locale) if self.wine else {}))
        self.isolate = False
        self.shots = 0
        self.proc = None
        self.window = None
        self._stderr_file = None


def japanese_share(png):
    """The share of the Japanese heading's and sentence's characters that OCR reads back."""
    image = subprocess.run(["convert", png, "-crop", "422x70+0+0", "+repage", "-colorspace", "Gray",
                            "-resize", "300%", "png:-"], capture_output=True, check=True).stdout
    text = subprocess.run(["tesseract", "stdin", "stdout", "-l", "jpn", "--psm", "6"], input=image,
                          capture_output=True, check=True).stdout.decode(errors="replace")
    pool = list("".join(text.split()))
    found = 0
    for c in JAPANESE_TEXT:
        if c in pool:
            pool.remove(c)
            found += 1
    return found / len(JAPANESE_TEXT), " / ".join(l.strip() for l in text.splitlines() if l.strip())


def first_screen(args, command):
    japanese = args.locale.startswith("ja")
    updater = Started(command, args.folder, args.sim_files or args.folder, args.wine, args.locale)
    try:
        updater.start(title=JAPANESE_TITLE if japanese else h.WINDOW_TITLE)
        time.sleep(0.5)
        shot = updater.screenshot(os.path.basename(args.shot))
        os.replace(shot, args.shot)
        if japanese:
            share, text = japanese_share(args.shot)
            if share < 0.8:
                raise h.Failure(f"the Japanese language screen is not legible: OCR read {share:.0%} of its "
                                f"characters ({text!r})")
            print(f"  {args.locale}: title {updater.title()}, OCR read {share:.0%} of the heading and sentence: {text}")
        else:
            screen = h.read_screen(args.shot)
            if screen.kind() != "language":
                raise h.Failure(f"the first screen is not a legible language screen; OCR read:\n{screen}")
            print(f"  {args.locale}: title {updater.title()}, " + " / ".join(screen.text.splitlines())
                  + f", buttons {screen.left!r} {screen.right!r}")
        code = updater.quit_with(h.LEFT_BUTTON)
        if code != 0:
            raise h.Failure(f"Cancel ended the updater with exit code {code}")
    finally:
        updater.close()


def whole_update(args, command):
    version, records = read_update_file(args.update_file, args.krv_updfile)
    updater = Started(command, args.folder, args.sim_files, args.wine, args.locale)
    try:
        updater.start()
        updater.wait_for("language", timeout=20, name="language.png")
        updater.click(h.RIGHT_BUTTON)
        ready = updater.wait_for("ready", timeout=20, name="ready.png")
        shown = ready.version("Current"), ready.version("Update")
        print(f"  ready: Current Version {shown[0]}, Update Version {shown[1]}; Start")
        if shown[1] != version:
            raise h.Failure(f"the ready screen shows update version {shown[1]}, the file holds {version}")
        started = time.time()
        updater.click(h.RIGHT_BUTTON)
        partly = h.wait_for(lambda: 0.05 < (h.progress_shown(updater.screenshot("updating.png")) or 0), timeout=30)
        if not partly:
            raise h.Failure("the progress bar never showed progress")
        try:
            updater.wait_for("complete", timeout=120, name="completed.png")
        except h.Failure:
            raise h.Failure(f"no completed screen; the debug trace ends:\n{updater.trace()[-1500:]}")
        print(f"  completed screen after {time.time() - started:.1f} s")
        trace = updater.session_trace()
        faults = [line for line in trace if "unexpected" in line or "no response" in line]
        if faults or not trace or "HID_UPDATE_ANS_COMPLETE" not in trace[-1]:
            raise h.Failure("the debug trace does not end in a clean completion:\n" + "\n".join(trace[-20:]))
        state = updater.sim_state()
        sent = {n: data for n, (data, transfer) in enumerate(records, start=1) if transfer}
        if state is None or state[0] != version or state[1] != sent:
            raise h.Failure(f"the simulated controller does not hold version {version} and the {len(sent)} records "
                            f"marked for transfer: {state and (state[0], sorted(state[1]))}")
        print(f"  the simulated controller holds version {version} and the {len(sent)} records marked for transfer")
        code = updater.quit_with(h.RIGHT_BUTTON)
        if code != 0:
            raise h.Failure(f"the final OK ended the updater with exit code {code}")
        for kind in ("language", "ready", "updating", "completed"):
            if not os.path.exists(os.path.join(args.folder, f"{kind}.png")):
                raise h.Failure(f"no screenshot of the {kind} screen")
    finally:
        updater.close()


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("what", choices=("first-screen", "update"))
    parser.add_argument("--folder", required=True, help="screenshots and the debug trace go here")
    parser.add_argument("--sim-files", help="where the simulator's control, log and state files appear")
    parser.add_argument("--locale", default="C.UTF-8")
    parser.add_argument("--shot", help="first-screen: the screenshot to write")
    parser.add_argument("--update-file")
    parser.add_argument("--krv-updfile")
    parser.add_argument("--wine", metavar="PREFIX", help="the command runs the Windows build under Wine there")
    parser.add_argument("command", nargs="+")
    args = parser.parse_args()
    try:
        (first_screen if args.what == "first-screen" else whole_update)(args, args.command)
    except (h.Failure, OSError, subprocess.CalledProcessError) as failure:
        print(f"FAILED: {failure}\n(screenshots and the debug trace are in {args.folder})", file=sys.stderr)
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
