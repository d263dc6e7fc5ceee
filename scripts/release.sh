#!/usr/bin/env bash
# Builds the shipped QXSetup.exe from the commit checked out here, signs it when a certificate is
# given, verifies the signature, and writes dist/QXSetup-<version>/ with the exe, SHA256SUMS and
# RELEASE.txt. The version is the one the build puts in the exe's version resource.
#
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

cd "$(dirname "$0")/.."
scripts/install-prerequisites.sh

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

work=$(mktemp -d -t qxsetup-release.XXXXXX)
stage=
trap 'rm -rf "$work" ${stage:+"$stage"}' EXIT

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

# The password reaches osslsigncode through a pipe, never its command line, which ps shows. The
# pipe lives as long as the one command it is written on.
sign() {
    if [[ -n ${QXSETUP_SIGN_PASSWORD:-} ]]; then
        osslsigncode sign -readpass <(printf '%s' "$QXSETUP_SIGN_PASSWORD") "$@"
    else
        osslsigncode sign "$@"
    fi
}

release=$work/QXSetup.exe
if ((${#signing[@]})); then
    echo "Signing"
    sign "${signing[@]}" -h sha256 "${timestamping[@]}" -in "$built" -out "$release" >"$work/sign.log" 2>&1 ||
        show_log_and_fail "$work/sign.log" "signing failed"

    # Trusted for this check: the chain that came with the certificate, and the system's roots.
    # It proves the signature covers this exe, the chain is whole, and the certificate is valid
    # and meant for code signing now; whether the signer is trusted is each administrator's call.
    osslsigncode extract-signature -pem -in "$release" -out "$work/signature.pem" >/dev/null
    openssl pkcs7 -in "$work/signature.pem" -print_certs -out "$work/trusted.pem"
    if [[ -r /etc/ssl/certs/ca-certificates.crt ]]; then
        cat /etc/ssl/certs/ca-certificates.crt >>"$work/trusted.pem"
    fi
    osslsigncode verify -in "$release" -CAfile "$work/trusted.pem" \
        -TSA-CAfile "$work/trusted.pem" >"$work/verify.log" 2>&1 ||
        show_log_and_fail "$work/verify.log" "the signed exe does not verify: nothing written to dist/"
    signer=$(sed -n 's/^[[:space:]]*Subject: //p' "$work/verify.log" | head -n 1)
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
(cd "$stage" && sha256sum -c --quiet SHA256SUMS) || fail "the exe changed on its way to dist/"

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

Check a download:
    sha256sum -c SHA256SUMS$signature_check

Rebuild it for the "As built" hash, on Debian 12 with these packages:
$toolchain

    git clone <the QXSetup repository> qxsetup && cd qxsetup && git checkout $commit
    scripts/install-prerequisites.sh
    SOURCE_DATE_EPOCH=$pe_time_stamp cmake --preset i686 && cmake --build --preset i686
    sha256sum build/i686/QXSetup.exe
$unsigning
EOF

target=dist/QXSetup-$version
rm -rf "$target"
mv "$stage" "$target"
stage=
if ((${#signing[@]})); then
    echo "$target: QXSetup.exe signed by $signer and verified; SHA256SUMS; RELEASE.txt"
else
    echo "$target: QXSetup.exe unsigned (no certificate given); SHA256SUMS; RELEASE.txt"
fi
