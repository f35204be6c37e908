#!/usr/bin/env bash
# Installs what building, running and testing need on Debian 12, once.
set -euo pipefail

packages=(
    build-essential cmake pkg-config python3
    juce-modules-source
    libgtest-dev libgmock-dev libbenchmark-dev
    libhidapi-dev libudev-dev libfontconfig-dev libfreetype-dev libx11-dev
    xvfb xdotool x11-utils imagemagick tesseract-ocr tesseract-ocr-eng util-linux
    fonts-noto-cjk fonts-liberation2 fonts-dejavu-core
    locales
    clang-14 libclang-rt-14-dev
)

missing=()
for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done

if [ ${#missing[@]} -gt 0 ]; then
    echo "Installing: ${missing[*]}"
    if [ "$(id -u)" -ne 0 ]; then SUDO=sudo; else SUDO=; fi
    $SUDO apt-get update -qq
    DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
