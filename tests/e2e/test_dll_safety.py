"""A setup is usually started from a downloads folder, where anybody may have left a DLL named like
a system library that the stub loads. The stub must take its libraries from the system folder
only: a DLL planted beside it (and in its current folder) is never loaded.

The planted library (tools/wintest, target ulvplanted) is "MSLS31.dll", one of the libraries the
stub preloads at start-up; whenever a process loads it, it writes a marker file beside itself."""
import os
import shutil
import unittest

from ulvtest import STUB, WIN64, WineTestCase, windows_path

PLANTED = os.path.join(WIN64, "tools", "wintest", "MSLS31.dll")
HELPER = os.path.join(WIN64, "tools", "wintest", "ulvhelperproc.exe")


class DllSafetyTests(WineTestCase):
    trace_viewer = False

    def plant(self):
        shutil.copyfile(PLANTED, self.path("MSLS31.dll"))
        return self.path("MSLS31.loaded")

    def test_planted_library_is_loaded_by_an_unguarded_program_in_the_folder(self):
        # The counterpart of the test below: a program in the downloads folder that loads
        # "MSLS31.dll" by its bare name, with the system's ordinary search, does pick the
        # planted copy up; so the absence of the marker below means something.
        marker = self.plant()
        probe = self.path("probe.exe")
        shutil.copyfile(HELPER, probe)
        run = self.run_stub(probe, "--log=" + windows_path(self.path("probe.txt")), "--load=MSLS31.dll", "--lifetime=1")
        self.assertEqual(run.rc, 0)
        self.assertTrue(os.path.exists(marker), "the planted library was not loaded by its name")
        self.assertEqual(self.read_text(marker), windows_path(probe) + "\r\n")

    def test_stub_started_from_the_folder_never_loads_the_planted_library(self):
        cases = [
            ("launcher", lambda: self.build("setup.exe", "--main", "readme.txt", files={"readme.txt": "hi"})),
            ("file without container", lambda: shutil.copyfile(STUB, self.path("bare.exe"))),
        ]
        for name, make in cases:
            with self.subTest(name):
                make()
                exe = self.path("setup.exe" if name == "launcher" else "bare.exe")
                marker = self.plant()
                # The libraries are loaded first thing; once the stub's window (named by its own
                # path) is up, whatever it was going to load is loaded. What the launch then does
                # (a bare stub reports a damaged setup) is no matter here.
                run = self.start(exe, "/x")
                rc, _ = self.winmsg("find", windows_path(exe), 60000)
                self.assertEqual(rc, 0, "the stub did not come up")
                self.assertFalse(os.path.exists(marker), "the stub loaded the planted library")
                run.close()
                os.remove(self.path("MSLS31.dll"))


if __name__ == "__main__":
    unittest.main()
