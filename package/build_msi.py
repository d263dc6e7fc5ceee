#!/usr/bin/python3
"""Builds the per-user Windows Installer package of QXSetup from package/QXSetup.wxs:

    build_msi.py --exe QXSetup.exe --addin 安装.xla --workbook TORVA.xls --output QXSetup.msi

The package's version and product code come from the exe's own version resource, so the package
always says which program it holds. Its dates are SOURCE_DATE_EPOCH, else the exe's PE time
stamp (the commit's date), and its package code is derived from everything that goes into it:
two builds of the same files give the same bytes.

wixl 0.101 builds the database; what it does not carry over from the WiX source is mended here,
read from that same source:
- it stores no text outside ASCII (the database has no code page): the file name "安装.xla" and
  the refusal messages come out empty, and some such texts crash it;
- it writes no custom action that runs a program from the Binary table, and writes a rollback
  action as an immediate one;
- it drops Permanent and NeverOverwrite from components, and MajorUpgrade's Schedule;
- it leaves the exe's version out of the File table, so Windows Installer would treat the
  program as an unversioned file;
- its package code is random and its dates are the time of the build.
"""

import argparse
import copy
import hashlib
import os
import shutil
import subprocess
import sys
import tempfile
import time
import uuid
import xml.etree.ElementTree as ElementTree

import pefile

HERE = os.path.dirname(os.path.abspath(__file__))
SOURCE = os.path.join(HERE, "QXSetup.wxs")
WIX = "{http://schemas.microsoft.com/wix/2006/wi}"

# The names the WiX source gives its inputs.
STAGED_NAMES = {"exe": "QXSetup.exe", "addin": "addin.xla", "workbook": "TORVA.xls"}
ICON = os.path.join(HERE, "..", "resources", "QXSetup.ico")

# Custom action type bits (msidbCustomActionType...).
EXE_FROM_BINARY = 2
EXE_FROM_FILE = 18
IN_SCRIPT = 1024
ROLLBACK = 256
COMMIT = 512
NO_IMPERSONATE = 2048
CONTINUE = 64
# Component attribute bits (msidbComponentAttributes...).
PERMANENT = 16
NEVER_OVERWRITE = 128


class BuildError(Exception):
    pass


def run(command, cwd=None, env=None):
    done = subprocess.run(command, cwd=cwd, env=env, stdin=subprocess.DEVNULL,
                          capture_output=True, text=True)
    if done.returncode != 0:
        raise BuildError("%s failed (%d): %s" % (" ".join(command), done.returncode,
                                                 (done.stderr + done.stdout).strip()))
    return done.stdout


def exe_version(path):
    """The numbers of the exe's VS_FIXEDFILEINFO and the language of its version block."""
    pe = pefile.PE(path, fast_load=True)
    pe.parse_data_directories(
        directories=[pefile.DIRECTORY_ENTRY["IMAGE_DIRECTORY_ENTRY_RESOURCE"]])
    if not getattr(pe, "VS_FIXEDFILEINFO", None):
        raise BuildError("%s has no version resource" % path)
    info = pe.VS_FIXEDFILEINFO[0]
    numbers = (info.FileVersionMS >> 16, info.FileVersionMS & 0xFFFF,
               info.FileVersionLS >> 16, info.FileVersionLS & 0xFFFF)
    language = None
    for file_info in getattr(pe, "FileInfo", []):
        for entry in file_info:
            for var in getattr(entry, "Var", []):
                translation = var.entry.get(b"Translation")
                if translation:
                    language = int(translation.split()[0], 16)
    if language is None:
        raise BuildError("%s has no version language" % path)
    return numbers, language


def package_version(numbers):
    """Windows Installer compares only the first three fields of ProductVersion, and releases
    count in the program's fourth (1.1.0.3 is shown as 1.01.0003): the package carries the
    program's major, minor and revision, 1.1.3."""
    major, minor, patch, revision = numbers
    if patch != 0:
        raise BuildError("the program's version %s has a third field: the package's version "
                         "would not follow it" % ".".join(map(str, numbers)))
    return "%d.%d.%d" % (major, minor, revision)


def pe_time_stamp(path):
    return pefile.PE(path, fast_load=True).FILE_HEADER.TimeDateStamp


def text_of(element):
    return " ".join((element.text or "").split())


class Source:
    """What the WiX source says of the parts that wixl gets wrong."""

    def __init__(self, path):
        self.tree = ElementTree.parse(path)
        root = self.tree.getroot()
        self.product = root.find(WIX + "Product")
        self.upgrade = self.product.find(WIX + "MajorUpgrade")
        # The product's identity for ever, and the namespace the other codes are derived in.
        self.upgrade_code = uuid.UUID(self.product.get("UpgradeCode"))

    def all(self, tag):
        return list(self.product.iter(WIX + tag))

    def launch_conditions(self):
        rows = [("NOT WIX_DOWNGRADE_DETECTED", self.upgrade.get("DowngradeErrorMessage"))]
        rows += [(text_of(c), c.get("Message")) for c in self.product.findall(WIX + "Condition")]
        return rows

    def custom_actions(self):
        rows = []
        for action in self.all("CustomAction"):
            if action.get("BinaryKey"):
                kind, source = EXE_FROM_BINARY, action.get("BinaryKey")
            else:
                kind, source = EXE_FROM_FILE, action.get("FileKey")
            execute = action.get("Execute", "immediate")
            kind |= {"immediate": 0, "deferred": IN_SCRIPT, "rollback": IN_SCRIPT | ROLLBACK,
                     "commit": IN_SCRIPT | COMMIT}[execute]
            if execute != "immediate" and action.get("Impersonate") != "yes":
                kind |= NO_IMPERSONATE
            if action.get("Return", "check") == "ignore":
                kind |= CONTINUE
            rows.append((action.get("Id"), kind, source, action.get("ExeCommand")))
        return rows

    def scheduled_actions(self):
        sequence = self.product.find(WIX + "InstallExecuteSequence")
        return [(c.get("Action"), text_of(c), int(c.get("Sequence")))
                for c in sequence.findall(WIX + "Custom")]

    def component_attributes(self):
        for component in self.all("Component"):
            bits = 0
            if component.get("Permanent") == "yes":
                bits |= PERMANENT
            if component.get("NeverOverwrite") == "yes":
                bits |= NEVER_OVERWRITE
            yield component.get("Id"), bits

    def file_names(self):
        for file in self.all("File"):
            name = file.get("Name")
            short = file.get("ShortName")
            yield file.get("Id"), "%s|%s" % (short, name) if short else name

    def for_wixl(self, path):
        """A copy that wixl can read: each text outside ASCII replaced by a placeholder (they
        are written in afterwards), the elements it does not know left out."""
        tree = copy.deepcopy(self.tree)
        count = 0
        for element in tree.getroot().iter():
            for name, value in element.attrib.items():
                if not value.isascii():
                    count += 1
                    element.set(name, "QXTEXT%d" % count)
        tree.write(path, encoding="utf-8", xml_declaration=True)


def sql_text(value):
    if "'" in value:
        raise BuildError("a text with a single quote cannot be written with msibuild: %r" % value)
    return "'%s'" % value


def idt(path, columns, types, table, keys, rows):
    """A table as Windows Installer's text archive, in UTF-8. It names no code page of its own
    (msibuild refuses one), so its text is taken in the database's, set before it."""
    lines = ["\t".join(columns), "\t".join(types), "\t".join([table, *keys])]
    lines += ["\t".join(str(v) for v in row) for row in rows]
    with open(path, "w", encoding="utf-8", newline="") as f:
        f.write("\r\n".join(lines) + "\r\n")


def export(msi, table):
    """The rows of a table, each a list of strings."""
    lines = run(["msiinfo", "export", msi, table]).splitlines()
    return [line.split("\t") for line in lines[3:] if line]


def package_code(namespace, inputs, version):
    digest = hashlib.sha256()
    for path in inputs:
        with open(path, "rb") as f:
            digest.update(hashlib.sha256(f.read()).digest())
    return uuid.uuid5(namespace, "package %s %s" % (version, digest.hexdigest()))


def guid(value):
    return "{%s}" % str(value).upper()


def build(exe, addin, workbook, output):
    numbers, language = exe_version(exe)
    version = package_version(numbers)
    epoch = int(os.environ.get("SOURCE_DATE_EPOCH") or pe_time_stamp(exe))
    source = Source(SOURCE)
    product_code = uuid.uuid5(source.upgrade_code, "product " + version)
    codepage = int(source.product.get("Codepage"))

    with tempfile.TemporaryDirectory(prefix="qxsetup-msi.") as stage:
        staged = {}
        for role, path in (("exe", exe), ("addin", addin), ("workbook", workbook)):
            staged[role] = os.path.join(stage, STAGED_NAMES[role])
            shutil.copyfile(path, staged[role])
        shutil.copyfile(ICON, os.path.join(stage, "QXSetup.ico"))
        # The cabinet records each file's date.
        for name in os.listdir(stage):
            os.utime(os.path.join(stage, name), (epoch, epoch))
        source.for_wixl(os.path.join(stage, "QXSetup.wxs"))

        msi = os.path.join(stage, "QXSetup.msi")
        env = dict(os.environ, TZ="UTC")
        # faketime holds the clock at the commit's date for the summary's dates.
        frozen = time.strftime("%Y-%m-%d %H:%M:%S", time.gmtime(epoch))
        run(["faketime", "-f", frozen, "wixl", "--arch", "x86",
             "-D", "ProductVersion=" + version, "-D", "ProductCode=" + guid(product_code),
             "-o", msi, "QXSetup.wxs"], cwd=stage, env=env)

        # The code page first: text written before it would be read in the wrong one.
        tables = os.path.join(stage, "tables")
        os.mkdir(tables)
        codepage_idt = os.path.join(tables, "_ForceCodepage.idt")
        with open(codepage_idt, "w", newline="") as f:
            f.write("\r\n\r\n%d\t_ForceCodepage\r\n" % codepage)
        run(["msibuild", msi, "-i", codepage_idt])

        launch = os.path.join(tables, "LaunchCondition.idt")
        idt(launch, ["Condition", "Description"], ["s255", "l255"], "LaunchCondition",
            ["Condition"], source.launch_conditions())
        actions = os.path.join(tables, "CustomAction.idt")
        idt(actions, ["Action", "Type", "Source", "Target", "ExtendedType"],
            ["s72", "i2", "S72", "S255", "I4"], "CustomAction", ["Action"],
            [(*row, "") for row in source.custom_actions()])
        run(["msibuild", msi, "-i", launch, "-i", actions])

        queries = []
        for file_id, name in source.file_names():
            queries.append("UPDATE File SET FileName=%s WHERE File=%s"
                           % (sql_text(name), sql_text(file_id)))
        queries.append("UPDATE File SET Version=%s, Language=%s WHERE File='QXSetup.exe'"
                       % (sql_text(".".join(map(str, numbers))), sql_text(str(language))))
        for component, bits in source.component_attributes():
            if bits:
                queries.append("UPDATE Component SET Attributes=%d WHERE Component=%s"
                               % (bits, sql_text(component)))
        for action, condition, sequence in source.scheduled_actions():
            queries.append("DELETE FROM InstallExecuteSequence WHERE Action=%s" % sql_text(action))
            queries.append("INSERT INTO InstallExecuteSequence (Action, Condition, Sequence) "
                           "VALUES (%s, %s, %d)" % (sql_text(action), sql_text(condition),
                                                    sequence))
        if source.upgrade.get("Schedule") == "afterInstallInitialize":
            initialize = next(int(row[2]) for row in export(msi, "InstallExecuteSequence")
                              if row[0] == "InstallInitialize")
            queries.append("UPDATE InstallExecuteSequence SET Sequence=%d "
                           "WHERE Action='RemoveExistingProducts'" % (initialize + 1))
        for query in queries:
            run(["msibuild", msi, "-q", query])

        code = package_code(source.upgrade_code, [SOURCE, __file__, ICON, *staged.values()],
                            version)
        run(["msibuild", msi, "-s", source.product.get("Name"),
             source.product.get("Manufacturer"), "Intel;%s" % source.product.get("Language"),
             guid(code)])
        check(msi, source)
        shutil.copyfile(msi, output)
    return version, guid(product_code)


def check(msi, source):
    """What the mends were for holds in the built database."""
    names = {row[0]: row[2] for row in export(msi, "File")}
    for file_id, name in source.file_names():
        if names.get(file_id) != name:
            raise BuildError("File %s is named %r, not %r" % (file_id, names.get(file_id), name))
    for table in ("LaunchCondition", "CustomAction", "Property", "File"):
        for row in export(msi, table):
            if any("QXTEXT" in value for value in row):
                raise BuildError("a placeholder is left in %s: %r" % (table, row))
    sequence = {row[0]: int(row[2]) for row in export(msi, "InstallExecuteSequence")}
    early = [action for action, number in sequence.items() if number < 25]
    if early:
        raise BuildError("actions sequenced before FindRelatedProducts: %s" % early)


def main(argv):
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--exe", required=True)
    parser.add_argument("--addin", required=True, help="安装.xla")
    parser.add_argument("--workbook", required=True, help="TORVA.xls")
    parser.add_argument("--output", required=True)
    args = parser.parse_args(argv)
    try:
        version, product_code = build(args.exe, args.addin, args.workbook, args.output)
    except BuildError as error:
        sys.stderr.write("build_msi.py: %s\n" % error)
        return 1
    print("%s: version %s, product code %s" % (args.output, version, product_code))
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
