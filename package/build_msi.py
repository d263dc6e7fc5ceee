#!/usr/bin/python3
"""Builds the per-user Windows Installer package of QXSetup from package/QXSetup.wxs:

    build_msi.py --exe QXSetup.exe --addin 安装.xla --workbook TORVA.xls --output QXSetup.msi
                 [--identity FILE] [--unmended FILE] [--source WXS]

The package's version and product code come from the exe's own version resource, so the package
always says which program it holds. Its dates are SOURCE_DATE_EPOCH, else the exe's PE time
stamp (the commit's date), and its package code is derived from everything that goes into it,
this file included: two builds of the same files give the same bytes.

wixl 0.101 builds the database; what it does not carry over from the WiX source is mended here,
read from that same source, one function (mend_...) per wixl behaviour, each saying how to see
whether a newer wixl still shows it: build with --unmended FILE, which keeps wixl's own database,
and read that with the msiinfo command the function names. What the mends do not cover is
refused, never built as something else: a value of an element the builder writes itself that it
does not write (Return="asyncNoWait"), text outside ASCII where it does not write it back, a
warning of wixl that no mend answers, and a placeholder left in any table of the package.

--identity FILE writes the package's identity as key=value lines, for scripts: file, version,
product_code and sha256 (of the package as built, before any signature).
"""

import argparse
import copy
import hashlib
import os
import re
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

EXECUTE = {"immediate": 0, "deferred": IN_SCRIPT, "rollback": IN_SCRIPT | ROLLBACK,
           "commit": IN_SCRIPT | COMMIT}
RETURN = {"check": 0, "ignore": CONTINUE}
YES_NO = ("yes", "no")
# The elements whose rows this builder writes itself, or checks (Custom): their attributes,
# each with the values it writes (None: any text). Any other attribute of theirs, or value,
# would be written wrong.
WRITTEN = {
    "CustomAction": {"Id": None, "BinaryKey": None, "FileKey": None, "ExeCommand": None,
                     "Execute": tuple(EXECUTE), "Impersonate": YES_NO, "Return": tuple(RETURN)},
    "Custom": {"Action": None, "Sequence": None},
    "MajorUpgrade": {"Schedule": ("afterInstallInitialize",), "DowngradeErrorMessage": None},
    "Condition": {"Message": None},  # a launch condition, under Product
}
# Attributes of rows that wixl writes, which this builder mends.
MENDED = {("Component", "Permanent"): YES_NO, ("Component", "NeverOverwrite"): YES_NO}
# Where this builder writes text outside ASCII back over wixl's placeholder.
WRITTEN_BACK = {("Condition", "Message"), ("MajorUpgrade", "DowngradeErrorMessage"),
                ("File", "Name"), ("CustomAction", "ExeCommand")}
PLACEHOLDER = re.compile(r"QXTEXT\d+")
# What wixl 0.101 says of an attribute it does not know: the mends below answer these.
UNKNOWN_PROPERTY = re.compile(r"object class 'WixlWix(\w+)' has no property named '(\w+)'")
ANSWERED_WARNINGS = {("MajorUpgrade", "Schedule"), ("File", "ShortName"),
                     ("Component", "NeverOverwrite"), ("Component", "Permanent")}
BINARY_ACTION_ASSERTION = "wixl_msi_table_custom_action_add: assertion 'Source != NULL' failed"
SHORT_NAME = re.compile(r"[A-Za-z0-9_-]{1,8}(\.[A-Za-z0-9_-]{1,3})?")


class BuildError(Exception):
    pass


def run(command, cwd=None, env=None, text=True):
    """Runs a tool, whose output is read as text with its line ends made LF, or else as bytes."""
    done = subprocess.run(command, cwd=cwd, env=env, stdin=subprocess.DEVNULL,
                          capture_output=True, text=text)
    if done.returncode != 0:
        said = done.stderr + done.stdout
        if not text:
            said = said.decode("utf-8", "replace")
        raise BuildError("%s failed (%d): %s" % (" ".join(command), done.returncode, said.strip()))
    return done


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


def tag_of(element):
    return element.tag.replace(WIX, "")


def named(element):
    """An element as a message names it: its tag and its Id (a Custom's Action)."""
    name = element.get("Id") or element.get("Action")
    return "%s %s" % (tag_of(element), name) if name else tag_of(element)


def refuse(element, attribute, value, why):
    """Stops the build, naming the element, the attribute and its value (None: not given)."""
    given = "%s not given" % attribute if value is None else '%s="%s"' % (attribute, value)
    raise BuildError("%s: %s is not handled: %s" % (named(element), given, why))


class Source:
    """What the WiX source says of the parts that wixl gets wrong, read once; whatever of those
    parts the builder would not write as written is refused here, before wixl runs."""

    def __init__(self, path):
        self.path = path
        self.tree = ElementTree.parse(path)
        root = self.tree.getroot()
        self.product = root.find(WIX + "Product")
        self.upgrade = self.product.find(WIX + "MajorUpgrade")
        if self.upgrade is None:
            raise BuildError("the source has no MajorUpgrade: this builder writes its refusal "
                             "of a downgrade")
        # The product's identity for ever, and the namespace the other codes are derived in.
        self.upgrade_code = uuid.UUID(self.product.get("UpgradeCode"))
        self.conditions = self.product.findall(WIX + "Condition")
        self.refuse_text_not_written_back()
        self.refuse_values_not_written()
        self.exe_file = self.file_of(STAGED_NAMES["exe"])

    def all(self, tag):
        return list(self.product.iter(WIX + tag))

    def refuse_text_not_written_back(self):
        """wixl stores no text outside ASCII: such text is given to it as a placeholder, which
        a mend must write over."""
        why = ("wixl 0.101 cannot store text outside ASCII, and this builder writes it back only "
               "in %s" % ", ".join("%s/@%s" % pair for pair in sorted(WRITTEN_BACK)))
        for element in self.tree.getroot().iter():
            for attribute, value in element.attrib.items():
                if not value.isascii() and (tag_of(element), attribute) not in WRITTEN_BACK:
                    refuse(element, attribute, value, why)
            if not (element.text or "").isascii():
                raise BuildError("%s: its text '%s' is not handled: %s"
                                 % (named(element), text_of(element), why))

    def refuse_values_not_written(self):
        for element in self.all("CustomAction"):
            self.only(element, WRITTEN["CustomAction"])
            if bool(element.get("BinaryKey")) == bool(element.get("FileKey")):
                refuse(element, "FileKey", element.get("FileKey"),
                       "a program is run from either BinaryKey or FileKey, one of the two")
            if element.get("ExeCommand") is None:
                refuse(element, "ExeCommand", None,
                       "this builder writes only actions that run a program")
        for element in self.conditions:
            self.only(element, WRITTEN["Condition"], required=("Message",))
        self.only(self.upgrade, WRITTEN["MajorUpgrade"],
                  required=("Schedule", "DowngradeErrorMessage"))
        for sequence in self.product:
            if not tag_of(sequence).endswith("Sequence"):
                continue
            for element in sequence:
                if tag_of(sequence) != "InstallExecuteSequence" or tag_of(element) != "Custom":
                    raise BuildError("%s in %s is not handled: this builder checks only Custom "
                                     "actions of the InstallExecuteSequence"
                                     % (named(element), tag_of(sequence)))
                self.only(element, WRITTEN["Custom"], required=("Sequence",))
                if not element.get("Sequence").isdigit():
                    refuse(element, "Sequence", element.get("Sequence"), "not a number")
        for (tag, attribute), values in MENDED.items():
            for element in self.all(tag):
                if element.get(attribute, values[-1]) not in values:
                    refuse(element, attribute, element.get(attribute), "this builder writes only "
                           "%s" % " or ".join('%s="%s"' % (attribute, v) for v in values))
        for element in self.all("File"):
            name, short = element.get("Name"), element.get("ShortName")
            if name is None:
                refuse(element, "Name", None, "this builder writes each file's name from it")
            if not SHORT_NAME.fullmatch(short or name):
                refuse(element, "ShortName" if short else "Name", short or name,
                       "the file name is written as given, and it needs an 8.3 ShortName")

    @staticmethod
    def only(element, written, required=()):
        """The element's attributes are among those written, each with a value written."""
        def handled(attribute):
            values = written[attribute]
            if values is None:
                return "it is needed"
            return "this builder writes only %s" % " or ".join(
                '%s="%s"' % (attribute, value) for value in values)

        for attribute, value in element.attrib.items():
            if attribute not in written:
                refuse(element, attribute, value, "of a %s this builder handles only %s"
                       % (tag_of(element), ", ".join(written)))
            if written[attribute] is not None and value not in written[attribute]:
                refuse(element, attribute, value, handled(attribute))
        for attribute in required:
            if element.get(attribute) is None:
                refuse(element, attribute, None, handled(attribute))

    def file_of(self, staged_name):
        files = [f for f in self.all("File") if f.get("Source") == staged_name]
        if len(files) != 1:
            raise BuildError("%d File elements have Source=\"%s\"; the program is one"
                             % (len(files), staged_name))
        return files[0].get("Id")

    def launch_conditions(self):
        rows = [("NOT WIX_DOWNGRADE_DETECTED", self.upgrade.get("DowngradeErrorMessage"))]
        rows += [(text_of(c), c.get("Message")) for c in self.conditions]
        return rows

    def custom_actions(self):
        rows = []
        for action in self.all("CustomAction"):
            if action.get("BinaryKey"):
                kind, source = EXE_FROM_BINARY, action.get("BinaryKey")
            else:
                kind, source = EXE_FROM_FILE, action.get("FileKey")
            execute = action.get("Execute", "immediate")
            kind |= EXECUTE[execute]
            if execute != "immediate" and action.get("Impersonate") != "yes":
                kind |= NO_IMPERSONATE
            kind |= RETURN[action.get("Return", "check")]
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
        are written in afterwards). Returns what each placeholder stands for."""
        tree = copy.deepcopy(self.tree)
        placeholders = {}
        for element in tree.getroot().iter():
            for name, value in element.attrib.items():
                if not value.isascii():
                    placeholder = "QXTEXT%d" % (len(placeholders) + 1)
                    placeholders[placeholder] = '%s %s="%s"' % (named(element), name, value)
                    element.set(name, placeholder)
        tree.write(path, encoding="utf-8", xml_declaration=True)
        return placeholders


def sql_text(value):
    if "'" in value:
        raise BuildError("a text with a single quote cannot be written with msibuild: %r" % value)
    return "'%s'" % value


def idt(path, columns, types, table, keys, rows):
    """A table as Windows Installer's text archive, in UTF-8. It names no code page of its own
    (msibuild refuses one), so its text is taken in the database's, set before it."""
    lines = ["\t".join(columns), "\t".join(types), "\t".join([table, *keys])]
    for row in rows:
        if any(re.search(r"[\t\r\n]", str(v)) for v in row):
            raise BuildError("a %s row with a tab or line break cannot be imported: %r"
                             % (table, row))
        lines.append("\t".join(str(v) for v in row))
    with open(path, "w", encoding="utf-8", newline="") as f:
        f.write("\r\n".join(lines) + "\r\n")


def export(msi, table):
    """The rows of a table, each a list of strings. A row ends in CR LF; a value may hold a line
    break of its own. A table of streams is written out beside the database too."""
    msi = os.path.abspath(msi)
    output = run(["msiinfo", "export", msi, table], cwd=os.path.dirname(msi),
                 text=False).stdout.decode("utf-8")
    lines = output.split("\r\n")
    return [line.split("\t") for line in lines[3:] if line]


def query(msi, *queries):
    for text in queries:
        run(["msibuild", msi, "-q", text])


def replace_table(msi, path, written_keys):
    """Imports a table over wixl's, which must hold no row the import leaves out."""
    table = os.path.basename(path)[:-len(".idt")]
    lost = {" ".join(row[0].split()) for row in export(msi, table)} - set(written_keys)
    if lost:
        raise BuildError("wixl wrote %s rows that this builder does not: %s"
                         % (table, sorted(lost)))
    run(["msibuild", msi, "-i", path])


def package_code(namespace, inputs, version):
    digest = hashlib.sha256()
    for path in inputs:
        with open(path, "rb") as f:
            digest.update(hashlib.sha256(f.read()).digest())
    return uuid.uuid5(namespace, "package %s %s" % (version, digest.hexdigest()))


def guid(value):
    return "{%s}" % str(value).upper()


def run_wixl(stage, version, product_code, epoch):
    """wixl 0.101 dates the summary with the time it runs: it runs under faketime, at the
    package's date. See it: `msiinfo suminfo` of a plain wixl build, "Created".

    It warns of each attribute it does not know, and then leaves it out; a warning that no
    mend answers is refused."""
    env = dict(os.environ, TZ="UTC")
    frozen = time.strftime("%Y-%m-%d %H:%M:%S", time.gmtime(epoch))
    done = run(["faketime", "-f", frozen, "wixl", "--arch", "x86",
                "-D", "ProductVersion=" + version, "-D", "ProductCode=" + guid(product_code),
                "-o", "QXSetup.msi", "QXSetup.wxs"], cwd=stage, env=env)
    for line in done.stderr.splitlines():
        if "WARNING" not in line and "CRITICAL" not in line:
            continue
        unknown = UNKNOWN_PROPERTY.search(line)
        if unknown and unknown.groups() in ANSWERED_WARNINGS:
            continue
        if BINARY_ACTION_ASSERTION in line:
            continue
        if unknown:
            raise BuildError("%s: %s is not handled: wixl 0.101 leaves it out (\"%s\"), and no "
                             "mend of this builder writes it" % (*unknown.groups(), unknown[0]))
        raise BuildError("wixl: %s: no mend of this builder answers it" % line.strip())
    return os.path.join(stage, "QXSetup.msi")


# The mends, in the order they are made: a table's code page before its text, wixl's rows read
# before they are replaced, the package code last.

def mend_code_page(msi, tables, source):
    """wixl 0.101 writes a database without a code page, which stores no text outside ASCII.
    See it: `msiinfo export unmended.msi _ForceCodepage` ends in 0, not in the source's 65001.

    The code page goes first: text written before it would be read in the wrong one."""
    codepage_idt = os.path.join(tables, "_ForceCodepage.idt")
    with open(codepage_idt, "w", newline="") as f:
        f.write("\r\n\r\n%d\t_ForceCodepage\r\n" % int(source.product.get("Codepage")))
    run(["msibuild", msi, "-i", codepage_idt])


def mend_launch_conditions(msi, tables, source):
    """wixl 0.101 cannot store a launch condition's message outside ASCII, and keeps the
    condition's line breaks and indentation. See it: `msiinfo export unmended.msi
    LaunchCondition` shows the placeholders QXTEXT1 and QXTEXT2, and the per-user condition
    over three lines."""
    rows = source.launch_conditions()
    path = os.path.join(tables, "LaunchCondition.idt")
    idt(path, ["Condition", "Description"], ["s255", "l255"], "LaunchCondition", ["Condition"],
        rows)
    replace_table(msi, path, [condition for condition, _ in rows])


def mend_custom_actions(msi, tables, source):
    """wixl 0.101 leaves out a custom action that runs a program from the Binary table, and
    writes a rollback action as an immediate one. See it: wixl says "assertion 'Source != NULL'
    failed"; `msiinfo export unmended.msi CustomAction` has no QXSetupUninstall, and
    QXSetupUninstallRollback's type is 18, not 1298."""
    rows = source.custom_actions()
    path = os.path.join(tables, "CustomAction.idt")
    idt(path, ["Action", "Type", "Source", "Target", "ExtendedType"],
        ["s72", "i2", "S72", "S255", "I4"], "CustomAction", ["Action"],
        [(*row, "") for row in rows])
    replace_table(msi, path, [row[0] for row in rows])


def mend_file_names(msi, source):
    """wixl 0.101 drops File's ShortName, and cannot store a Name outside ASCII. See it: wixl
    warns "object class 'WixlWixFile' has no property named 'ShortName'"; `msiinfo export
    unmended.msi File` names AddinSource QXTEXT3, not QXADDIN.XLA|安装.xla."""
    query(msi, *("UPDATE File SET FileName=%s WHERE File=%s" % (sql_text(name), sql_text(file_id))
                 for file_id, name in source.file_names()))


def mend_program_version(msi, source, numbers, language):
    """wixl 0.101 leaves the exe's version and language out of the File table, so Windows
    Installer would treat the program as an unversioned file. See it: `msiinfo export
    unmended.msi File`, QXSetup.exe's Version and Language columns are empty."""
    query(msi, "UPDATE File SET Version=%s, Language=%s WHERE File=%s"
          % (sql_text(".".join(map(str, numbers))), sql_text(str(language)),
             sql_text(source.exe_file)))


def mend_component_attributes(msi, source):
    """wixl 0.101 drops Component's Permanent and NeverOverwrite. See it: wixl warns "object
    class 'WixlWixComponent' has no property named 'Permanent'" (and 'NeverOverwrite');
    `msiinfo export unmended.msi Component` gives Workbook the attributes 0, not 144."""
    written = {row[0]: int(row[3]) for row in export(msi, "Component")}
    query(msi, *("UPDATE Component SET Attributes=%d WHERE Component=%s"
                 % (written[component] | bits, sql_text(component))
                 for component, bits in source.component_attributes() if bits))


def mend_upgrade_schedule(msi, source):
    """wixl 0.101 drops MajorUpgrade's Schedule and puts RemoveExistingProducts after
    InstallFinalize. See it: wixl warns "object class 'WixlWixMajorUpgrade' has no property named
    'Schedule'"; `msiinfo export unmended.msi InstallExecuteSequence` has RemoveExistingProducts
    at 6601, not 1501 (right after InstallInitialize, as Schedule="afterInstallInitialize" asks;
    the source is refused with any other)."""
    initialize = next(int(row[2]) for row in export(msi, "InstallExecuteSequence")
                      if row[0] == "InstallInitialize")
    query(msi, "UPDATE InstallExecuteSequence SET Sequence=%d "
               "WHERE Action='RemoveExistingProducts'" % (initialize + 1))


def mend_summary(msi, source, inputs, version):
    """wixl 0.101 gives each build a random package code, and its template names language 1033
    whatever the product's. See it: two builds' `msiinfo suminfo` differ in "Revision number
    (UUID)", and both read "Template: Intel;1033"."""
    code = package_code(source.upgrade_code, inputs, version)
    run(["msibuild", msi, "-s", source.product.get("Name"), source.product.get("Manufacturer"),
         "Intel;%s" % source.product.get("Language"), guid(code)])


def check_file_names(msi, source):
    """Each file is named as the source names it: the mend of the names reached every row."""
    names = {row[0]: row[2] for row in export(msi, "File")}
    for file_id, name in source.file_names():
        if names.get(file_id) != name:
            raise BuildError("File %s is named %r, not %r" % (file_id, names.get(file_id), name))


def check_no_placeholder_left(msi, placeholders):
    """No table of the package, its summary included, holds a placeholder of text outside
    ASCII: customers would see it as a folder's or a product's name."""
    for table in run(["msiinfo", "tables", msi]).stdout.split():
        for row in export(msi, table):
            for value in row:
                for placeholder in PLACEHOLDER.findall(value):
                    raise BuildError("a placeholder is left in the package's %s table: %s, for %s"
                                     % (table, placeholder,
                                        placeholders.get(placeholder, "a text it was not given")))


def check_sequence(msi, source):
    """wixl 0.101 misplaces a Custom action given with Before= or After= (Before="InstallFinalize"
    lands at 1402, before the files are installed), so the source's reading refuses those, and
    each action is checked here where its Sequence puts it, none before FindRelatedProducts (25).
    See it: wixl on the source with Before="InstallFinalize" for QXSetupInstall's Sequence,
    then `msiinfo export x.msi InstallExecuteSequence`."""
    sequence = {row[0]: (" ".join(row[1].split()), int(row[2]))
                for row in export(msi, "InstallExecuteSequence")}
    for action, condition, number in source.scheduled_actions():
        if sequence.get(action) != (condition, number):
            raise BuildError("InstallExecuteSequence has %s as %r, not %r"
                             % (action, sequence.get(action), (condition, number)))
    early = [action for action, (_, number) in sequence.items() if number < 25]
    if early:
        raise BuildError("actions sequenced before FindRelatedProducts: %s" % early)


def build(exe, addin, workbook, output, source_path=SOURCE, unmended=None):
    numbers, language = exe_version(exe)
    version = package_version(numbers)
    epoch = int(os.environ.get("SOURCE_DATE_EPOCH") or pe_time_stamp(exe))
    source = Source(source_path)
    product_code = uuid.uuid5(source.upgrade_code, "product " + version)

    with tempfile.TemporaryDirectory(prefix="qxsetup-msi.") as stage:
        staged = {}
        for role, path in (("exe", exe), ("addin", addin), ("workbook", workbook)):
            staged[role] = os.path.join(stage, STAGED_NAMES[role])
            shutil.copyfile(path, staged[role])
        shutil.copyfile(ICON, os.path.join(stage, "QXSetup.ico"))
        # The cabinet records each file's date.
        for name in os.listdir(stage):
            os.utime(os.path.join(stage, name), (epoch, epoch))
        placeholders = source.for_wixl(os.path.join(stage, "QXSetup.wxs"))

        msi = run_wixl(stage, version, product_code, epoch)
        if unmended:
            shutil.copyfile(msi, unmended)
        tables = os.path.join(stage, "tables")
        os.mkdir(tables)
        mend_code_page(msi, tables, source)
        mend_launch_conditions(msi, tables, source)
        mend_custom_actions(msi, tables, source)
        mend_file_names(msi, source)
        mend_program_version(msi, source, numbers, language)
        mend_component_attributes(msi, source)
        mend_upgrade_schedule(msi, source)
        mend_summary(msi, source, [source.path, __file__, ICON, *staged.values()], version)
        check_file_names(msi, source)
        check_no_placeholder_left(msi, placeholders)
        check_sequence(msi, source)
        shutil.copyfile(msi, output)
    return version, guid(product_code)


def write_identity(path, output, version, product_code):
    with open(output, "rb") as f:
        sha256 = hashlib.sha256(f.read()).hexdigest()
    with open(path, "w", encoding="utf-8", newline="\n") as f:
        f.write("file=%s\nversion=%s\nproduct_code=%s\nsha256=%s\n"
                % (os.path.basename(output), version, product_code, sha256))


def main(argv):
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--exe", required=True)
    parser.add_argument("--addin", required=True, help="安装.xla")
    parser.add_argument("--workbook", required=True, help="TORVA.xls")
    parser.add_argument("--output", required=True)
    parser.add_argument("--identity", help="where to write the package's identity, key=value")
    parser.add_argument("--unmended", help="where to keep wixl's database, before any mend")
    parser.add_argument("--source", default=SOURCE, help="the WiX source (package/QXSetup.wxs)")
    args = parser.parse_args(argv)
    try:
        version, product_code = build(args.exe, args.addin, args.workbook, args.output,
                                      args.source, args.unmended)
    except BuildError as error:
        sys.stderr.write("build_msi.py: %s\n" % error)
        return 1
    if args.identity:
        write_identity(args.identity, args.output, version, product_code)
    print("%s: version %s, product code %s" % (args.output, version, product_code))
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
