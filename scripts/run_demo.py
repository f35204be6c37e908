#!/usr/bin/env python3
"""Starts the updater from a folder of its own. With a display the user drives it;
without one it runs under a private Xvfb and saves screenshots of what it shows.
With --tour it renders every screen in every language into out/tour/ instead."""
import os
import shutil
import subprocess
import sys
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
BUILD = os.environ.get("KRV_BUILD_DIR", os.path.join(ROOT, "build"))
BIN = os.path.join(BUILD, "bin")
APP = "KRVUpdateProgram"


def assemble(folder):
    os.makedirs(folder, exist_ok=True)
    shutil.copy2(os.path.join(BIN, APP), os.path.join(folder, APP))
    return os.path.join(folder, APP)


def start_xvfb():
    for n in range(90, 140):
        if not os.path.exists(f"/tmp/.X11-unix/X{n}") and not os.path.exists(f"/tmp/.X{n}-lock"):
            proc = subprocess.Popen(["Xvfb", f":{n}", "-screen", "0", "1024x768x24", "-nolisten", "tcp", "-noreset"],
                                    stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
            for _ in range(100):
                if os.path.exists(f"/tmp/.X11-unix/X{n}"):
                    break
                time.sleep(0.05)
            return proc, f":{n}"
    raise RuntimeError("no free X display number")


def find_window(env, title, timeout=15):
    deadline = time.time() + timeout
    while time.time() < deadline:
        out = subprocess.run(["xdotool", "search", "--name", title], env=env,
                             capture_output=True, text=True).stdout.split()
        if out:
            return out[-1]
        time.sleep(0.1)
    return None


def tour():
    """Renders every screen in every language into out/tour/."""
    folder = os.path.join(ROOT, "out", "tour")
    if os.path.isdir(folder):
        shutil.rmtree(folder)
    result = subprocess.call([os.path.join(BIN, "krv_screen_tour"), folder])
    if result == 0:
        print(f"Screen tour: {folder}")
    return result


def main():
    if "--tour" in sys.argv[1:]:
        return tour()

    run_dir = os.path.join(ROOT, "out", "run")
    exe = assemble(run_dir)

    if os.environ.get("DISPLAY"):
        return subprocess.call([exe], cwd=run_dir)

    shots = os.path.join(ROOT, "out", "screenshots")
    os.makedirs(shots, exist_ok=True)
    xvfb, display = start_xvfb()
    env = dict(os.environ, DISPLAY=display)
    app = subprocess.Popen([exe], cwd=run_dir, env=env,
                           stderr=open(os.path.join(shots, "debug-trace.txt"), "w"))
    try:
        window = find_window(env, "Updater Program") or find_window(env, APP)
        if window is None:
            print("The updater opened no window.", file=sys.stderr)
            return 1
        time.sleep(0.5)
        shot = os.path.join(shots, "01-language.png")
        subprocess.run(["import", "-window", window, shot], env=env, check=True)
        print(f"No display: ran under a virtual X server. Screenshots are in {shots}")
        return 0
    finally:
        app.terminate()
        try:
            app.wait(5)
        except subprocess.TimeoutExpired:
            app.kill()
        xvfb.terminate()


if __name__ == "__main__":
    sys.exit(main())
