"""The web installer under Wine, end to end: a launcher made by the builder with --internet-setup
fetches the real setup (itself a setup made by the builder around the test engine) from a local
nginx over HTTP or HTTPS, or takes the copy beside it, checks its download token, launches it,
hands over the engine's exit code and deletes what it downloaded. Refused setups, error pages,
declined questions, hidden mode, aborted and cut-off downloads, and the agent copy it leaves."""
import os
import struct
import subprocess
import time
import unittest

from httpserve import TestServers
from signing import TestSigner
from test_launch import BOXDRIVE, LaunchTestCase, read_bytes
from ulvtest import E2E_DIR, SCREENSHOTS, WINE_RUN, wait_until, wine_temp_dir, windows_path

SERVERS = os.path.join(E2E_DIR, "internet_setup_servers")
SIGNER = TestSigner(os.path.join(E2E_DIR, "signing"))
MAGIC = 0x4A3B2C1D
EXIT_DOWNLOAD_FAILED = 0x205500F5
EXIT_FOREIGN_SETUP = 0x205500F6
FLOW_LINE = r" ==== DownloadAndLaunchSetup: (.*)"

servers = TestServers(SERVERS)
nginx = fault = None


def setUpModule():
    global nginx, fault
    servers.start()
    nginx, fault = servers.nginx, servers.fault


def tearDownModule():
    servers.stop()


def joined(text):
    """A box's plain text with its line breaks (written as \\r or \\n) taken out."""
    return text.replace("\\r", "").replace("\\n", "")


class InternetSetupTests(LaunchTestCase):
    def setUp(self):
        super().setUp()
        self.downloaded = os.path.join(wine_temp_dir(), "RealSetup.exe")
        for name in os.listdir(wine_temp_dir()):
            if name.startswith("RealSetup.exe"):
                os.remove(os.path.join(wine_temp_dir(), name))

    # --- making setups -------------------------------------------------------------------------

    def real_setup(self, token="T-1", name="real/RealSetup.exe", **settings):
        """The setup that the web installer fetches: the test engine, carrying `token`."""
        settings.setdefault("ExitCode", 7)
        settings.setdefault("DeleteAtom", 1)
        return self.engine_setup(name, "--download-url", "http://unused", "--download-token", token, **settings)

    def web_installer(self, location, setup, *args, name="web/WebSetup.exe"):
        """A launcher that downloads `setup` (its name, size and token) from `location`."""
        return self.build(name, "--internet-setup", "--download-url", location, "--download-setup", setup, *args)

    def publish(self, setup):
        with open(os.path.join(nginx.root, "RealSetup.exe"), "wb") as f:
            f.write(read_bytes(setup))

    # --- what happened -------------------------------------------------------------------------

    def flow(self):
        """What the last download-and-launch said: "OK" or its error text."""
        self.assertTrue(self.trace.wait_for(FLOW_LINE), self.trace.text())
        return self.trace.matching(FLOW_LINE)[-1].split(": ", 1)[1]

    def window_info(self, class_name):
        rc, text = self.winmsg("info", class_name)
        if rc != 0:
            return None
        return [int(v, 0) for v in text.splitlines()[0].split()[1:]]

    def no_box_within(self, milliseconds):
        result = subprocess.run([WINE_RUN, BOXDRIVE, "info", str(milliseconds)], capture_output=True, text=True,
                                timeout=120)
        return result.returncode != 0

    def requests_for(self, name):
        return [r for r in fault.requests if r.path.endswith("/" + name)]

    # --- the tests -----------------------------------------------------------------------------

    def test_downloads_checks_launches_and_deletes_the_setup(self):
        setup = self.real_setup()
        self.publish(setup)
        for base in (nginx.http_url, nginx.https_url):
            with self.subTest(base=base):
                os.path.exists(self.record_path) and os.remove(self.record_path)
                web = self.web_installer(base.rstrip("/"), setup, "--confirm-download",
                                         name="web_%s/WebSetup.exe" % base.split(":")[0])
                folder = self.work_folder(web)
                run = self.start(web, "/x")
                caption, text = self.box()
                self.assertEqual(caption, "Confirm")
                self.assertIn("INTERNET DOWNLOAD", text)
                mb = os.path.getsize(setup) / 1048576
                self.assertIn("Size: %.*f MB" % (1 if mb > 10 else 2 if mb >= 1 else 3, mb), text)
                self.press(0)  # Yes
                self.assertEqual(run.wait(120), 7)
                self.assertEqual(self.result(), (True, 7))
                self.assertEqual(self.flow(), "OK")
                record = self.record()
                self.assertEqual(record["folder"][0].split("\\")[-1], os.path.basename(folder))
                self.assertIn(" /x ", record["commandline"][0] + " ")
                self.assertEqual(record["files"], ["|Engine.exe|TestEngine.ini|"])
                self.assertFalse(os.path.exists(self.downloaded), "the downloaded setup was left behind")
                self.assert_cleaned_up(folder)
        with open(nginx.access_log) as f:
            self.assertGreaterEqual(f.read().count("GET /RealSetup.exe"), 2)

    def test_copy_beside_the_launcher_is_used_in_place(self):
        setup = self.real_setup()
        # Nothing answers at this address: the copy beside the launcher must do.
        web = self.web_installer("http://127.0.0.1:1", setup, "--confirm-download")
        beside = os.path.join(os.path.dirname(web), "RealSetup.exe")
        with open(beside, "wb") as f:
            f.write(read_bytes(setup))
        run = self.run_stub(web)
        self.assertEqual(run.rc, 7)  # no question was asked, or the run would still wait
        self.assertEqual(self.flow(), "OK")
        self.assertTrue(os.path.exists(beside), "the copy beside the launcher was deleted")
        self.assertFalse(os.path.exists(self.downloaded))

    def test_always_download_ignores_the_copy_beside_the_launcher(self):
        setup = self.real_setup()
        self.publish(setup)
        web = self.web_installer(nginx.http_url.rstrip("/"), setup, "--always-download")
        # A foreign setup beside it: launching that would fail the token check.
        foreign = self.real_setup(token="OTHER", name="other/RealSetup.exe")
        beside = os.path.join(os.path.dirname(web), "RealSetup.exe")
        with open(beside, "wb") as f:
            f.write(read_bytes(foreign))
        run = self.run_stub(web)
        self.assertEqual(run.rc, 7)
        self.assertEqual(self.flow(), "OK")
        self.assertTrue(os.path.exists(beside))

    def test_foreign_setup_and_error_page_are_refused(self):
        foreign = self.real_setup(token="OTHER")
        fault.files["RealSetup.exe"] = read_bytes(foreign)
        mine = self.real_setup(token="MINE", name="mine/RealSetup.exe")
        cases = [
            ("plain", "Bad Secret Token!"),
            ("errorpage", "404 File Not Found...URL:  %serrorpage/RealSetup.exe."
                          "Please make sure the file is available and access is allowed to this file." % fault.url),
        ]
        for kind, message in cases:
            with self.subTest(kind=kind):
                web = self.web_installer(fault.url + kind, mine, name="web_%s/WebSetup.exe" % kind)
                run = self.start(web)
                caption, text = self.box()
                self.press(0)
                self.assertEqual(caption, "Error")
                self.assertIn(message, joined(text))
                self.assertEqual(run.wait(60), EXIT_FOREIGN_SETUP & 0xFF)
                self.assertEqual(self.record(), {}, "the engine ran")
                self.assertFalse(os.path.exists(self.downloaded), "the refused download was left behind")

    def test_pinned_setup_runs_only_with_its_digest(self):
        setup = self.real_setup()
        # Another build of the same product: the same token, other bytes.
        rebuilt = self.real_setup(name="rebuilt/RealSetup.exe", ExitCode=9)
        # A larger file is cut off at the pinned size before its digest is even computed.
        larger = os.path.getsize(rebuilt) > os.path.getsize(setup)
        refused = ("File too large", EXIT_DOWNLOAD_FAILED & 0xFF) if larger else \
            ("Bad SHA-256 Hash!", EXIT_FOREIGN_SETUP & 0xFF)
        for served, beside, (message, rc) in ((setup, None, (None, 7)), (rebuilt, None, refused),
                                              (None, rebuilt, ("Bad SHA-256 Hash!", EXIT_FOREIGN_SETUP & 0xFF))):
            with self.subTest(served=served and os.path.dirname(served), beside=beside and os.path.dirname(beside)):
                os.path.exists(self.record_path) and os.remove(self.record_path)
                if served:
                    self.publish(served)
                location = nginx.http_url.rstrip("/") if served else "http://127.0.0.1:1"
                web = self.web_installer(location, setup, "--download-hash",
                                         name="web_%d/WebSetup.exe" % len(os.listdir(self.path())))
                if beside:
                    with open(os.path.join(os.path.dirname(web), "RealSetup.exe"), "wb") as f:
                        f.write(read_bytes(beside))
                run = self.start(web)
                if rc != 7:
                    caption, text = self.box()
                    self.press(0)
                    self.assertEqual(caption, "Error")
                    self.assertIn(message, joined(text))
                self.assertEqual(run.wait(120), rc)
                self.assertEqual(self.record() != {}, rc == 7, "the engine ran" if rc != 7 else "the engine did not run")
                self.assertFalse(os.path.exists(self.downloaded), "the download was left behind")
                # A copy beside the launcher is the user's: refused, not deleted.
                if beside:
                    self.assertTrue(os.path.exists(os.path.join(os.path.dirname(web), "RealSetup.exe")))

    def test_declined_question_downloads_nothing(self):
        setup = self.real_setup()
        fault.files["RealSetup.exe"] = read_bytes(setup)
        web = self.web_installer(fault.url + "plain", setup, "--confirm-download", "--download-size", "10485760")
        before = len(self.requests_for("RealSetup.exe"))
        run = self.start(web)
        caption, text = self.box()
        self.assertEqual(caption, "Confirm")
        self.assertIn("Continue with Setup?", text)
        self.assertIn("Size: 10.00 MB", text)
        self.press(1)  # No
        self.assertEqual(run.wait(60), 0)
        self.assertEqual(self.flow(), "!")
        self.assertTrue(self.no_box_within(2000), "a message followed the declined question")
        self.assertEqual(len(self.requests_for("RealSetup.exe")), before)
        self.assertEqual(self.record(), {})

    def test_hidden_mode_asks_nothing_but_still_reports_errors(self):
        setup = self.real_setup()
        fault.files["RealSetup.exe"] = read_bytes(setup)
        for i, (args, build) in enumerate([(["/hide"], []), ([], ["--hidden"])]):
            with self.subTest(args=args, build=build):
                os.path.exists(self.record_path) and os.remove(self.record_path)
                web = self.web_installer(fault.url + "plain", setup, "--confirm-download", *build,
                                         name="hidden%d/WebSetup.exe" % i)
                run = self.run_stub(web, *args)
                self.assertEqual(run.rc, 7)
                self.assertEqual(self.record()["show"], ["1,0"])
        mine = self.real_setup(token="MINE", name="mine/RealSetup.exe")
        web = self.web_installer(fault.url + "plain", mine, "--hidden", name="hidden_bad/WebSetup.exe")
        run = self.start(web)
        caption, text = self.box()
        self.assertIn("Bad Secret Token!", text)
        self.press(0)
        self.assertEqual(run.wait(60), EXIT_FOREIGN_SETUP & 0xFF)

    def test_agent_copy_is_cut_at_the_end_of_data(self):
        release = self.path("release")
        setup = self.real_setup(HoldWindow=1, Release=windows_path(release))
        self.publish(setup)
        # A signature after the data counts as a tail of bytes too.
        for tail in (0, 2000, 20000, "signed"):
            with self.subTest(tail=tail):
                os.path.exists(self.record_path) and os.remove(self.record_path)
                os.path.exists(release) and os.remove(release)
                args = ["--install-agent", "--agent-exe", "Agent.exe"]
                if tail and tail != "signed":
                    args += ["--trailing-bytes", str(tail)]
                web = self.web_installer(nginx.http_url.rstrip("/"), setup, *args, name="agent%s/WebSetup.exe" % tail)
                if tail == "signed":
                    SIGNER.sign(web)
                    self.assertEqual(SIGNER.verify(web)[0], 0)
                folder = self.work_folder(web)
                run = self.start(web)
                # The engine holds its dialog window until released: the agent copy is there now.
                self.assertTrue(wait_until(lambda: "holder" in self.record(), 90), self.record())
                self.assertIn("Agent.exe", self.record()["files"][0].split("|"))
                copy = read_bytes(os.path.join(folder, "Agent.exe"))
                image = read_bytes(web)
                end = struct.unpack_from("<I", image, 252)[0]
                self.assertEqual(len(copy), end)
                self.assertEqual(copy[:-5], image[:end - 5])
                self.assertEqual(copy[-5], 1)  # the trailer's agent byte
                self.assertEqual(struct.unpack_from("<I", copy, len(copy) - 74 + 12)[0], MAGIC)
                self.assertEqual(os.path.getmtime(os.path.join(folder, "Agent.exe")) // 2,
                                 os.path.getmtime(web) // 2)
                with open(release, "w") as f:
                    f.write("go")
                self.assertEqual(run.wait(120), 7)
                self.assert_cleaned_up(folder)

    def test_closing_the_window_aborts_the_download(self):
        setup = self.real_setup()
        fault.files["RealSetup.exe"] = read_bytes(setup)
        fault.slow_piece, fault.slow_delay = 2048, 0.1
        try:
            web = self.web_installer(fault.url + "slow", setup)
            run = self.start(web)
            class_name = windows_path(web)
            self.assertTrue(wait_until(lambda: (self.window_info(class_name) or [0] * 5)[4] == 1, 60),
                            "the window did not show the download")
            time.sleep(2)  # let the bar move
            self.screenshot(class_name, "internet_setup_download.png")
            self.winmsg("post", class_name, 0x0010)  # WM_CLOSE: the first one stops the transfer
            caption, text = self.box()
            self.press(0)
            self.assertEqual((caption, joined(text)), ("Error", "ERRORDownload Aborted"))
            self.assertEqual(run.wait(60), EXIT_DOWNLOAD_FAILED & 0xFF)
            self.assertEqual(self.record(), {})
            self.assertFalse(os.path.exists(self.downloaded))
            partial = [n for n in os.listdir(wine_temp_dir()) if n.startswith("RealSetup.exe.")]
            self.assertEqual(len(partial), 1, "the partial download keeps its temporary name")
        finally:
            fault.slow_piece, fault.slow_delay = 1024, 0.2

    def test_cut_off_download_is_not_launched(self):
        setup = self.real_setup()
        fault.files["RealSetup.exe"] = content = read_bytes(setup)
        web = self.web_installer(fault.url + "short", setup)
        run = self.start(web)
        caption, text = self.box()
        self.press(0)
        self.assertEqual(caption, "Error")
        self.assertIn("RealSetup.exe --- Download incomplete: %d of %d bytes arrived"
                      % (len(content) // 2, len(content)), text)
        self.assertEqual(run.wait(60), EXIT_DOWNLOAD_FAILED & 0xFF)
        self.assertEqual(self.record(), {})
        self.assertFalse(os.path.exists(self.downloaded))

    def screenshot(self, class_name, name):
        """Keeps a picture of the window in build/screenshots; checks that its bar has moved."""
        left, top, right, bottom = self.window_info(class_name)[:4]
        os.makedirs(SCREENSHOTS, exist_ok=True)
        shot = os.path.join(SCREENSHOTS, name)
        subprocess.run(["import", "-window", "root", "-display", os.environ["DISPLAY"], "-crop",
                        "%dx%d+%d+%d" % (right - left, bottom - top, left, top), "+repage", shot],
                       check=True, timeout=60)
        self.assertTrue(os.path.getsize(shot) > 0)


if __name__ == "__main__":
    unittest.main()
