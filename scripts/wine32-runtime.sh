#!/usr/bin/env bash
# Makes sure this machine can start 32-bit Windows programs under Wine, and prints the
# folder whose wine, wineboot and wineserver start them:
#   - /usr/bin, where Debian's wine32:i386 is installed or installs now;
#   - otherwise DIR/bin, a private 32-bit Wine put together in DIR (default build-wine32/)
#     from Debian's i386 packages, downloaded and unpacked without installing them, on top
#     of the installed amd64 wine64 and amd64's 32-bit libc (libc6-i386). The archive's i386
#     lists are not always whole, and apt then cannot install wine32:i386 beside amd64
#     libraries at security versions; unpacking needs no such match.
# One line on stderr says which, and why. Prints nothing and exits 1 when neither works.
# KRV_WINE32=system or private takes only that way (auto, the default, tries both).
# Usage: scripts/wine32-runtime.sh [DIR]
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
dir="$(realpath -m "${1:-${KRV_WINE32_DIR:-$root/build-wine32}}")"
mode="${KRV_WINE32:-auto}"
if [ "$(id -u)" -ne 0 ]; then SUDO=sudo; else SUDO=; fi
say() { echo "wine32: $*" >&2; }

installed() { dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q "install ok installed"; }

# What a 32-bit JUCE window under Wine needs besides Wine itself: X11 and its extensions,
# fonts, and OpenGL with Mesa's software driver (without GL, Wine's 32-bit DXGI has no
# factory and JUCE stops at start).
runtime_seeds=(zlib1g libfontconfig1 libfreetype6 libx11-6 libxext6 libxrender1 libxrandr2 libxi6 libxcursor1
               libxinerama1 libxcomposite1 libxfixes3 libxxf86vm1 libgl1 libgl1-mesa-dri libglx-mesa0 libegl1
               libegl-mesa0)

# The system's wine32:i386 with the same runtime libraries (a 32-bit JUCE window crashes at
# start without the X11 extension libraries, which nothing else pulls in).
system_wine32() {
    local wanted=(wine32:i386 "${runtime_seeds[@]/%/:i386}") missing=() p
    for p in "${wanted[@]}"; do installed "$p" || missing+=("$p"); done
    if [ ${#missing[@]} -eq 0 ]; then
        say "the system's wine32:i386"
        echo /usr/bin
        return 0
    fi
    dpkg --print-foreign-architectures | grep -qx i386 || return 1
    local log="$dir/apt-install-wine32.log"
    mkdir -p "$dir"
    if DEBIAN_FRONTEND=noninteractive $SUDO apt-get -o DPkg::Lock::Timeout=900 install -y -qq --no-install-recommends \
        "${missing[@]}" > "$log" 2>&1; then
        say "the system's wine32:i386 (installed now: ${missing[*]})"
        echo /usr/bin
        return 0
    fi
    say "apt cannot install wine32:i386 here: $(grep -E '^E: ' "$log" | tail -n 1 | cut -c1-160)"
    return 1
}

# The i386 packages to unpack: wine32 and libwine at the installed wine64's version (not their Depends, which
# reach GStreamer, PulseAudio and more that these programs never load), and the closure of
# the runtime seeds, leaving out the C and C++ runtimes that amd64's lib32 packages give.
package_list() {
    {
        echo "wine32:i386=$1"
        echo "libwine:i386=$1"
        apt-cache "${as_if_nothing_installed[@]}" depends --recurse --no-recommends --no-suggests --no-conflicts --no-breaks --no-replaces \
            --no-enhances "${runtime_seeds[@]/%/:i386}" | grep -E '^(lib[^ ]*|zlib1g):i386$'
    } | grep -vE '^(libc6|libgcc-s1|libstdc\+\+6):' | sort -u
}

assemble() {
    local tree="$dir/root" debs="$dir/debs" wine_version
    wine_version="$(dpkg-query -W -f='${Version}' wine64)"
    local stamp="wine64 $wine_version"
    if [ -f "$dir/ready" ] && [ "$(cat "$dir/ready")" = "$stamp" ]; then
        return 0
    fi
    installed wine64 && installed libc6-i386 && installed lib32stdc++6 || {
        say "the private runtime needs wine64, libc6-i386 and lib32stdc++6 installed"
        return 1
    }
    rm -rf "$tree" "$dir/ready"
    mkdir -p "$tree" "$debs"

    # The versions the archive serves, not the installed ones: an i386 package installed from
    # somewhere apt no longer reaches would otherwise be the candidate, and cannot be downloaded.
    : > "$dir/no-status"
    as_if_nothing_installed=(-o "Dir::State::status=$dir/no-status")
    local packages
    packages="$(package_list "$wine_version")" || { say "apt knows no i386 packages (is the i386 architecture added?)"; return 1; }
    # apt's sandbox user must be able to write into the download folder.
    chmod 777 "$debs"
    # shellcheck disable=SC2086 # one package a word
    (cd "$debs" && apt-get "${as_if_nothing_installed[@]}" -qq download $packages) > "$dir/download.log" 2>&1 \
        || { say "downloading the i386 packages failed: $(grep -E '^E: ' "$dir/download.log" | tail -n 1)"; return 1; }
    local d
    for d in "$debs"/*.deb; do dpkg-deb -x "$d" "$tree"; done

    # Wine finds its folders through the real path of its loader and of ntdll.so, so the
    # 64-bit half lives in the tree too: real copies of the loader, the server and ntdll.so,
    # links for the rest.
    local wine="$tree/usr/lib/wine" amd64="/usr/lib/x86_64-linux-gnu/wine" unix
    cp /usr/lib/wine/wine64 /usr/lib/wine/wineserver64 /usr/lib/wine/wineserver "$wine/"
    mkdir -p "$tree$amd64/x86_64-unix"
    ln -sfn "$amd64/x86_64-windows" "$tree$amd64/x86_64-windows"
    for unix in "$amd64"/x86_64-unix/*; do ln -sfn "$unix" "$tree$amd64/x86_64-unix/"; done
    rm "$tree$amd64/x86_64-unix/ntdll.so"
    cp "$amd64/x86_64-unix/ntdll.so" "$tree$amd64/x86_64-unix/"
    # libwine's install script makes the 32-bit zlib1.dll (user32 needs it); the amd64
    # package's script made the same file for its own tree.
    cp "$amd64/i386-windows/zlib1.dll" "$tree/usr/lib/i386-linux-gnu/wine/i386-windows/"

    # Fonts as the system configures them, with a cache of the tree's own for the 32-bit
    # fontconfig (its cache files are per architecture).
    mkdir -p "$dir/fontconfig-cache"
    cat > "$dir/fonts.conf" <<EOF
<?xml version="1.0"?>
<!DOCTYPE fontconfig SYSTEM "urn:fontconfig:fonts.dtd">
<fontconfig>
  <cachedir>$dir/fontconfig-cache</cachedir>
  <include ignore_missing="yes">/etc/fonts/fonts.conf</include>
</fontconfig>
EOF

    mkdir -p "$dir/bin"
    cat > "$dir/bin/wine-env" <<EOF
# The environment of the private 32-bit Wine in $dir (sourced by its commands).
export LD_LIBRARY_PATH="$tree/usr/lib/i386-linux-gnu:$tree/lib/i386-linux-gnu\${LD_LIBRARY_PATH:+:\$LD_LIBRARY_PATH}"
export LIBGL_DRIVERS_PATH="$tree/usr/lib/i386-linux-gnu/dri:/usr/lib/x86_64-linux-gnu/dri"
export __EGL_VENDOR_LIBRARY_DIRS="$tree/usr/share/glvnd/egl_vendor.d:/usr/share/glvnd/egl_vendor.d"
export FONTCONFIG_FILE="$dir/fonts.conf"
export WINELOADER="$wine/wine"
export WINESERVER="$wine/wineserver64"
EOF
    local command
    for command in wine wineboot wineserver; do
        case "$command" in
            wine) run="exec \"$wine/wine\" \"\$@\"" ;;
            wineboot) run="exec \"$wine/wine\" wineboot \"\$@\"" ;;
            wineserver) run="exec \"$wine/wineserver64\" -p0 \"\$@\"" ;;
        esac
        printf '#!/bin/sh\n. "%s"\n%s\n' "$dir/bin/wine-env" "$run" > "$dir/bin/$command"
        chmod +x "$dir/bin/$command"
    done

    # A console program of each bitness in a prefix of its own: the runtime starts them both.
    local probe="$dir/probe-prefix" bits out ok=1
    rm -rf "$probe"
    for bits in 32 64; do
        local exe="$dir/probe$bits.exe" cc=i686-w64-mingw32-gcc-posix
        [ "$bits" = 32 ] || cc=x86_64-w64-mingw32-gcc-posix
        printf '#include <stdio.h>\nint main(void) { printf("%%d-bit\\n", (int) sizeof (void*) * 8); return 0; }\n' \
            | "$cc" -x c -o "$exe" - || { ok=0; break; }
        out="$(WINEPREFIX="$probe" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=" DISPLAY='' \
                timeout 180 "$dir/bin/wine" "$exe" 2> "$dir/probe$bits.log" | tr -d '\r')" || true
        [ "$out" = "$bits-bit" ] || { say "the private runtime did not start a $bits-bit program: $(tail -n 3 "$dir/probe$bits.log")"; ok=0; }
    done
    WINEPREFIX="$probe" "$dir/bin/wineserver" -k 2>/dev/null || true
    rm -rf "$probe" "$dir"/probe*.exe
    [ "$ok" = 1 ] || return 1
    echo "$stamp" > "$dir/ready"
}

if [ "$mode" != private ] && system_wine32; then
    exit 0
fi
if [ "$mode" != system ]; then
    if assemble; then
        say "a private 32-bit Wine in $dir ($(wc -l < <(ls "$dir/debs")) i386 packages unpacked, none installed)"
        echo "$dir/bin"
        exit 0
    fi
fi
say "no 32-bit Wine on this machine"
exit 1
