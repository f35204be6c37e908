#!/usr/bin/env python3
"""Makes the Wine prefix the Windows process tests run in, once: python3 wine_prefix.py PREFIX.
The fonts the text tables name are Windows fonts; the prefix maps each to the installed font
that Windows would draw those scripts with (Wine finds installed fonts through fontconfig),
and lets Wine's HID bus take the machine's hidraw nodes (an emulated controller's)."""
import os
import subprocess
import sys

# The text tables' fonts and what stands in for them here (fonts-liberation2, fonts-noto-cjk).
FONT_REPLACEMENTS = {
    "Arial": "Liberation Sans",
    "Microsoft YaHei": "Noto Sans CJK SC",
    "Malgun Gothic": "Noto Sans CJK KR",
    "MS UI Gothic": "Noto Sans CJK JP",
}
READY = "krv-prefix-ready-hid"


def main():
    prefix = os.path.abspath(sys.argv[1])
    if os.path.exists(os.path.join(prefix, READY)):
        print(f"Wine prefix ready: {prefix}")
        return 0

    env = dict(os.environ, WINEPREFIX=prefix, WINEDEBUG="-all", WINEDLLOVERRIDES="mscoree,mshtml=",
               DISPLAY="")
    subprocess.run(["wineboot", "--init"], env=env, check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    for name, replacement in FONT_REPLACEMENTS.items():
        subprocess.run(["wine", "reg", "add", r"HKCU\Software\Wine\Fonts\Replacements", "/v", name, "/d", replacement,
                        "/f"], env=env, check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    # Wine's HID bus (winebus) starts its hidraw bus only with SDL off, where no libSDL2 is.
    subprocess.run(["wine", "reg", "add", r"HKLM\System\CurrentControlSet\Services\winebus", "/v", "Enable SDL",
                    "/t", "REG_DWORD", "/d", "0", "/f"], env=env, check=True, stdout=subprocess.DEVNULL,
                   stderr=subprocess.DEVNULL)
    subprocess.run(["wineserver", "-w"], env=env, check=True)
    open(os.path.join(prefix, READY), "w").close()
    print(f"Wine prefix made: {prefix}")
    return 0


if __name__ == "__main__":
    sys.exit(main())
