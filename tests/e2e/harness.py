"""Runs QXSetup's end-to-end tests under Wine: 64-bit prefixes with their 32-bit side (WoW64,
as 64-bit Windows is), the qxdriver helper, and the stand-in Excel servers.

Paths come from the environment CTest sets: QXSETUP_DRIVER, QXSETUP_E2E_TOOLS_64 and
QXSETUP_E2E_TOOLS_32 (the folders of each bitness's stand-in Excel and planted DLL),
QXSETUP_E2E_TEMPLATE, QXSETUP_E2E_WORK. DISPLAY must name a running X
server: own_display() starts one of the process's own (Xvfb).
"""

import contextlib
import functools
import json
import os
import select
import shutil
import struct
import subprocess
import sys
import tempfile
import time
import uuid

from limits import HOLD, SETUP, WAIT

WINE64 = "/usr/lib/wine/wine64"
# Where Debian's wine32 puts the 32-bit loader; another path stands in for a machine without it.
WINE32 = os.environ.get("QXSETUP_WINE32", "/usr/lib/wine/wine")
WINESERVER = "/usr/lib/wine/wineserver"

EXCEL_GLOBAL_CLSID = "{00020812-0000-0000-C000-000000000046}"
EXCEL_APPLICATION_PROGID = "Excel.Application"
STANDIN_APPLICATION_CLSID = "{5E1B7C3A-2F4D-4B8E-9A61-3C7D0E2F8B14}"
STANDIN_IMAGE = "StandInExcel.exe"
# One stand-in per Office bitness, each in its own folder.
STANDIN_DIRS = {64: "C:\\standin\\x64", 32: "C:\\standin\\x86"}
# Read by the stand-in on every call, from beside its exe: COM starts it without its client's
# environment.
STANDIN_SETTINGS_NAME = "StandInExcel.ini"
CLASSES = "Software\\Classes"

# Wine keeps the DOS hidden/system/archive bits in this attribute as "0x<hex>".
DOSATTRIB = "user.DOSATTRIB"
FILE_ATTRIBUTE_HIDDEN = 0x2

# One line per run of QXSetup.exe in this suite run, giving its bitness.
PROGRAM_RUNS = "qxsetup-runs.txt"
# How long a driver may go on looking after the program it looks at has ended.
PROGRAM_ENDED_GRACE = 2.0

IMAGE_FILE_MACHINE_I386 = 0x14C
IMAGE_FILE_MACHINE_AMD64 = 0x8664


class HarnessError(Exception):
    pass


class DriverError(HarnessError):
    def __init__(self, args, returncode, stderr):
        super().__init__(
            "qxdriver %s exited with %d: %s" % (" ".join(args), returncode, stderr.strip())
        )


def required_env(name):
    value = os.environ.get(name)
    if not value:
        raise HarnessError("%s is not set (CTest sets it for the e2e tests)" % name)
    return value


def require_display():
    display = os.environ.get("DISPLAY")
    if not display:
        raise HarnessError(
            "DISPLAY is not set: run the tests through run_module.py, which starts an X "
            'server, or under xvfb-run -a -s "-screen 0 1280x1024x24"'
        )
    return display


@contextlib.contextmanager
def own_display():
    """An X server (Xvfb) for this process and the programs it starts, named in DISPLAY until
    the block ends. Xvfb takes the first free display number itself."""
    read, write = os.pipe()
    try:
        xvfb = subprocess.Popen(
            ["/usr/bin/Xvfb", "-displayfd", str(write), "-screen", "0", "1280x1024x24",
             "-nolisten", "tcp"],
            pass_fds=(write,), stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
            stderr=subprocess.DEVNULL)
    finally:
        os.close(write)
    try:
        number = b""
        while not number.endswith(b"\n"):
            ready, _, _ = select.select([read], [], [], WAIT)
            chunk = os.read(read, 16) if ready else b""
            if not chunk:
                raise HarnessError("Xvfb did not say which display it took (exit code %s)"
                                   % xvfb.poll())
            number += chunk
        previous = os.environ.get("DISPLAY")
        os.environ["DISPLAY"] = ":" + number.decode().strip()
        try:
            yield os.environ["DISPLAY"]
        finally:
            if previous is None:
                os.environ.pop("DISPLAY", None)
            else:
                os.environ["DISPLAY"] = previous
    finally:
        os.close(read)
        xvfb.terminate()
        xvfb.wait(WAIT)


def twin_asked():
    """Whether the person running the tests asked for the 64-bit twin in place of the shipped
    32-bit file (QXSETUP_E2E=twin)."""
    value = os.environ.get("QXSETUP_E2E", "")
    if value not in ("", "shipped", "twin"):
        raise HarnessError("QXSETUP_E2E is shipped or twin, not %r" % value)
    return value == "twin"


def pe_bits(path):
    """32 or 64: the code a Windows program holds, read from its PE header."""
    with open(path, "rb") as f:
        header = f.read(4096)
    if header[:2] != b"MZ":
        raise HarnessError("not a Windows program: %s" % path)
    (pe_offset,) = struct.unpack_from("<I", header, 0x3C)
    signature, machine = struct.unpack_from("<4sH", header, pe_offset)
    if signature != b"PE\0\0":
        raise HarnessError("no PE header in %s" % path)
    bits = {IMAGE_FILE_MACHINE_I386: 32, IMAGE_FILE_MACHINE_AMD64: 64}.get(machine)
    if bits is None:
        raise HarnessError("%s is for machine 0x%x, neither x86 nor x64" % (path, machine))
    return bits


def note_program_run(path):
    """Counts the runs of QXSetup.exe, by the code they ran, for the suite's closing line."""
    if os.path.basename(path).lower() != "qxsetup.exe":
        return
    with open(os.path.join(required_env("QXSETUP_E2E_WORK"), PROGRAM_RUNS), "a") as f:
        f.write("%d\n" % pe_bits(path))


def loader_for(path):
    return WINE32 if pe_bits(path) == 32 else WINE64


@functools.lru_cache(maxsize=None)
def runs_32bit_code():
    """Whether this machine runs 32-bit Windows programs: wine32's loader is itself 32-bit code,
    so it starts only where the kernel runs such code and wine32 is installed."""
    try:
        done = subprocess.run([WINE32, "--version"], stdin=subprocess.DEVNULL,
                              stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                              timeout=WAIT, check=False)
    except OSError:
        return False
    return done.returncode == 0


def wine_env(prefix_dir):
    env = dict(os.environ)
    # A locale that is not generated on the machine would turn Unix names into ASCII.
    env.pop("LC_ALL", None)
    env.update(
        {
            "WINEPREFIX": prefix_dir,
            "WINEDEBUG": "-all",
            "WINEDLLOVERRIDES": "mscoree,mshtml=",
            "LANG": "C.UTF-8",
        }
    )
    return env


def _server(env, *args, timeout=WAIT):
    # The daemonised server would hold a pipe open forever: never capture its output.
    subprocess.run(
        [WINESERVER, *args],
        env=env,
        stdin=subprocess.DEVNULL,
        stdout=subprocess.DEVNULL,
        stderr=subprocess.DEVNULL,
        timeout=timeout,
        check=False,
    )


def _stop_server(env):
    _server(env, "-k")
    _server(env, "-w")


def _wine(env, args, log_path, timeout=WAIT):
    with open(log_path, "ab") as log:
        done = subprocess.run(
            [WINE64, *args],
            env=env,
            stdin=subprocess.DEVNULL,
            stdout=log,
            stderr=log,
            timeout=timeout,
            check=False,
        )
    if done.returncode != 0:
        raise HarnessError(
            "wine64 %s failed with %d (see %s)" % (" ".join(args), done.returncode, log_path)
        )


def _excel_registration(bits):
    """As Excel's setup writes it, in the registry view of its own bitness: both classes served
    by the exe (COM adds -Embedding when it starts it), and the application's ProgID. A 32-bit
    Office on 64-bit Windows lands in Software\\Classes\\Wow6432Node."""
    root = "HKLM:%d" % bits
    exe = STANDIN_DIRS[bits] + "\\" + STANDIN_IMAGE
    entries = [(root, "%s\\CLSID\\%s\\LocalServer32" % (CLASSES, clsid), "", exe)
               for clsid in (EXCEL_GLOBAL_CLSID, STANDIN_APPLICATION_CLSID)]
    entries.append((root, "%s\\%s\\CLSID" % (CLASSES, EXCEL_APPLICATION_PROGID), "",
                    STANDIN_APPLICATION_CLSID))
    return entries


def _excel_keys(bits):
    root = "HKLM:%d" % bits
    return [(root, "%s\\%s" % (CLASSES, key)) for key in (
        "CLSID\\" + EXCEL_GLOBAL_CLSID, "CLSID\\" + STANDIN_APPLICATION_CLSID,
        EXCEL_APPLICATION_PROGID)]


def _run_driver(env, cwd, args, timeout=WAIT, watched=None):
    """Runs qxdriver in the prefix of env; returns (exit code, stdout, stderr). timeout is in
    seconds and bounds every wait inside the driver. watched: the program under test; should it
    end while the driver still waits (for a window it can then never show), the wait is over
    and HarnessError says so, rather than running on to the limit.

    The driver says why whenever it fails, and says something whenever it has done its work.
    Seen twice with two suites running at once: Wine ended the driver with code 1 and nothing
    said at all. Having said something, it did its work; having said nothing, it never ran,
    and it is run once more."""
    for attempt in (1, 2):
        code, out, err = _run_driver_once(env, cwd, args, timeout, watched)
        if code == 0 or err.strip():
            return code, out, err
        sys.stderr.write("qxdriver %s ended with %d and said nothing%s\n"
                         % (" ".join(map(str, args)), code,
                            ", after its work" if out else "; running it again"))
        if out:
            return 0, out, err
    return code, out, err


def _run_driver_once(env, cwd, args, timeout, watched):
    command = [WINE64, required_env("QXSETUP_DRIVER"), "--timeout", str(int(timeout * 1000)),
               *map(str, args)]
    # Files, not pipes: a Wine system process started on the way could inherit a pipe.
    with tempfile.TemporaryFile() as out, tempfile.TemporaryFile() as err:
        driver = subprocess.Popen(command, env=env, cwd=cwd, stdin=subprocess.DEVNULL, stdout=out,
                                  stderr=err)
        end = time.monotonic() + timeout + WAIT
        program_ended = None
        while driver.poll() is None:
            now = time.monotonic()
            if watched is not None and program_ended is None and not watched.alive():
                program_ended = now
            # What the program showed just before it ended is still seen by a driver that is
            # looking already.
            if program_ended is not None and now - program_ended > PROGRAM_ENDED_GRACE:
                driver.kill()
                driver.wait()
                raise HarnessError("the program ended (exit code %s) while qxdriver %s waited"
                                   % (watched.wait(), " ".join(map(str, args))))
            if now > end:
                driver.kill()
                driver.wait()
                raise HarnessError("qxdriver %s did not end" % " ".join(map(str, args)))
            try:
                driver.wait(0.05)
            except subprocess.TimeoutExpired:
                pass
        out.seek(0)
        err.seek(0)
        return (driver.returncode, out.read().decode("utf-8"),
                err.read().decode("utf-8", "replace"))


def _driver(env, cwd, *args, timeout=WAIT):
    code, out, err = _run_driver(env, cwd, args, timeout=timeout)
    if code != 0:
        raise DriverError([str(a) for a in args], code, err)
    return out


def test_tool(name, bits):
    """A test tool built for that bitness; the 32-bit ones come from the 32-bit tree."""
    path = os.path.join(required_env("QXSETUP_E2E_TOOLS_%d" % bits), name)
    if not os.path.isfile(path):
        raise HarnessError("the %d-bit %s is not built: %s" % (bits, name, path))
    if pe_bits(path) != bits:
        raise HarnessError("%s is not %d-bit code" % (path, bits))
    return path


def make_template(template_dir):
    """Builds a ready prefix at template_dir (replacing any older one) with both stand-in
    Excels in place and the 64-bit one registered (64-bit Office). Builds beside it and
    renames, so a half-made template never exists."""
    template_dir = os.path.abspath(template_dir)
    parent = os.path.dirname(template_dir)
    os.makedirs(parent, exist_ok=True)
    standins = {bits: test_tool(STANDIN_IMAGE, bits) for bits in STANDIN_DIRS}
    building = tempfile.mkdtemp(prefix=os.path.basename(template_dir) + ".building-", dir=parent)
    log_path = building + ".log"
    env = wine_env(building)
    try:
        # Started first so that wineboot and the reg calls share one warm server.
        _server(env, "-p")
        # wineboot makes the 32-bit side (syswow64) only where wine32 is installed.
        _wine(env, ["wineboot", "-u"], log_path, timeout=SETUP)
        for root, key, value, data in [
            ("HKCU", "Software\\Wine\\X11 Driver", "Managed", "N"),
            *_excel_registration(64),
        ]:
            _driver(env, building, "reg-set", root, key, value, data)
        _driver(env, building, "reg-set-dword", "HKCU", "Software\\Wine\\WineDbg",
                "ShowCrashDialog", 0)
        # A list of strings, which only reg.exe writes.
        _wine(
            env,
            ["reg", "add",
             "HKLM\\Software\\Microsoft\\Windows NT\\CurrentVersion\\FontLink\\SystemLink",
             "/v", "Tahoma", "/t", "REG_MULTI_SZ", "/d", "wqy-zenhei.ttc,WenQuanYi Zen Hei", "/f"],
            log_path,
        )
        for bits, exe in standins.items():
            folder = os.path.join(building, "drive_c", *STANDIN_DIRS[bits].split("\\")[1:])
            os.makedirs(folder, exist_ok=True)
            shutil.copy2(exe, os.path.join(folder, STANDIN_IMAGE))
    except BaseException:
        _stop_server(env)
        shutil.rmtree(building, ignore_errors=True)
        raise
    # The registry reaches system.reg/user.reg only when the server exits.
    _stop_server(env)
    if os.path.exists(template_dir):
        old = tempfile.mkdtemp(prefix=os.path.basename(template_dir) + ".old-", dir=parent)
        os.rename(template_dir, os.path.join(old, "prefix"))
        shutil.rmtree(old, ignore_errors=True)
    os.rename(building, template_dir)
    os.remove(log_path)
    return template_dir


def place_program(source, destination):
    """Puts the program under test in a test's folder as the very file that was built: a hard
    link where the file system allows one, else a copy checked byte for byte."""
    try:
        os.link(source, destination)
        return
    except OSError:
        pass
    shutil.copy2(source, destination)
    with open(source, "rb") as a, open(destination, "rb") as b:
        if a.read() != b.read():
            raise HarnessError("the copy of %s differs from it" % source)


class Process:
    """A Windows program started in a prefix; its output goes to files under the prefix's
    scratch folder."""

    def __init__(self, popen, output_path=None):
        self._popen = popen
        self._output_path = output_path

    def output_lines(self):
        """What it has written to its standard output so far, in whole lines."""
        with open(self._output_path, "rb") as f:
            return f.read().decode("utf-8").split("\n")[:-1]

    def wait(self, timeout=WAIT):
        """Exit code (Unix keeps only its low 8 bits). Raises subprocess.TimeoutExpired."""
        return self._popen.wait(timeout)

    def alive(self):
        return self._popen.poll() is None

    def kill(self):
        if self.alive():
            self._popen.kill()
        self._popen.wait(WAIT)


class DriverRun(Process):
    """A program started through `qxdriver run`, which waits for it in the prefix."""

    def __init__(self, popen, output_path, bits):
        super().__init__(popen)
        self._output_path = output_path
        self._bits = bits

    def result(self, timeout=WAIT):
        """{"exit_code": the whole Windows exit code, of which wine64 passes Unix only the low
        byte, "bits": 32 when it ran as 32-bit code (WoW64), "windows": the titles of the
        visible top-level windows it showed, "ms_after_last_window": how long it went on after
        the last of them was gone, None if it showed none}. A program that ran as other code than its file
        holds is an error: no result may rest on a build other than the one named."""
        if self.wait(timeout) != 0:
            with open(self._output_path + ".err", "rb") as f:
                raise HarnessError("qxdriver run failed: " + f.read().decode("utf-8", "replace"))
        with open(self._output_path, "rb") as f:
            result = json.loads(f.read().decode("utf-8"))
        if result["bits"] != self._bits:
            raise HarnessError("a %d-bit program ran as %d-bit code" % (self._bits, result["bits"]))
        return result

    def exit_code(self, timeout=WAIT):
        return self.result(timeout)["exit_code"]


class Prefix:
    """A private copy of the template prefix with its own persistent wineserver."""

    def __init__(self, name="prefix", keep=None):
        require_display()
        self._template = required_env("QXSETUP_E2E_TEMPLATE")
        self._driver = required_env("QXSETUP_DRIVER")
        if not os.path.isfile(os.path.join(self._template, "system.reg")):
            raise HarnessError(
                "no template prefix at %s (the e2e_make_template test makes it)" % self._template
            )
        work = required_env("QXSETUP_E2E_WORK")
        os.makedirs(work, exist_ok=True)
        self.root = tempfile.mkdtemp(prefix=name + "-", dir=work)
        self.path = os.path.join(self.root, "prefix")
        self.keep = os.environ.get("QXSETUP_E2E_KEEP") == "1" if keep is None else keep
        self._processes = []
        self._closed = False
        # The template registers 64-bit Office; use_office changes it.
        self.office_bits = 64
        # The program under test, once started: driver waits end when it does.
        self.watched = None
        subprocess.run(["cp", "-a", self._template, self.path], check=True)
        self.env = wine_env(self.path)
        _server(self.env, "-p")

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.close()
        return False

    def close(self):
        if self._closed:
            return
        self._closed = True
        for process in self._processes:
            if process.alive():
                process.kill()
        _stop_server(self.env)
        if not self.keep:
            shutil.rmtree(self.root, ignore_errors=True)

    # Paths

    def win_path(self, unix_path):
        return "Z:" + os.path.abspath(unix_path).replace("/", "\\")

    def unix_path(self, win_path):
        if len(win_path) < 2 or win_path[1] != ":":
            raise HarnessError("not an absolute Windows path: %r" % win_path)
        drive = os.path.realpath(
            os.path.join(self.path, "dosdevices", win_path[0].lower() + ":")
        )
        rest = win_path[2:].replace("\\", "/").lstrip("/")
        return os.path.normpath(os.path.join(drive, rest))

    def local_path(self, path):
        """A Unix path for a path given either way (a test may start a program by its Windows
        name, to have it see a drive of its own)."""
        if len(path) > 2 and path[1] == ":" and path[2] == "\\":
            return self.unix_path(path)
        return path

    # Programs

    def start(self, exe_unix_path, args=()):
        """Starts a program, given by its Unix path or its Windows path, with the loader of its
        own bitness."""
        index = len(self._processes)
        local = self.local_path(exe_unix_path)
        note_program_run(local)
        base = os.path.join(self.root, "%02d-%s" % (index, os.path.basename(local)))
        with open(base + ".out", "wb") as out, open(base + ".err", "wb") as err:
            popen = subprocess.Popen(
                [loader_for(local), exe_unix_path, *args],
                env=self.env,
                cwd=self.root,
                stdin=subprocess.DEVNULL,
                stdout=out,
                stderr=err,
            )
        process = Process(popen, base + ".out")
        self._processes.append(process)
        return process

    def run(self, exe_unix_path, args=(), timeout=WAIT):
        """Starts a program the way start() does, but through the driver, so that its whole
        exit code and the code it ran as can be read (DriverRun.result)."""
        index = len(self._processes)
        local = self.local_path(exe_unix_path)
        note_program_run(local)
        output = os.path.join(self.root, "%02d-run-%s.json" % (index, os.path.basename(local)))
        # A Windows path is passed as it stands: the program sees the folder it was given.
        windows = exe_unix_path if local != exe_unix_path else self.win_path(exe_unix_path)
        command = [WINE64, self._driver, "--timeout", str(int(timeout * 1000)), "run", windows,
                   *args]
        with open(output, "wb") as out, open(output + ".err", "wb") as err:
            popen = subprocess.Popen(command, env=self.env, cwd=self.root,
                                     stdin=subprocess.DEVNULL, stdout=out, stderr=err)
        process = DriverRun(popen, output, pe_bits(local))
        self._processes.append(process)
        return process

    def hold(self, *args, timeout=HOLD):
        """Starts a qxdriver command that holds something (a window, an open file, a watch on
        a folder) until its process is killed, at the latest when the prefix closes; returns
        the process and the JSON line the command prints once it holds (what it prints later
        is the process's output_lines()). timeout bounds the holding in seconds."""
        index = len(self._processes)
        process = self.start(self._driver, ("--timeout", str(int(timeout * 1000)), *args))
        base = os.path.join(self.root, "%02d-%s" % (index, os.path.basename(self._driver)))

        def ready():
            lines = process.output_lines()
            if lines:
                return json.loads(lines[0])
            if not process.alive():
                with open(base + ".err", "rb") as f:
                    raise DriverError([str(a) for a in args], process.wait(),
                                      f.read().decode("utf-8", "replace"))
            return None

        return process, self.wait_for(ready, what="qxdriver %s" % args[0])

    def run_driver(self, *args, timeout=WAIT):
        """Runs qxdriver; returns (exit code, stdout, stderr). timeout is in seconds and
        bounds every wait inside the driver."""
        return _run_driver(self.env, self.root, args, timeout=timeout, watched=self.watched)

    def driver(self, *args, timeout=WAIT):
        code, out, err = self.run_driver(*args, timeout=timeout)
        if code != 0:
            raise DriverError([str(a) for a in args], code, err)
        return out

    def driver_json(self, *args, timeout=WAIT):
        return json.loads(self.driver(*args, timeout=timeout))

    # Registry

    def reg_get(self, root, key, value):
        """The REG_SZ value, or None when the key or the value is missing."""
        code, out, err = self.run_driver("reg-get", root, key, value)
        if code == 2:
            return None
        if code != 0:
            raise DriverError(["reg-get", root, key, value], code, err)
        return out

    def reg_exists(self, root, key):
        code, out, err = self.run_driver("reg-exists", root, key)
        if code not in (0, 2):
            raise DriverError(["reg-exists", root, key], code, err)
        return code == 0

    def reg_set(self, root, key, value, data):
        self.driver("reg-set", root, key, value, data)

    def reg_set_dword(self, root, key, value, number):
        self.driver("reg-set-dword", root, key, value, number)

    def reg_set_binary(self, root, key, value, data):
        """data: bytes, stored as REG_BINARY."""
        self.driver("reg-set-binary", root, key, value, data.hex())

    def reg_values(self, root, key):
        """{name: (type, bytes)} of every value of the key; None when the key is missing."""
        code, out, err = self.run_driver("reg-list-values", root, key)
        if code == 2:
            return None
        if code != 0:
            raise DriverError(["reg-list-values", root, key], code, err)
        return {value["name"]: (value["type"], bytes.fromhex(value["hex"]))
                for value in json.loads(out)}

    def reg_create(self, root, key):
        """Creates a non-volatile key; returns the Win32 error code (0 on success)."""
        code, out, err = self.run_driver("reg-create", root, key)
        if not out.strip():
            raise DriverError(["reg-create", root, key], code, err)
        return int(out)

    def reg_delete_tree(self, root, key):
        """Returns False when the key was not there."""
        code, out, err = self.run_driver("reg-delete-tree", root, key)
        if code not in (0, 2):
            raise DriverError(["reg-delete-tree", root, key], code, err)
        return code == 0

    def deny_writes(self, root, key):
        """Leaves the key readable only: writing a value there fails with access denied."""
        self.driver("reg-deny-writes", root, key)

    def make_volatile(self, root, key):
        """Creates key as volatile in the running wineserver, so that creating a non-volatile
        key under it fails with 1021. It is gone once the server stops."""
        self.driver("reg-make-volatile", root, key)

    def describe(self, n):
        return self.driver("describe", n)

    def set_dpi(self, dpi):
        self.reg_set_dword("HKCU", "Control Panel\\Desktop", "LogPixels", dpi)

    def unregister_excel(self):
        """No Excel at all: neither class nor the ProgID."""
        for root, key in _excel_keys(self.office_bits):
            if not self.reg_delete_tree(root, key):
                raise HarnessError("Excel's %s was not registered" % key)

    def use_office(self, bits):
        """Excel of that bitness instead of the template's 64-bit Office: the stand-in built
        for it, registered in its own registry view only."""
        if bits == self.office_bits:
            return
        if bits == 32 and not runs_32bit_code():
            raise HarnessError("32-bit Office needs a machine that runs 32-bit code")
        self.unregister_excel()
        for root, key, value, data in _excel_registration(bits):
            self.reg_set(root, key, value, data)
        self.office_bits = bits

    def unregister_excel_global_class(self):
        """Excel reachable only through its ProgID, as some installations leave it."""
        root, key = _excel_keys(self.office_bits)[0]
        if not self.reg_delete_tree(root, key):
            raise HarnessError("Excel's global class was not registered")

    def configure_standin(self, startup_path=None, fail=None, log=None, register_delay_ms=None,
                          reject_calls_ms=None, stall_calls_ms=None, fail_with=None, hang=None,
                          version=None):
        """What the stand-in Excel does from its next call on; log is a Unix path. Unset
        settings mean: empty start-up path, Version "16.0", nothing fails, no log, no delay.
        reject_calls_ms and stall_calls_ms make the user's Excel busy from the next call it
        gets: rejecting every call for that long, or holding up that one call without an
        answer. fail_with: the description of the failure, line breaks included. hang:
        "CreateInstance" or "StartupPath", from which the stand-in then never returns (it gives
        up after HOLD, so that no server outlives a test that died). version: what the
        application's Version answers."""
        settings = {
            "StartupPath": startup_path,
            "Version": version,
            "Fail": fail,
            "FailWith": None if fail_with is None
            else fail_with.replace("\r", "\\r").replace("\n", "\\n"),
            "Log": None if log is None else self.win_path(log),
            "RegisterDelayMs": None if register_delay_ms is None else str(register_delay_ms),
            # A new name for each request, so that the stand-in serves it once.
            "RejectCalls": None if reject_calls_ms is None
            else "%s:%d" % (uuid.uuid4().hex, reject_calls_ms),
            "StallCalls": None if stall_calls_ms is None
            else "%s:%d" % (uuid.uuid4().hex, stall_calls_ms),
            "Hang": hang,
            "HangMs": None if hang is None else str(int(HOLD * 1000)),
        }
        lines = ["[StandInExcel]"] + [
            "%s=%s" % (name, value) for name, value in settings.items() if value is not None
        ]
        # UTF-16LE with its byte-order mark: the form GetPrivateProfileStringW reads as Unicode.
        # Beside each stand-in, so that either bitness of Office reads the same wishes.
        for folder in STANDIN_DIRS.values():
            path = self.unix_path(folder + "\\" + STANDIN_SETTINGS_NAME)
            with open(path, "w", encoding="utf-16-le", newline="") as f:
                f.write("\ufeff" + "\r\n".join(lines) + "\r\n")

    def start_users_excel(self, registered=True):
        """The Excel the user has open: the stand-in of the registered Office, started as a user
        starts Excel rather than by COM. Unregistered, it has its window but cannot be reached,
        as Excel is in the seconds after it starts. configure_standin first."""
        exe = self.unix_path(STANDIN_DIRS[self.office_bits] + "\\" + STANDIN_IMAGE)
        return self.start(exe, ["/user"] + ([] if registered else ["/unregistered"]))

    def standin_processes(self):
        """Ids of the stand-in Excel's running processes."""
        return self.driver_json("processes", STANDIN_IMAGE)

    def wait_standin_gone(self, timeout=WAIT):
        """Waits until no stand-in Excel process is left, as once its last client let go."""
        self.wait_for(lambda: not self.standin_processes(), timeout=timeout,
                      what="the stand-in Excel to end")

    # Screen and files

    def screenshot(self, png_path, rect):
        """Saves the screen rect (left, top, right, bottom) as PNG."""
        left, top, right, bottom = rect
        subprocess.run(
            ["/usr/bin/import", "-window", "root",
             "-crop", "%dx%d+%d+%d" % (right - left, bottom - top, left, top), "+repage",
             png_path],
            env=dict(os.environ, DISPLAY=require_display()),
            stdin=subprocess.DEVNULL,
            stdout=subprocess.DEVNULL,
            stderr=subprocess.PIPE,
            timeout=WAIT,
            check=True,
        )
        return png_path

    def set_hidden(self, unix_path, hidden=True):
        try:
            current = int(os.getxattr(unix_path, DOSATTRIB).rstrip(b"\0"), 16)
        except OSError:
            current = 0
        current = current | FILE_ATTRIBUTE_HIDDEN if hidden else current & ~FILE_ATTRIBUTE_HIDDEN
        os.setxattr(unix_path, DOSATTRIB, b"0x%x" % current)

    def set_readonly(self, unix_path, readonly=True):
        # Wine reports read-only exactly when no write permission bit is set.
        mode = os.stat(unix_path).st_mode & 0o7777
        os.chmod(unix_path, mode & ~0o222 if readonly else mode | 0o200)

    def wait_for(self, predicate, timeout=WAIT, interval=0.1, what="condition"):
        """The predicate's first true result; HarnessError at the timeout."""
        end = time.monotonic() + timeout
        while True:
            result = predicate()
            if result:
                return result
            if time.monotonic() >= end:
                raise HarnessError("timed out waiting for %s" % what)
            time.sleep(interval)
