#!/usr/bin/python3
"""The release as an administrator receives it: the exe rebuilt elsewhere is the same file, the
package rebuilt from it is the same package, and scripts/release.sh signs, verifies and refuses
as it should.

It clones this repository's HEAD twice, at paths of different lengths, and builds there, so it
tests the last commit, not uncommitted changes. Builds of the i686 configuration: an unsigned
release without the add-in and workbook in one clone, and one that fails after staging; a plain
preset build (under another host name where it may set one), a release with a certificate that
does not verify and a signed, time-stamped one with its package in the other.
"""

import getpass
import hashlib
import os
import shutil
import socket
import subprocess
import sys
import tempfile
import unittest
from pathlib import Path

import pefile

HERE = Path(__file__).resolve().parent
SOURCE = HERE.parents[1]
sys.path.insert(0, str(HERE))
import throwaway_signing  # noqa: E402

CHECK_PE = SOURCE / "tests" / "pe" / "check_pe.py"
RELEASE_FOLDER = "QXSetup-1.01.0003"
PACKAGE = "QXSetup-1.01.0003.msi"
BUILD_MSI = SOURCE / "package" / "build_msi.py"
OTHER_TIME_STAMP = 1234567890
NEXT_COMMIT_DATE = 1900000000


def run(command, cwd, env=None):
    return subprocess.run(command, cwd=cwd, env=env, capture_output=True, text=True)


def git(*args, cwd=SOURCE, env=None):
    return subprocess.run(["git", *args], cwd=cwd, env=env, check=True, capture_output=True,
                          text=True).stdout.strip()


def first_difference(a, b):
    for offset, (x, y) in enumerate(zip(a, b)):
        if x != y:
            return "offset %d: 0x%02x against 0x%02x" % (offset, x, y)
    return None if len(a) == len(b) else "lengths %d and %d" % (len(a), len(b))


def pe_header(path):
    pe = pefile.PE(str(path), fast_load=True)
    return pe.FILE_HEADER.TimeDateStamp, pe.OPTIONAL_HEADER.CheckSum, pe.generate_checksum()


class Release:
    """One run of scripts/release.sh and what it left, kept as it was then: a later release in
    the same clone replaces the folder. Its files are copied to `kept`."""

    def __init__(self, clone, env, kept):
        self.result = run(["scripts/release.sh"], clone, env)
        self.dist = clone / "dist"
        self.dist_entries = sorted(os.listdir(self.dist)) if self.dist.exists() else []
        self.output = self.result.stdout + self.result.stderr
        self.folder = kept
        released = self.dist / RELEASE_FOLDER
        if released.is_dir():
            shutil.copytree(released, kept)

    @property
    def last_line(self):
        lines = self.result.stdout.strip().splitlines()
        return lines[-1] if lines else ""

    def notes(self):
        """RELEASE.txt's "Name: value" lines, up to its first empty line."""
        lines = (self.folder / "RELEASE.txt").read_text().splitlines()[1:]
        return dict(line.split(":", 1) for line in lines[:lines.index("")])

    def exe(self):
        return (self.folder / "QXSetup.exe").read_bytes()



def msi_stream(package, name):
    return subprocess.run(["msiinfo", "extract", str(package), name], check=True,
                          capture_output=True).stdout


class ReleaseTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.tmp = Path(tempfile.mkdtemp(prefix="qxsetup-release-test."))
        cls.addClassCleanup(shutil.rmtree, cls.tmp, ignore_errors=True)
        cls.commit = git("rev-parse", "HEAD")
        cls.commit_date = int(git("log", "-1", "--format=%ct", cls.commit))
        if git("status", "--porcelain"):
            print("Testing the last commit, %s; uncommitted changes are not part of it."
                  % cls.commit)
        # Distinct names, so that finding one in the exe cannot be chance.
        cls.clone_one = cls.clone("qx-clone-one")
        cls.clone_two = cls.clone("qx-a-longer-folder-name/qx-clone-two")
        cls.user = "qx-builder-" + os.urandom(3).hex()
        cls.host = "qx-buildhost-" + os.urandom(3).hex()

        # Quorvale's own files stand in as bytes that a careless copy would not reproduce.
        cls.addin = cls.tmp / "安装.xla"
        cls.addin.write_bytes(bytes((i * 37 + 11) % 256 for i in range(6000)))
        cls.workbook = cls.tmp / "TORVA.xls"
        cls.workbook.write_bytes(b"workbook placeholder")
        package = dict(QXSETUP_ADDIN=cls.addin, QXSETUP_WORKBOOK=cls.workbook)

        cls.unsigned = cls.release(cls.clone_one, cls.environment("qx-release-one-tmp"))
        cls.failing_after_staging = cls.release(cls.clone_one, cls.environment(
            "qx-release-one-tmp", PATH_FIRST=cls.failing_checksum_tool(), **package))
        cls.plain_exe = cls.build_plainly(cls.clone_two)

        signer = throwaway_signing.make_code_signing_ca(cls.tmp / "ca")
        wrong_purpose = throwaway_signing.make_code_signing_ca(cls.tmp / "tls-ca", "serverAuth")
        cls.signer = signer
        cls.not_verifying = cls.release(cls.clone_two, cls.environment(
            "qx-release-two-tmp", QXSETUP_SIGN_CERT=wrong_purpose.chain,
            QXSETUP_SIGN_KEY=wrong_purpose.key))
        with throwaway_signing.timestamp_server(signer) as url:
            cls.signed = cls.release(cls.clone_two, cls.environment(
                "qx-release-two-tmp", QXSETUP_SIGN_PFX=signer.pfx,
                QXSETUP_SIGN_PASSWORD=signer.password, QXSETUP_TIMESTAMP_URL=url, **package))

    @classmethod
    def release(cls, clone, env):
        cls.releases = getattr(cls, "releases", 0) + 1
        return Release(clone, env, cls.tmp / ("release-%d" % cls.releases))

    @classmethod
    def failing_checksum_tool(cls):
        """sha256sum that fails to check, as when a file changed on its way to dist/: the last
        step before the staged release is put in place."""
        folder = cls.tmp / "failing-tools"
        folder.mkdir()
        script = folder / "sha256sum"
        script.write_text('#!/bin/sh\ncase " $* " in *" -c "*) exit 1;; esac\nexec %s "$@"\n'
                          % shutil.which("sha256sum"))
        script.chmod(0o755)
        return folder

    @classmethod
    def clone(cls, name):
        path = cls.tmp / name
        path.parent.mkdir(parents=True, exist_ok=True)
        git("clone", "--quiet", "--shared", "--no-checkout", str(SOURCE), str(path))
        git("checkout", "--quiet", "--detach", cls.commit, cwd=path)
        return path

    @classmethod
    def environment(cls, tmp_name, **variables):
        """Nothing of the caller's signing or time stamp; osslsigncode and openssl through
        stand-ins that log their command lines; a temporary folder to look for in the exe."""
        env = {k: v for k, v in os.environ.items()
               if not k.startswith("QXSETUP_") and k != "SOURCE_DATE_EPOCH"}
        env.update({k: str(v) for k, v in variables.items()})
        (cls.tmp / tmp_name).mkdir(exist_ok=True)
        env["TMPDIR"] = str(cls.tmp / tmp_name)
        first = env.pop("PATH_FIRST", None)
        env["PATH"] = "%s:%s" % (cls.logging_tools(), env["PATH"])
        if first:
            env["PATH"] = "%s:%s" % (first, env["PATH"])
        env["no_proxy"] = env["NO_PROXY"] = "127.0.0.1"
        return env

    @classmethod
    def logging_tools(cls):
        folder = cls.tmp / "logging-tools"
        if not folder.exists():
            folder.mkdir()
            for tool in ("osslsigncode", "openssl"):
                real = shutil.which(tool)
                script = folder / tool
                script.write_text('#!/bin/sh\nprintf "%%s\\n" "$*" >>"%s"\nexec %s "$@"\n'
                                  % (cls.tmp / "command-lines.log", real))
                script.chmod(0o755)
        return folder

    @classmethod
    def build_plainly(cls, clone):
        """The developer's way: the presets, in build/i686, as another user and host."""
        build = "cmake --preset i686 >/dev/null && cmake --build --preset i686 >/dev/null"
        command = ["sh", "-c", build]
        if run(["unshare", "--uts", "true"], clone).returncode == 0:
            command = ["unshare", "--uts", "sh", "-c", 'hostname "$0" && ' + build, cls.host]
        else:
            cls.host = None  # only the real name, checked below
        env = cls.environment("qx-plain-build-tmp", USER=cls.user, LOGNAME=cls.user)
        subprocess.run(command, cwd=clone, env=env, check=True)
        return (clone / "build" / "i686" / "QXSetup.exe").read_bytes()

    def signature_removed(self, exe):
        """As README tells administrators to compare a signed download with a rebuild."""
        out = self.tmp / "signature-removed.exe"
        subprocess.run(["osslsigncode", "remove-signature", "-in", str(exe), "-out", str(out)],
                       check=True, capture_output=True)
        return out.read_bytes()

    def assert_released(self, release):
        self.assertEqual(release.result.returncode, 0, release.output)
        self.assertEqual(release.dist_entries, [RELEASE_FOLDER])

    def test_a_rebuild_is_the_same_file(self):
        self.assert_released(self.unsigned)
        released = self.unsigned.exe()
        self.assertIsNone(first_difference(released, self.plain_exe),
                          "a release and a plain build of one commit, elsewhere and later")
        time_stamp, checksum, computed = pe_header(self.unsigned.folder / "QXSetup.exe")
        with self.subTest("PE time stamp"):
            self.assertEqual(time_stamp, self.commit_date, "the commit's date")
        with self.subTest("PE checksum"):
            self.assertEqual(checksum, computed)

    def test_time_stamp_follows_the_commit_or_source_date_epoch(self):
        """In the developer's build folder: a new commit relinks with its date."""
        env = dict(os.environ, GIT_COMMITTER_DATE="@%d +0000" % NEXT_COMMIT_DATE)
        env.pop("SOURCE_DATE_EPOCH", None)
        git("-c", "user.name=QXSetup test", "-c", "user.email=test@invalid", "commit", "--quiet",
            "--allow-empty", "-m", "a later commit", cwd=self.clone_two, env=env)
        exe = self.clone_two / "build" / "i686" / "QXSetup.exe"
        for name, build_env, commands, expected in [
            ("a new commit", env, [["cmake", "--build", "--preset", "i686"]], NEXT_COMMIT_DATE),
            ("SOURCE_DATE_EPOCH", dict(env, SOURCE_DATE_EPOCH=str(OTHER_TIME_STAMP)),
             [["cmake", "--preset", "i686"], ["cmake", "--build", "--preset", "i686"]],
             OTHER_TIME_STAMP),
        ]:
            with self.subTest(name):
                for command in commands:
                    result = run(command, self.clone_two, build_env)
                    self.assertEqual(result.returncode, 0, result.stdout + result.stderr)
                time_stamp, checksum, computed = pe_header(exe)
                self.assertEqual(time_stamp, expected)
                self.assertEqual(checksum, computed)

    def test_nothing_of_the_build_machine_in_the_exe(self):
        traces = ["qx-clone-one", "qx-clone-two", "qx-a-longer-folder-name", "qx-release-one-tmp",
                  self.user] + ([self.host] if self.host else [])
        # Short real names would match by chance in 60 KB of code.
        traces += [name for name in (getpass.getuser(), socket.gethostname()) if len(name) >= 4]
        for exe in (self.unsigned.exe(), self.plain_exe):
            for trace in traces:
                with self.subTest(trace):
                    for encoding in ("utf-8", "utf-16-le"):
                        offset = exe.find(trace.encode(encoding))
                        self.assertEqual(offset, -1, "found in %s at offset %d" % (encoding, offset))

    def test_signed_release(self):
        release = self.signed
        self.assert_released(release)
        exe = release.folder / "QXSetup.exe"
        passed, verdict = throwaway_signing.verify(exe, self.signer)
        notes = release.notes()
        for name, actual, expected in [
            ("verifies against the CA", passed, True),
            ("SHA-256", "Message digest algorithm  : SHA256" in verdict, True),
            ("time-stamped", "Timestamp Server Signature verification: ok" in verdict, True),
            ("last line says signed",
             "signed by" in release.last_line and "unsigned" not in release.last_line, True),
            ("RELEASE.txt signature", notes["Signature"].split(",")[0].strip(), "Authenticode"),
            ("RELEASE.txt commit", notes["Commit"].strip(), self.commit),
            ("the build inside the signature", first_difference(
                self.signature_removed(exe), self.unsigned.exe()), None),
        ]:
            with self.subTest(name):
                self.assertEqual(actual, expected, verdict)
        with self.subTest("PE check with the signature"):
            result = run(["/usr/bin/python3", str(CHECK_PE), str(exe)], SOURCE)
            self.assertEqual(result.returncode, 0, result.stdout + result.stderr)
        with self.subTest("password kept off command lines"):
            logged = (self.tmp / "command-lines.log").read_text()
            self.assertIn("\nsign ", "\n" + logged, "the stand-in saw no signing")
            self.assertNotIn(self.signer.password, logged)

    def test_a_changed_byte_fails_verification(self):
        self.assert_released(self.signed)
        tampered = bytearray(self.signed.exe())
        tampered[len(tampered) // 3] ^= 0x01
        path = self.tmp / "tampered.exe"
        path.write_bytes(tampered)
        passed, verdict = throwaway_signing.verify(path, self.signer)
        self.assertFalse(passed, verdict)

    def test_checksums(self):
        for release, listed in [(self.unsigned, "QXSetup.exe: OK\n"),
                                (self.signed, "QXSetup.exe: OK\n%s: OK\n" % PACKAGE)]:
            self.assert_released(release)
            with self.subTest(release.last_line):
                result = run(["sha256sum", "-c", "SHA256SUMS"], release.folder)
                self.assertEqual(result.stdout, listed, result.stderr)
                sums = (release.folder / "SHA256SUMS").read_text().split()
                self.assertEqual(release.notes()["SHA-256"].split()[0], sums[0])
                if len(sums) > 2:
                    self.assertEqual(release.notes()["Package SHA-256"].split()[0], sums[2])

    def test_without_a_certificate_the_release_says_unsigned(self):
        release = self.unsigned
        self.assert_released(release)
        pe = pefile.PE(str(release.folder / "QXSetup.exe"), fast_load=True)
        security = pe.OPTIONAL_HEADER.DATA_DIRECTORY[
            pefile.DIRECTORY_ENTRY["IMAGE_DIRECTORY_ENTRY_SECURITY"]]
        self.assertEqual(security.Size, 0, "a signature")
        self.assertIn("unsigned", release.last_line)
        self.assertTrue(release.notes()["Signature"].strip().startswith("unsigned"))

    def test_a_rebuilt_package_is_the_same_file(self):
        """As RELEASE.txt tells administrators: from the released exe (signed) and the same
        add-in and workbook, in another folder and later, the package as built before its
        signature."""
        release = self.signed
        self.assert_released(release)
        folder = self.tmp / "qx-package-rebuild"
        folder.mkdir()
        shutil.copy(release.folder / "QXSetup.exe", folder / "QXSetup.exe")
        time_stamp = release.notes()["PE time stamp"].split()[0]
        result = subprocess.run(
            ["/usr/bin/python3", str(self.clone_one / "package" / "build_msi.py"), "--exe",
             "QXSetup.exe", "--addin", str(self.addin), "--workbook", str(self.workbook),
             "--output", "rebuilt.msi"],
            cwd=folder, env=dict(os.environ, SOURCE_DATE_EPOCH=time_stamp), capture_output=True,
            text=True)
        self.assertEqual(result.returncode, 0, result.stderr)
        rebuilt = (folder / "rebuilt.msi").read_bytes()
        self.assertEqual(release.notes()["Package built"].split()[0],
                         hashlib.sha256(rebuilt).hexdigest())
        self.assertIn("Windows Installer version 1.1.3", release.notes()["Package"])
        # What the signature covers is that build: its tables and streams.
        for stream in ("QXSetup.cab", "Binary.QXSetupForRemoval"):
            with self.subTest(stream):
                self.assertEqual(msi_stream(folder / "rebuilt.msi", stream),
                                 msi_stream(release.folder / PACKAGE, stream))

    def test_signed_package(self):
        release = self.signed
        self.assert_released(release)
        package = release.folder / PACKAGE
        passed, verdict = throwaway_signing.verify(package, self.signer)
        with self.subTest("verifies against the CA"):
            self.assertTrue(passed, verdict)
            self.assertIn("Timestamp Server Signature verification: ok", verdict)
            self.assertNotIn("MsiDigitalSignatureEx stream doesn't exist", verdict)
        with self.subTest("holds the signed exe"):
            held = subprocess.run(["msiinfo", "extract", str(package), "Binary.QXSetupForRemoval"],
                                  check=True, capture_output=True).stdout
            self.assertEqual(held, release.exe())
        with self.subTest("a changed byte fails"):
            tampered = bytearray(package.read_bytes())
            tampered[len(tampered) // 3] ^= 0x01
            path = self.tmp / "tampered.msi"
            path.write_bytes(tampered)
            self.assertFalse(throwaway_signing.verify(path, self.signer)[0])
        with self.subTest("last line"):
            self.assertIn("QXSetup.exe and %s signed by" % PACKAGE, release.last_line)

    def test_without_the_addin_and_workbook_there_is_no_package(self):
        release = self.unsigned
        self.assert_released(release)
        self.assertEqual(sorted(os.listdir(release.folder)),
                         ["QXSetup.exe", "RELEASE.txt", "SHA256SUMS"])
        self.assertTrue(release.notes()["Package"].strip().startswith(
            "none: QXSETUP_ADDIN and QXSETUP_WORKBOOK were not given"))

    def test_a_failure_after_staging_leaves_nothing_in_dist(self):
        release = self.failing_after_staging
        self.assertNotEqual(release.result.returncode, 0, release.output)
        self.assertIn("a file changed on its way to dist/", release.output)
        # The earlier release of this clone was replaced by nothing half-made, hidden or not.
        self.assertEqual(release.dist_entries, [RELEASE_FOLDER])

    def test_a_signature_that_does_not_verify_is_not_released(self):
        release = self.not_verifying
        self.assertNotEqual(release.result.returncode, 0, release.output)
        self.assertIn("does not verify", release.output)
        self.assertEqual(release.dist_entries, [], "left in dist/")

    def test_refusals(self):
        """Each before anything is built: the output has no build step."""
        tracked = self.clone_one / "README.md"
        original = tracked.read_text()
        untracked = self.clone_one / "notes.txt"
        certificate_alone = self.environment("qx-refusal-tmp",
                                             QXSETUP_SIGN_CERT=self.signer.cert)
        for name, change, env, expected in [
            ("a changed file", lambda: tracked.write_text(original + "\nchanged\n"),
             self.environment("qx-refusal-tmp"), "refused: the work tree differs"),
            ("a new file", lambda: untracked.write_text("new\n"),
             self.environment("qx-refusal-tmp"), "refused: the work tree differs"),
            ("a certificate without its key", lambda: None, certificate_alone,
             "QXSETUP_SIGN_CERT and QXSETUP_SIGN_KEY go together"),
            ("an add-in without its workbook", lambda: None,
             self.environment("qx-refusal-tmp", QXSETUP_ADDIN=self.addin),
             "QXSETUP_ADDIN and QXSETUP_WORKBOOK go together"),
        ]:
            with self.subTest(name):
                change()
                try:
                    result = run(["scripts/release.sh"], self.clone_one, env)
                finally:
                    tracked.write_text(original)
                    untracked.unlink(missing_ok=True)
                self.assertNotEqual(result.returncode, 0)
                self.assertIn(expected, result.stderr)
                self.assertNotIn("Building", result.stdout)


if __name__ == "__main__":
    unittest.main(verbosity=2)
