#!/usr/bin/env bash
# Installs what building, running and testing need on Debian 12, once.
set -euo pipefail

packages=(
    build-essential cmake pkg-config python3
    juce-modules-source
    libgtest-dev libgmock-dev libbenchmark-dev
    libhidapi-dev libudev-dev libsystemd-dev python3-dbusmock libfontconfig-dev libfreetype-dev libx11-dev
    umockdev libumockdev-dev gir1.2-umockdev-1.0
    xvfb xdotool x11-utils imagemagick tesseract-ocr tesseract-ocr-eng util-linux openbox
    fonts-noto-cjk fonts-liberation2 fonts-dejavu-core
    locales
    clang-14 libclang-rt-14-dev
)

"$(dirname "$0")/install-missing.sh" "${packages[@]}"
if [ "$(id -u)" -ne 0 ]; then SUDO=sudo; else SUDO=; fi

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
