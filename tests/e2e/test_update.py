"""The agent's update step under Wine, end to end: a check finds a newer setup on the local nginx,
the user is told or asked, the setup is downloaded and its token checked, the running test
product is shut down by the method the INFO file names, the new setup (the test engine) runs with
"/OriginalInfoFile=", the new version is recorded, the user is told, and the product and the
agent start again."""
import hashlib
import os
import re
import shutil
import subprocess
import time
import unittest

from test_agent import AgentTestCase, ini, setUpModule, tearDownModule  # noqa: F401 (module fixtures)
import test_agent
from signing import TestSigner
from test_launch import ENGINE, read_bytes, read_record
from ulvtest import E2E_DIR, SCREENSHOTS, WIN64, WINE_RUN, wait_until, windows_path

HELPER = os.path.join(WIN64, "tools", "wintest", "ulvhelperproc.exe")
SIGNER = TestSigner(os.path.join(E2E_DIR, "signing"))


def headed(caption, text):
    """A box of mode 0 as read back: its title as the heading above the text."""
    return caption, "%s\n\n%s\n" % (caption.upper(), text)


class UpdateTestCase(AgentTestCase):
    """An agent whose server publishes version 2 of the product as a setup around the test engine,
    and a running test product of the test's own (its own file and window class)."""

    def setUp(self):
        super().setUp()
        self.record_path = self.path("record.txt")
        self.product_log = self.path("product.txt")
        # A blank in the folder, as under "Program Files": the restart must quote the path.
        self.product_folder = self.path("installed product")
        os.makedirs(self.product_folder)
        self.product_exe = os.path.join(self.product_folder, "Product.exe")
        shutil.copy(HELPER, self.product_exe)
        self.product_class = "Product_" + self.name
        self.product_args = ["--log=" + windows_path(self.product_log), "--class=" + self.product_class, "vt"]
        # A product restarted by the agent gets no arguments: it takes the test's from here.
        self.env = dict(os.environ, ULV_HELPER_ARGS=" ".join(self.product_args))

    def tearDown(self):
        # Boxes, products and copies the agent left behind are none of the test's runs: they end
        # here, so that the next test's box driver sees none of them.
        for image in ("X_%s.exe" % self.name, "Product.exe", "Engine.exe"):
            subprocess.run([WINE_RUN, "taskkill", "/f", "/im", image], capture_output=True, timeout=120)
        super().tearDown()

    # --- the publication -----------------------------------------------------------------------

    def update_agent(self, **original):
        """The installed agent, its product folder named in the .original file."""
        agent = self.agent(**original)
        with open(self.original_path(), "a", newline="") as f:
            f.write(ini({"Directories": {"TargetDir": windows_path(self.product_folder)}}))
        return agent

    def publish_update(self, token="TOK", exit_code=0, completed=True, signed=False, **settings):
        """Version 2 on the server: a setup around the test engine and its INFO file."""
        engine = {"Engine.exe": read_bytes(ENGINE),
                  "TestEngine.ini": "[Engine]\r\nRecord=%s\r\nExitCode=%d\r\nDeleteAtom=%d\r\n"
                                    % (windows_path(self.record_path), exit_code, 1 if completed else 0)}
        setup = self.build("server_%s/Upd.exe" % self.name, "--main", "Engine.exe", "--update-token", token,
                           files=engine)
        if signed:
            SIGNER.sign(setup)
        shutil.copy(setup, os.path.join(self.server_folder, "Upd.exe"))
        if settings.get("SHA256OfUpdateFile") == "right":
            with open(setup, "rb") as f:
                settings["SHA256OfUpdateFile"] = hashlib.sha256(f.read()).hexdigest().upper()
        values = {"VersionNew": 2, "Stamp": 5, "ProgramName": "Sample", "DownloadURL_UPDATE":
                  test_agent.nginx.http_url + self.name, "NameOfUpdateFile": "Upd.exe",
                  "SizeOfUpdateFile": os.path.getsize(setup), "RunningProcess": "<InstallDir>\\Product.exe",
                  "ShutDownMethod": "Using WM_CLOSE"}
        values.update(settings)
        self.publish(**values)

    # --- the product and the engine ------------------------------------------------------------

    def start_product(self):
        starts = self.product_starts()
        self.start(self.product_exe, *self.product_args)
        self.assertTrue(wait_until(lambda: self.product_starts() > starts, 60), "the product did not start")

    def product_lines(self):
        return self.read_text(self.product_log).splitlines() if os.path.exists(self.product_log) else []

    def product_starts(self):
        return self.product_lines().count("ready")

    def product_running(self):
        return self.winmsg("find", self.product_class, 1000)[0] == 0

    def close_product(self):
        self.winmsg("post", self.product_class, 16, 0, 0)  # WM_CLOSE
        self.assertTrue(wait_until(lambda: not self.product_running(), 30), "the product did not close")

    def record(self):
        return read_record(self.record_path)

    def check_now(self):
        """An automatic check, as the timer would run it: the INFO file's questions are asked."""
        self.assertEqual(self.command(31, 1), 0)

    def wait_update_end(self, timeout=90):
        self.assertTrue(wait_until(lambda: "PerformAutoUpdate() - END" in self.log(), timeout), self.log())
        return re.search(r"PerformAutoUpdate\(\) - END    Result=(TRUE|FALSE)", self.log()).group(1) == "TRUE"

    def traced_plain(self, line, timeout=30):
        """A trace line of the update step (they carry no process id)."""
        return wait_until(lambda: line in self.trace.lines(), timeout)

    def box_buttons(self):
        result = subprocess.run([WINE_RUN, test_agent.BOXDRIVE, "info", "10000"], capture_output=True, text=True,
                                timeout=120)
        return sum(1 for line in result.stdout.splitlines()
                   if line.startswith("child ") and line.split()[2].lower() == "button")

    def screenshot(self, name):
        os.makedirs(SCREENSHOTS, exist_ok=True)
        target = os.path.join(SCREENSHOTS, name)
        subprocess.run(["import", "-window", "root", target], capture_output=True, timeout=60)
        return target

    def running_agent(self, *switches, **original):
        agent = self.update_agent(**original)
        self.assertEqual(self.start_agent(agent, *switches, env=self.env), 0)
        if not switches:
            self.assertIsNotNone(self.copy_window())
        return agent


class UpdateTests(UpdateTestCase):

    def test_update_closes_the_product_installs_and_restarts_both(self):
        self.publish_update(RequestConfirmationBeforeDownload=1, RequestConfirmationBeforeInstall=1,
                            RestartProcess=1, InformFinish=1)
        self.start_product()
        self.running_agent(s11="Sample PROG_NAME is out.", s13="[Download it?]", s14="Install PROG_NAME now?",
                           s16="PROG_NAME is up to date.", s17="[Start PROG_NAME again?]")
        self.command(23, 1)  # background installation, chosen by command: survives the restart below
        self.check_now()

        self.assertEqual(self.answer(0), headed("Confirm", "Sample Sample is out.[Download it?]"))
        self.assertEqual(self.box(), headed("Confirm", "Install Sample now?"))
        self.screenshot("update_install_question.png")
        self.press(0)
        self.assertTrue(wait_until(lambda: not self.box_open(), 20), "the box stayed")
        self.assertEqual(self.answer(0), ("Confirm", "Sample is up to date.[Start PROG_NAME again?]"))
        self.assertTrue(self.wait_update_end())

        record = self.record()
        info = windows_path(os.path.join(self.folder, "Prog.info"))
        self.assertIn(' /OriginalInfoFile="%s"' % info, record["commandline"][0])
        self.assertEqual(record["show"], ["1,0"])  # in the background: hidden
        self.assertIn("WM_CLOSE 15 255 window=0", self.product_lines())
        self.assertEqual(self.original_value("VersionOriginal"), "2")
        self.assertFalse(os.path.exists(os.path.join(self.folder, "Upd.exe")))
        program = windows_path(self.product_exe)
        self.assertIn("Shut Down Process() - START  (%s)  Method: Using WM_CLOSE" % program, self.log())
        self.assertTrue(self.traced_plain("TRUE TRUE >%s<" % program))
        # The product runs again, and a fresh copy of the agent with the override list.
        self.assertTrue(wait_until(lambda: self.product_starts() == 2, 60), self.product_lines())
        self.copy_pid(1)
        self.assertTrue(wait_until(lambda: " /TRANSIENTx=|255|255|255|1|255|255|255|255|" in self.log(), 30))
        self.assertEqual(self.command(4), 2)

    def shut_down_case(self, method, line, fate):
        self.publish_update(ShutDownMethod=method)
        self.start_product()
        self.running_agent(s15="Please close PROG_NAME.")
        self.check_now()
        if method == "Issue a Message Box":
            # The notice returns after every close while the product runs.
            for _ in range(2):
                self.assertEqual(self.box(), headed("Attention", "Please close Product.exe."))
                self.press(0)
                time.sleep(2)
            self.assertEqual(self.box(), headed("Attention", "Please close Product.exe."))
            self.assertTrue(self.product_running())
            self.close_product()
            self.press(0)
        elif fate == "ended by the test":
            self.assertTrue(self.traced_plain(" ==== PerformAutoUpdate-8 ====", 60))
            self.assertFalse(wait_until(lambda: os.path.exists(self.record_path), 5),
                             "the setup ran while the product ran")
            self.close_product()
        self.assertTrue(self.wait_update_end())
        self.assertEqual(self.original_value("VersionOriginal"), "2")
        if line:
            self.assertIn(line, self.product_lines())
        self.assertEqual(self.product_running(), fate == "running")
        # Not asked to restart it: the product stays as the step left it.
        self.assertEqual(self.product_starts(), 1)

    def test_shut_down_by_wm_quit(self):
        self.shut_down_case("Using WM_QUIT", "WM_QUIT 15 255 window=0", None)

    def test_shut_down_by_terminating(self):
        self.shut_down_case("Using Terminate Process", None, None)

    def test_no_shut_down(self):
        self.shut_down_case("Don't Shut Down", None, "running")

    def test_unknown_method_waits_for_the_product(self):
        self.shut_down_case("using wm_close", None, "ended by the test")

    def test_shut_down_notice_returns_until_the_product_ends(self):
        self.shut_down_case("Issue a Message Box", None, "ended by the test")

    TEXTS = dict(s11="New.", s12="Get it?", s13="Get it and install?", s14="Install?", s18="Getting it.",
                 s19="Getting it; you will be asked.", s20="Installing now.", s16="Done.", s17="Restart?")

    def question_case(self, flags, answers, downloaded, installed, token="TOK", refusal="Bad Secret Token!",
                      signed=False):
        self.publish_update(token=token, signed=signed, **flags)
        self.start_product()
        self.running_agent(ReAskSecondsInterval=3600, **self.TEXTS)
        self.check_now()
        for caption, text, button in answers:
            found = self.box()
            self.assertEqual(found[0], caption)
            if text is None:
                self.assertIn(refusal, found[1])
            else:
                self.assertEqual(found[1], text)
            if caption == "Attention":
                # A notice that must be read: one button, no close command.
                self.assertEqual(self.box_buttons(), 1)
                self.screenshot("update_forced_notice.png")
            self.press(button)
            self.assertTrue(wait_until(lambda: not self.box_open(), 20), "the box stayed")
        self.assertEqual(self.wait_update_end(), installed)
        self.assertEqual("Download START: %s%s\\Upd.exe" % (test_agent.nginx.http_url, self.name) in self.log(),
                         downloaded)
        self.assertEqual(os.path.exists(self.record_path), installed)
        self.assertEqual(self.original_value("VersionOriginal"), "2" if installed else "1")
        # A setup that was run is deleted; one the user declined to install stays for the next offer.
        # A foreign one is deleted at once.
        kept = downloaded and not installed and token == "TOK" and refusal == "Bad Secret Token!"
        self.assertEqual(os.path.exists(os.path.join(self.folder, "Upd.exe")), kept)
        # Nothing was shut down unless the setup was to run.
        self.assertEqual(self.product_running(), not installed)
        if not installed:
            # The offer was made: it returns only after the re-ask interval or with a new stamp.
            self.assertEqual(self.original_value("Stamp"), "5")
            self.check_now()
            self.assertEqual(self.wait_traced(self.copy_pid(), r" GetOkToPerformAU=(\d)", 2)[1], "2")

    def test_download_declined(self):
        self.question_case(dict(RequestConfirmationBeforeDownload=1), [headed("Confirm", "New.Get it?") + (1,)],
                           False, False)

    def test_installation_declined(self):
        self.question_case(dict(RequestConfirmationBeforeDownload=1, RequestConfirmationBeforeInstall=1),
                           [headed("Confirm", "New.Get it and install?") + (0,), headed("Confirm", "Install?") + (1,)],
                           True, False)

    def test_forced_notices(self):
        self.question_case(dict(RequestConfirmationBeforeDownload=1, RequestConfirmationBeforeDownloadForce=1,
                                RequestConfirmationBeforeInstall=1, RequestConfirmationBeforeInstallForce=1),
                           [("Attention", "New.Getting it; you will be asked.", 0), ("Attention", "Installing now.", 0)],
                           True, True)

    def test_force_alone_shows_no_notice(self):
        # Signed after the build and published with its digest (in capitals): the very file passes.
        self.question_case(dict(RequestConfirmationBeforeDownloadForce=1, SHA256OfUpdateFile="right"), [], True, True,
                           signed=True)

    def test_other_digest_shuts_nothing_down(self):
        self.question_case(dict(SHA256OfUpdateFile="0" * 64), [("Error", None, 0)], True, False,
                           refusal="Bad SHA-256 Hash!")
        self.assertIn("ERROR: ", self.log())

    def test_endless_update_stops_at_its_published_size(self):
        test_agent.fault.files["Upd.exe"] = b"MZ" + b"\0" * 5000
        self.publish_update(DownloadURL_UPDATE=test_agent.fault.url + "endless", SizeOfUpdateFile=0)
        self.start_product()
        self.running_agent()
        self.check_now()
        self.assertFalse(self.wait_update_end())
        self.assertTrue(self.trace.wait_for(r".* HTTP_DownloadFile_Incremental: Upd\.exe --- File too large: "
                                            r"more than 99 bytes"), self.trace.text())
        # Nothing under the update's name or a part of it, nothing run, nothing shut down.
        self.assertEqual([n for n in os.listdir(self.folder) if n.lower().startswith("upd.exe")], [])
        self.assertFalse(os.path.exists(self.record_path))
        self.assertTrue(self.product_running())

    def test_stop_during_the_download_ends_it_cleanly(self):
        fault = test_agent.fault
        fault.files["Upd.exe"] = b"U" * 400000
        fault.slow_piece, fault.slow_delay = 2000, 0.2  # 40 seconds in all
        try:
            self.publish_update(DownloadURL_UPDATE=fault.url + "slow", SizeOfUpdateFile=400000)
            self.start_product()
            self.running_agent()
            self.check_now()
            self.assertTrue(wait_until(lambda: "Download START: %sslow\\Upd.exe" % fault.url in self.log(), 60),
                            self.log())
            time.sleep(3)
            self.winmsg("post", self.copy_class, test_agent.WM_SHUTDOWN, 0, 0)
            self.assertTrue(self.copy_gone(30000), "the copy did not end during its download")
        finally:
            fault.slow_piece, fault.slow_delay = 1024, 0.2
        self.assertTrue(wait_until(lambda: not os.path.exists(os.path.join(self.folder, "X_%s.exe" % self.name)), 30),
                        "the copy did not delete itself")
        self.assertEqual([n for n in os.listdir(self.folder) if n.lower() == "upd.exe"], [])
        self.assertFalse(os.path.exists(self.record_path))
        self.assertTrue(self.product_running())
        self.assertEqual(self.original_value("VersionOriginal"), "1")

    def test_foreign_token_shuts_nothing_down(self):
        self.question_case(dict(RequestConfirmationBeforeDownload=1),
                           [headed("Confirm", "New.Get it?") + (0,), ("Error", None, 0)], True, False, token="OTHER")

    def test_requested_check_asks_nothing_and_tells_the_end(self):
        self.publish_update(RequestConfirmationBeforeDownload=1, RequestConfirmationBeforeInstall=1,
                            InformFinish=0, RestartProcess=0)
        self.start_product()
        self.running_agent("/TEST=2", s11="New.", s12="Get it?", s14="Install?", s16="PROG_NAME is updated.",
                           s22="Check now?")
        self.assertEqual(self.answer(0), ("Confirm", "Check now?"))
        # The user asked: no question before the download or the installation, the end is told.
        self.assertEqual(self.answer(0), ("Attention", "Sample is updated."))
        self.assertTrue(self.wait_update_end())
        self.assertEqual(self.original_value("VersionOriginal"), "2")
        self.assertEqual(self.product_starts(), 1)

    def test_product_not_running_is_not_started(self):
        self.publish_update(RestartProcess=1)
        self.running_agent()
        self.check_now()
        self.assertTrue(self.wait_update_end())
        # Nothing was shut down, so nothing is started again.
        self.assertTrue(self.traced_plain("FALSE TRUE >%s<" % windows_path(self.product_exe)))
        self.assertEqual(self.product_starts(), 0)
        self.assertFalse(self.product_running())

    def test_failed_setup_changes_nothing_but_the_download(self):
        self.publish_update(exit_code=3, completed=False, RestartProcess=1, InformFinish=1)
        self.start_product()
        self.running_agent(s16="Done.")
        self.check_now()
        self.assertFalse(self.wait_update_end())
        self.assertEqual(self.record()["exit"], ["3"])
        self.assertEqual(self.original_value("VersionOriginal"), "1")
        self.assertFalse(os.path.exists(os.path.join(self.folder, "Upd.exe")))
        # No finish notice; the product that was shut down for the setup is started again all the same.
        self.assertTrue(self.traced_plain("TRUE TRUE >%s<" % windows_path(self.product_exe)))
        self.assertFalse(self.box_open())
        self.assertTrue(wait_until(lambda: self.product_starts() == 2, 60), self.product_lines())
        # No restart of the agent after a failed setup: the same copy answers.
        self.assertEqual(len(self.trace.matching(r" ==== STUB START ====> .*X_%s\.exe.*" % self.name)), 1)
        self.assertEqual(self.command(4), 1)


if __name__ == "__main__":
    unittest.main(verbosity=2)
