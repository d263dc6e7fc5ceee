#!/usr/bin/env bash
# Builds the shipped QXSetup.exe from the commit checked out here, signs it when a certificate is
# given, verifies the signature, and writes dist/QXSetup-<version>/ with the exe, SHA256SUMS and
# RELEASE.txt. The version is the one the build puts in the exe's version resource. Given
# Quorvale's add-in and workbook, it also builds the per-user Windows Installer package
# QXSetup-<version>.msi from that exe, signed and verified the same way.
#
#   QXSETUP_ADDIN and QXSETUP_WORKBOOK           安装.xla and TORVA.xls, for the package; they are
#                                                Quorvale's own, not in this repository
# Authenticode signing with SHA-256 (osslsigncode), from files named by:
#   QXSETUP_SIGN_PFX and QXSETUP_SIGN_PASSWORD   a PKCS#12 file and its password, or
#   QXSETUP_SIGN_CERT and QXSETUP_SIGN_KEY       a PEM certificate chain and its PEM key
#                                                (QXSETUP_SIGN_PASSWORD when the key is encrypted)
#   QXSETUP_TIMESTAMP_URL                        an RFC 3161 time-stamp server, optional
# Without a certificate the release is unsigned, and its last line and RELEASE.txt say so.
set -euo pipefail

fail() {
    echo "release.sh: $*" >&2
    exit 1
}

# The variables may name files relative to where the command was started.
absolute() {
    if [[ -n $1 ]]; then realpath -m -- "$1"; fi
}
pfx=$(absolute "${QXSETUP_SIGN_PFX:-}")
cert=$(absolute "${QXSETUP_SIGN_CERT:-}")
key=$(absolute "${QXSETUP_SIGN_KEY:-}")
addin=$(absolute "${QXSETUP_ADDIN:-}")
workbook=$(absolute "${QXSETUP_WORKBOOK:-}")

cd "$(dirname "$0")/.."
# A build runs no 32-bit code: how this machine would run it is left as it is.
scripts/install-prerequisites.sh --packages-only

git rev-parse --verify -q HEAD >/dev/null || fail "not a git checkout with a commit: a release is built from a commit"
changes=$(git status --porcelain)
if [[ -n $changes ]]; then
    echo "$changes" >&2
    fail "refused: the work tree differs from the commit (above). A release is built from a commit alone: commit or stash the changes, or run this in a fresh clone."
fi
commit=$(git rev-parse HEAD)

# A half-given certificate is a mistake, not a wish for an unsigned release.
signing=()
if [[ -n $pfx && (-n $cert || -n $key) ]]; then
    fail "set QXSETUP_SIGN_PFX, or QXSETUP_SIGN_CERT with QXSETUP_SIGN_KEY, not both"
elif [[ -n $pfx ]]; then
    [[ -r $pfx ]] || fail "QXSETUP_SIGN_PFX: cannot read $pfx"
    signing=(-pkcs12 "$pfx")
elif [[ -n $cert || -n $key ]]; then
    [[ -n $cert && -n $key ]] || fail "QXSETUP_SIGN_CERT and QXSETUP_SIGN_KEY go together"
    [[ -r $cert ]] || fail "QXSETUP_SIGN_CERT: cannot read $cert"
    [[ -r $key ]] || fail "QXSETUP_SIGN_KEY: cannot read $key"
    signing=(-certs "$cert" -key "$key")
fi
timestamping=()
if [[ -n ${QXSETUP_TIMESTAMP_URL:-} ]]; then
    timestamping=(-ts "$QXSETUP_TIMESTAMP_URL")
fi
# Likewise a package with only one of its two files.
packaging=false
if [[ -n $addin || -n $workbook ]]; then
    [[ -n $addin && -n $workbook ]] || fail "QXSETUP_ADDIN and QXSETUP_WORKBOOK go together"
    [[ -f $addin && -r $addin ]] || fail "QXSETUP_ADDIN: cannot read $addin"
    [[ -f $workbook && -r $workbook ]] || fail "QXSETUP_WORKBOOK: cannot read $workbook"
    packaging=true
fi

# Whatever happens, nothing is left half-made: not the scratch folder, and not the staging
# folder in dist/, which only a finished release leaves as dist/QXSetup-<version>.
work=$(mktemp -d -t qxsetup-release.XXXXXX)
stage=
remove_scratch() {
    rm -rf "$work"
    if [[ -n $stage ]]; then rm -rf "$stage"; fi
}
trap remove_scratch EXIT
trap 'exit 130' INT
trap 'exit 143' TERM
trap 'exit 129' HUP

show_log_and_fail() {
    cat "$1" >&2
    fail "$2"
}

echo "Building commit $commit"
cmake --preset i686 -B "$work/build" >"$work/configure.log" 2>&1 ||
    show_log_and_fail "$work/configure.log" "configuring the i686 build failed"
cmake --build "$work/build" --parallel "$(nproc)" >"$work/build.log" 2>&1 ||
    show_log_and_fail "$work/build.log" "the i686 build failed"
built=$work/build/QXSetup.exe
version=$(sed -n 's/^#define QX_VERSION_TEXT "\(.*\)"$/\1/p' "$work/build/generated/version.h")
[[ -n $version ]] || fail "the build's version.h has no QX_VERSION_TEXT"
pe_header=$(od -An -tu4 -j 60 -N 4 "$built" | tr -d ' ')
pe_time_stamp=$(od -An -tu4 -j $((pe_header + 8)) -N 4 "$built" | tr -d ' ')
package_name=QXSetup-$version.msi

# The password reaches osslsigncode through a pipe, never its command line, which ps shows. The
# pipe lives as long as the one command it is written on.
sign() {
    if [[ -n ${QXSETUP_SIGN_PASSWORD:-} ]]; then
        osslsigncode sign -readpass <(printf '%s' "$QXSETUP_SIGN_PASSWORD") "$@"
    else
        osslsigncode sign "$@"
    fi
}

# Signs $1 into $2 (further arguments go to the signing) and checks the signature; sets signer.
# Trusted for the check: the chain that
# came with the certificate, and the system's roots. It proves the signature covers the file,
# the chain is whole, and the certificate is valid and meant for code signing now; whether the
# signer is trusted is each administrator's call.
sign_and_verify() {
    local in=$1 out=$2 name checks
    shift 2
    name=$(basename "$out")
    # osslsigncode writes no file that already exists: each file gets a folder of its own.
    checks=$(mktemp -d "$work/signing.XXXXXX")
    sign "${signing[@]}" -h sha256 "${timestamping[@]}" "$@" -in "$in" -out "$out" >"$checks/sign.log" 2>&1 ||
        show_log_and_fail "$checks/sign.log" "signing $name failed"
    osslsigncode extract-signature -pem -in "$out" -out "$checks/signature.pem" >/dev/null
    openssl pkcs7 -in "$checks/signature.pem" -print_certs -out "$checks/trusted.pem"
    if [[ -r /etc/ssl/certs/ca-certificates.crt ]]; then
        cat /etc/ssl/certs/ca-certificates.crt >>"$checks/trusted.pem"
    fi
    osslsigncode verify -in "$out" -CAfile "$checks/trusted.pem" \
        -TSA-CAfile "$checks/trusted.pem" >"$checks/verify.log" 2>&1 ||
        show_log_and_fail "$checks/verify.log" "the signed $name does not verify: nothing written to dist/"
    signer=$(sed -n 's/^[[:space:]]*Subject: //p' "$checks/verify.log" | head -n 1)
}

release=$work/QXSetup.exe
if ((${#signing[@]})); then
    echo "Signing"
    sign_and_verify "$built" "$release"
    signature="Authenticode, SHA-256, by $signer"
    if ((${#timestamping[@]})); then
        signature+="; time-stamped by $QXSETUP_TIMESTAMP_URL"
    else
        signature+="; not time-stamped: it is valid until the certificate expires"
    fi
else
    cp "$built" "$release"
    signature="unsigned: no certificate was given (QXSETUP_SIGN_PFX, or QXSETUP_SIGN_CERT and QXSETUP_SIGN_KEY)"
fi

# The package holds the exe as released, signature and all, and is itself signed the same way.
if $packaging; then
    echo "Building $package_name"
    mkdir "$work/built"
    built_package=$work/built/$package_name
    SOURCE_DATE_EPOCH=$pe_time_stamp /usr/bin/python3 package/build_msi.py --exe "$release" \
        --addin "$addin" --workbook "$workbook" --output "$built_package" \
        --identity "$work/package.identity" >"$work/package.log" 2>&1 ||
        show_log_and_fail "$work/package.log" "building $package_name failed"
    # The builder's identity of the package, key=value: file, version, product_code, sha256.
    declare -A package=()
    while IFS='=' read -r name value; do
        package[$name]=$value
    done <"$work/package.identity"
    for name in file version product_code sha256; do
        [[ -n ${package[$name]:-} ]] || fail "build_msi.py's identity of the package has no $name"
    done
    [[ ${package[file]} == "$package_name" ]] || fail "build_msi.py named the package ${package[file]}, not $package_name"
    package_built_hash=$(sha256sum "$built_package" | cut -d ' ' -f 1)
    [[ ${package[sha256]} == "$package_built_hash" ]] || fail "build_msi.py's SHA-256 of the package is not that of the file it wrote"
    package_identity="Windows Installer version ${package[version]}, product code ${package[product_code]}"
    if ((${#signing[@]})); then
        # The extended signature also covers the streams' metadata, as signtool's does.
        sign_and_verify "$built_package" "$work/$package_name" -add-msi-dse
    else
        cp "$built_package" "$work/$package_name"
    fi
fi

release_hash=$(sha256sum "$release" | cut -d ' ' -f 1)
built_hash=$(sha256sum "$built" | cut -d ' ' -f 1)
toolchain=$(dpkg-query -W -f='    ${Package} ${Version}\n' g++-mingw-w64-i686-win32 \
    gcc-mingw-w64-i686-win32 gcc-mingw-w64-i686-win32-runtime binutils-mingw-w64-i686 \
    mingw-w64-i686-dev mingw-w64-common cmake)

mkdir -p dist
stage=$(mktemp -d "dist/.QXSetup-$version.XXXXXX")
chmod 755 "$stage"
cp "$release" "$stage/QXSetup.exe"
echo "$release_hash  QXSetup.exe" >"$stage/SHA256SUMS"
if $packaging; then
    cp "$work/$package_name" "$stage/$package_name"
    package_hash=$(sha256sum "$stage/$package_name" | cut -d ' ' -f 1)
    echo "$package_hash  $package_name" >>"$stage/SHA256SUMS"
    package_line="$package_name, $package_identity
Package SHA-256: $package_hash  $package_name
Package built:   $package_built_hash (before any signature)"
    package_rebuild="
Rebuild the package from the released exe and the same add-in and workbook:
    SOURCE_DATE_EPOCH=$pe_time_stamp /usr/bin/python3 package/build_msi.py --exe QXSetup.exe \\
        --addin <安装.xla> --workbook <TORVA.xls> --output rebuilt.msi
    sha256sum rebuilt.msi     # \"Package built\""
else
    package_line="none: QXSETUP_ADDIN and QXSETUP_WORKBOOK were not given (the add-in and the workbook are Quorvale's own)"
    package_rebuild=
fi
(cd "$stage" && sha256sum -c --quiet SHA256SUMS) || fail "a file changed on its way to dist/"

if ((${#signing[@]})); then
    signature_check="
    osslsigncode verify -in QXSetup.exe -CAfile <the root certificates you trust, PEM>
or on Windows: the file's Properties > Digital Signatures, or in PowerShell
    Get-AuthenticodeSignature .\\QXSetup.exe"
    unsigning="
The signed exe less its signature is that build:
    osslsigncode remove-signature -in QXSetup.exe -out QXSetup-as-built.exe
    sha256sum QXSetup-as-built.exe"
else
    signature_check=
    unsigning=
fi
cat >"$stage/RELEASE.txt" <<EOF
QXSetup $version
Commit:        $commit
Signature:     $signature
SHA-256:       $release_hash  QXSetup.exe
As built:      $built_hash (before any signature)
PE time stamp: $pe_time_stamp ($(date -u -d "@$pe_time_stamp" '+%Y-%m-%d %H:%M:%S UTC'))
Package:       $package_line

Check a download:
    sha256sum -c SHA256SUMS$signature_check

Rebuild it for the "As built" hash, on Debian 12 with these packages:
$toolchain

    git clone <the QXSetup repository> qxsetup && cd qxsetup && git checkout $commit
    scripts/install-prerequisites.sh --packages-only
    SOURCE_DATE_EPOCH=$pe_time_stamp cmake --preset i686 && cmake --build --preset i686
    sha256sum build/i686/QXSetup.exe
$unsigning$package_rebuild
EOF

target=dist/QXSetup-$version
rm -rf "$target"
mv "$stage" "$target"
stage=
made="QXSetup.exe"
if $packaging; then
    made+=" and $package_name"
fi
if ((${#signing[@]})); then
    echo "$target: $made signed by $signer and verified; SHA256SUMS; RELEASE.txt"
else
    echo "$target: $made unsigned (no certificate given); SHA256SUMS; RELEASE.txt"
fi
