# shellcheck shell=bash
# How this machine runs 32-bit x86 (i386) code, told by running a tiny i386 program of our own
# rather than guessed from uname: kernels built for x86_64 may or may not run it. Sourced by
# install-prerequisites.sh and test.sh.

# binfmt_misc's name for the entry that hands i386 programs to qemu, and where binfmt_misc is
# (both for the scripts that source this).
# shellcheck disable=SC2034
I386_ENTRY=qxsetup-i386
# shellcheck disable=SC2034
I386_BINFMT=/proc/sys/fs/binfmt_misc

# Writes a 96-byte static i386 ELF that exits with 42 to $1. With $2 = padded, the last byte of
# its identification padding is 1: the kernel's own ELF loader ignores that byte, while the
# i386 magic every emulator registers with binfmt_misc requires it to be 0. The padded program
# therefore reaches the kernel itself whatever is registered; the plain one runs as any i386
# program here does.
i386_write_probe() {
    local pad=00
    [[ ${2:-} == padded ]] && pad=01
    {
        # ELF header: 32-bit, little-endian, an executable for the i386, one program header.
        printf '\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00'
        printf '%b' "\\x$pad"
        printf '\x02\x00\x03\x00\x01\x00\x00\x00\x54\x80\x04\x08\x34\x00\x00\x00'
        printf '\x00\x00\x00\x00\x00\x00\x00\x00\x34\x00\x20\x00\x01\x00\x00\x00\x00\x00\x00\x00'
        # One loaded segment, the whole file at 0x08048000, readable and executable.
        printf '\x01\x00\x00\x00\x00\x00\x00\x00\x00\x80\x04\x08\x00\x80\x04\x08'
        printf '\x60\x00\x00\x00\x60\x00\x00\x00\x05\x00\x00\x00\x00\x10\x00\x00'
        # mov ebx, 42; mov eax, 1 (exit); int 0x80
        printf '\xbb\x2a\x00\x00\x00\xb8\x01\x00\x00\x00\xcd\x80'
    } >"$1"
    chmod +x "$1"
}

# Runs the probe ($1: plain or padded) with the rest as its environment; its output on stdout.
# Fails unless it ran to its own end (exit 42), or QEMU_VERSION made qemu answer instead.
i386_probe() {
    local kind=$1 dir status=0
    shift
    dir=$(mktemp -d)
    i386_write_probe "$dir/probe" "$kind"
    env "$@" "$dir/probe" 2>/dev/null || status=$?
    rm -rf "$dir"
    [[ $status -eq 42 || ($# -gt 0 && $status -eq 0) ]]
}

# Whether the kernel itself runs i386 code (no emulator involved).
i386_kernel_runs() {
    i386_probe padded >/dev/null
}

# How an ordinary i386 program runs here: "native", "emulated (qemu-i386 10.0.2 through
# binfmt_misc)", or nothing and a failure where it does not run at all. qemu's user-mode
# emulator answers QEMU_VERSION with its version instead of running the program.
i386_how() {
    i386_probe plain >/dev/null || return 1
    local answer
    answer=$(i386_probe plain QEMU_VERSION=1 | head -n 1) || true
    if [[ $answer =~ ^qemu-i386\ version\ ([0-9][0-9.]*) ]]; then
        echo "emulated (qemu-i386 ${BASH_REMATCH[1]} through binfmt_misc)"
    elif i386_kernel_runs; then
        echo native
    else
        echo "emulated (through binfmt_misc, not by qemu)"
    fi
}
