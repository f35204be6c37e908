#!/usr/bin/env python3
"""Starts the updater from a folder of its own, beside the simulated KRV-7000 (under the
device library's file name) and a demo update file. With a display the user drives it;
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
SIM = os.path.join(BUILD, "sim", "libfwbridge.so")
APP = "KRVUpdateProgram"
UPDATE_FILE = "KRV-7000_UP.upd"

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from krv_update_file import build_update_file, sample_records  # noqa: E402


def assemble(folder):
    """The executable, the simulated controller as libfwbridge.so and, unless one is
    there already, an update file to version 1.03."""
    os.makedirs(folder, exist_ok=True)
    shutil.copy2(os.path.join(BIN, APP), os.path.join(folder, APP))
    shutil.copy2(SIM, os.path.join(folder, "libfwbridge.so"))
    update_file = os.path.join(folder, UPDATE_FILE)
    if not os.path.exists(update_file):
        with open(update_file, "wb") as f:
            f.write(build_update_file(103, sample_records()))
    return os.path.join(folder, APP)


def simulator_environment(folder):
    control = os.path.join(folder, "sim-control.txt")
    open(control, "w").close()
    return {"KRV_SIM_CONTROL": control, "KRV_SIM_LOG": os.path.join(folder, "sim-log.txt"),
            "KRV_SIM_STATE": os.path.join(folder, "sim-state.txt")}


def start_xvfb():
    read_end, write_end = os.pipe()
    proc = subprocess.Popen(["Xvfb", "-displayfd", str(write_end), "-screen", "0", "1024x768x24", "-nolisten", "tcp", "-noreset"],
                            pass_fds=(write_end,), stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    os.close(write_end)
    with os.fdopen(read_end) as pipe:
        number = pipe.readline().strip()
    if not number:
        raise RuntimeError("Xvfb did not start")
    return proc, ":" + number


def find_window(env, title, timeout=15):
    deadline = time.time() + timeout
    while time.time() < deadline:
        out = subprocess.run(["xdotool", "search", "--name", title], env=env,
                             capture_output=True, text=True).stdout.split()
        if out:
            return out[-1]
        time.sleep(0.1)
    return None


def isolated(command):
    """Runs the tool with a lock folder and network of its own where the machine allows,
    so an updater already open elsewhere (a test, say) does not swallow this one."""
    probe = ["unshare", "-mn", "sh", "-c", "mount -t tmpfs tmpfs /var/tmp"]
    if shutil.which("unshare") and subprocess.run(probe, capture_output=True).returncode == 0:
        return ["unshare", "-mn", "sh", "-c", 'mount -t tmpfs tmpfs /var/tmp && exec "$0"'] + command
    return command
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
    sim_env = simulator_environment(run_dir)

    if os.environ.get("DISPLAY"):
        print("The simulated KRV-7000 is plugged in. To unplug it and plug it in again:\n"
              f"  echo detach >> {sim_env['KRV_SIM_CONTROL']}\n"
              f"  echo attach >> {sim_env['KRV_SIM_CONTROL']}\n"
              f"Every report is logged in {sim_env['KRV_SIM_LOG']} (bridge/sim/README.md has more).")
        return subprocess.call([exe], cwd=run_dir, env=dict(os.environ, **sim_env))

    shots = os.path.join(ROOT, "out", "screenshots")
    os.makedirs(shots, exist_ok=True)
    xvfb, display = start_xvfb()
    env = dict(os.environ, DISPLAY=display, **sim_env)
    app = subprocess.Popen(isolated([exe]), cwd=run_dir, env=env,
                           stderr=open(os.path.join(shots, "debug-trace.txt"), "w"))

    def shoot(window, name):
        time.sleep(0.7)
        subprocess.run(["import", "-window", window, os.path.join(shots, name)], env=env, check=True)

    try:
        window = find_window(env, "Updater Program") or find_window(env, APP)
        if window is None:
            print("The updater opened no window.", file=sys.stderr)
            return 1
        shoot(window, "01-language.png")
        # OK, the right-hand button of the 420 x 170 window.
        subprocess.run(["xdotool", "mousemove", "--window", window, "350", "140", "click", "1"], env=env, check=True)
        shoot(window, "02-after-ok.png")
        with open(sim_env["KRV_SIM_CONTROL"], "a") as control:
            control.write("detach\n")
        shoot(window, "03-controller-unplugged.png")
        with open(sim_env["KRV_SIM_CONTROL"], "a") as control:
            control.write("attach\n")
        shoot(window, "04-controller-plugged-in.png")
        shutil.copy2(sim_env["KRV_SIM_LOG"], os.path.join(shots, "sim-log.txt"))
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
