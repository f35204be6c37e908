#!/usr/bin/env bash
# Cross-builds libpng and libjpeg-turbo as static libraries for Windows from Debian's own
# source packages into PREFIX, once: Debian's JUCE leaves out JUCE's bundled copies.
# Usage: windows-image-libs.sh TOOLCHAIN_FILE PREFIX
set -euo pipefail
toolchain="$1"
prefix="$2"
work="$prefix.work"

if [ -f "$prefix/.complete" ]; then
    exit 0
fi

rm -rf "$work" "$prefix"
mkdir -p "$work" "$prefix"
cd "$work"
apt-get source -qq --download-only libpng1.6 libjpeg-turbo > /dev/null 2>&1
for dsc in libpng1.6_*.dsc libjpeg-turbo_*.dsc; do
    dpkg-source -x "$dsc" > /dev/null 2>&1
done
png_src="$(ls -d libpng1.6-*/)"
jpeg_src="$(ls -d libjpeg-turbo-*/)"

common=(-G "Unix Makefiles" -DCMAKE_TOOLCHAIN_FILE="$toolchain" -DCMAKE_BUILD_TYPE=Release
        -DCMAKE_INSTALL_PREFIX="$prefix" -DCMAKE_POSITION_INDEPENDENT_CODE=OFF)

cmake -S "$jpeg_src" -B jpeg-build "${common[@]}" \
    -DENABLE_SHARED=OFF -DENABLE_STATIC=ON -DWITH_SIMD=OFF -DWITH_TURBOJPEG=OFF -DWITH_JAVA=OFF > /dev/null
cmake --build jpeg-build -j "$(nproc)" --target jpeg-static > /dev/null
# The library and its public headers; JUCE also includes jpegint.h (JPEG_INTERNALS).
mkdir -p "$prefix/lib" "$prefix/include"
cp jpeg-build/libjpeg.a "$prefix/lib/"
cp "$jpeg_src"/jpeglib.h "$jpeg_src"/jmorecfg.h "$jpeg_src"/jerror.h "$jpeg_src"/jpegint.h \
   jpeg-build/jconfig.h "$prefix/include/"

cmake -S "$png_src" -B png-build "${common[@]}" \
    -DPNG_SHARED=OFF -DPNG_STATIC=ON -DPNG_TESTS=OFF -DPNG_EXECUTABLES=OFF -DPNG_HARDWARE_OPTIMIZATIONS=OFF \
    -DZLIB_USE_STATIC_LIBS=ON > /dev/null
cmake --build png-build -j "$(nproc)" > /dev/null
cmake --install png-build > /dev/null

touch "$prefix/.complete"
rm -rf "$work"
