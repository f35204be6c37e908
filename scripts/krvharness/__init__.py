"""Runs the updater as a user would: in a folder of its own (executable, device library,
update file), on an X server (a private virtual one, or the one in DISPLAY), clicked with
xdotool and read back from screenshots (ImageMagick) with OCR (tesseract). The process
tests and ./run share it. The Windows builds run the same way under Wine (Wine), 32-bit and 64-bit."""
import os
import re
import shutil
import subprocess
import tempfile
import time

APP_NAME = "KRVUpdateProgram"
UPDATE_FILE = "KRV-7000_UP.upd"
BIN_DIR = os.environ.get("KRV_BIN_DIR", os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "build", "bin"))
WINDOW_TITLE = "Updater Program"
RIGHT_BUTTON = (350, 140)  # centre of (300, 130, 100, 20) on the 420 x 170 window
LEFT_BUTTON = (240, 140)   # centre of (190, 130, 100, 20)


class Failure(Exception):
    pass


class VirtualDisplay:
    """A private Xvfb: it picks a free display number itself (-displayfd), so parallel
    tests never share one. With window_manager, openbox runs on it: windows are activated
    and given the keyboard focus as on a desktop. It never resets: by default an X server
    resets when its last client leaves, and a program that connects meanwhile (the next
    updater of a test, after the last one was ended) loses its connection."""

    def __init__(self, window_manager=False):
        read_end, write_end = os.pipe()
        self.proc = subprocess.Popen(["Xvfb", "-displayfd", str(write_end), "-screen", "0", "1024x768x24",
                                      "-nolisten", "tcp", "-noreset"], pass_fds=(write_end,),
                                     stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        os.close(write_end)
        number = b""
        with os.fdopen(read_end, "rb") as pipe:
            while not number.endswith(b"\n"):
                chunk = pipe.read(1)
                if not chunk:
                    raise Failure("Xvfb did not start")
                number += chunk
        self.display = ":" + number.decode().strip()
        self.window_manager = None
        if window_manager:
            self.window_manager = subprocess.Popen(["openbox", "--sm-disable"], env=dict(os.environ, DISPLAY=self.display),
                                                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
            # It is running once it names itself on the root window.
            if not wait_for(lambda: "_NET_SUPPORTING_WM_CHECK(WINDOW)" in subprocess.run(
                    ["xprop", "-root", "_NET_SUPPORTING_WM_CHECK"], env=dict(os.environ, DISPLAY=self.display),
                    capture_output=True, text=True).stdout, timeout=10):
                self.close()
                raise Failure("openbox did not start")

    def close(self):
        if self.window_manager is not None:
            self.window_manager.terminate()
            self.window_manager.wait(5)
        self.proc.terminate()
        try:
            self.proc.wait(5)
        except subprocess.TimeoutExpired:
            self.proc.kill()


class Wine:
    """Runs a Windows build (32- or 64-bit) under Wine in a prefix made by wine_prefix.py. The
    debug trace (OutputDebugStringA) reaches standard error through Wine's debugstr channel."""

    LIBRARY = "fwbridge.dll"

    def __init__(self, prefix):
        self.prefix = os.path.abspath(prefix)

    def env(self, locale):
        # Wine takes the Windows locale from the POSIX one.
        return {"WINEPREFIX": self.prefix, "WINEDEBUG": "-all,+debugstr", "WINEDLLOVERRIDES": "mscoree,mshtml=",
                "LC_ALL": locale, "LANG": locale}

    def command(self, exe):
        return ["wine", exe]

    # Runs a Windows program as the first Wine process of a session of its own, so that
    # wineserver, services.exe and winedevice.exe (winebus) inherit its environment (an
    # emulated device's preload library, say), and ends the session with it. SIGHUP stays
    # ignored: an emulated hidraw node is a terminal, which hangs up at an unplug, and
    # winedevice.exe would die of it.
    SESSION = ["sh", "-c", 'trap "" HUP; "$@"; status=$?; wineserver -k; exit $status', "sh"]

    def end_session(self):
        """Ends the prefix's Wine processes, so that the next program starts them afresh."""
        env = dict(os.environ, WINEPREFIX=self.prefix)
        subprocess.run(["wineserver", "-k"], env=env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        subprocess.run(["wineserver", "-w"], env=env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)

    @staticmethod
    def path(unix_path):
        """The path as a Windows program sees it (this machine's files are on drive Z:)."""
        return "Z:" + os.path.abspath(unix_path)

    @staticmethod
    def debug_trace(stderr_text):
        """The text the program passed to OutputDebugStringA, from Wine's trace lines
        ('0024:trace:debugstr:OutputDebugStringA "text\\n"')."""
        text = []
        for line in stderr_text.splitlines():
            found = re.search(r':(?:trace|warn):debugstr:OutputDebugStringA "(.*)"$', line)
            if found:
                text.append(unescape_wine_string(found.group(1)))
        return "".join(text)


def unescape_wine_string(quoted):
    """Wine's debugstr escapes: \\n, \\t, \\\\, \\", \\xNN (and \\NNN octal)."""
    out = bytearray()
    i = 0
    raw = quoted.encode("latin-1", errors="replace")
    while i < len(raw):
        c = raw[i]
        if c == 0x5C and i + 1 < len(raw):
            n = chr(raw[i + 1])
            if n in "nrt\\\"":
                out += {"n": b"\n", "r": b"\r", "t": b"\t", "\\": b"\\", "\"": b"\""}[n]
                i += 2
                continue
            if n == "x":
                out.append(int(raw[i + 2:i + 4], 16))
                i += 4
                continue
            if n.isdigit():
                out.append(int(raw[i + 1:i + 4], 8))
                i += 4
                continue
        out.append(c)
        i += 1
    return out.decode("utf-8", errors="replace")


class Screen:
    """What one screenshot shows: the text OCR reads and the two button places."""

    def __init__(self, text, left, right):
        self.text = text
        self.left = left
        self.right = right

    def version(self, label):
        """The version shown after "<label> Version: Ver.", as major x 100 + minor."""
        digit = r"[0-9OoIl]"
        found = re.search(label + r" Version:\s*Ver\.?\s*(" + digit + r"+)\s*[.,]\s*(" + digit + r"{2})", self.text)
        if not found:
            return None
        as_digits = str.maketrans("OoIl", "0011")
        return int(found.group(1).translate(as_digits)) * 100 + int(found.group(2).translate(as_digits))

    # Each screen by its buttons (left, right) and a phrase of its text.
    KINDS = [
        ("language", ("Cancel", "OK"), "Language Selections"),
        ("not-found", ("", "Close"), "not recognized"),
        ("ready", ("Close", "Start"), "Updates the version"),
        ("updating", ("", ""), "Please wait"),
        ("complete", ("", "OK"), "now complete"),
        ("failed", ("", "OK"), "An error has occurred"),
        ("file-error", ("", "OK"), "error in the update file"),
    ]

    @staticmethod
    def _letters(text):
        """A button caption as OCR may read it: only letters, lower case, with the
        shapes it confuses (l/i/I/1, o/0) folded together."""
        folded = "".join(c for c in text.lower() if c.isalnum())
        return folded.translate(str.maketrans("i10", "llo"))

    def kind(self):
        buttons = (self._letters(self.left), self._letters(self.right))
        for name, expected, phrase in self.KINDS:
            if buttons == tuple(self._letters(e) for e in expected) and phrase in self.text:
                return name
        # Where the text cannot be read (no usable font yet), the buttons alone tell the
        # screens apart, except those with a single OK. Text of another screen never passes.
        if any(phrase in self.text for _, _, phrase in self.KINDS):
            return "unknown"
        matches = [name for name, expected, _ in self.KINDS if buttons == tuple(self._letters(e) for e in expected)]
        return matches[0] if len(matches) == 1 else "unknown"

    def __str__(self):
        return f"[{self.kind()}] left={self.left!r} right={self.right!r}\n{self.text}"


def ocr(png, box=None, single_line=False):
    args = ["convert", png]
    if box:
        w, h, x, y = box
        args += ["-crop", f"{w}x{h}+{x}+{y}", "+repage"]
    args += ["-colorspace", "Gray", "-resize", "400%", "-threshold", "60%", "png:-"]
    image = subprocess.run(args, capture_output=True, check=True).stdout
    text = subprocess.run(["tesseract", "stdin", "stdout", "--psm", "7" if single_line else "6"],
                          input=image, capture_output=True, check=True).stdout.decode(errors="replace")
    return " ".join(text.split()) if single_line else "\n".join(l.strip() for l in text.splitlines() if l.strip())


def dark_fraction(png, box):
    """The share of dark pixels in a box (w, h, x, y) of a screenshot."""
    w, h, x, y = box
    mean = subprocess.run(["convert", png, "-crop", f"{w}x{h}+{x}+{y}", "+repage", "-colorspace", "Gray",
                           "-threshold", "50%", "-negate", "-format", "%[fx:mean]", "info:"],
                          capture_output=True, check=True, text=True).stdout
    return float(mean)


def button_text(png, box):
    """A button's text, or "" where no button is shown (nothing dark there: OCR would
    otherwise make words of an empty patch)."""
    return ocr(png, box, single_line=True) if dark_fraction(png, box) > 0.01 else ""


class Updater:
    """One run of the updater from a folder of its own: the executable, and beside it the
    device library and the update file when given (update_file: the bytes, or a path)."""

    def __init__(self, exe, folder, display=None, library=None, update_file=None, env=None, isolate=True,
                 wrapper=None, wine=None, locale="C.UTF-8", cwd=None):
        self.folder = folder
        self.cwd = cwd or folder  # the working folder it is started from
        self.wine = wine
        os.makedirs(folder, exist_ok=True)
        self.exe = os.path.join(folder, os.path.basename(exe))
        if not (os.path.exists(self.exe) and os.path.samefile(exe, self.exe)):  # a folder as shipped
            shutil.copy2(exe, self.exe)
        self.library = None
        if library:
            self.library = os.path.join(folder, wine.LIBRARY if wine else "libfwbridge.so")
            shutil.copy2(library, self.library)
        if isinstance(update_file, (bytes, bytearray)):
            with open(os.path.join(folder, UPDATE_FILE), "wb") as f:
                f.write(update_file)
        elif update_file is not None:
            shutil.copy2(update_file, os.path.join(folder, UPDATE_FILE))
        self.control = os.path.join(folder, "sim-control.txt")
        self.log = os.path.join(folder, "sim-log.txt")
        self.state = os.path.join(folder, "sim-state.txt")
        self.stderr_path = os.path.join(folder, "debug-trace.txt")
        open(self.control, "w").close()
        # English whatever the caller's locale, since the screens are read by their English
        # texts; env may name another locale, or None to drop a variable.
        self.env = dict(os.environ, DISPLAY=display or os.environ.get("DISPLAY", ""), KRV_SIM_CONTROL=self.control,
                        KRV_SIM_LOG=self.log, KRV_SIM_STATE=self.state, KRV_SIM_LOG_STREAM="0", LC_ALL=locale)
        self.env.pop("LD_LIBRARY_PATH", None)
        if wine:
            self.env.update(wine.env(locale))
        self.env.update(env or {})
        self.env = {name: value for name, value in self.env.items() if value is not None}
        self.isolate = isolate
        self.wrapper = list(wrapper or [])  # runs the updater (e.g. beside an emulated controller)
        self.shots = 0
        self.proc = None
        self.window = None
        self._stderr_file = None

    def _command(self, arguments=()):
        command = self.wine.command(self.exe) if self.wine else [self.exe]
        if self.isolate and not self.wine and isolation_works():
            # The tool runs once per machine (a lock file in /var/tmp, an abstract socket);
            # private ones keep parallel tests, or an updater already open, out of its way.
            command = ["unshare", "-mn", "sh", "-c", 'mount -t tmpfs tmpfs /var/tmp && exec "$0" "$@"', self.exe]
        return self.wrapper + command + list(arguments)

    def run_console(self, *arguments, timeout=120):
        """Runs a console program (krv-update) to its end: its exit code, standard output and
        standard error (the trace; under Wine, Wine's lines with the debugger output)."""
        done = subprocess.run(self._command(arguments), cwd=self.cwd, env=self.env, stdin=subprocess.DEVNULL,
                              capture_output=True, text=True, errors="replace", timeout=timeout)
        with open(self.stderr_path, "w") as f:
            f.write(done.stderr)
        return done

    def start(self, title=WINDOW_TITLE, retry_lost_server=True):
        command = self._command()
        self._stderr_file = open(self.stderr_path, "w")
        self.proc = subprocess.Popen(command, cwd=self.cwd, env=self.env,
                                     stdout=subprocess.DEVNULL, stderr=self._stderr_file)
        deadline = time.time() + (90 if self.wine else 20)
        while time.time() < deadline:
            if self.proc.poll() is not None:
                if self.wine and retry_lost_server and "wine client error" in self.stderr():
                    # It met the last test's Wine server on its way out: once that has ended,
                    # the prefix is free.
                    self._stderr_file.close()
                    subprocess.run(["wineserver", "-w"], env=self.env, timeout=60)
                    return self.start(title, retry_lost_server=False)
                raise Failure(f"the updater ended at start with code {self.proc.returncode} (another one running?):\n"
                              f"{self.stderr()}")
            found = subprocess.run(["xdotool", "search", "--onlyvisible", "--name", f"^{title}$"], env=self.env,
                                   capture_output=True, text=True).stdout.split()
            if found:
                self.window = found[-1]
                time.sleep(0.3)  # let the first paint land
                return self
            time.sleep(0.1)
        raise Failure(f"no window named {title!r} appeared:\n{self.stderr()}")

    def alive(self):
        return self.proc is not None and self.proc.poll() is None

    def title(self):
        return subprocess.run(["xdotool", "getwindowname", self.window], env=self.env,
                              capture_output=True, text=True).stdout.strip()

    def geometry(self):
        out = xdotool("getwindowgeometry", "--shell", self.window, env=self.env)
        values = dict(line.split("=", 1) for line in out.splitlines() if "=" in line)
        return {k: int(v) for k, v in values.items() if v.lstrip("-").isdigit()}

    def screenshot(self, name=None):
        self.shots += 1
        path = os.path.join(self.folder, name or f"shot-{self.shots:02d}.png")
        for attempt in range(5):
            taken = subprocess.run(["import", "-window", self.window, path], env=self.env,
                                   stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, text=True)
            if taken.returncode == 0:
                return path
            time.sleep(0.2)
        raise Failure(f"no screenshot of the window: {taken.stderr.strip()}")

    def read(self, name=None):
        return read_screen(self.screenshot(name))

    def wait_for(self, kind, timeout=10, name=None):
        deadline = time.time() + timeout
        while True:
            screen = self.read(name)
            if screen.kind() == kind:
                return screen
            if time.time() > deadline:
                raise Failure(f"expected the {kind} screen, saw:\n{screen}")
            time.sleep(0.2)

    def wait_for_change(self, away_from, timeout=10):
        """The first screen that is no longer away_from."""
        deadline = time.time() + timeout
        while True:
            screen = self.read()
            if screen.kind() != away_from or time.time() > deadline:
                return screen
            time.sleep(0.2)

    def click(self, where):
        x, y = where
        subprocess.run(["xdotool", "mousemove", "--window", self.window, str(x), str(y), "click", "1"],
                       env=self.env, check=True)

    def activate(self):
        """Brings the window forward with the keyboard focus, as a window manager does when
        it is clicked in the task bar."""
        xdotool("windowactivate", "--sync", self.window, env=self.env)

    def keys(self, *names):
        """Types keys (xdotool's names: Tab, shift+Tab, space, Return, KP_Enter, Escape) into
        the window that has the focus, a little apart."""
        xdotool("key", "--delay", "150", *names, env=self.env)
        time.sleep(0.3)

    def command(self, line):
        with open(self.control, "a") as f:
            f.write(line + "\n")

    def sim_log(self):
        return open(self.log).read() if os.path.exists(self.log) else ""

    def sim_state(self):
        """What the simulated controller holds after its last complete update: (version,
        {record number: bytes}) with the records it holds none of left out; None before any."""
        if not os.path.exists(self.state):
            return None
        return parse_sim_state(open(self.state).read())

    def stderr(self):
        return open(self.stderr_path, errors="replace").read() if os.path.exists(self.stderr_path) else ""

    def trace(self):
        """The debug trace: standard error here, the debugger output under Wine."""
        return Wine.debug_trace(self.stderr()) if self.wine else self.stderr()

    def session_trace(self):
        """The session's own trace lines, without those of the system hold around it and of
        the repaint pump."""
        return [line for line in self.trace().splitlines()
                if not line.startswith(("sleep and shutdown ", "system quit: ", "repaint pump: "))]

    def exit_code(self, cause, timeout=10):
        """The tool's exit code once it ends; cause names what should have ended it."""
        try:
            return self.proc.wait(timeout)
        except subprocess.TimeoutExpired:
            raise Failure(f"{cause} did not end the updater")

    def quit_with(self, where, timeout=10):
        """Presses a button that ends the tool; returns its exit code."""
        self.click(where)
        return self.exit_code("its quit button", timeout)

    def close(self):
        if self.proc and self.proc.poll() is None:
            self.proc.terminate()
            try:
                self.proc.wait(5)
            except subprocess.TimeoutExpired:
                self.proc.kill()
                self.proc.wait()
        if self._stderr_file:
            self._stderr_file.close()
            self._stderr_file = None


def read_screen(png):
    """What a screenshot of the window shows."""
    return Screen(ocr(png, (422, 124, 0, 0)), button_text(png, (92, 14, 194, 133)), button_text(png, (92, 14, 304, 133)))


def grey_levels(png, box):
    """The grey level (0 to 255) of each pixel of a box (w, h, x, y), row by row."""
    w, h, x, y = box
    out = subprocess.run(["convert", png, "-crop", f"{w}x{h}+{x}+{y}", "+repage", "-colorspace", "Gray",
                          "-depth", "8", "txt:-"], capture_output=True, check=True, text=True).stdout
    return [int(m.group(1)) for m in re.finditer(r"^\d+,\d+: \((\d+)", out, re.MULTILINE)]


def focus_outline(png, button):
    """Whether the button whose centre is given shows the keyboard focus outline: its top
    row, 3 pixels inside the 100 x 20 button, is dark across (the face there is light). A
    window manager may give the window a few pixels more, moving the buttons down by as much."""
    x, y = button
    return any(max(grey_levels(png, (80, 1, x - 40, y - 7 + d))) < 0x40 for d in range(4))


def progress_shown(png):
    """The share of the progress bar's track that is filled, 0.0 to 1.0, or None where no
    progress bar is shown. The bar lies at (20, 75, 380, 20) with a near-black track."""
    if max(grey_levels(png, (1, 16, 21, 77)), default=255) > 0x30:
        return None
    # A row near the top of the track, above the percentage text; the fill is lighter grey.
    row = grey_levels(png, (376, 1, 22, 77))
    return sum(1 for v in row if v > 0x40) / len(row)


def parse_sim_state(text):
    version = None
    held = {}
    for line in text.splitlines():
        words = line.split()
        if len(words) == 2 and words[0] == "version":
            version = int(words[1])
        elif len(words) >= 3 and words[0] == "record" and words[2] == "length":
            # "record N length L crc 0xCCCC data HEX", the hex absent for an empty record
            held[int(words[1])] = bytes.fromhex(words[7]) if len(words) > 7 else b""
    return version, held


def xdotool(*args, check=True, env=None):
    result = subprocess.run(["xdotool", *map(str, args)], capture_output=True, text=True, env=env)
    if check and result.returncode != 0:
        raise Failure(f"xdotool {' '.join(map(str, args))}: {result.stderr.strip()}")
    return result.stdout.strip()


def xhelper(*args):
    return subprocess.run([os.path.join(BIN_DIR, "krv_xhelper"), *map(str, args)],
                          capture_output=True, text=True, check=True).stdout.strip()


def windows_named(name, env=None):
    out = xdotool("search", "--name", f"^{name}$", check=False, env=env)
    return out.split() if out else []


def wait_for(condition, timeout=10.0, interval=0.05):
    deadline = time.time() + timeout
    while time.time() < deadline:
        value = condition()
        if value:
            return value
        time.sleep(interval)
    return condition()


def isolation_works():
    probe = ["unshare", "-mn", "sh", "-c", "mount -t tmpfs tmpfs /var/tmp"]
    return shutil.which("unshare") is not None and subprocess.run(probe, capture_output=True).returncode == 0


def work_folder(name):
    base = os.environ.get("KRV_PROCESS_TEST_DIR") or tempfile.gettempdir()
    folder = tempfile.mkdtemp(prefix=f"krv-{name}-", dir=base)
    return folder


def run_scenario(name, scenario, args, folder_prefix="", window_manager=False):
    """Runs scenario(args, display, folder) on a private virtual X server (with openbox when
    window_manager) in a work folder of its own, removed when it passes (unless KRV_KEEP_WORK is set) and
    kept for the failure report otherwise. Returns the process test's exit code."""
    folder = work_folder(folder_prefix + name)
    display = None
    try:
        display = VirtualDisplay(window_manager)
        scenario(args, display.display, folder)
    except (Failure, OSError, subprocess.CalledProcessError) as failure:
        print(f"FAILED: {failure}\nScreenshots, logs and the updater's debug output are in {folder}")
        return 1
    finally:
        if display is not None:
            display.close()

    if os.environ.get("KRV_KEEP_WORK"):
        print(f"Kept: {folder}")
    else:
        shutil.rmtree(folder, ignore_errors=True)
    print(f"passed: {name}")
    return 0
