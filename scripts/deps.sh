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

if [ "$(id -u)" -ne 0 ]; then SUDO=sudo; else SUDO=; fi

if [ ${#missing[@]} -gt 0 ]; then
    echo "Installing: ${missing[*]}"
    $SUDO apt-get -o DPkg::Lock::Timeout=900 update -qq
    DEBIAN_FRONTEND=noninteractive $SUDO apt-get -o DPkg::Lock::Timeout=900 install -y -qq --no-install-recommends "${missing[@]}"
fi

# A locale of each language the tool speaks: the language list offers only languages the
# system has a locale of.
installed_locales="$(locale -a 2>/dev/null | tr '[:upper:]' '[:lower:]')"
for l in en_US fr_FR de_DE es_ES it_IT nl_NL ru_RU pt_PT zh_CN zh_TW ko_KR ja_JP; do
    name="$(echo "$l.utf8" | tr '[:upper:]' '[:lower:]')"
    if ! grep -qx "$name" <<< "$installed_locales"; then
        echo "Generating locale $l.UTF-8"
        $SUDO localedef -c -i "$l" -f UTF-8 "$l.UTF-8"
    fi
done
