"""The updater's window and its single-instance rule, in a real process under X."""
import os
import shutil
import subprocess
import sys
import time
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "scripts"))
from krvharness import (APP_NAME, BIN_DIR, RIGHT_BUTTON, Updater, wait_for, windows_named, work_folder, xdotool,
                        xhelper)

BUILD_DIR = os.environ.get("KRV_BUILD_DIR", os.path.join(BIN_DIR, ".."))


def updater():
    """The executable alone in a folder, on the X server in DISPLAY and in this machine's
    namespace, where a second start must find it."""
    return Updater(os.path.join(BIN_DIR, APP_NAME), work_folder("window"), isolate=False)


def remove(app):
    app.close()
    shutil.rmtree(app.folder, ignore_errors=True)


class MainWindowTest(unittest.TestCase):
    def setUp(self):
        xhelper("wm-atoms")
        self.app = updater()
        self.app.start()

    def tearDown(self):
        remove(self.app)

    def test_window_is_titled_and_holds_the_420_by_170_screen(self):
        self.assertEqual(self.app.title(), "Updater Program")
        geometry = self.app.geometry()
        self.assertEqual((geometry["WIDTH"], geometry["HEIGHT"]), (420, 170))
        # Centred on the 1024 x 768 screen.
        self.assertAlmostEqual(geometry["X"], (1024 - 420) // 2, delta=2)
        self.assertAlmostEqual(geometry["Y"], (768 - 170) // 2, delta=2)

    def test_window_asks_to_stay_on_top_and_not_to_be_resized(self):
        props = subprocess.run(["xprop", "-id", self.app.window], capture_output=True, text=True).stdout
        self.assertIn("_NET_WM_STATE_ABOVE", props)
        actions = next((line for line in props.splitlines() if line.startswith("_NET_WM_ALLOWED_ACTIONS")), "")
        self.assertNotIn("_NET_WM_ACTION_RESIZE", actions)
        self.assertNotIn("_NET_WM_ACTION_CLOSE", actions)
        self.assertNotIn("_NET_WM_ACTION_MINIMIZE", actions)
        self.assertNotIn("_NET_WM_ACTION_FULLSCREEN", actions)
        # Motif hints: functions = move only (4); no close (32), resize (2) or maximise (16).
        motif = next(line for line in props.splitlines() if line.startswith("_MOTIF_WM_HINTS"))
        functions = int(motif.split("=")[1].split(",")[1], 0)
        self.assertEqual(functions, 4)

    def test_close_request_leaves_the_window_open(self):
        xhelper("close", self.app.window)
        time.sleep(1.0)
        self.assertTrue(self.app.alive())
        self.assertEqual(windows_named("Updater Program"), [self.app.window])

    def test_second_start_hands_over_and_brings_the_first_to_the_front(self):
        decoy = subprocess.Popen([xhelper_path(), "decoy", "30"], stdout=subprocess.PIPE, text=True)
        try:
            decoy_window = decoy.stdout.readline().strip()
            self.assertTrue(wait_for(lambda: xdotool("getwindowfocus") == decoy_window, timeout=5))

            second = subprocess.run([self.app.exe], cwd=self.app.folder, env=self.app.env,
                                    capture_output=True, timeout=20)
            self.assertEqual(second.returncode, 0)
            self.assertEqual(windows_named("Updater Program"), [self.app.window])
            self.assertTrue(self.app.alive())
            self.assertTrue(wait_for(lambda: xdotool("getwindowfocus") == self.app.window, timeout=5),
                            "the running window did not take the focus")
        finally:
            decoy.kill()
            decoy.wait()
            decoy.stdout.close()


def xhelper_path():
    return os.path.join(BIN_DIR, "krv_xhelper")


class SystemQuitTest(unittest.TestCase):
    def test_termination_request_ends_the_program_through_its_own_quit(self):
        app = updater()
        try:
            app.start()
            app.proc.send_signal(15)
            self.assertEqual(app.proc.wait(10), 0)
            self.assertEqual(windows_named("Updater Program"), [])
        finally:
            remove(app)


class StartedByNameTest(unittest.TestCase):
    """Started by a name found through PATH, from another working folder, the updater still
    uses the device library and the update file beside its executable."""

    def test_library_and_update_file_are_found_beside_the_executable(self):
        # The executable's own name in its folder; a link of another name in another folder.
        for link in (None, "krv-updater"):
            with self.subTest(link=link):
                self.start_by_name(link)

    def start_by_name(self, link):
        app = Updater(os.path.join(BIN_DIR, APP_NAME), work_folder("by-name"), isolate=False,
                      library=os.path.join(BUILD_DIR, "sim", "libfwbridge.so"),
                      update_file=os.path.join(BUILD_DIR, "sample", "KRV-7000_UP.upd"),
                      env={"KRV_SIM_ATTACHED": "1", "KRV_SIM_VERSION": "102"})
        path_folder, name = app.folder, APP_NAME
        if link:
            path_folder, name = work_folder("link"), link
            os.symlink(app.exe, os.path.join(path_folder, link))
        # sh gets the harness's full path as $3 and leaves it unused.
        app.wrapper = ["sh", "-c", 'cd / && PATH="$1:$PATH" exec "$2"', "sh", path_folder, name]
        try:
            app.start()
            app.wait_for("language")
            app.click(RIGHT_BUTTON)
            ready = app.wait_for("ready")
            self.assertEqual((ready.version("Current"), ready.version("Update")), (102, 103), str(ready))
            problems = [line for line in app.stderr().splitlines()
                        if line.startswith("device library:") and not line.startswith("device library: loaded ")]
            self.assertEqual(problems, [])
        finally:
            remove(app)
            if link:
                shutil.rmtree(path_folder, ignore_errors=True)

if __name__ == "__main__":
    unittest.main()
