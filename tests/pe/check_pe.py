#!/usr/bin/python3
"""Checks the built QXSetup.exe as a file: PE header, imports, embedded resources, and its size
as a release ships it, signed.

Usage: /usr/bin/python3 tests/pe/check_pe.py PATH_TO_EXE   (or set QXSETUP_EXE)
"""

import functools
import os
import re
import struct
import subprocess
import sys
import tempfile
import unittest
import xml.etree.ElementTree as ET
from pathlib import Path

import pefile

sys.path.insert(0, str(Path(__file__).resolve().parents[1] / "release"))
import throwaway_signing  # noqa: E402

EXE = None

RT_ICON, RT_RCDATA, RT_GROUP_ICON, RT_MANIFEST = 3, 10, 14, 24
IDI_PROGRAM, IDR_IMAGE1_JPEG = 1, 101

# Only DLLs every supported Windows ships, and of those only KnownDLLs: the loader takes a
# KnownDLL from System32 whatever lies beside the exe. Any other static import would be looked
# for in the exe's own folder (often Downloads) before the program can restrict the search.
ALLOWED_DLLS = [
    r"kernel32", r"user32", r"gdi32", r"advapi32", r"ole32", r"oleaut32", r"shell32",
    r"shlwapi", r"msvcrt", r"comdlg32", r"imm32", r"rpcrt4",
]
ALLOWED_DLL_RE = re.compile(r"^(?:%s)\.dll$" % "|".join(ALLOWED_DLLS), re.IGNORECASE)
GCC_RUNTIME_RE = re.compile(r"libgcc_s_|libstdc\+\+|libwinpthread", re.IGNORECASE)

VERSION_STRINGS = {
    "CompanyName": "Tanrebo Software",
    "FileDescription": "Quorvale Excel 加载项安装程序",
    "FileVersion": "1.01.0003",
    "ProductVersion": "1.01.0003",
    "ProductName": "QxSetup",
    "InternalName": "QXSetup",
    "OriginalFilename": "QXSetup.exe",
    "LegalCopyright": "Copyright © Tanrebo Software",
}

SUPPORTED_OS = {
    "{35138b9a-5d96-4fbd-8e2d-a2440225f93a}",  # Windows 7
    "{4a2f28e3-53b9-4441-ba9c-d69d4a4a6e38}",  # Windows 8
    "{1f676c76-80e1-4239-95bb-83d0f6d0da78}",  # Windows 8.1
    "{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}",  # Windows 10 and 11
}
# The size README promises, of the exe as a release ships it: signed (Authenticode, SHA-256).
# The C++ runtime's unused parts, which once made it 325 KB, must stay out. 80 KiB held until
# the run was made safe against a kill and a hung Excel and learnt to check Excel's own settings
# (18 KB of code); the promise moved with them, in the open.
MAX_SIGNED_BYTES = 100 * 1024

SMI_2005 = "{http://schemas.microsoft.com/SMI/2005/WindowsSettings}"
SMI_2016 = "{http://schemas.microsoft.com/SMI/2016/WindowsSettings}"


def local_name(tag):
    return tag.rsplit("}", 1)[-1]


def resources_of_type(pe, type_id):
    """{resource id: bytes} for one resource type (first language of each)."""
    found = {}
    if not hasattr(pe, "DIRECTORY_ENTRY_RESOURCE"):
        return found
    for type_entry in pe.DIRECTORY_ENTRY_RESOURCE.entries:
        if type_entry.id != type_id:
            continue
        for name_entry in type_entry.directory.entries:
            lang = name_entry.directory.entries[0]
            rva, size = lang.data.struct.OffsetToData, lang.data.struct.Size
            found[name_entry.id] = pe.get_data(rva, size)
    return found


def jpeg_segments(data):
    """(marker, payload) for each segment up to the start of the scan."""
    if data[:2] != b"\xff\xd8":
        raise ValueError("no JPEG SOI marker")
    pos, segments = 2, []
    while pos + 4 <= len(data):
        if data[pos] != 0xFF:
            raise ValueError("JPEG segment expected at offset %d" % pos)
        marker = data[pos + 1]
        (length,) = struct.unpack(">H", data[pos + 2:pos + 4])
        segments.append((marker, data[pos + 4:pos + 2 + length]))
        if marker == 0xDA:  # SOS: entropy-coded data follows
            break
        pos += 2 + length
    return segments


class PeFileTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.pe = pefile.PE(EXE)

    def test_header(self):
        opt, hdr = self.pe.OPTIONAL_HEADER, self.pe.FILE_HEADER
        for name, actual, expected in [
            ("Magic (PE32)", opt.Magic, 0x10B),
            ("Machine (i386)", hdr.Machine, 0x14C),
            ("Subsystem (Windows GUI)", opt.Subsystem, 2),
        ]:
            with self.subTest(name):
                self.assertEqual(actual, expected, "%s: 0x%x" % (name, actual))

    def test_size(self):
        unsigned, signed = sizes()
        self.assertLessEqual(signed, MAX_SIGNED_BYTES, "%s; the map beside the built exe names "
                             "what the linker took in" % size_report(unsigned, signed))

    def test_dll_characteristics(self):
        flags = self.pe.OPTIONAL_HEADER.DllCharacteristics
        for name, bit in [("DYNAMIC_BASE", 0x0040), ("NX_COMPAT", 0x0100)]:
            with self.subTest(name):
                self.assertTrue(flags & bit, "%s missing from 0x%04x" % (name, flags))

    def test_imports_only_system_dlls(self):
        dlls = imported_dlls(self.pe)
        self.assertTrue(dlls, "no import table")
        for dll in dlls:
            with self.subTest(dll):
                self.assertNotRegex(dll, GCC_RUNTIME_RE, "needs the GCC runtime")
                self.assertRegex(dll, ALLOWED_DLL_RE, "not a Windows system DLL")

    def test_version_strings(self):
        tables = {}
        for info in getattr(self.pe, "FileInfo", []):
            for entry in info:
                for table in getattr(entry, "StringTable", []):
                    tables[table.LangID.decode().upper()] = {
                        k.decode(): v.decode() for k, v in table.entries.items()}
        self.assertIn("080404B0", sorted(tables), "string blocks")
        strings = tables["080404B0"]
        for key, expected in VERSION_STRINGS.items():
            with self.subTest(key):
                self.assertEqual(strings.get(key), expected)

    def test_version_translation(self):
        translations = [var.entry.get(b"Translation")
                        for info in getattr(self.pe, "FileInfo", []) for entry in info
                        for var in getattr(entry, "Var", [])]
        self.assertEqual(translations, ["0x0804 0x04b0"])

    def test_fixed_version(self):
        self.assertTrue(hasattr(self.pe, "VS_FIXEDFILEINFO"), "no VERSIONINFO resource")
        fixed = self.pe.VS_FIXEDFILEINFO[0]
        for name, ms, ls in [("FileVersion", fixed.FileVersionMS, fixed.FileVersionLS),
                             ("ProductVersion", fixed.ProductVersionMS, fixed.ProductVersionLS)]:
            with self.subTest(name):
                version = (ms >> 16, ms & 0xFFFF, ls >> 16, ls & 0xFFFF)
                self.assertEqual(version, (1, 1, 0, 3))

    def test_icon_group(self):
        groups = resources_of_type(self.pe, RT_GROUP_ICON)
        self.assertIn(IDI_PROGRAM, sorted(groups), "RT_GROUP_ICON ids")
        data = groups[IDI_PROGRAM]
        reserved, kind, count = struct.unpack_from("<HHH", data)
        self.assertEqual((reserved, kind), (0, 1))
        self.assertEqual(count, 1, "images in the program icon")
        width, height, colours, _, _, bits, size, icon_id = struct.unpack_from(
            "<BBBBHHIH", data, 6)
        self.assertEqual((width, height), (32, 32))
        self.assertTrue(colours == 16 or bits == 4,
                        "bColorCount %d, wBitCount %d: not 16 colours" % (colours, bits))
        icons = resources_of_type(self.pe, RT_ICON)
        self.assertIn(icon_id, sorted(icons), "group points at a missing RT_ICON")
        self.assertEqual(len(icons[icon_id]), size)

    def test_manifest(self):
        manifests = resources_of_type(self.pe, RT_MANIFEST)
        self.assertIn(1, sorted(manifests), "RT_MANIFEST ids")
        root = ET.fromstring(manifests[1])

        def named(name):
            return [e for e in root.iter() if local_name(e.tag) == name]

        common_controls = [
            (e.get("version"), e.get("processorArchitecture"), e.get("publicKeyToken"))
            for dep in named("dependentAssembly") for e in dep
            if local_name(e.tag) == "assemblyIdentity"
            and e.get("name") == "Microsoft.Windows.Common-Controls"]
        # Windows ignores the two DPI settings unless they carry exactly these namespaces.
        dpi_aware = [(e.text or "").strip() for e in root.iter(SMI_2005 + "dpiAware")]
        awareness = [[m.strip() for m in (e.text or "").split(",")]
                     for e in root.iter(SMI_2016 + "dpiAwareness")]
        identity = [(e.get("version"), e.get("processorArchitecture"))
                    for e in root if local_name(e.tag) == "assemblyIdentity"]
        for name, actual, expected in [
            ("the program's own identity", identity, [("1.1.0.3", "x86")]),
            ("execution level", [e.get("level") for e in named("requestedExecutionLevel")],
             ["asInvoker"]),
            ("supportedOS", {e.get("Id", "").lower() for e in named("supportedOS")},
             SUPPORTED_OS),
            ("Common-Controls dependency", common_controls,
             [("6.0.0.0", "*", "6595b64144ccf1df")]),
            ("dpiAware (2005 namespace) present", len(dpi_aware) == 1 and bool(dpi_aware[0]),
             True),
            ("dpiAwareness (2016 namespace) has PerMonitorV2",
             len(awareness) == 1 and "PerMonitorV2" in awareness[0], True),
        ]:
            with self.subTest(name):
                self.assertEqual(actual, expected)

    def test_picture_is_jfif_jpeg(self):
        pictures = resources_of_type(self.pe, RT_RCDATA)
        self.assertIn(IDR_IMAGE1_JPEG, sorted(pictures), "RT_RCDATA ids")
        segments = jpeg_segments(pictures[IDR_IMAGE1_JPEG])
        markers = [m for m, _ in segments]

        self.assertEqual(markers[0], 0xE0, "first segment must be the JFIF APP0")
        ident, major, minor, units, xdens, ydens = struct.unpack_from(">5sBBBHH", segments[0][1])
        frames = [(m, data) for m, data in segments
                  if 0xC0 <= m <= 0xCF and m not in (0xC4, 0xC8, 0xCC)]
        self.assertEqual(len(frames), 1, "start-of-frame markers: %s" % [m for m, _ in frames])
        frame_marker, sof = frames[0]
        precision, rows, columns, components = struct.unpack_from(">BHHB", sof)

        for name, actual, expected in [
            ("APP0 identifier", ident, b"JFIF\0"),
            ("APP0 version", (major, minor), (1, 1)),
            ("APP0 density units (dpi)", units, 1),
            ("APP0 density", (xdens, ydens), (120, 120)),
            ("baseline (SOF0)", hex(frame_marker), hex(0xC0)),
            ("8-bit samples", precision, 8),
            ("rows x columns", (rows, columns), (27, 290)),
            ("colour components", components, 3),
            ("no EXIF", 0xE1 in markers, False),
            ("no ICC profile", 0xE2 in markers, False),
            ("no comment", 0xFE in markers, False),
        ]:
            with self.subTest(name):
                self.assertEqual(actual, expected)


@functools.cache
def sizes():
    """The exe's bytes without a signature, and signed as a release signs it, with a throwaway
    certificate (a real one's chain, and a time stamp, add to it). A signed exe, such as a
    release's, is measured less its own signature."""
    with tempfile.TemporaryDirectory(prefix="qxsetup-pe-size.") as scratch:
        unsigned = Path(EXE)
        if signature_size(EXE):
            unsigned = Path(scratch, "unsigned.exe")
            subprocess.run(["osslsigncode", "remove-signature", "-in", EXE, "-out", str(unsigned)],
                           check=True, capture_output=True)
        signed = Path(scratch, "signed.exe")
        signer = throwaway_signing.make_code_signing_ca(Path(scratch, "ca"))
        throwaway_signing.sign(unsigned, signed, signer)
        return unsigned.stat().st_size, signed.stat().st_size


def signature_size(path):
    pe = pefile.PE(path, fast_load=True)
    return pe.OPTIONAL_HEADER.DATA_DIRECTORY[
        pefile.DIRECTORY_ENTRY["IMAGE_DIRECTORY_ENTRY_SECURITY"]].Size


def size_report(unsigned, signed):
    return "%s bytes unsigned, %s signed (limit %s)" % (
        format(unsigned, ","), format(signed, ","), format(MAX_SIGNED_BYTES, ","))


def imported_dlls(pe):
    names = [entry.dll.decode() for entry in getattr(pe, "DIRECTORY_ENTRY_IMPORT", [])]
    return list(dict.fromkeys(names))


def main():
    global EXE
    args = sys.argv[1:]
    EXE = args.pop(0) if args and not args[0].startswith("-") else os.environ.get("QXSETUP_EXE")
    if not EXE or not os.path.isfile(EXE):
        sys.exit("usage: check_pe.py PATH_TO_EXE (or QXSETUP_EXE=PATH): %r is not a file" % EXE)
    result = unittest.main(argv=[sys.argv[0]] + args, exit=False).result
    if not result.wasSuccessful():
        sys.exit(1)
    pe = pefile.PE(EXE, fast_load=True)
    pe.parse_data_directories([pefile.DIRECTORY_ENTRY["IMAGE_DIRECTORY_ENTRY_IMPORT"]])
    print("%s: %s; imports: %s"
          % (os.path.basename(EXE), size_report(*sizes()), ", ".join(imported_dlls(pe))))


if __name__ == "__main__":
    main()
