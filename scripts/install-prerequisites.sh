#!/usr/bin/env bash
# Installs, with apt-get, whatever a fresh Debian machine lacks to build QXSetup and run its tests.
# wine32 (from the i386 architecture) gives the 64-bit Wine prefixes their 32-bit side, as 64-bit
# Windows has: the shipped program is 32-bit code. Then it makes sure 32-bit code runs at all
# (below); with --packages-only, for a build that runs nothing, it stops after the packages.
#
# Where the kernel runs no 32-bit code, qemu's user-mode emulator runs it: qemu-user-static from
# the distribution's backports suite (its own release is far too slow), handed every i386
# program by a binfmt_misc entry. The entry lasts until the next reboot, and every test run
# comes through here, so it is checked, and mended, each time. A second run changes nothing and
# prints nothing.
#
# Two settings try the other paths on a machine whose kernel runs 32-bit code itself:
#   QXSETUP_I386=emulated   emulated all the same, as where the kernel runs none: a binfmt_misc
#                           entry comes before the kernel's own ELF loader. Unset, an entry of
#                           ours found on such a machine is removed, so that a forced run
#                           cannot leave every later run emulated and slow.
#   QXSETUP_I386_MEND=no    nothing installed, registered, mended or removed for it: only
#                           checked, as on a machine where it cannot be set up.
# Where 32-bit code cannot run in the end, the last line says why and the exit code is 3.
set -euo pipefail
here=$(dirname "$0")
# shellcheck source=scripts/i386.sh
source "$here/i386.sh"

packages_only=false
case ${1:-} in
    "") ;;
    --packages-only) packages_only=true ;;
    *) echo "usage: $0 [--packages-only]" >&2; exit 2 ;;
esac
mode=${QXSETUP_I386:-auto}
[[ $mode == auto || $mode == emulated ]] ||
    { echo "QXSETUP_I386 is emulated or unset, not \"$mode\"" >&2; exit 2; }
mend=${QXSETUP_I386_MEND:-yes}
[[ $mend == yes || $mend == no ]] ||
    { echo "QXSETUP_I386_MEND is no or unset, not \"$mend\"" >&2; exit 2; }

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

install() {
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "$@" \
        >/dev/null
}

install_packages() {
    if ((${#missing[@]} == 0)) && ! $architecture_added; then
        return 0
    fi
    echo "Installing: ${missing[*]}"
    # A mirror caught mid-sync fails one index (seen: bookworm-security's i386 list); the
    # packages usually come from the others, and the install below says so if they do not.
    $sudo apt-get update -qq || echo "apt-get update failed for some index; installing from the rest"
    if ((${#missing[@]} == 0)) || install "${missing[@]}"; then
        return 0
    fi
    # wine32's libraries must match the installed 64-bit ones version for version, which an
    # i386 index left behind by that mirror cannot give. Everything else is installed all the
    # same, so that the builds and the tests that need no 32-bit Wine still run; the check at
    # the end names wine32 as what keeps the shipped program from running.
    local others=() package
    for package in "${missing[@]}"; do
        [[ $package == wine32:i386 ]] || others+=("$package")
    done
    if ((${#others[@]} == ${#missing[@]})); then
        exit 1
    fi
    ((${#others[@]} == 0)) || install "${others[@]}"
    echo "wine32:i386 could not be installed (apt-get refused it): 32-bit Windows programs will not run"
}

install_packages
$packages_only && exit 0

# 32-bit code, emulated where the kernel runs none

qemu=/usr/bin/qemu-i386
# The only packages taken from backports: qemu-user-static is, since qemu 10, a transitional
# package for the other two.
qemu_packages=(qemu-user-static qemu-user qemu-user-binfmt)
codename=$(. /etc/os-release && echo "${VERSION_CODENAME:-}")
backports=$codename-backports
entry=$I386_BINFMT/$I386_ENTRY
# What the kernel shows of our entry: i386 ELF executables and shared objects (e_type 2 and 3,
# e_machine 3), any OS ABI byte. P keeps the program's own argv[0] (Wine reads it); F opens
# the emulator once, at registration, so it runs wherever the program sits and whatever root
# it has.
entry_shown="enabled
interpreter $qemu
flags: PF
offset 0
magic 7f454c4601010100000000000000000002000300
mask fffffffffffefe00fffffffffffffffffeffffff"
entry_written=":$I386_ENTRY:M::\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00:\xff\xff\xff\xff\xff\xfe\xfe\x00\xff\xff\xff\xff\xff\xff\xff\xff\xfe\xff\xff\xff:$qemu:FP"

cannot_run() {
    echo "32-bit code cannot run here: $*"
    exit 3
}

# The installed emulator's version line ("qemu-i386 version 10.0.2 (Debian …)"); nothing if none.
qemu_version_line() {
    if [[ -x $qemu ]]; then "$qemu" --version 2>/dev/null | head -n 1 || true; fi
}

# qemu before 8.0 emulates i386 code so slowly that one start of a 32-bit Windows program took
# 55 s (10.0 takes 0.5 s): the end-to-end tests could not finish.
qemu_new_enough() {
    [[ $(qemu_version_line) =~ version\ ([0-9]+)\. ]] && ((BASH_REMATCH[1] >= 8))
}

write_if_changed() {
    local path=$1 text=$2
    if [[ ! -f $path || $(<"$path") != "$text" ]]; then
        printf '%s\n' "$text" | $sudo tee "$path" >/dev/null
    fi
}

install_qemu() {
    qemu_new_enough && return 0
    [[ -n $codename ]] || cannot_run "/etc/os-release names no release, so no backports suite to take qemu from"
    local why="this kernel runs no 32-bit code itself"
    [[ $mode == emulated ]] && why="QXSETUP_I386=emulated asks for emulation"
    echo "Installing qemu-user-static from $backports ($codename's own qemu is too slow): $why"
    # The mirror and key of the release itself.
    local mirror
    mirror=$(apt-cache policy | awk -v suite=" $codename/main" '
        index($0, suite " ") && $2 ~ /^https?:/ { print $2; exit }')
    write_if_changed "/etc/apt/sources.list.d/qxsetup-$backports.sources" "Types: deb
URIs: ${mirror:-http://deb.debian.org/debian}
Suites: $backports
Components: main
Signed-By: /usr/share/keyrings/debian-archive-keyring.gpg"
    # Everything else of backports stays out, whatever asks for it.
    write_if_changed "/etc/apt/preferences.d/qxsetup-$backports" "Package: ${qemu_packages[*]}
Pin: release n=$backports
Pin-Priority: 500

Package: *
Pin: release n=$backports
Pin-Priority: -1"
    $sudo apt-get update -qq || echo "apt-get update failed for some index; installing from the rest"
    install "${qemu_packages[@]}" || true
    if ! qemu_new_enough; then
        local found
        found=$(qemu_version_line)
        cannot_run "qemu-i386 is ${found:-not installed}${found:+, older than 8.0, which runs 32-bit Wine far too slowly (a start took 55 s)}; $backports should give 8.0 or later"
    fi
}

register() {
    if [[ ! -e $I386_BINFMT/register ]]; then
        [[ -d $I386_BINFMT ]] || cannot_run "this kernel has no binfmt_misc, which would hand i386 programs to qemu"
        $sudo mount -t binfmt_misc binfmt_misc "$I386_BINFMT" 2>/dev/null ||
            cannot_run "binfmt_misc cannot be mounted at $I386_BINFMT, so no i386 program reaches qemu"
    fi
    local why=
    if [[ ! -e $entry ]]; then
        why="this kernel runs no 32-bit code itself"
        [[ $mode == emulated ]] && why="QXSETUP_I386=emulated asks for it"
    elif [[ $(<"$entry") != "$entry_shown" ]]; then
        why="replacing an entry that differed or was disabled"
    elif [[ $(i386_probe plain QEMU_VERSION=1 | head -n 1) != "$(qemu_version_line)" ]]; then
        # With F, the kernel keeps the emulator it opened at registration, also after an
        # upgrade replaced the file: it has to be registered again to run the new one.
        why="the entry still ran the qemu that $qemu was before an upgrade"
    else
        return 0
    fi
    [[ -e $entry ]] && { echo -1 | $sudo tee "$entry" >/dev/null; }
    local error
    if ! error=$(printf '%s' "$entry_written" | $sudo tee "$I386_BINFMT/register" 2>&1 >/dev/null); then
        cannot_run "binfmt_misc refused the entry $I386_ENTRY for $qemu (${error##*: })"
    fi
    echo "Registered $qemu with binfmt_misc as $I386_ENTRY, for i386 programs: $why"
}

# Why i386 programs do not reach qemu: one line.
why_not_emulated() {
    if [[ ! -e $I386_BINFMT/register ]]; then
        echo "binfmt_misc is not mounted at $I386_BINFMT, so no i386 program reaches qemu"
    elif [[ ! -e $entry ]]; then
        echo "binfmt_misc has no entry $I386_ENTRY, so no i386 program reaches qemu"
    elif [[ $(head -n 1 "$entry") != enabled ]]; then
        echo "the binfmt_misc entry $I386_ENTRY, which hands i386 programs to qemu, is disabled"
    elif ! qemu_new_enough; then
        echo "the binfmt_misc entry $I386_ENTRY hands i386 programs to $qemu, which is not qemu 8.0 or later"
    else
        echo "an i386 program does not start, even through the binfmt_misc entry $I386_ENTRY"
    fi
}

if [[ $mend == yes ]]; then
    if [[ $mode == auto ]] && i386_kernel_runs; then
        if [[ -e $entry ]]; then
            echo -1 | $sudo tee "$entry" >/dev/null
            echo "Removed the binfmt_misc entry $I386_ENTRY: this kernel runs 32-bit code itself"
        fi
    else
        install_qemu
        register
    fi
fi

# Why i386 programs do not run: one line.
why_not_running() {
    if [[ $mode == emulated ]]; then
        echo "QXSETUP_I386=emulated, and $(why_not_emulated)"
    elif i386_kernel_runs; then
        echo "this kernel runs i386 programs, but binfmt_misc hands them to an emulator that does not start them (see $I386_BINFMT)"
    else
        echo "this kernel runs no i386 program itself, and $(why_not_emulated)"
    fi
}

how=$(i386_how) || cannot_run "$(why_not_running)"
[[ $mode == emulated && $how != emulated* ]] && cannot_run "$(why_not_running)"
/usr/lib/wine/wine --version >/dev/null 2>&1 ||
    cannot_run "Wine's 32-bit loader /usr/lib/wine/wine does not start (is wine32:i386 installed?)"
exit 0
