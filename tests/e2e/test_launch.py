"""The setup launcher under Wine, end to end: a setup made by the builder unpacks the test engine
(tools/wintest/ulvtestengine) into its work folder, starts it with its command line and token
atom, waits for it and its dialog window, ends with its exit code and removes its work folder;
corrupt, damaged and incomplete setups end with the launcher's own exit codes, after the message
the user must see."""
import os
import re
import shutil
import struct
import subprocess
import time
import unittest
import zlib

from test_unpack import hand_made_container
from ulvtest import STUB, WIN64, WINE_RUN, WineTestCase, wait_until, wine_temp_dir, windows_path

ENGINE = os.path.join(WIN64, "tools", "wintest", "ulvtestengine.exe")
BOXDRIVE = os.path.join(WIN64, "tools", "wintest", "ulvboxdrive.exe")

# The launcher's own exit codes (README, "Exit codes"). Under Wine a process's exit status keeps
# only the low 8 bits, so the full value is read from the launch's trace line.
EXIT_BAD_CHECKSUM = 0x205500F1
EXIT_INCOMPLETE = 0x205500F2
EXIT_UNPACK_ERROR = 0x205500F3

LAUNCH_LINE = r" ==== WinExec\(Engine\.exe\) >>(.*)<<"
RESULT_LINE = r" ==== LaunchSetupEngine: Completed=(TRUE|FALSE) ExitCode=(\d+)"


def read_record(path):
    """The test engine's record: key -> list of values, empty when the engine never ran."""
    found = {}
    if os.path.exists(path):
        with open(path, "rb") as f:
            for line in f.read().decode("latin-1").splitlines():
                key, value = line.split("=", 1)
                found.setdefault(key, []).append(value)
    return found


def read_bytes(path):
    with open(path, "rb") as f:
        return f.read()


class LaunchTestCase(WineTestCase):
    """Making setups around the test engine, and reading what the launch did."""

    def setUp(self):
        super().setUp()
        self.record_path = self.path("record.txt")
        self.engine = read_bytes(ENGINE)

    # --- making setups -------------------------------------------------------------------------

    def engine_files(self, **settings):
        """Engine.exe and its settings file, recording into the test's record file."""
        lines = ["[Engine]", "Record=" + windows_path(self.record_path)]
        lines += ["%s=%s" % item for item in settings.items()]
        return {"Engine.exe": self.engine, "TestEngine.ini": "\r\n".join(lines) + "\r\n"}

    def engine_setup(self, name, *args, main_args=None, extra=None, **settings):
        files = self.engine_files(**settings)
        files.update(extra or {})
        main = ["--main", "Engine.exe"] + (["--main-args", main_args] if main_args is not None else [])
        return self.build(name, *main, *args, files=files)

    def hand_made_setup(self, name, records):
        """A setup whose container is written here record by record (see test_unpack)."""
        path = self.path(name)
        with open(path, "wb") as f:
            f.write(hand_made_container(records, stub=read_bytes(STUB)))
        return path

    def work_folder(self, exe):
        """The Unix path of the launcher's work folder: "SETUP_" + the DOS time of its file."""
        t = time.localtime(os.path.getmtime(exe))
        return os.path.join(wine_temp_dir(), "SETUP_%d" % ((t.tm_hour << 11) | (t.tm_min << 5) | (t.tm_sec // 2)))

    # --- what happened -------------------------------------------------------------------------

    def record(self):
        return read_record(self.record_path)

    def launch_lines(self):
        return [re.fullmatch(r"\d+" + LAUNCH_LINE, line).group(1) for line in self.trace.matching(LAUNCH_LINE)]

    def result(self):
        """(completed, full exit code) of the last launch, from its trace line."""
        self.assertTrue(self.trace.wait_for(RESULT_LINE), self.trace.text())
        match = re.fullmatch(r"\d+" + RESULT_LINE, self.trace.matching(RESULT_LINE)[-1])
        return match.group(1) == "TRUE", int(match.group(2))

    def box(self, timeout=60000):
        """Caption and plain text of the message box on screen, once there is one."""
        result = subprocess.run([WINE_RUN, BOXDRIVE, "info", str(timeout)], capture_output=True, text=True,
                                timeout=180)
        self.assertEqual(result.returncode, 0, "no message box appeared")
        fields = dict(line.split(" ", 1) for line in result.stdout.splitlines() if " " in line)
        return fields.get("caption", ""), fields.get("plain", "")

    def press(self, index):
        subprocess.run([WINE_RUN, BOXDRIVE, "click", str(index)], capture_output=True, timeout=120, check=True)

    def assert_cleaned_up(self, folder):
        self.assertTrue(wait_until(lambda: not os.path.exists(folder), 30), "work folder left behind: " + folder)

    def expected_line(self, folder, tail, line, origin):
        """The command line that starts Engine.exe in `folder`: `tail` after the quoted program
        path, with {suffix} the token suffix `line` carries and {origin} the launcher's path."""
        suffix = re.search(r" /TH_ID=(_\d+)", line).group(1)
        user = os.path.basename(os.path.dirname(wine_temp_dir()))
        return '"C:\\users\\%s\\Temp\\%s\\Engine.exe"' % (user, os.path.basename(folder)) + tail.format(
            suffix=suffix, origin=origin)



class LaunchTests(LaunchTestCase):

    def test_engine_command_line_and_exit_code(self):
        cases = [
            # main args, launcher args, engine exit code, command line after the program path
            (None, [], 7, ' /TH_ID={suffix} /OriginExe="{origin}"'),
            (" /a", ["/b"], 0, ' /b /a /TH_ID={suffix} /OriginExe="{origin}"'),
            # A given "/OriginExe=" stays and no second one comes; codes above 255 pass whole.
            (None, ["/OriginExe=Z:\\elsewhere\\x.exe", "/q"], 300,
             " /OriginExe=Z:\\elsewhere\\x.exe /q /TH_ID={suffix}"),
        ]
        for i, (main_args, args, code, tail) in enumerate(cases):
            with self.subTest(args=args):
                if os.path.exists(self.record_path):
                    os.remove(self.record_path)
                setup = self.engine_setup("setup%d.exe" % i, main_args=main_args, ExitCode=code)
                folder = self.work_folder(setup)
                run = self.run_stub(setup, *args)
                self.assertEqual(run.rc, code & 0xFF)
                self.assertEqual(self.result(), (False, code))
                record = self.record()
                line = record["commandline"][0]
                self.assertEqual(line, self.expected_line(folder, tail, line, windows_path(setup)))
                self.assertEqual(self.launch_lines()[-1], line)
                # Started visible, from the launcher's current folder, beside its unpacked files.
                self.assertEqual(record["show"], ["1,5"])
                self.assertEqual(record["cwd"], [windows_path(self.dir)])
                self.assertEqual(record["files"], ["|Engine.exe|TestEngine.ini|"])
                self.assertEqual(record["atom"], ["present"])
                self.assertIn("========= ForegroundOp=TRUE ==========", self.trace.lines())
                self.assert_cleaned_up(folder)

    def test_hidden_mode_starts_the_engine_hidden(self):
        cases = [(["/hide"], []), ([], ["--hidden"]), ([], ["--hidden", "--show-temp-drive-info"])]
        for i, (args, build) in enumerate(cases):
            with self.subTest(args=args, build=build):
                if os.path.exists(self.record_path):
                    os.remove(self.record_path)
                before = len(self.trace.matching(RESULT_LINE))
                setup = self.engine_setup("hidden%d.exe" % i, *build, ExitCode=3)
                # A notice would wait for an answer that never comes: hidden mode shows none.
                run = self.run_stub(setup, *args, timeout=90)
                self.assertEqual(run.rc, 3)
                self.assertEqual(len(self.trace.matching(RESULT_LINE)), before + 1)
                self.assertEqual(self.record()["show"], ["1,0"])
                self.assertEqual(self.trace.lines().count("========= ForegroundOp=FALSE =========="), i + 1)

    def test_waits_for_the_engine_dialog_after_the_engine_ended(self):
        release = self.path("release")
        setup = self.engine_setup("setup.exe", ExitCode=9, DeleteAtom=1, HoldWindow=1, Release=windows_path(release))
        folder = self.work_folder(setup)
        run = self.start(setup)
        self.assertTrue(wait_until(lambda: "engine" in self.record(), 60), self.trace.text())
        self.assertEqual(self.record()["holder"], ["ready"])
        self.assertEqual(self.record()["exit"], ["9"])
        suffix = re.search(r"/TH_ID=(_\d+)", self.record()["commandline"][0]).group(1)
        rc, _ = self.winmsg("find", ".SDialog_Class_Name." + suffix, 5000)
        self.assertEqual(rc, 0)
        # The engine's process has gone, its window stays: the launcher keeps waiting.
        time.sleep(5)
        self.assertIsNone(run.proc.poll())
        self.assertEqual(self.trace.matching(RESULT_LINE), [])
        self.assertTrue(os.path.isdir(folder))
        with open(release, "w"):
            pass
        self.assertEqual(run.wait(60), 9)
        self.assertEqual(self.record()["holder"], ["ready", "released"])
        self.assertEqual(self.result(), (True, 9))
        self.assert_cleaned_up(folder)

    def test_shortcuts_go_only_after_a_completed_setup_that_asks(self):
        links = {name: self.path("links", name) for name in ("startup.lnk", "check.lnk")}
        with open(self.path("Product.original"), "w") as f:
            f.write("[UnInstall]\r\nStartUpLink=%s\r\nCheckforNewUpdateLink=%s\r\n"
                    % (windows_path(links["startup.lnk"]), windows_path(links["check.lnk"])))
        setups = {completed: self.engine_setup("setup%d.exe" % completed, "--info-file", "Product.info",
                                               DeleteAtom=int(completed))
                  for completed in (True, False)}
        cases = [
            # engine completes, INFO flags (start-up, check), links left afterwards
            (True, ("1", "1"), []),
            (True, ("1", "0"), ["check.lnk"]),
            (True, ("0", "1"), ["startup.lnk"]),
            (True, ("true", "01"), ["check.lnk", "startup.lnk"]),
            (False, ("1", "1"), ["check.lnk", "startup.lnk"]),
        ]
        for completed, (startup, check), left in cases:
            with self.subTest(completed=completed, flags=(startup, check)):
                os.makedirs(self.path("links"), exist_ok=True)
                for link in links.values():
                    with open(link, "w") as f:
                        f.write("link")
                with open(self.path("Product.info"), "w") as f:
                    f.write("[NewSetup]\r\nRemoveStartUpShortcut=%s\r\nRemoveCheckForNewUpdateShortcut=%s\r\n"
                            % (startup, check))
                run = self.run_stub(setups[completed])
                self.assertEqual(run.rc, 0)
                self.assertEqual(self.result(), (completed, 0))
                self.assertEqual(sorted(os.listdir(self.path("links"))), left)

    def test_bad_checksum_shows_the_error_and_fails(self):
        for args in ([], ["/hide"]):
            with self.subTest(args=args):
                setup = self.engine_setup("bad%d.exe" % len(args), "--checksum", "77")
                folder = self.work_folder(setup)
                run = self.start(setup, *args)
                caption, text = self.box()
                self.assertEqual(caption, "Error")
                self.assertIn("Bad CRC!", text)
                self.assertIn("This indicates that your setup file might be corrupted...", text)
                self.press(0)
                self.assertEqual(run.wait(60), EXIT_BAD_CHECKSUM & 0xFF)
                self.assertEqual(self.result(), (False, EXIT_BAD_CHECKSUM))
                self.assertEqual(self.record(), {})
                self.assertEqual(self.launch_lines(), [])
                self.assert_cleaned_up(folder)

    def test_record_that_does_not_inflate(self):
        files = self.engine_files(ExitCode=0)
        records = [("|Engine.exe*|0|", files["Engine.exe"], True),
                   ("|TestEngine.ini|0|", files["TestEngine.ini"].encode(), True),
                   ("|bad.txt|0|", b"x" * 100, True)]
        container = bytearray(hand_made_container(records, stub=read_bytes(STUB)))
        # Damage the deflate data of the last record, keeping its zlib header: the main file is
        # already out when the unpacking fails.
        at = container.rindex(zlib.compress(b"|bad.txt|0|\0" + b"x" * 100)[:2])
        container[at + 4:at + 8] = b"\xff\xff\xff\xff"
        setup = self.path("zlib.exe")
        with open(setup, "wb") as f:
            f.write(container)
        folder = self.work_folder(setup)
        run = self.start(setup)
        caption, text = self.box()
        self.assertEqual(caption, "Error")
        self.assertIn("Unable to extract the Setup File!", text)
        # zlib's own words follow.
        self.assertRegex(text, r"Unable to extract the Setup File!(\\r\\n)+\w+")
        self.press(0)
        self.assertEqual(run.wait(60), EXIT_UNPACK_ERROR & 0xFF)
        self.assertEqual(self.result(), (False, EXIT_UNPACK_ERROR))
        self.assertEqual(self.record(), {})
        self.assert_cleaned_up(folder)

    def test_incomplete_unpacking_fails(self):
        files = self.engine_files(ExitCode=0)
        damaged = bytearray(hand_made_container([("|Engine.exe*|0|", files["Engine.exe"], False),
                                                 ("|TestEngine.ini|0|", files["TestEngine.ini"].encode(), False),
                                                 ("|more.txt|0|", b"more", False)], stub=read_bytes(STUB)))
        # The last record claims a million bytes: the container is cut short.
        struct.pack_into("<i", damaged, damaged.index(b"|more.txt|") - 4, -1000000)
        with open(self.path("damaged.exe"), "wb") as f:
            f.write(damaged)
        self.engine_setup("multi.exe", "--disk-size", str(len(self.engine) + os.path.getsize(STUB)),
                          "--chunk-size", "64K", "--store", extra={"random.bin": os.urandom(400000)})
        self.assertTrue(os.path.exists(self.path("multi.exe.002")))
        os.rename(self.path("multi.exe.002"), self.path("hidden.002"))
        cases = [("damaged.exe", "damaged", 0), ("multi.exe", "DISK #2", 1)]  # OK, Cancel
        for name, shown, button in cases:
            with self.subTest(name=name):
                setup = self.path(name)
                folder = self.work_folder(setup)
                run = self.start(setup)
                self.assertIn(shown, self.box()[1])
                self.press(button)
                self.assertEqual(run.wait(60), EXIT_INCOMPLETE & 0xFF)
                self.assertEqual(self.result(), (False, EXIT_INCOMPLETE))
                self.assertEqual(self.record(), {})
                self.assert_cleaned_up(folder)

    def test_temp_drive_notice(self):
        setup = self.engine_setup("setup.exe", "--show-temp-drive-info", ExitCode=5)
        folder = self.work_folder(setup)
        for answer, rc in ((1, 0), (0, 5)):  # No, Yes
            with self.subTest(answer=answer):
                run = self.start(setup)
                caption, text = self.box()
                self.assertEqual(caption, "Confirm")
                self.assertIn("Ulvane will extract files to your Temp Drive (C:)", text)
                self.assertRegex(text, r"Estimated space required on your Temp drive is: \\t  \d+\.\d+ MB")
                self.assertRegex(text, r"Free space available on your Temp drive is: \\t  \d+\.\d+ MB")
                self.assertIn("Continue with Setup?", text)
                # Nothing is unpacked before the answer.
                self.assertEqual(os.listdir(folder), [])
                self.press(answer)
                self.assertEqual(run.wait(60), rc)
                self.assertEqual(self.result(), (False, rc))
                self.assertEqual("exit" in self.record(), answer == 0)
                self.assert_cleaned_up(folder)

    def test_multi_disk_setup_runs_from_its_temporary_copy(self):
        setup = self.engine_setup("setup.exe", "--disk-size", str(os.path.getsize(STUB) + 300 * 1024),
                                  "--separate-launcher", "--chunk-size", "64K", ExitCode=4, DeleteAtom=1,
                                  extra={"random.bin": os.urandom(2500000)})
        disks = sorted(f for f in os.listdir(self.dir) if f.startswith("setup.exe."))
        self.assertGreaterEqual(len(disks), 3, disks)
        folder = self.work_folder(setup)
        batch = os.path.join(wine_temp_dir(), "_DEL_ME_.BAT")
        with open(self.path("setup.exe.001"), "rb") as f:
            first_disk = f.read()
        agent_disk = bytearray(first_disk)
        agent_disk[-74 + 69] = 1  # ThisIs_AutoUpdateProg of disk 1's container
        cases = [
            # disk 1's container, a disk missing at the start, command line after the program path
            (first_disk, False, ' /q /OriginExe="{origin}" /TH_ID={suffix}'),
            (first_disk, True, ' /q /OriginExe="{origin}" /TH_ID={suffix}'),
            (bytes(agent_disk), False, ' /q /OriginExe="{origin}" /TH_ID={suffix} /AutoUpdateProg'),
        ]
        for done, (disk, missing, tail) in enumerate(cases):
            with self.subTest(missing=missing, agent=disk != first_disk):
                if os.path.exists(self.record_path):
                    os.remove(self.record_path)
                with open(self.path("setup.exe.001"), "wb") as f:
                    f.write(disk)
                if missing:
                    os.rename(self.path("setup.exe.002"), self.path("hidden.002"))
                run = self.run_stub(setup, "/q")
                self.assertEqual(run.rc, 0)  # the launcher hands over and ends
                if missing:
                    self.assertIn("DISK #2", self.box()[1])
                    os.rename(self.path("hidden.002"), self.path("setup.exe.002"))
                    self.press(0)
                self.assertTrue(self.trace.wait_for(RESULT_LINE, done + 1, 120), self.trace.text())
                self.assertEqual(self.result(), (True, 4))
                record = self.record()
                # The copy ran in the work folder, beside the unpacked files.
                self.assertEqual(record["files"], ["|Engine.exe|TestEngine.ini|Y_setup.exe|random.bin|"])
                line = record["commandline"][0]
                self.assertEqual(line, self.expected_line(folder, tail, line, windows_path(setup)))
                # Afterwards: no copy, no work folder, no batch file.
                self.assert_cleaned_up(folder)
                self.assertTrue(wait_until(lambda: not os.path.exists(batch), 30), "batch file left behind")


if __name__ == "__main__":
    unittest.main(verbosity=2)
