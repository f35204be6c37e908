#!/usr/bin/env bash
# Installs what scripts/package needs on Debian 12 beyond the build's own packages, once:
# dpkg-shlibdeps (dpkg-dev), lintian, desktop-file-validate, zip, ImageMagick for the menu
# icon, and strip for both systems.
set -euo pipefail

packages=(dpkg-dev lintian desktop-file-utils zip imagemagick binutils binutils-mingw-w64 file)

"$(dirname "$0")/install-missing.sh" "${packages[@]}"
