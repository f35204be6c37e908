#!/usr/bin/env bash
# Installs what the Windows cross-build and its tests under Wine need on Debian 12, once:
# the MinGW-w64 compilers with the posix thread model, zlib for MinGW, the amd64 Wine, the
# emulated controller's umockdev (it runs on this machine, beside Wine), the
# 32-bit C and C++ runtimes of amd64's multilib, and a deb-src line so that libpng and
# libjpeg-turbo can be built from Debian's own sources. Nothing here waits on the i386
# architecture: it is added for the 32-bit Wine, which scripts/wine32-runtime.sh sets up
# afterwards (the system's wine32:i386 where it installs, else a private one).
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"

packages=(
    g++-mingw-w64-i686-posix g++-mingw-w64-x86-64-posix binutils-mingw-w64
    libz-mingw-w64-dev
    wine wine64 libc6-i386 lib32gcc-s1 lib32stdc++6
    dpkg-dev icoutils
    cmake libgtest-dev
    xvfb xdotool imagemagick tesseract-ocr tesseract-ocr-eng fonts-noto-cjk fonts-liberation2 openbox x11-utils
    g++ pkg-config umockdev libumockdev-dev
)

if [ "$(id -u)" -ne 0 ]; then SUDO=sudo; else SUDO=; fi

# Debian's archive as the machine's apt already reaches it, for the source packages: each
# URI and suite it serves main from (security updates have an archive of their own).
sources=/etc/apt/sources.list.d/krv-debian-src.sources
if [ ! -f "$sources" ] && ! grep -rqs '^Types:.*deb-src\|^deb-src ' /etc/apt/sources.list /etc/apt/sources.list.d/; then
    origin="$(apt-get indextargets --format '$(REPO_URI) $(RELEASE)' 'Identifier: Packages' 'Label: Debian' \
        'Component: main' | sort -u)"
    if [ -n "$origin" ]; then
        echo "Adding the source packages of apt's own Debian archive ($sources)"
        keyring=/usr/share/keyrings/debian-archive-keyring.gpg
        while read -r uri suite; do
            printf '%s\n' 'Types: deb-src' "URIs: $uri" "Suites: $suite" 'Components: main'
            [ ! -f "$keyring" ] || echo "Signed-By: $keyring"
            echo
        done <<< "$origin" | $SUDO tee "$sources" > /dev/null
        "$root/scripts/apt-update.sh"
    else
        echo "!! apt reaches no Debian archive with main: libpng and libjpeg-turbo will have no sources" >&2
    fi
fi

# The amd64 packages, first and apart from anything i386: an i386 list that fails to load
# must not hold them back.
"$root/scripts/install-missing.sh" "${packages[@]}"

if ! dpkg --print-foreign-architectures | grep -qx i386; then
    echo "Adding the i386 architecture to dpkg (for the 32-bit Wine)"
    $SUDO dpkg --add-architecture i386
    "$root/scripts/apt-update.sh"
fi
