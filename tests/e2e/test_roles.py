"""The stub under Wine chooses its role from its container, its file name and its command line,
and records every start and end in its trace lines and, for agents, its log file."""
import os
import re
import shutil
import subprocess
import time
import unittest

from ulvtest import STUB, WIN64, WINE_RUN, WineTestCase, wait_until, wine_temp_dir, windows_path

WM_SHUTDOWN = 1123
AGENT = ["--agent", "--agent-exe", "agent.exe", "--agent-log-file", "--update-url", "http://127.0.0.1/u/",
         "--info-file", "Product.info"]
LOG_LINE = r"\d\d.\d\d.\d\d \d\d.\d\d.\d\d [ \d]{5,}"
BOXDRIVE = os.path.join(WIN64, "tools", "wintest", "ulvboxdrive.exe")
# The launcher's exit codes when the setup is corrupt and when the engine cannot be started (a
# text file named as the main file); Wine keeps the low 8 bits of an exit code.
EXIT_BAD_CHECKSUM = 0x205500F1
EXIT_ENGINE_NOT_STARTED = 0x205500F4
RESULT_LINE = r" ==== LaunchSetupEngine: Completed=FALSE ExitCode=%d"


class RoleTests(WineTestCase):
    def answer_box(self, text):
        """Waits for the launcher's message box, checks that it holds `text` and presses OK."""
        result = subprocess.run([WINE_RUN, BOXDRIVE, "info", "60000"], capture_output=True, text=True, timeout=180)
        self.assertEqual(result.returncode, 0, "no message box appeared")
        self.assertIn(text, result.stdout)
        subprocess.run([WINE_RUN, BOXDRIVE, "click", "0"], capture_output=True, timeout=120, check=True)

    def stop_agent(self, class_name):
        rc, _ = self.winmsg("post", class_name, WM_SHUTDOWN, 0, 0)
        self.assertEqual(rc, 0, "no window of class " + class_name)

    def test_launcher_writes_start_and_end_lines(self):
        setup = self.build("setup.exe", "--main", "readme.txt", files={"readme.txt": "hi"})
        run = self.run_stub(setup, "/x", "a b")
        self.assertEqual(run.rc, EXIT_ENGINE_NOT_STARTED & 0xFF)
        command_line = '"%s" /x "a b"' % windows_path(setup)
        lines = self.trace.lines()
        pid = re.match(r"(\d+) ", lines[0]).group(1)
        self.assertEqual(lines[0], pid + " ==== STUB START ====> " + command_line + "<")
        self.assertEqual(lines[1], pid + " ==== ThisIs_AutoUpdateProg=FALSE")
        end = lines.index(pid + " ==== STUB END ====> " + command_line + "<")
        self.assertEqual(lines[end + 1], "")
        # A launcher runs its window and acts on the first timer tick, once: it unpacks and tries to
        # start its main file, which is no program.
        self.assertEqual(len(self.trace.matching(r' ==== WinExec\(Engine\.exe\) >>"[^"]*\\SETUP_\d+\\readme\.txt" '
                                                 r'/x "a b" /TH_ID=_\d+ /OriginExe=".*"<<')), 1)
        self.assertEqual(len(self.trace.matching(RESULT_LINE % EXIT_ENGINE_NOT_STARTED)), 1)
        # A launcher never writes an agent log.
        self.assertEqual([f for f in os.listdir(self.dir) if f.endswith(".log")], [])

    def test_long_trace_line_reaches_the_viewer_in_pieces(self):
        setup = self.build("setup.exe")
        prefix_len = len(" ==== STUB START ====> \"%s\" " % windows_path(setup)) + len("<")
        run = self.run_stub(setup)  # learn the process id's width from a first run
        pid_len = len(self.trace.lines()[0].split(" ")[0])
        argument = "A" * (300 - pid_len - prefix_len)
        before = len(self.trace.pieces())
        self.run_stub(setup, argument)
        line = [l for l in self.trace.lines() if l.endswith(argument + "<")][0]
        self.assertEqual(len(line), 300)
        # 300 characters and the line end: two full buffers and the rest.
        self.assertEqual(self.trace.pieces()[before:before + 3], [128, 128, 46])
        self.assertEqual(run.rc, 0)

    def test_file_without_container_runs_as_launcher(self):
        bare = self.path("bare.exe")
        shutil.copyfile(STUB, bare)
        run = self.start(bare)
        # Without its container the setup counts as corrupt.
        self.answer_box("Bad CRC!")
        self.assertEqual(run.wait(60), EXIT_BAD_CHECKSUM & 0xFF)
        self.assertEqual(len(self.trace.matching(r" ==== ThisIs_AutoUpdateProg=FALSE")), 1)
        self.assertEqual(len(self.trace.matching(RESULT_LINE % EXIT_BAD_CHECKSUM)), 1)

    def test_transient_copy_matches_ignoring_case_and_deletes_itself(self):
        copy = self.build("x_Agent.EXE", *AGENT)
        run = self.start(copy, "/SleepX=0")
        rc, _ = self.winmsg("find", ".AutoUpdate.x_Agent", 20000)
        self.assertEqual(rc, 0, self.trace.text())
        # The log file takes "X_" in front unless the name starts with it, letter case counting.
        log = self.path("X_x_Agent.log")
        self.assertTrue(wait_until(lambda: os.path.exists(log) and "WinMain" in self.read_text(log)))
        # A second start finds the window of its own class and does nothing but its lines.
        second = self.run_stub(copy, timeout=60)
        self.assertEqual(second.rc, 0)
        self.assertTrue(self.trace.wait_for(r" ==== STUB END ====> .*", 1))

        self.stop_agent(".AutoUpdate.x_Agent")
        self.assertEqual(run.wait(60), 0)
        self.assertEqual(len(self.trace.matching(r" ==== ThisIs_AutoUpdateProg=TRUE")), 2)
        self.assertEqual(len(self.trace.matching(r" ==== STUB END ====> .*")), 2)
        # The copy is removed once its process has ended; its folder stays.
        self.assertTrue(wait_until(lambda: not os.path.exists(copy), 30), "transient copy not deleted")
        self.assertTrue(os.path.isdir(self.dir))

        text = self.read_text(log)
        for line in ["X_ExeIsRunning=FALSE", "ThisIs_Plain_AutoUpdate_Exe=FALSE", "ThisIs_X_AutoUpdate_Exe=TRUE",
                     "CheckTestMode", "WinMain", "DeleteMySelf", "=== EXIT === " + windows_path(copy)]:
            self.assertRegex(text, LOG_LINE + " X " + re.escape(line) + "\r\n")
        # The second start saw the first one's window: no second "WinMain".
        self.assertEqual(text.count(" X WinMain\r\n"), 1)

    def test_plain_agent_starts_the_transient_copy(self):
        agent = self.build("agent.exe", *AGENT)
        run = self.run_stub(agent, timeout=60)
        self.assertEqual(run.rc, 0)
        self.assertEqual(len(self.trace.matching(r" CreateAndRun_X_Exe-1 ")), 1)
        self.assertEqual(len(self.trace.matching(r" CreateAndRun_X_Exe-2")), 1)
        copy = self.path("X_agent.exe")
        rc, _ = self.winmsg("find", ".AutoUpdate.X_agent", 20000)
        self.assertEqual(rc, 0, "the transient copy did not come up")
        self.assertTrue(self.trace.wait_for(r' ==== STUB START ====> "%s"<' % re.escape(windows_path(copy))))

        # A second start of the plain agent finds the copy running and makes no new one.
        self.run_stub(agent, timeout=60)
        self.assertEqual(len(self.trace.matching(r" CreateAndRun_X_Exe-1 ")), 2)
        self.assertEqual(len(self.trace.matching(r" CreateAndRun_X_Exe-2")), 1)

        self.stop_agent(".AutoUpdate.X_agent")
        self.assertTrue(wait_until(lambda: not os.path.exists(copy), 40), "transient copy not deleted")
        self.assertTrue(os.path.exists(agent))
        text = self.read_text(self.path("X_agent.log"))
        # Both processes share one log; the plain agent's lines carry three blanks.
        for line in ["   ThisIs_Plain_AutoUpdate_Exe=TRUE", "   X_ExeIsRunning=TRUE", "   Create X_ File ",
                     " X ThisIs_X_AutoUpdate_Exe=TRUE", "   Agent Version=1.0.0.1"]:
            self.assertRegex(text, LOG_LINE + re.escape(line) + "\r\n")

    def test_agent_under_another_name_is_no_agent_role(self):
        renamed = self.build("renamed.exe", *AGENT)
        run = self.start(renamed)
        rc, _ = self.winmsg("find", ".AutoUpdate.renamed", 20000)
        self.assertEqual(rc, 0)
        self.stop_agent(".AutoUpdate.renamed")
        self.assertEqual(run.wait(60), 0)
        # It ran its window without making a copy and without deleting itself.
        self.assertFalse(os.path.exists(self.path("X_renamed.exe")))
        self.assertFalse(os.path.exists(self.path("X_agent.exe")))
        text = self.read_text(self.path("X_renamed.log"))
        self.assertIn("   ThisIs_Plain_AutoUpdate_Exe=FALSE\r\n", text)
        self.assertIn("   ThisIs_X_AutoUpdate_Exe=FALSE\r\n", text)
        self.assertNotIn("WinMain", text)
        time.sleep(2)
        self.assertTrue(os.path.exists(renamed))

    def test_multi_disk_launcher_runs_its_temp_copy(self):
        setup = self.build("setup.exe", "--span-copy-to-temp", "--main", "readme.txt", files={"readme.txt": "x"})
        run = self.run_stub(setup, "/q")
        self.assertEqual(run.rc, 0)
        pattern = (r' ==== STUB START ====> "C:\\users\\[^\\]+\\Temp\\SETUP_(\d+)\\Y_setup\.exe" /q /SpanCdLvl=2 '
                   r'/SpanDiskFName1="%s\.001" /OriginExe="%s"<') % (re.escape(windows_path(setup)),
                                                                     re.escape(windows_path(setup)))
        self.assertTrue(self.trace.wait_for(pattern), self.trace.text())
        number = re.search(r"SETUP_(\d+)", self.trace.matching(pattern)[0]).group(1)
        folder = os.path.join(wine_temp_dir(), "SETUP_" + number)
        # The copy looks for the first disk file beside the launcher; this setup has none, so the
        # copy reports it as corrupt.
        self.answer_box("Bad CRC!")
        self.assertTrue(self.trace.wait_for(RESULT_LINE % EXIT_BAD_CHECKSUM), self.trace.text())
        # The copy deletes itself and its folder at the end, batch file included.
        self.assertTrue(wait_until(lambda: not os.path.exists(folder), 40), "work folder left behind")
        self.assertTrue(wait_until(lambda: not os.path.exists(os.path.join(wine_temp_dir(), "_DEL_ME_.BAT")), 20))

    def test_span_level_two_runs_the_setup_directly(self):
        setup = self.build("setup.exe", "--span-copy-to-temp", "--main", "readme.txt", files={"readme.txt": "x"})
        run = self.run_stub(setup, "/SpanCdLvl=2")
        self.assertEqual(run.rc, EXIT_ENGINE_NOT_STARTED & 0xFF)
        self.assertEqual(len(self.trace.matching(r" ==== STUB START ====> .*")), 1, self.trace.text())
        # Its own payload, unpacked into its own work folder, without the span switch.
        self.assertEqual(len(self.trace.matching(r' ==== WinExec\(Engine\.exe\) >>"[^"]*\\SETUP_\d+\\readme\.txt" '
                                                 r'/TH_ID=_\d+ /OriginExe=".*"<<')), 1)


class NoViewerTests(WineTestCase):
    trace_viewer = False

    def test_trace_without_viewer_changes_nothing(self):
        setup = self.build("setup.exe")
        run = self.run_stub(setup, "/x")
        self.assertEqual(run.rc, 0)
        self.assertEqual(run.output(), "")  # nothing reaches the console either


if __name__ == "__main__":
    unittest.main(verbosity=2)
