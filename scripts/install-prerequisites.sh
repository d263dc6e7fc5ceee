#!/usr/bin/env bash
# Installs, with apt-get, whatever a fresh Debian machine lacks to build QXSetup and run its tests.
# wine32 and the i386 architecture are deliberately absent: this machine runs no 32-bit code, and
# with wine32 present /usr/bin/wine picks the 32-bit loader and fails.
set -euo pipefail

packages=(
    cmake g++ make libgtest-dev libgmock-dev              # native build and unit tests
    g++-mingw-w64-i686-win32 g++-mingw-w64-x86-64-posix   # the Windows builds
    mingw-w64-tools binutils-mingw-w64-i686 binutils-mingw-w64-x86-64
    wine64 xvfb xauth                                     # running the program headless
    fonts-wqy-zenhei fonts-wine                           # Chinese glyphs, caption buttons
    python3 python3-pefile icoutils imagemagick           # checks, screenshots, resources
    git osslsigncode openssl ca-certificates              # releases: the commit, signing
)

missing=()
for package in "${packages[@]}"; do
    if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed"; then
        missing+=("$package")
    fi
done

if ((${#missing[@]} == 0)); then
    exit 0
fi

echo "Installing: ${missing[*]}"
if [[ $(id -u) -ne 0 ]]; then
    sudo=sudo
else
    sudo=
fi
$sudo apt-get update -qq
DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}" \
    >/dev/null
