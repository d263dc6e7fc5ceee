#!/usr/bin/python3
"""package/build_msi.py given a WiX source it would not build as written: it stops, says why,
and writes no package. The source as shipped builds, with its identity for release.sh.

Usage: /usr/bin/python3 tests/package/test_build_msi.py PATH_TO_EXE
"""

import hashlib
import subprocess
import sys
import tempfile
import unittest
from pathlib import Path

SOURCE = Path(__file__).resolve().parents[2]
BUILD_MSI = SOURCE / "package" / "build_msi.py"
WXS = (SOURCE / "package" / "QXSetup.wxs").read_text(encoding="utf-8")
EXE = None


class BuilderTest(unittest.TestCase):
    def build(self, folder, wxs):
        folder = Path(folder)
        (folder / "source.wxs").write_text(wxs, encoding="utf-8")
        (folder / "addin.xla").write_bytes(b"add-in")
        (folder / "TORVA.xls").write_bytes(b"workbook")
        return subprocess.run(
            ["/usr/bin/python3", str(BUILD_MSI), "--exe", EXE, "--addin", "addin.xla",
             "--workbook", "TORVA.xls", "--output", "QXSetup.msi", "--identity", "identity",
             "--source", "source.wxs"], cwd=folder, capture_output=True, text=True)

    def test_what_it_does_not_handle_stops_the_build_with_its_reason(self):
        for name, written, changed, refusal in [
            ("a name outside ASCII where nothing writes it back",
             '<Directory Id="INSTALLDIR" Name="Quorvale">',
             '<Directory Id="INSTALLDIR" Name="数据">',
             'build_msi.py: Directory INSTALLDIR: Name="数据" is not handled: wixl 0.101 cannot '
             'store text outside ASCII'),
            ("a Return it does not write, never built as another",
             'Return="check" />\n    <CustomAction Id="QXSetupUninstall"',
             'Return="asyncNoWait" />\n    <CustomAction Id="QXSetupUninstall"',
             'build_msi.py: CustomAction QXSetupInstall: Return="asyncNoWait" is not handled: '
             'this builder writes only Return="check" or Return="ignore"'),
        ]:
            with self.subTest(name), tempfile.TemporaryDirectory() as folder:
                self.assertEqual(WXS.count(written), 1, "the shipped source changed")
                result = self.build(folder, WXS.replace(written, changed))
                self.assertNotEqual(result.returncode, 0, result.stdout)
                self.assertIn(refusal, result.stderr)
                self.assertFalse((Path(folder) / "QXSetup.msi").exists(), "a package was written")

    def test_the_shipped_source_builds_and_says_what_it_built(self):
        with tempfile.TemporaryDirectory() as folder:
            result = self.build(folder, WXS)
            self.assertEqual(result.returncode, 0, result.stderr)
            identity = dict(line.split("=", 1) for line in
                            (Path(folder) / "identity").read_text().splitlines())
            package = (Path(folder) / "QXSetup.msi").read_bytes()
            self.assertEqual(identity, {
                "file": "QXSetup.msi", "version": "1.1.3",
                "product_code": "{823BFF55-9A1D-5EE4-B650-6AD64531B3B8}",
                "sha256": hashlib.sha256(package).hexdigest()})


if __name__ == "__main__":
    if len(sys.argv) < 2 or not Path(sys.argv[1]).is_file():
        sys.exit("usage: test_build_msi.py PATH_TO_EXE")
    EXE = str(Path(sys.argv.pop(1)).resolve())
    unittest.main(verbosity=2)
