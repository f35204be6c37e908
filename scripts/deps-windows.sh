#!/usr/bin/env bash
# Installs what the Windows cross-build and its tests under Wine need on Debian 12, once:
# the MinGW-w64 compilers with the posix thread model, zlib for MinGW, Wine for both
# bitnesses (wine32 from the i386 architecture beside wine64: Debian's wine then starts
# 32-bit programs itself and hands 64-bit ones to wine64; 32-bit OpenGL, without which
# Wine's 32-bit DXGI has no factory and JUCE stops at start), and a deb-src line so that
# libpng and libjpeg-turbo can be built from Debian's own sources.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"

packages=(
    g++-mingw-w64-i686-posix g++-mingw-w64-x86-64-posix binutils-mingw-w64
    libz-mingw-w64-dev
    wine wine64 wine32:i386 libgl1:i386 libgl1-mesa-dri:i386
    dpkg-dev icoutils
    cmake libgtest-dev
    xvfb xdotool imagemagick tesseract-ocr tesseract-ocr-eng fonts-noto-cjk fonts-liberation2
)

if [ "$(id -u)" -ne 0 ]; then SUDO=sudo; else SUDO=; fi
apt_get() { $SUDO apt-get -o DPkg::Lock::Timeout=900 "$@"; }

updated=0
if ! dpkg --print-foreign-architectures | grep -qx i386; then
    echo "Adding the i386 architecture to dpkg (for wine32)"
    $SUDO dpkg --add-architecture i386
    "$root/scripts/apt-update.sh"
    updated=1
fi
sources=/etc/apt/sources.list.d/krv-debian-src.sources
if [ ! -f "$sources" ] && ! grep -rqs '^Types:.*deb-src\|^deb-src ' /etc/apt/sources.list /etc/apt/sources.list.d/; then
    echo "Adding Debian's source packages to apt ($sources)"
    printf '%s\n' 'Types: deb-src' 'URIs: http://deb.debian.org/debian' 'Suites: bookworm bookworm-updates' \
        'Components: main' 'Signed-By: /usr/share/keyrings/debian-archive-keyring.gpg' | $SUDO tee "$sources" > /dev/null
    "$root/scripts/apt-update.sh"
    updated=1
fi

missing=()
for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done

if [ ${#missing[@]} -gt 0 ]; then
    echo "Installing: ${missing[*]}"
    [ "$updated" = 1 ] || "$root/scripts/apt-update.sh"
    DEBIAN_FRONTEND=noninteractive apt_get install -y -qq --no-install-recommends "${missing[@]}"
fi

