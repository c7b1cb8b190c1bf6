"""A finished program deletes itself through the batch file "_DEL_ME_.BAT" in the temporary
folder (ulvselfdel does what a transient copy does at the end of its run): the program goes once
its process has ended, its folder too when asked and empty, and the batch file last."""
import os
import shutil
import unittest

from ulvtest import WIN64, WineTestCase, wait_until, wine_temp_dir

PROBE = os.path.join(WIN64, "tools", "wintest", "ulvselfdel.exe")
BATCH = os.path.join(wine_temp_dir(), "_DEL_ME_.BAT")
TIMEOUT = 60


class SelfDeleteTests(WineTestCase):
    trace_viewer = False

    def run_probe(self, folder_name, *args, extra_files=()):
        """Runs a copy of the probe from a fresh folder; gives the folder and the copy's path."""
        folder = self.path(folder_name)
        os.makedirs(folder)
        exe = os.path.join(folder, "X_probe.exe")
        shutil.copyfile(PROBE, exe)
        for name in extra_files:
            with open(os.path.join(folder, name), "w") as f:
                f.write(name)
        # A batch file left from before: the run must replace it, run it, and it must delete itself.
        os.makedirs(os.path.dirname(BATCH), exist_ok=True)
        with open(BATCH, "w") as f:
            f.write("REM left from before\r\n")
        run = self.start(exe, *args)
        self.assertEqual(run.wait(TIMEOUT), 0)
        return folder, exe

    def assert_batch_ran(self, exe):
        self.assertTrue(wait_until(lambda: not os.path.exists(exe), TIMEOUT), "the program was not deleted")
        self.assertTrue(wait_until(lambda: not os.path.exists(BATCH), TIMEOUT), "the batch file was not deleted")

    def test_program_and_folder_go_with_the_flag(self):
        cases = [
            ("with blanks & more", ["/RemoveFolder"]),
            ("short names of a long folder", ["/RemoveFolder", "/ShortNames"]),
        ]
        for folder_name, args in cases:
            with self.subTest(args=args):
                folder, exe = self.run_probe(folder_name, *args)
                self.assert_batch_ran(exe)
                self.assertTrue(wait_until(lambda: not os.path.exists(folder), TIMEOUT), "the folder was not removed")
                self.assertTrue(os.path.isdir(self.dir))

    def test_folder_stays_without_the_flag(self):
        for args in ([], ["/ShortNames"]):
            with self.subTest(args=args):
                folder, exe = self.run_probe("keep %s" % len(args), *args)
                self.assert_batch_ran(exe)
                # The batch has ended: nothing more comes to remove the folder.
                self.assertTrue(os.path.isdir(folder))
                self.assertEqual(os.listdir(folder), [])

    def test_folder_with_other_files_stays_whole(self):
        folder, exe = self.run_probe("shared", "/RemoveFolder", extra_files=["data.txt", "other.exe"])
        self.assert_batch_ran(exe)
        self.assertEqual(sorted(os.listdir(folder)), ["data.txt", "other.exe"])
        with open(os.path.join(folder, "data.txt")) as f:
            self.assertEqual(f.read(), "data.txt")


if __name__ == "__main__":
    unittest.main()
