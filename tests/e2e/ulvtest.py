"""Shared plumbing of the end-to-end tests: the native builder makes setups from the win64 stub,
and the real executables run under Wine (tests/wine/wine-run.sh gives them the test run's prefix
and display). Every test runs its own debug viewer (ulvtraceview), which receives the trace lines
of every stub process of the test; agent log lines are read from the agent log file. Tests that
use Wine hold CTest's "wine_desktop" lock, so that one viewer at a time listens."""
import os
import re
import shutil
import subprocess
import tempfile
import time
import unittest

SOURCE = os.environ.get("ULV_SOURCE_DIR") or os.path.abspath(os.path.join(os.path.dirname(__file__), "..", ".."))
WIN64 = os.environ.get("ULV_WIN64_DIR") or os.path.join(SOURCE, "build", "win64")
BUILDER = os.environ.get("ULV_BUILDER") or os.path.join(SOURCE, "build", "native", "tools", "builder", "ulvbuild")
# The stub that setups are made from; the i686 layer (tests/e2e/i686) gives the shipping one, and
# keeps its folders, servers and screenshots apart, as it runs beside the win64 tests.
STUB = os.environ.get("ULV_STUB") or os.path.join(WIN64, "src", "stub", "ulvstub.exe")
E2E_DIR = os.environ.get("ULV_E2E_DIR") or os.path.join(SOURCE, "build", "e2e")
SCREENSHOTS = os.environ.get("ULV_SCREENSHOTS") or os.path.join(SOURCE, "build", "screenshots")
TOOLS = os.path.join(WIN64, "tools", "wintest")
WINMSG = os.path.join(TOOLS, "ulvwinmsg.exe")
TRACEVIEW = os.path.join(TOOLS, "ulvtraceview.exe")
WINE_RUN = os.path.join(SOURCE, "tests", "wine", "wine-run.sh")
WINEPREFIX = os.environ.get("ULV_WINEPREFIX") or os.path.join(SOURCE, "build", "wineprefix")
os.environ["ULV_WINEPREFIX"] = WINEPREFIX
# Where i386 programs run through qemu-i386, a 32-bit process takes a minute or more to start:
# the i686 layer then stretches every wait of the harness by this factor.
TIME_FACTOR = float(os.environ.get("ULV_TIME_FACTOR") or 1)


def stretched(wait):
    """A wait (seconds or milliseconds) stretched by TIME_FACTOR."""
    return type(wait)(wait * TIME_FACTOR)


def windows_path(path):
    """The Wine name of a Unix path (drive Z: maps the Unix root)."""
    return "Z:" + os.path.abspath(path).replace("/", "\\")


def wine_temp_dir():
    """The Unix path of the temporary folder of the prefix's user."""
    import pwd
    users = os.path.join(WINEPREFIX, "drive_c", "users")
    return os.path.join(users, pwd.getpwuid(os.getuid()).pw_name, "Temp")


def sample_product(folder, version_text="1.0", number=100):
    """The builder's arguments for the sample product's setup (samples/): its files, its program,
    the demo engine, and the engine's settings for this version, written into `folder`."""
    with open(os.path.join(SOURCE, "samples", "engine", "DemoEngine.ini"), "rb") as f:
        text = f.read().decode("latin-1")
    text = re.sub(r"(?m)^Version=.*$", "Version=" + version_text, text)
    text = re.sub(r"(?m)^VersionNumber=.*$", "VersionNumber=%d" % number, text)
    settings = os.path.join(folder, "DemoEngine.ini")
    with open(settings, "wb") as f:
        f.write(text.encode("latin-1"))
    return ["--files", os.path.join(SOURCE, "samples", "product"),
            "--file", os.path.join(TOOLS, "ulvhelperproc.exe") + "=SampleProduct.exe",
            "--file", os.path.join(TOOLS, "ulvdemoengine.exe") + "=DemoEngine.exe",
            "--file", settings + "=DemoEngine.ini", "--main", "DemoEngine.exe",
            "--languages", os.path.join(SOURCE, "samples", "languages.ini")]


def wait_until(predicate, timeout=30.0, step=0.1):
    deadline = time.monotonic() + stretched(timeout)
    while True:
        value = predicate()
        if value or time.monotonic() >= deadline:
            return value
        time.sleep(step)


class Run:
    """A Windows program started under Wine; its console output (the test helpers') in a file."""

    def __init__(self, exe, args, cwd, output_path):
        self.output_path = output_path
        self._out = open(output_path, "wb")
        self.proc = subprocess.Popen([WINE_RUN, exe, *args], cwd=cwd, stdout=self._out,
                                     stderr=subprocess.DEVNULL, stdin=subprocess.DEVNULL)
        self.rc = None

    def wait(self, timeout=120):
        self.rc = self.proc.wait(timeout=stretched(timeout))
        return self.rc

    def output(self):
        self._out.flush()
        with open(self.output_path, "rb") as f:
            return f.read().decode("latin-1")

    def close(self):
        if self.proc.poll() is None:
            self.proc.kill()
            self.proc.wait()
        self._out.close()


class Trace:
    """The trace text that the test's viewer received, from every process of the test."""

    def __init__(self, path):
        self.path = path

    def text(self):
        try:
            with open(self.path, "rb") as f:
                return f.read().decode("latin-1")
        except FileNotFoundError:
            return ""

    def lines(self):
        return self.text().replace("\r\n", "\n").split("\n")[:-1]

    def pieces(self):
        try:
            with open(self.path + ".pieces") as f:
                return [int(n) for n in f.read().split()]
        except FileNotFoundError:
            return []

    def matching(self, pattern):
        """Lines that are a process id followed by text matching `pattern` exactly."""
        return [line for line in self.lines() if re.fullmatch(r"\d+" + pattern, line)]

    def wait_for(self, pattern, count=1, timeout=30):
        """Waits until `count` lines match (child processes write after their parent ended)."""
        return wait_until(lambda: len(self.matching(pattern)) >= count, timeout)


class WineTestCase(unittest.TestCase):
    # Tests that must see no viewer at all set this to False.
    trace_viewer = True

    def setUp(self):
        os.makedirs(E2E_DIR, exist_ok=True)
        self.dir = tempfile.mkdtemp(prefix=self.id().split(".")[-1] + "_", dir=E2E_DIR)
        self.runs = []
        self.trace = Trace(self.path("trace.txt"))
        self.viewer = None
        if self.trace_viewer:
            # Wine's first window of a fresh prefix and display now and then hangs while the
            # desktop comes up: a viewer that does not show up is ended and started again.
            for attempt in range(3):
                self.viewer = self.start(TRACEVIEW, windows_path(self.trace.path))
                try:
                    rc, _ = self.winmsg("find", ".UDebug.", 60000, timeout=90)
                except subprocess.TimeoutExpired:
                    rc = 1
                if rc == 0:
                    break
                self.viewer.close()
            self.assertEqual(rc, 0, "the trace viewer did not come up")

    def tearDown(self):
        if self.viewer:
            self.winmsg("post", ".UDebug.", 0x0010)  # WM_CLOSE
            try:
                self.viewer.wait(30)
            except subprocess.TimeoutExpired:
                pass
        for run in self.runs:
            run.close()
        # ULV_KEEP_TEST_DIRS=1 keeps the folders (trace, logs) of the tests for a look afterwards.
        if not os.environ.get("ULV_KEEP_TEST_DIRS"):
            shutil.rmtree(self.dir, ignore_errors=True)

    def path(self, *parts):
        return os.path.join(self.dir, *parts)

    def build(self, name, *args, files=None):
        """Makes a setup `name` in the test folder with the builder; returns its path."""
        out = self.path(name)
        os.makedirs(os.path.dirname(out), exist_ok=True)
        command = [BUILDER, "--stub", STUB, "--out", out, *args]
        if files is not None:
            folder = self.path("files_" + os.path.basename(name))
            os.makedirs(folder, exist_ok=True)
            for rel, content in files.items():
                target = os.path.join(folder, rel)
                os.makedirs(os.path.dirname(target), exist_ok=True)
                with open(target, "wb") as f:
                    f.write(content if isinstance(content, bytes) else content.encode())
            command += ["--files", folder]
        result = subprocess.run(command, capture_output=True, text=True)
        self.assertEqual(result.returncode, 0, result.stderr)
        return out

    def start(self, exe, *args, cwd=None):
        run = Run(exe, list(args), cwd or os.path.dirname(exe),
                  self.path("out_%d_%s.txt" % (len(self.runs), os.path.basename(exe))))
        self.runs.append(run)
        return run

    def run_stub(self, exe, *args, timeout=120):
        run = self.start(exe, *args)
        run.wait(timeout)
        return run

    def winmsg(self, *args, timeout=180):
        if args[0] in ("find", "gone"):
            args = (*args[:2], stretched(args[2]), *args[3:])  # how long the helper waits, in ms
        result = subprocess.run([WINE_RUN, WINMSG, *[str(a) for a in args]], capture_output=True, text=True,
                                timeout=stretched(timeout))
        return result.returncode, result.stdout.strip()

    def read_text(self, path):
        with open(path, "rb") as f:
            return f.read().decode("latin-1")
