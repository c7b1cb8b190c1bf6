"""The shipping stub (the i686 build) under Wine's 32-bit part: a smoke layer for the faults only
the 32-bit build can have, such as a run-time bound function without its calling convention, a
structure's size or alignment, or a size or position that overflows 32 bits. The sample setup
made from it installs the sample product; its plain agent starts the transient copy; its agent
answers a check the user asked for from the local nginx, and carries out an update end to end.

The tests are those of the win64 layer (tests/e2e), a few of them, run on setups made from the
i686 stub; the test programs around the stub stay the 64-bit ones. The layer has a Wine prefix
(build/wineprefix-i686, with its 32-bit part), a display (ULV_I686_DISPLAY, else one of the
prefix's own) and folders of its own, so that it runs beside the win64 tests. Where the machine
runs no i386 program, natively or through qemu-i386, it skips with one line saying so."""
import os
import re
import struct
import subprocess
import sys
import time
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
E2E = os.path.dirname(HERE)
SOURCE = os.environ.get("ULV_SOURCE_DIR") or os.path.dirname(os.path.dirname(E2E))
WIN32 = os.environ.get("ULV_WIN32_DIR") or os.path.join(SOURCE, "build", "win32")
WINE32 = "/usr/lib/wine/wine"
SKIPPED = 77

BINFMT_QEMU = "/proc/sys/fs/binfmt_misc/qemu-i386"


def emulated():
    """Whether i386 programs run through qemu-i386 (its binfmt_misc entry comes before the kernel's
    own loader)."""
    try:
        with open(BINFMT_QEMU) as f:
            return f.readline().strip() == "enabled"
    except OSError:
        return False


if emulated():
    os.environ.setdefault("ULV_TIME_FACTOR", "10")
os.environ.update(ULV_STUB=os.path.join(WIN32, "src", "stub", "ulvstub.exe"),
                  ULV_WINEPREFIX=os.environ.get("ULV_I686_WINEPREFIX") or os.path.join(SOURCE, "build",
                                                                                      "wineprefix-i686"),
                  ULV_E2E_DIR=os.path.join(SOURCE, "build", "e2e-i686"),
                  ULV_SCREENSHOTS=os.path.join(SOURCE, "build", "screenshots-i686"),
                  DISPLAY=os.environ.get("ULV_I686_DISPLAY", ""))
sys.path.insert(0, E2E)

import test_agent  # noqa: E402
import test_launch  # noqa: E402
import test_roles  # noqa: E402
import test_update  # noqa: E402
from ulvtest import STUB, TOOLS, WINE_RUN, WINEPREFIX, sample_product, windows_path  # noqa: E402

INSTALLED = os.path.join(WINEPREFIX, "drive_c", "Program Files", "Sample Product")


def runs_i386():
    try:
        return subprocess.run([WINE32, "--version"], capture_output=True, timeout=120).returncode == 0
    except OSError:
        return False


def machine(path):
    """The machine field of a PE file's header."""
    with open(path, "rb") as f:
        data = f.read(4096)
    header = struct.unpack_from("<I", data, 0x3C)[0]
    return struct.unpack_from("<H", data, header + 4)[0]


def setUpModule():
    # Setups made from the 64-bit stub would pass here too: the layer would test nothing new.
    assert machine(STUB) == 0x14C, "%s is no i386 program" % STUB
    started = time.monotonic()
    subprocess.run([WINE_RUN, "--prepare"], check=True)
    print("i686: prefix %s ready after %.0f s" % (WINEPREFIX, time.monotonic() - started), file=sys.stderr)
    test_agent.setUpModule()


def tearDownModule():
    test_agent.tearDownModule()


def selected(case, *names):
    """The win64 layer's `case` with the tests `names` alone: the others are left out here."""
    others = {name: None for name in dir(case) if name.startswith("test") and name not in names}
    return type(case.__name__, (case,), dict(others, __module__=__name__))


class SampleSetupTests(test_launch.LaunchTestCase):

    def test_sample_setup_installs_the_sample_product(self):
        product = os.path.join(SOURCE, "samples", "product")
        payload = {os.path.relpath(os.path.join(folder, name), product): os.path.join(folder, name)
                   for folder, _, names in os.walk(product) for name in names}
        payload["SampleProduct.exe"] = os.path.join(TOOLS, "ulvhelperproc.exe")
        for folder, _, names in os.walk(INSTALLED, topdown=False):
            for name in names:
                os.remove(os.path.join(folder, name))
        setup = self.build("SampleSetup.exe", *sample_product(self.dir))
        work = self.work_folder(setup)

        run = self.run_stub(setup)
        self.assertEqual(run.rc, 0, self.trace.text())
        self.assertEqual(self.result(), (True, 0))
        installed = {os.path.relpath(os.path.join(folder, name), INSTALLED)
                     for folder, _, names in os.walk(INSTALLED) for name in names}
        self.assertEqual(installed, set(payload) | {"SampleProduct.original"})
        for name, source in payload.items():
            self.assertEqual(test_launch.read_bytes(os.path.join(INSTALLED, name)), test_launch.read_bytes(source),
                             name)
        self.assertIn("VersionOriginal=100", self.read_text(os.path.join(INSTALLED, "SampleProduct.original")))

        # Wine ends the command line of a program started without arguments with a blank.
        lines = [r' ==== STUB START ====> "%s" ?<' % re.escape(windows_path(setup)),
                 r' ==== WinExec\(Engine\.exe\) >>"[^"]*\\SETUP_\d+\\DemoEngine\.exe" /TH_ID=_\d+ /OriginExe=".*"<<']
        lines += [r" DemoEngine: installed " + re.escape(name.replace("/", "\\")) for name in payload]
        lines += [r" DemoEngine: completed"]
        for line in lines:
            self.assertEqual(len(self.trace.matching(line)), 1, line + "\n" + self.trace.text())
        self.assert_cleaned_up(work)


RoleTests = selected(test_roles.RoleTests, "test_plain_agent_starts_the_transient_copy")


class AgentTests(selected(test_agent.AgentTests, "test_requested_check_asks_and_tells_the_outcome")):
    @staticmethod
    def requested_check_cases():
        # The check that reaches the server and finds nothing newer.
        return [case for case in test_agent.AgentTests.requested_check_cases() if case[0] == "user"]


# Under qemu-user the agent's copy stopped at its first message box in two runs of three (never
# where i386 programs run natively), and each of the update's dozen 32-bit processes takes a
# minute and more to start: the update is left to machines that run i386 programs themselves.
UpdateTests = unittest.skipIf(emulated(), "i686 update under qemu-i386 emulation: runs only where i386 "
                                          "programs run natively")(
    selected(test_update.UpdateTests, "test_update_closes_the_product_installs_and_restarts_both"))


if __name__ == "__main__":
    if not runs_i386():
        print("SKIPPED i686 layer: this machine runs no i386 programs (%s --version fails; "
              "scripts/install-deps.sh sets up wine32 and qemu-i386)" % WINE32, flush=True)
        sys.exit(SKIPPED)
    unittest.main(verbosity=2)
