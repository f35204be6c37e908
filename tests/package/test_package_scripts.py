"""The release packages' shell scripts, run as root in a private mount namespace where
/run, /etc/udev/rules.d and udevadm are stand-ins: the maintainer scripts must never fail
and touch udev only where it runs; install-udev-rule must install the rule from a folder
whose path has blanks and non-ASCII letters."""
import os
import shutil
import subprocess
import tempfile
import unittest

ROOT = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..")
PACKAGING = os.path.join(ROOT, "packaging", "linux")
RULE = os.path.join(ROOT, "bridge", "hid", "linux", "70-krv7000.rules.in")

# Runs "$@" with a tmpfs on /run and on /etc/udev/rules.d, udev's control socket present
# when KRV_UDEV_RUNNING is 1.
NAMESPACE = r'''
mount -t tmpfs tmpfs /run && mkdir -p /etc/udev/rules.d && mount -t tmpfs tmpfs /etc/udev/rules.d || exit 99
if [ "$KRV_UDEV_RUNNING" = 1 ]; then
    mkdir /run/udev && python3 -c 'import socket; socket.socket(socket.AF_UNIX).bind("/run/udev/control")' || exit 99
fi
"$@"; code=$?
cat /etc/udev/rules.d/70-krv7000.rules > "$KRV_FAKE/installed" 2> /dev/null
exit $code
'''

UDEVADM = '#!/bin/sh\necho "$*" >> "$KRV_FAKE/calls"\nexit "$KRV_UDEVADM_CODE"\n'

RELOAD = "control --reload"
TRIGGER = "trigger --subsystem-match=hidraw --subsystem-match=usb --action=change"


def read(path):
    if not os.path.exists(path):
        return ""
    with open(path) as f:
        return f.read()


def namespaces_work():
    probe = ["unshare", "-m", "sh", "-c", "mount -t tmpfs tmpfs /run"]
    return os.geteuid() == 0 and shutil.which("unshare") and subprocess.run(probe, capture_output=True).returncode == 0


@unittest.skipUnless(namespaces_work(), "needs root and mount namespaces (unshare -m)")
class PackageScriptsTest(unittest.TestCase):
    def run_script(self, command, udev_running, udevadm_code=0):
        """(exit code, udevadm calls, the rule installed in /etc/udev/rules.d or None)."""
        fake = tempfile.mkdtemp(prefix="krv-package-scripts-")
        self.addCleanup(shutil.rmtree, fake, ignore_errors=True)
        with open(os.path.join(fake, "udevadm"), "w") as f:
            f.write(UDEVADM)
        os.chmod(os.path.join(fake, "udevadm"), 0o755)
        env = dict(os.environ, PATH=fake + ":" + os.environ["PATH"], KRV_FAKE=fake,
                   KRV_UDEV_RUNNING="1" if udev_running else "0", KRV_UDEVADM_CODE=str(udevadm_code))
        result = subprocess.run(["unshare", "-m", "sh", "-c", NAMESPACE, "sh", *command], env=env, cwd="/",
                                capture_output=True, text=True, timeout=30)
        self.assertNotEqual(result.returncode, 99, result.stderr)
        return result.returncode, read(os.path.join(fake, "calls")).splitlines(), read(os.path.join(fake, "installed")) or None

    def test_maintainer_scripts_reload_udev_only_where_it_runs_and_never_fail(self):
        postinst = ["sh", os.path.join(PACKAGING, "debian", "postinst")]
        postrm = ["sh", os.path.join(PACKAGING, "debian", "postrm")]
        cases = [
            # script and argument, udev running, udevadm's exit code, the calls expected
            (postinst + ["configure"], False, 0, []),
            (postinst + ["configure"], True, 0, [RELOAD, TRIGGER]),
            (postinst + ["configure"], True, 1, [RELOAD, TRIGGER]),
            (postinst + ["abort-upgrade"], True, 0, []),
            (postrm + ["remove"], False, 0, []),
            (postrm + ["purge"], True, 1, [RELOAD]),
            (postrm + ["upgrade"], True, 0, []),
        ]
        for command, running, code, expected in cases:
            with self.subTest(script=os.path.basename(command[1]), argument=command[2], udev=running, udevadm=code):
                self.assertEqual(self.run_script(command, running, code)[:2], (0, expected))

    def test_udev_rule_installer_works_from_a_path_with_blanks_and_non_ascii_letters(self):
        parent = tempfile.mkdtemp(prefix="krv-package-scripts-")
        self.addCleanup(shutil.rmtree, parent, ignore_errors=True)
        folder = os.path.join(parent, "Ab cd é")
        os.makedirs(folder)
        shutil.copy2(os.path.join(PACKAGING, "install-udev-rule"), folder)
        with open(RULE) as f:
            rule = f.read()
        with open(os.path.join(folder, "70-krv7000.rules"), "w") as f:
            f.write(rule)
        code, calls, installed = self.run_script([os.path.join(folder, "install-udev-rule")], True)
        self.assertEqual((code, calls, installed), (0, [RELOAD, TRIGGER], rule))

        os.remove(os.path.join(folder, "70-krv7000.rules"))
        code, calls, installed = self.run_script([os.path.join(folder, "install-udev-rule")], True)
        self.assertEqual((code, calls, installed), (1, [], None))


if __name__ == "__main__":
    unittest.main()
