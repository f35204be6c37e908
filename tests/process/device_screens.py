#!/usr/bin/env python3
"""The updater's device screens against the simulated KRV-7000, in a real process under a
private Xvfb. One scenario per run: python3 device_screens.py SCENARIO --exe ... --sim ...
With --wine PREFIX the Windows build (32- or 64-bit) runs under Wine in that prefix.
Exit 0 passed, 1 failed."""
import argparse
import os
import shutil
import subprocess
import sys
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "..", "scripts"))

import krvharness as h  # noqa: E402
from krvharness.updfile import make_update_file, read_update_file, sample_records  # noqa: E402


def updfile_tool(args):
    """krv-updfile, built beside the updater; under Wine for the Windows build."""
    if args.wine:
        exe = os.path.join(os.path.dirname(args.exe), "krv-updfile.exe")
        return ["env", f"WINEPREFIX={args.wine.prefix}", "WINEDEBUG=-all", "WINEDLLOVERRIDES=mscoree,mshtml=",
                *args.wine.command(exe)]
    return os.path.join(os.path.dirname(args.exe), "krv-updfile")


def expect(condition, message):
    if not condition:
        raise h.Failure(message)


def leave_language_screen(updater, args, expected):
    """Presses OK on the language screen and waits for the expected screen."""
    updater.click(h.RIGHT_BUTTON)
    updater.wait_for_change("language")
    return updater.wait_for(expected)


def scenario_screens(args, display, folder):
    """Language screen; OK without a controller gives not-found; plugging the controller in
    gives the ready screen with its version; unplugging goes back; plugging in again with
    another version shows that one."""
    updater = h.Updater(args.exe, folder, display, wine=args.wine, library=args.sim,
                        update_file=make_update_file(103, sample_records(), updfile_tool(args)),
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
    updater = h.Updater(args.exe, folder, display, wine=args.wine, library=args.sim,
                        update_file=make_update_file(103, sample_records(), updfile_tool(args)),
                        env={"KRV_SIM_ATTACHED": "1", "KRV_SIM_VERSION": "101"}).start()
    try:
        updater.wait_for("language")
        ready = leave_language_screen(updater, args, "ready")
        expect(ready.version("Current") == 101, f"current version read as {ready.version('Current')}:\n{ready}")
        code = updater.quit_with(h.LEFT_BUTTON)
        expect(code == 0, f"exit code {code}")
    finally:
        updater.close()


def without_a_working_library(args, display, folder, library, debug_text, **started):
    updater = h.Updater(args.exe, folder, display, wine=args.wine, library=library,
                        update_file=make_update_file(103, sample_records(), updfile_tool(args)), **started).start()
    try:
        updater.wait_for("language")
        lines = [l for l in updater.trace().splitlines() if l.startswith("device library:")]
        expect(len(lines) == 1, f"one debug line about the device library, saw: {lines}")
        expect(debug_text in lines[0], f"the debug line does not say {debug_text!r}: {lines[0]}")
        leave_language_screen(updater, args, "not-found")
        code = updater.quit_with(h.RIGHT_BUTTON)
        expect(code == 0, f"exit code {code}")
    finally:
        updater.close()


def scenario_no_library(args, display, folder):
    """No device library at all: the tool starts and finds no controller."""
    without_a_working_library(args, display, folder, None, f"{library_name(args)} not loaded")


def scenario_partial_library(args, display, folder):
    """A device library without HID_Write counts as none."""
    without_a_working_library(args, display, folder, args.partial, "lacks HID_Write")


def scenario_planted_library(args, display, folder):
    """Windows: a fwbridge.dll in the working folder and in a folder on PATH, none beside
    the executable. Neither is loaded (a planted DLL would run as the user), so an attached
    controller is not found, and the one line names the file beside the executable."""
    planted = os.path.join(folder, "on-path")
    os.makedirs(planted)
    for where in (folder, planted):
        shutil.copy2(args.sim, os.path.join(where, h.Wine.LIBRARY))
    app = os.path.join(folder, "app")
    beside = "Z:" + os.path.join(app, h.Wine.LIBRARY).replace("/", "\\")
    without_a_working_library(args, display, app, None, f"{h.Wine.LIBRARY} not loaded: no {beside}", cwd=folder,
                              env={"KRV_SIM_ATTACHED": "1", "WINEPATH": "Z:" + planted.replace("/", "\\")})


def library_name(args):
    return h.Wine.LIBRARY if args.wine else "libfwbridge.so"


def start_update(args, folder, display, env):
    """The sample update file beside the updater and a controller at 1.02; OK on the language
    screen, the versions on the ready screen, then Start."""
    version, records = read_update_file(args.sample, updfile_tool(args))
    updater = h.Updater(args.exe, folder, display, wine=args.wine, library=args.sim, update_file=args.sample,
                        env=dict({"KRV_SIM_ATTACHED": "1", "KRV_SIM_VERSION": "102"}, **env)).start()
    updater.wait_for("language")
    ready = leave_language_screen(updater, args, "ready")
    expect(ready.version("Current") == 102, f"current version read as {ready.version('Current')}:\n{ready}")
    expect(ready.version("Update") == version, f"update version read as {ready.version('Update')}:\n{ready}")
    updater.click(h.RIGHT_BUTTON)
    return updater, version, records


def watch_progress(updater, timeout=60):
    """The share of the progress bar filled in each screenshot while it is shown, until it
    is no longer shown."""
    seen = []
    started = time.time()
    while time.time() < started + timeout:
        shown = h.progress_shown(updater.screenshot("updating.png"))
        if shown is None and seen:
            return seen
        if shown is None and time.time() > started + 10:
            raise h.Failure(f"no progress bar within 10 s of Start:\n{updater.read()}")
        if shown is not None:
            seen.append(shown)
        time.sleep(0.05)
    raise h.Failure(f"the progress bar was still shown after {timeout} s (last {seen[-1:]})")


def expect_controller_holds(updater, version, records):
    """The controller completed the update: it holds exactly the file's records marked for
    transfer, under the file's version."""
    state = updater.sim_state()
    expect(state is not None, "the controller wrote no state: it never completed an update")
    held_version, held = state
    expect(held_version == version, f"the controller holds version {held_version}, expected {version}")
    expected = {number: data for number, (data, transfer) in enumerate(records, start=1) if transfer}
    expect(set(held) == set(expected), f"the controller holds records {sorted(held)}, expected {sorted(expected)}")
    for number, data in expected.items():
        expect(held[number] == data, f"record {number}: the controller holds {len(held[number])} bytes that differ "
                                     f"from the file's {len(data)}")


def scenario_update(args, display, folder):
    """A whole update through the window: the progress bar follows the controller, the
    completed screen ends it, and the controller then holds exactly the records of the file
    marked for transfer and comes back with the new version."""
    # A little time per answer keeps the progress bar on screen for a few screenshots.
    updater, version, records = start_update(args, folder, display, {"KRV_SIM_DELAY_MS": "3"})
    try:
        progress = watch_progress(updater)
        expect(any(0.05 < p < 0.95 for p in progress), f"the progress bar was never seen part filled: {progress}")
        expect(progress == sorted(progress), f"the progress bar went back: {progress}")
        updater.wait_for("complete")

        trace = updater.session_trace()
        expect(trace[-1:] == ["HID_UPDATE_ANS_COMPLETE(0xfc, 100). @467"], f"the debug trace ends with {trace[-1:]}")
        expect(not [l for l in trace if "unexpected" in l or "no response" in l], "the debug trace reports a fault:\n"
               + "\n".join(trace))
        for text in args.expect_trace or ():
            expect(any(text in line for line in trace), f"no line of the debug trace says {text!r}:\n" + "\n".join(trace))

        expect_controller_holds(updater, version, records)

        # After the update it leaves the bus and comes back with the new firmware.
        new_version = f"firmware {version // 100}.{version % 100:02d}"
        expect(h.wait_for(lambda: f"attached as HID 1, {new_version}" in updater.sim_log(), timeout=5),
               f"the controller did not come back with {new_version}:\n{updater.sim_log()[-2000:]}")
        expect(updater.read().kind() == "complete", "the controller's return changed the completed screen")

        code = updater.quit_with(h.RIGHT_BUTTON)
        expect(code == 0, f"exit code {code}")
    finally:
        updater.close()


def scenario_update_unplugged(args, display, folder):
    """The controller pulled out in the middle of a record: the session notices the removal
    at that block, sends nothing more, and after the end report's time-out shows the failed
    screen, which stays when the controller comes back."""
    updater, version, records = start_update(args, folder, display, {"KRV_SIM_COMMANDS": "fault unplug block:4.20"})
    try:
        # The end report goes nowhere; its answer is awaited for 10 s.
        updater.wait_for("failed", timeout=40)

        trace = updater.session_trace()
        expected = ["unexpected response(0x0). @420", "no response from KRV-7000. @458"]
        expect(trace[-2:] == expected, f"the debug trace ends with {trace[-2:]}, expected {expected}")

        log = updater.sim_log().splitlines()
        pulled = next((i for i, l in enumerate(log) if "detached HID 0" in l), None)
        expect(pulled is not None, "the simulator's log shows no removal")
        expect(pulled > 0 and "(block 4.20): unplug" in log[pulled - 1],
               f"the controller was not pulled at block 20 of record 4:\n{chr(10).join(log[pulled - 3:pulled + 1])}")
        blocks = sum(1 for l in log if "HID_UPDATE_CMD_DATA record 4" in l)
        expect(blocks == 20, f"{blocks} blocks of record 4 were written, expected 20")
        expect(not [l for l in log[pulled:] if "  out  " in l], "reports were written after the controller was pulled:\n"
               + "\n".join(l for l in log[pulled:] if "  out  " in l))
        expect(updater.sim_state() is None, "the controller claims a complete update")

        updater.command("attach")
        expect(h.wait_for(lambda: "attached as HID 1" in updater.sim_log(), timeout=5), "the controller did not come back")
        time.sleep(0.5)
        expect(updater.read().kind() == "failed", "the controller's return changed the failed screen")

        code = updater.quit_with(h.RIGHT_BUTTON)
        expect(code == 0, f"exit code {code}")
    finally:
        updater.close()


def scenario_end_session(args, display, folder):
    """Windows ends the session in the middle of an update: the log-off is answered "not now",
    a session that does not end changes nothing, and one that ends all the same is kept
    waiting until the update has ended. The held quit is then honoured: exit 0."""
    expect(args.wine and args.end_session, "needs --wine and --end-session")
    updater, version, records = start_update(args, folder, display, {"KRV_SIM_DELAY_MS": "20"})
    try:
        expect(h.wait_for(lambda: h.progress_shown(updater.screenshot("updating.png")) is not None, timeout=10),
               f"no progress bar within 10 s of Start:\n{updater.read()}")
        sent = subprocess.run(args.wine.command(args.end_session) + [h.WINDOW_TITLE, "query", "end-false", "end-true"],
                              env=dict(updater.env, WINEDEBUG="-all"), capture_output=True, text=True, timeout=120)
        answers = {line.split()[0]: line.split()[1:] for line in sent.stdout.splitlines() if line.strip()}
        expect(sent.returncode == 0, f"the messages were not all answered:\n{sent.stdout}{sent.stderr[-2000:]}")
        expect(answers["query"][0] == "0", f"WM_QUERYENDSESSION answered {answers['query'][0]}, expected 0 (not now)")
        # The session that ends is answered only once the controller holds the update.
        expect(updater.sim_state() is not None, f"WM_ENDSESSION TRUE was answered during the update: {sent.stdout}")
        expect(int(answers["end-false"][1]) < 5000, f"WM_ENDSESSION FALSE waited: {sent.stdout}")

        try:
            code = updater.proc.wait(60)
        except subprocess.TimeoutExpired:
            raise h.Failure("the held quit was not honoured after the update")
        expect(code == 0, f"exit code {code}")
        expect_controller_holds(updater, version, records)

        trace = updater.trace().splitlines()
        order = ["sleep and shutdown held: system kept awake", "system quit: held until the update has ended",
                 "system quit: the session is ending, finishing the update first",
                 "HID_UPDATE_ANS_COMPLETE(0xfc, 100). @467", "sleep and shutdown released",
                 "system quit: the update has ended, quitting now", "system quit: the session may end now"]
        found = [next((i for i, line in enumerate(trace) if line.startswith(wanted)), None) for wanted in order]
        expect(None not in found and found == sorted(found),
               "the trace lacks these lines in this order:\n" + "\n".join(order) + "\nit reads:\n" + "\n".join(trace[-40:]))
        print(next(l for l in trace if l.startswith("sleep and shutdown held")))
        print("answers (message, result, ms): " + "; ".join(sent.stdout.splitlines()))
    finally:
        updater.close()


# Start-up language from the system's locale: the window's title is text 3 of that language.
TITLES = [("C.UTF-8", "Updater Program"), ("de_DE.UTF-8", "Aktualisierungsprogramm"),
          ("ja_JP.UTF-8", "\u30a2\u30c3\u30d7\u30c7\u30fc\u30c8\u30d7\u30ed\u30b0\u30e9\u30e0")]


def scenario_window(args, display, folder):
    """The window holds the 420 x 170 screen, is titled, and opens on the language screen;
    Cancel there ends the tool. It opens within seconds (under Wine it once took 20 s:
    re-created after it was shown, its drop shadow's windows were unmapped one by one), and
    under Wine, which reports no vertical blank, the repaint pump stays."""
    started = time.time()
    updater = h.Updater(args.exe, folder, display, wine=args.wine).start()
    try:
        updater.wait_for("language")
        opened = time.time() - started
        print(f"language screen {opened:.1f} s after start")
        expect(opened < 8, f"the language screen came {opened:.1f} s after start")
        if args.wine:
            expect(h.wait_for(lambda: "vertical blanks in the window's first second, kept" in updater.trace(), timeout=5),
                   f"no word from the repaint pump:\n{updater.stderr()[-2000:]}")
        expect(updater.title() == h.WINDOW_TITLE, f"window title {updater.title()!r}")
        geometry = updater.geometry()
        expect((geometry["WIDTH"], geometry["HEIGHT"]) == (420, 170), f"window inside {geometry}")
        code = updater.quit_with(h.LEFT_BUTTON)
        expect(code == 0, f"exit code {code}")
    finally:
        updater.close()


def scenario_languages(args, display, folder):
    """The start-up language follows the system's: English, German, Japanese."""
    for locale, title in TITLES:
        updater = h.Updater(args.exe, os.path.join(folder, locale), display, wine=args.wine, locale=locale)
        try:
            updater.start(title=title)
            expect(updater.title() == title, f"{locale}: window title {updater.title()!r}, expected {title!r}")
            code = updater.quit_with(h.LEFT_BUTTON)
            expect(code == 0, f"{locale}: exit code {code}")
        finally:
            updater.close()


def scenario_second_start(args, display, folder):
    """A second start hands over to the running updater and ends without a window of its own;
    the first goes on."""
    updater = h.Updater(args.exe, folder, display, wine=args.wine, isolate=False).start()
    try:
        updater.wait_for("language")
        command = args.wine.command(updater.exe) if args.wine else [updater.exe]
        second = subprocess.run(command, cwd=folder, env=updater.env, capture_output=True, timeout=60)
        expect(second.returncode == 0, f"the second start ended with {second.returncode}")
        expect(len(h.windows_named(h.WINDOW_TITLE, env=updater.env)) == 1, "a second window opened")
        expect(updater.alive(), "the first updater ended")
        updater.wait_for("language")
        code = updater.quit_with(h.LEFT_BUTTON)
        expect(code == 0, f"exit code {code}")
    finally:
        updater.close()


LANGUAGE_BOX = (210, 86)  # centre of the language list (20, 77, 380, 18)


def scenario_screenshots(args, display, folder):
    """The language list open, the ready and updating screens, in English and Japanese, saved
    into --shots for a look; the updating one shows the progress bar part filled."""
    os.makedirs(args.shots, exist_ok=True)
    for locale, title in (TITLES[0], TITLES[2]):
        language = "ja" if locale.startswith("ja") else "en"
        # The list open, in a run of its own (under Wine without a window manager it takes no
        # clicks): a window of its own over the main one, so the screen is taken.
        updater = h.Updater(args.exe, os.path.join(folder, "list-" + language), display, wine=args.wine,
                            library=args.sim, update_file=args.sample, locale=locale, env={"KRV_SIM_ATTACHED": "1"})
        try:
            updater.start(title=title)
            time.sleep(1.0)
            updater.click(LANGUAGE_BOX)
            time.sleep(1.5)
            listed = os.path.join(args.shots, f"languages-open-{language}.png")
            subprocess.run(["import", "-window", "root", listed], env=updater.env, check=True)
            names = h.ocr(listed, (400, 260, 300, 380))
            expect("Deutsch" in names and "Nederlands" in names, f"{language}: the open list reads {names!r}")
        finally:
            updater.close()
            if args.wine:
                # Stopping the loader may leave the program and its open list (with the X
                # server's pointer grab) behind: every process of the prefix is ended.
                subprocess.run(["wineserver", "-k"], env=updater.env)
                subprocess.run(["wineserver", "-w"], env=updater.env, timeout=30)

        updater = h.Updater(args.exe, os.path.join(folder, language), display, wine=args.wine, library=args.sim,
                            update_file=args.sample, locale=locale,
                            env={"KRV_SIM_ATTACHED": "1", "KRV_SIM_VERSION": "102", "KRV_SIM_DELAY_MS": "15"})
        try:
            updater.start(title=title)
            updater.click(h.RIGHT_BUTTON)
            # The ready screen: the white language list (20, 77, 380, 18) gone, two buttons shown.
            shot = h.wait_for(lambda: (lambda p: p if min(h.grey_levels(p, (170, 10, 200, 80))) < 0xF8
                                       and h.dark_fraction(p, (92, 14, 194, 133)) > 0.01 else None)(updater.screenshot()),
                              timeout=10)
            expect(shot, f"{language}: no ready screen with two buttons")
            shutil.copy(shot, os.path.join(args.shots, f"ready-{language}.png"))
            updater.click(h.RIGHT_BUTTON)
            shot = h.wait_for(lambda: (lambda p: p if (h.progress_shown(p) or 0) > 0.05 else None)(updater.screenshot()),
                              timeout=20)
            expect(shot, f"{language}: the progress bar never showed progress")
            shutil.copy(shot, os.path.join(args.shots, f"updating-{language}.png"))
            expect(h.wait_for(lambda: h.progress_shown(updater.screenshot()) is None, timeout=60),
                   f"{language}: the update did not end")
            code = updater.quit_with(h.RIGHT_BUTTON)
            expect(code == 0, f"{language}: exit code {code}")
        finally:
            updater.close()


BACKGROUND = (60, 115)  # the screen's background, left of the buttons and below the language list


class KeyboardRun:
    """Keys typed into the updater, screens seen and focus outlines checked, for the report."""

    def __init__(self, updater):
        self.updater = updater
        self.keys = 0
        self.screens = []
        self.outlines = 0

    def type(self, *names):
        self.updater.keys(*names)
        self.keys += len(names)

    def see(self, kind, timeout=10):
        screen = self.updater.wait_for(kind, timeout=timeout)
        self.screens.append(kind)
        return screen

    def expect_focus(self, focused, what):
        """focused: the button with the outline (h.RIGHT_BUTTON, h.LEFT_BUTTON) or None."""
        shot = self.updater.screenshot()
        for button in (h.RIGHT_BUTTON, h.LEFT_BUTTON):
            shown = h.focus_outline(shot, button)
            expect(shown == (button == focused), f"{what}: the {'right' if button == h.RIGHT_BUTTON else 'left'}-hand "
                                                 f"button {'shows' if shown else 'lacks'} the focus outline ({shot})")
        self.outlines += 1
        return shot


def scenario_keyboard(args, display, folder):
    """A whole update with the keyboard alone, under a window manager: no key leaves the
    language screen by itself (not after a click on the background either); Tab and
    Shift+Tab go round the buttons with a visible outline, Space and Return press the
    focused one, Return alone the right-hand one; no key does anything while updating.
    Then a run where the focus is put on Cancel on purpose, which ends the tool. The ready
    screen is saved focused, unfocused and reached by mouse into --shots when given."""
    def started(name, env=None):
        return h.Updater(args.exe, os.path.join(folder, name), display, wine=args.wine, library=args.sim,
                         update_file=args.sample,
                         env=dict({"KRV_SIM_ATTACHED": "1", "KRV_SIM_VERSION": "102"}, **(env or {}))).start()

    def save(shot, name):
        if args.shots:
            os.makedirs(args.shots, exist_ok=True)
            shutil.copy(shot, os.path.join(args.shots, name))

    # The same screen by mouse, for comparing pixels.
    updater = started("mouse")
    try:
        updater.wait_for("language")
        updater.click(h.RIGHT_BUTTON)
        updater.wait_for("ready")
        by_mouse = updater.screenshot("ready-mouse.png")
        mouse_size = updater.geometry()["WIDTH"], updater.geometry()["HEIGHT"]
        save(by_mouse, "ready-mouse.png")
        updater.quit_with(h.LEFT_BUTTON)
    finally:
        updater.close()

    # 50 ms an answer: the update lasts about half a minute, so the keys typed while it runs
    # land on the updating screen even on a loaded machine.
    updater = started("keys", {"KRV_SIM_DELAY_MS": "50"})
    run = KeyboardRun(updater)
    try:
        run.see("language")
        updater.activate()
        # A click to bring the window forward, then keys that must not end the tool.
        updater.click(BACKGROUND)
        run.type("Escape", "space", "a", "alt+F4")
        expect(updater.alive(), "a key on the language screen ended the updater")
        expect(updater.read().kind() == "language", "a key left the language screen")
        run.expect_focus(None, "language screen after a click on the background")
        run.type("Tab")
        run.expect_focus(h.RIGHT_BUTTON, "language screen, Tab")
        run.type("Tab")
        run.expect_focus(h.LEFT_BUTTON, "language screen, Tab twice")
        run.type("shift+Tab")
        run.expect_focus(h.RIGHT_BUTTON, "language screen, Shift+Tab back")
        # A click on the background takes the focus off the buttons; Return then goes on.
        updater.click(BACKGROUND)
        run.expect_focus(None, "language screen after another click on the background")
        run.type("Return")

        run.see("ready")
        unfocused = run.expect_focus(None, "ready screen after Return")
        save(unfocused, "ready-keyboard-unfocused.png")
        # Under openbox the window is now and then laid out 2 pixels larger; screens of
        # different sizes are not compared.
        size = updater.geometry()["WIDTH"], updater.geometry()["HEIGHT"]
        if size == mouse_size:
            expect(h.grey_levels(unfocused, (420, 170, 0, 0)) == h.grey_levels(by_mouse, (420, 170, 0, 0)),
                   "the ready screen without keyboard focus differs from the one reached by mouse")
        else:
            print(f"not compared with the screen reached by mouse: windows of {size} and {mouse_size}")
        run.type("shift+Tab")
        run.expect_focus(h.LEFT_BUTTON, "ready screen, Shift+Tab")
        run.type("Tab")
        save(run.expect_focus(h.RIGHT_BUTTON, "ready screen, Shift+Tab and Tab"), "ready-keyboard-focused.png")
        run.type("space")

        expect(h.wait_for(lambda: h.progress_shown(updater.screenshot()) is not None, timeout=10),
               f"no progress bar after Space on Start:\n{updater.read()}")
        run.screens.append("updating")
        run.type("Tab", "space", "Return", "KP_Enter", "Escape")
        expect(updater.alive(), "a key while updating ended the updater")
        expect(h.progress_shown(updater.screenshot()) is not None, "a key while updating left the updating screen")

        run.see("complete", timeout=90)
        run.expect_focus(None, "completed screen")
        expect(updater.sim_state() is not None, "the controller holds no complete update")
        run.type("KP_Enter")
        code = updater.exit_code("Enter on the completed screen")
        expect(code == 0, f"exit code {code}")
    finally:
        updater.close()

    # Cancel on purpose: Shift+Tab from no focus reaches it, and Return presses it.
    updater = started("cancel")
    try:
        run.updater = updater
        run.see("language")
        updater.activate()
        run.type("shift+Tab")
        run.expect_focus(h.LEFT_BUTTON, "language screen, Shift+Tab")
        run.type("Return")
        code = updater.exit_code("Return on the focused Cancel")
        expect(code == 0, f"exit code {code}")
    finally:
        updater.close()

    print(f"keyboard run: {run.keys} keys, screens seen {', '.join(run.screens)}, "
          f"{run.outlines} focus outlines checked")


SCENARIOS = {
    "screens": scenario_screens,
    "present-at-start": scenario_present_at_start,
    "no-library": scenario_no_library,
    "partial-library": scenario_partial_library,
    "planted-library": scenario_planted_library,
    "update": scenario_update,
    "update-unplugged": scenario_update_unplugged,
    "window": scenario_window,
    "languages": scenario_languages,
    "second-start": scenario_second_start,
    "screenshots": scenario_screenshots,
    "end-session": scenario_end_session,
    "keyboard": scenario_keyboard,
}


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("scenario", choices=sorted(SCENARIOS))
    parser.add_argument("--exe", required=True)
    parser.add_argument("--sim", required=True)
    parser.add_argument("--partial", required=True)
    parser.add_argument("--sample", required=True, help="the update file the build makes")
    parser.add_argument("--wine", metavar="PREFIX", help="run the Windows build under Wine in this prefix")
    parser.add_argument("--shots", help="where the screenshots scenario saves its pictures")
    parser.add_argument("--expect-trace", action="append", metavar="TEXT",
                        help="a text a line of an update's debug trace must hold (how the library was called)")
    parser.add_argument("--end-session", help="krv-end-session.exe, which sends the end-of-session messages")
    args = parser.parse_args()
    args.wine = h.Wine(args.wine) if args.wine else None

    window_manager = args.scenario == "keyboard"
    for tool in ("Xvfb", "xdotool", "import", "convert", "tesseract") + (("wine",) if args.wine else ()) \
            + (("openbox", "xprop") if window_manager else ()):
        if not shutil.which(tool):
            print(f"FAILED: {tool} is not installed (scripts/deps.sh installs it)")
            return 1

    return h.run_scenario(args.scenario, SCENARIOS[args.scenario], args, window_manager=window_manager)


if __name__ == "__main__":
    sys.exit(main())
