"""Runs the real updater executable under the X server in DISPLAY and drives it with
xdotool, as a user would."""
import os
import shutil
import subprocess
import tempfile
import time

BIN_DIR = os.environ.get("KRV_BIN_DIR", os.path.join(os.path.dirname(__file__), "..", "..", "build", "bin"))
APP_NAME = "KRVUpdateProgram"


def xdotool(*args, check=True):
    result = subprocess.run(["xdotool", *map(str, args)], capture_output=True, text=True)
    if check and result.returncode != 0:
        raise RuntimeError(f"xdotool {' '.join(map(str, args))}: {result.stderr.strip()}")
    return result.stdout.strip()


def xhelper(*args):
    return subprocess.run([os.path.join(BIN_DIR, "krv_xhelper"), *map(str, args)],
                          capture_output=True, text=True, check=True).stdout.strip()


def wait_for(condition, timeout=10.0, interval=0.05):
    deadline = time.time() + timeout
    while time.time() < deadline:
        value = condition()
        if value:
            return value
        time.sleep(interval)
    return condition()


def windows_named(name):
    out = xdotool("search", "--name", f"^{name}$", check=False)
    return out.split() if out else []


class Updater:
    """One run of the updater from a folder of its own: the executable and whatever the
    test puts beside it."""

    def __init__(self, extra_files=(), env=None):
        self.folder = tempfile.mkdtemp(prefix="krv-run-")
        self.exe = os.path.join(self.folder, APP_NAME)
        shutil.copy2(os.path.join(BIN_DIR, APP_NAME), self.exe)
        for source, name in extra_files:
            shutil.copy2(source, os.path.join(self.folder, name))
        self.env = dict(os.environ, **(env or {}))
        self.stderr_path = os.path.join(self.folder, "stderr.txt")
        self.process = None
        self.window = None

    def start(self, title="Updater Program"):
        self._stderr_file = open(self.stderr_path, "w")
        self.process = subprocess.Popen([self.exe], cwd=self.folder, env=self.env,
                                        stdout=subprocess.DEVNULL, stderr=self._stderr_file)
        found = wait_for(lambda: windows_named(title), timeout=20)
        if not found:
            raise AssertionError(f"no window named {title!r} appeared; stderr: {self.stderr()}")
        self.window = found[-1]
        time.sleep(0.3)  # let the first paint land
        return self.window

    def stderr(self):
        with open(self.stderr_path, errors="replace") as f:
            return f.read()

    def geometry(self):
        out = xdotool("getwindowgeometry", "--shell", self.window)
        values = dict(line.split("=", 1) for line in out.splitlines() if "=" in line)
        return {k: int(v) for k, v in values.items() if v.lstrip("-").isdigit()}

    def title(self):
        return xdotool("getwindowname", self.window)

    def click(self, x, y):
        xdotool("mousemove", "--window", self.window, x, y)
        time.sleep(0.05)
        xdotool("click", 1)
        time.sleep(0.2)

    def screenshot(self, path):
        subprocess.run(["import", "-window", self.window, path], check=True, env=self.env)
        return path

    def pixel(self, x, y):
        """The colour of one pixel of the window, as an (r, g, b) tuple."""
        out = subprocess.run(["import", "-window", self.window, "-crop", f"1x1+{x}+{y}", "-depth", "8",
                              "txt:-"], capture_output=True, text=True, check=True).stdout
        for line in out.splitlines():
            if line.startswith(f"0,0:") or line.startswith("0,0:"):
                rgb = line.split("(", 1)[1].split(")", 1)[0].split(",")[:3]
                return tuple(int(float(v)) for v in rgb)
        raise RuntimeError(out)

    def alive(self):
        return self.process is not None and self.process.poll() is None

    def stop(self):
        if self.process is not None and self.process.poll() is None:
            self.process.terminate()
            try:
                self.process.wait(5)
            except subprocess.TimeoutExpired:
                self.process.kill()
                self.process.wait()
        if getattr(self, "_stderr_file", None):
            self._stderr_file.close()
        shutil.rmtree(self.folder, ignore_errors=True)
