#!/usr/bin/env bash
# Installs what scripts/package needs on Debian 12 beyond the build's own packages, once:
# dpkg-shlibdeps (dpkg-dev), lintian, desktop-file-validate, zip, ImageMagick for the menu
# icon, and strip for both systems.
set -euo pipefail

packages=(dpkg-dev lintian desktop-file-utils zip imagemagick binutils binutils-mingw-w64 file)

missing=()
for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done

if [ "$(id -u)" -ne 0 ]; then SUDO=sudo; else SUDO=; fi

if [ ${#missing[@]} -gt 0 ]; then
    echo "Installing: ${missing[*]}"
    $SUDO apt-get -o DPkg::Lock::Timeout=900 update -qq
    DEBIAN_FRONTEND=noninteractive $SUDO apt-get -o DPkg::Lock::Timeout=900 install -y -qq --no-install-recommends "${missing[@]}"
fi
