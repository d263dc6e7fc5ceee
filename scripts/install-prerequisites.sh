#!/usr/bin/env bash
# Installs, with apt-get, whatever a fresh Debian machine lacks to build QXSetup and run its tests.
# wine32 (from the i386 architecture) gives the 64-bit Wine prefixes their 32-bit side, as 64-bit
# Windows has: the shipped program is 32-bit code. On a machine whose kernel runs no 32-bit code
# it installs all the same and the tests fall back to the 64-bit twin.
set -euo pipefail

packages=(
    cmake g++ make libgtest-dev libgmock-dev              # native build and unit tests
    clang libclang-rt-14-dev                              # sanitizers, libFuzzer
    g++-mingw-w64-i686-win32 g++-mingw-w64-x86-64-posix   # the Windows builds
    mingw-w64-tools binutils-mingw-w64-i686 binutils-mingw-w64-x86-64
    wine64 wine32:i386 xvfb xauth                         # running the program headless
    fonts-wqy-zenhei fonts-wine                           # Chinese glyphs, caption buttons
    python3 python3-pefile icoutils imagemagick           # checks, screenshots, resources
    git osslsigncode openssl ca-certificates              # releases: the commit, signing
    wixl msitools faketime                                # the Windows Installer package
)

if [[ $(id -u) -ne 0 ]]; then
    sudo=sudo
else
    sudo=
fi

architecture_added=false
if ! dpkg --print-foreign-architectures | grep -qx i386; then
    $sudo dpkg --add-architecture i386
    architecture_added=true
fi

missing=()
for package in "${packages[@]}"; do
    if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed"; then
        missing+=("$package")
    fi
done

if ((${#missing[@]} == 0)) && ! $architecture_added; then
    exit 0
fi

echo "Installing: ${missing[*]}"
# A mirror caught mid-sync fails one index (seen: bookworm-security's i386 list); the packages
# usually come from the others, and the install below says so if they do not.
$sudo apt-get update -qq || echo "apt-get update failed for some index; installing from the rest"

install() {
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "$@" \
        >/dev/null
}

if ((${#missing[@]} == 0)) || install "${missing[@]}"; then
    exit 0
fi
# wine32's libraries must match the installed 64-bit ones version for version, which an i386
# index left behind by that mirror cannot give. Everything else is installed all the same: the
# end-to-end tests then run the shipped program's 64-bit twin and count its own runs as skipped
# (scripts/test.sh says so), rather than nothing being tested at all.
others=()
for package in "${missing[@]}"; do
    [[ $package == wine32:i386 ]] || others+=("$package")
done
if ((${#others[@]} == ${#missing[@]})); then
    exit 1
fi
((${#others[@]} == 0)) || install "${others[@]}"
echo "wine32:i386 could not be installed (apt-get refused it): 32-bit Windows programs will not run"
