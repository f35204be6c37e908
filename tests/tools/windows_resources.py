#!/usr/bin/env python3
"""What Windows reads from the executables' resources before it runs them (icoutils'
wrestool reads them from the built files): a manifest that asks for no administrator, names
Windows 7 to 11, is DPI aware per monitor and takes the common controls 6; the window's icon;
a VERSIONINFO with the product, a description and the CMake version.

Usage: windows_resources.py VERSION EXE[:icon] ..."""
import subprocess
import sys
import unittest
import xml.etree.ElementTree as ET

SUPPORTED_OS = {
    "{35138b9a-5d96-4fbd-8e2d-a2440225f93a}",  # 7
    "{4a2f28e3-53b9-4441-ba9c-d69d4a4a6e38}",  # 8
    "{1f676c76-80e1-4239-95bb-83d0f6d0da78}",  # 8.1
    "{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}",  # 10 and 11
}
RT_ICON, RT_GROUP_ICON, RT_VERSION, RT_MANIFEST = 3, 14, 16, 24


def resource(exe, kind):
    return subprocess.run(["wrestool", "-x", "--raw", f"--type={kind}", exe], check=True, capture_output=True).stdout


def local(tag):
    return tag.rsplit("}", 1)[-1]


def version_strings(block):
    """The StringFileInfo values of a VERSIONINFO resource, read as UTF-16 key/value pairs."""
    text = block.decode("utf-16-le", errors="replace")
    values = {}
    for key in ("CompanyName", "FileDescription", "FileVersion", "ProductName", "ProductVersion"):
        at = text.find(key + "\0")
        if at >= 0:
            rest = text[at + len(key) + 1:].lstrip("\0")
            values[key] = rest.split("\0", 1)[0]
    return values


class Resources(unittest.TestCase):
    version = ""
    executables = []

    def test_each_executable(self):
        self.assertTrue(self.executables)
        for exe, with_icon in self.executables:
            with self.subTest(exe=exe):
                manifest = ET.fromstring(resource(exe, RT_MANIFEST))
                elements = list(manifest.iter())
                levels = [e.get("level") for e in elements if local(e.tag) == "requestedExecutionLevel"]
                self.assertEqual(levels, ["asInvoker"])
                self.assertEqual({e.get("Id") for e in elements if local(e.tag) == "supportedOS"}, SUPPORTED_OS)
                awareness = [e.text for e in elements if local(e.tag) == "dpiAwareness"]
                self.assertEqual(len(awareness), 1)
                self.assertEqual(awareness[0].split(",")[0].strip(), "PerMonitorV2")
                names = [e.get("name") for e in elements if local(e.tag) == "assemblyIdentity"]
                self.assertIn("Microsoft.Windows.Common-Controls", names)

                strings = version_strings(resource(exe, RT_VERSION))
                self.assertEqual(strings.get("ProductName"), "KRV-7000 Firmware Updater", strings)
                self.assertTrue(strings.get("FileDescription"), strings)
                self.assertEqual(strings.get("FileVersion"), self.version, strings)

                if with_icon:
                    self.assertTrue(resource(exe, RT_GROUP_ICON))
                    self.assertGreater(len(resource(exe, RT_ICON)), 1000)


if __name__ == "__main__":
    Resources.version = sys.argv[1]
    for arg in sys.argv[2:]:
        path, _, flag = arg.partition(":")
        Resources.executables.append((path, flag == "icon"))
    unittest.main(argv=sys.argv[:1], verbosity=2)
