"""A throwaway code-signing CA, a certificate from it, and Authenticode signing with them, so that
tests can sign and verify an exe without a real certificate. Also a local RFC 3161 time-stamp
server issued by the same CA. Everything lives in the folder the caller gives; the keys are
worthless outside it.

From another test folder:
    sys.path.insert(0, str(Path(__file__).resolve().parents[1] / "release"))
    import throwaway_signing
    signer = throwaway_signing.make_code_signing_ca(folder)
    throwaway_signing.sign(exe, signed_exe, signer)
"""

import contextlib
import http.server
import secrets
import subprocess
import tempfile
import threading
from pathlib import Path
from typing import NamedTuple

OPENSSL_CONFIG = """\
[req]
distinguished_name = dn
prompt = no
[dn]
CN = unused
[ca]
basicConstraints = critical, CA:true
keyUsage = critical, keyCertSign, cRLSign
subjectKeyIdentifier = hash
[leaf]
basicConstraints = critical, CA:false
keyUsage = critical, digitalSignature
extendedKeyUsage = {purpose}
subjectKeyIdentifier = hash
authorityKeyIdentifier = keyid
[tsa_certificate]
basicConstraints = critical, CA:false
keyUsage = critical, digitalSignature
extendedKeyUsage = critical, timeStamping
[tsa_settings]
serial = {folder}/tsa-serial
signer_cert = {folder}/tsa.crt
signer_key = {folder}/tsa.key
certs = {folder}/ca.crt
signer_digest = sha256
default_policy = 1.3.6.1.4.1.55555.1
digests = sha256, sha384, sha512, sha1
ess_cert_id_alg = sha256
"""


class Signer(NamedTuple):
    folder: Path
    ca_cert: Path  # the root to verify against
    cert: Path  # the signing certificate alone
    key: Path  # its key, PEM, not encrypted
    chain: Path  # certificate then CA, PEM
    pfx: Path  # certificate, key and CA, PKCS#12, encrypted with `password`
    password: str


def _openssl(*args, cwd):
    subprocess.run(["openssl", *args], cwd=cwd, check=True, capture_output=True, text=True)


def _issue(folder, name, subject, extensions):
    """A key and a certificate for it, issued by the folder's CA."""
    _openssl("req", "-newkey", "rsa:2048", "-nodes", "-keyout", name + ".key", "-out", name + ".csr",
             "-subj", subject, "-config", "openssl.cnf", cwd=folder)
    _openssl("x509", "-req", "-in", name + ".csr", "-CA", "ca.crt", "-CAkey", "ca.key",
             "-CAcreateserial", "-days", "7", "-extfile", "openssl.cnf", "-extensions", extensions,
             "-out", name + ".crt", cwd=folder)


def make_code_signing_ca(folder, purpose="codeSigning"):
    """Makes a CA and a certificate it issues for `purpose` (an extendedKeyUsage; anything but
    codeSigning makes a certificate that signs but does not verify) in `folder`."""
    folder = Path(folder).resolve()
    folder.mkdir(parents=True, exist_ok=True)
    (folder / "openssl.cnf").write_text(OPENSSL_CONFIG.format(purpose=purpose, folder=folder))
    _openssl("req", "-x509", "-newkey", "rsa:2048", "-nodes", "-keyout", "ca.key", "-out", "ca.crt",
             "-days", "7", "-subj", "/CN=QXSetup throwaway CA", "-config", "openssl.cnf",
             "-extensions", "ca", cwd=folder)
    _issue(folder, "signer", "/CN=QXSetup throwaway signer", "leaf")
    chain = folder / "chain.pem"
    chain.write_text((folder / "signer.crt").read_text() + (folder / "ca.crt").read_text())
    # Spaces and quotes: a password that survives only careful handing-over.
    password = "throwaway 'pass' %s" % secrets.token_hex(4)
    (folder / "pfx-password").write_text(password)
    _openssl("pkcs12", "-export", "-in", "signer.crt", "-inkey", "signer.key", "-certfile", "ca.crt",
             "-out", "signer.pfx", "-passout", "file:pfx-password", cwd=folder)
    return Signer(folder, folder / "ca.crt", folder / "signer.crt", folder / "signer.key", chain,
                  folder / "signer.pfx", password)


def sign(exe, out, signer, timestamp_url=None):
    """Signs `exe` into `out` as a release is signed: Authenticode, SHA-256."""
    command = ["osslsigncode", "sign", "-pkcs12", str(signer.pfx),
               "-readpass", str(signer.folder / "pfx-password"), "-h", "sha256"]
    if timestamp_url:
        command += ["-ts", timestamp_url]
    subprocess.run(command + ["-in", str(exe), "-out", str(out)], check=True, capture_output=True,
                   text=True)


def verify(exe, signer):
    """osslsigncode's verdict on `exe` with the throwaway CA as the only root, for the signature
    and for its time stamp: (passed, output)."""
    result = subprocess.run(
        ["osslsigncode", "verify", "-in", str(exe), "-CAfile", str(signer.ca_cert),
         "-TSA-CAfile", str(signer.ca_cert)],
        capture_output=True, text=True)
    return result.returncode == 0, result.stdout + result.stderr


class _TimestampHandler(http.server.BaseHTTPRequestHandler):
    folder = None

    def do_POST(self):
        query = self.rfile.read(int(self.headers["Content-Length"]))
        with tempfile.TemporaryDirectory() as scratch:
            query_file, reply_file = Path(scratch, "query.tsq"), Path(scratch, "reply.tsr")
            query_file.write_bytes(query)
            _openssl("ts", "-reply", "-config", "openssl.cnf", "-section", "tsa_settings",
                     "-queryfile", str(query_file), "-out", str(reply_file), cwd=self.folder)
            reply = reply_file.read_bytes()
        self.send_response(200)
        self.send_header("Content-Type", "application/timestamp-reply")
        self.send_header("Content-Length", str(len(reply)))
        self.end_headers()
        self.wfile.write(reply)

    def log_message(self, *args):
        pass


@contextlib.contextmanager
def timestamp_server(signer):
    """An RFC 3161 time-stamp server on the loopback, its certificate issued by the signer's CA.
    Yields its URL."""
    if not (signer.folder / "tsa.crt").exists():
        _issue(signer.folder, "tsa", "/CN=QXSetup throwaway time stamps", "tsa_certificate")
    handler = type("Handler", (_TimestampHandler,), {"folder": signer.folder})
    server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), handler)
    thread = threading.Thread(target=server.serve_forever, daemon=True)
    thread.start()
    try:
        yield "http://127.0.0.1:%d/" % server.server_address[1]
    finally:
        server.shutdown()
        server.server_close()
        thread.join()
