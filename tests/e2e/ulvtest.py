"""Shared plumbing of the end-to-end tests: the native builder makes setups from the win64 stub,
and the real executables run under Wine (tests/wine/wine-run.sh gives them the test run's prefix
and display). Trace lines are read from the stub's standard output, which its child processes
inherit; agent log lines from the agent log file."""
import os
import shutil
import subprocess
import tempfile
import time
import unittest

SOURCE = os.environ.get("ULV_SOURCE_DIR") or os.path.abspath(os.path.join(os.path.dirname(__file__), "..", ".."))
WIN64 = os.environ.get("ULV_WIN64_DIR") or os.path.join(SOURCE, "build", "win64")
BUILDER = os.environ.get("ULV_BUILDER") or os.path.join(SOURCE, "build", "native", "tools", "builder", "ulvbuild")
STUB = os.path.join(WIN64, "src", "stub", "ulvstub.exe")
WINMSG = os.path.join(WIN64, "tools", "wintest", "ulvwinmsg.exe")
WINE_RUN = os.path.join(SOURCE, "tests", "wine", "wine-run.sh")
WINEPREFIX = os.environ.get("ULV_WINEPREFIX") or os.path.join(SOURCE, "build", "wineprefix")
os.environ["ULV_WINEPREFIX"] = WINEPREFIX


def windows_path(path):
    """The Wine name of a Unix path (drive Z: maps the Unix root)."""
    return "Z:" + os.path.abspath(path).replace("/", "\\")


def wine_temp_dir():
    """The Unix path of the temporary folder of the prefix's user."""
    import pwd
    users = os.path.join(WINEPREFIX, "drive_c", "users")
    return os.path.join(users, pwd.getpwuid(os.getuid()).pw_name, "Temp")


def wait_until(predicate, timeout=30.0, step=0.1):
    deadline = time.monotonic() + timeout
    while True:
        value = predicate()
        if value or time.monotonic() >= deadline:
            return value
        time.sleep(step)


class Run:
    """A Windows program started under Wine, its output collected in a file."""

    def __init__(self, exe, args, cwd, output_path):
        self.output_path = output_path
        self._out = open(output_path, "wb")
        self.proc = subprocess.Popen([WINE_RUN, exe, *args], cwd=cwd, stdout=self._out,
                                     stderr=subprocess.DEVNULL, stdin=subprocess.DEVNULL)

    def wait(self, timeout=120):
        try:
            return self.proc.wait(timeout=timeout)
        finally:
            self._out.flush()

    def output(self):
        self._out.flush()
        with open(self.output_path, "rb") as f:
            return f.read().decode("latin-1")

    def lines(self):
        return self.output().replace("\r\n", "\n").split("\n")

    def wait_for_line(self, text, timeout=30):
        """Waits until a line ending with `text` appears (children write after the parent ended)."""
        return wait_until(lambda: any(line.endswith(text) for line in self.lines()), timeout)

    def close(self):
        if self.proc.poll() is None:
            self.proc.kill()
            self.proc.wait()
        self._out.close()


class WineTestCase(unittest.TestCase):
    def setUp(self):
        base = os.path.join(SOURCE, "build", "e2e")
        os.makedirs(base, exist_ok=True)
        self.dir = tempfile.mkdtemp(prefix=self.id().split(".")[-1] + "_", dir=base)
        self.runs = []

    def tearDown(self):
        for run in self.runs:
            run.close()
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
        run.rc = run.wait(timeout)
        return run

    def winmsg(self, *args, timeout=180):
        result = subprocess.run([WINE_RUN, WINMSG, *[str(a) for a in args]], capture_output=True, text=True,
                                timeout=timeout)
        return result.returncode, result.stdout.strip()

    def read_text(self, path):
        with open(path, "rb") as f:
            return f.read().decode("latin-1")
