"""The agent's inform step under Wine, end to end: the publisher's builder writes an inform page and
its INFO file onto the local nginx; a check finds the publication, downloads the page from the
update folder, checks its token and shows it in the "URichEditBox" dialog, whose button opens the
published address; the installed version then counts as informed."""
import os
import shutil
import subprocess
import unittest

from test_agent import AgentTestCase, ini, setUpModule, tearDownModule  # noqa: F401 (module fixtures)
import test_agent
from test_launch import BOXDRIVE, ENGINE
from ulvtest import BUILDER, SCREENSHOTS, WINE_RUN, wait_until, windows_path

DIALOG = "URichEditBox"


class InformTests(AgentTestCase):

    def setUp(self):
        super().setUp()
        # The address the dialog's button opens: a program that notes that it was started.
        self.opened = self.path("opened.txt")
        opener = self.path("opener")
        os.makedirs(opener)
        self.opener = os.path.join(opener, "Open.exe")
        shutil.copy(ENGINE, self.opener)
        with open(os.path.join(opener, "TestEngine.ini"), "w", newline="") as f:
            f.write("[Engine]\r\nRecord=%s\r\n" % windows_path(self.opened))

    def tearDown(self):
        # Boxes, products and copies the agent left behind are none of the test's runs: they end
        # here, so that the next test's box driver sees none of them.
        for image in ("X_%s.exe" % self.name, "Open.exe"):
            subprocess.run([WINE_RUN, "taskkill", "/f", "/im", image], capture_output=True, timeout=120)
        super().tearDown()

    def builder(self, *args):
        result = subprocess.run([BUILDER, *args], capture_output=True, text=True)
        self.assertEqual(result.returncode, 0, result.stderr)

    def publish_page(self, body, *info_args, scrambled=False, token="TOK"):
        """The page and its INFO file, as the publisher writes them with the builder."""
        body_file = self.path("body.txt")
        with open(body_file, "w", encoding="utf-8", newline="") as f:
            f.write(body)
        page = os.path.join(self.server_folder, "Note.htm")
        self.builder("--inform-page", page, "--update-token", token, "--body", body_file,
                     *(["--scrambled"] if scrambled else []))
        self.builder("--write-info", os.path.join(self.server_folder, "Prog.info"), "--publish", page, "--inform",
                     "--version-new", "2", "--stamp", "5", "--update-url", test_agent.nginx.http_url + self.name,
                     *info_args)

    def informed_agent(self, font="Arial"):
        agent = self.agent(s34="News of Sample", s35="Read more")
        with open(self.original_path(), "a", newline="") as f:
            f.write(ini({"MsgBox": {"FontName": font, "FontSize": 10}}))
        self.assertEqual(self.start_agent(agent), 0)
        self.assertIsNotNone(self.copy_window())
        self.assertEqual(self.command(31, 1), 0)

    def dialog(self, timeout=60000):
        """What ulvboxdrive reads of the dialog: key -> list of the rest of its lines."""
        result = subprocess.run([WINE_RUN, BOXDRIVE, "info", str(timeout)], capture_output=True, text=True,
                                timeout=180, env=dict(os.environ, ULV_BOX_CLASS=DIALOG))
        self.assertEqual(result.returncode, 0, "no inform dialog appeared")
        fields = {}
        for line in result.stdout.splitlines():
            key, _, value = line.partition(" ")
            fields.setdefault(key, []).append(value)
        return fields

    def drive(self, *args):
        return subprocess.run([WINE_RUN, BOXDRIVE, *args], capture_output=True, timeout=120,
                              env=dict(os.environ, ULV_BOX_CLASS=DIALOG)).returncode

    def inform_end(self):
        self.assertTrue(wait_until(lambda: "PerformAutoInform() - END " in self.log(), 90), self.log())
        return self.log().split("PerformAutoInform() - END ")[1].startswith("TRUE")

    def children(self, fields):
        """child lines as (class, left, top, width, height, text)."""
        found = []
        for value in fields.get("child", []):
            parts = value.split(" ", 11)
            found.append((parts[1], *(int(v) for v in parts[2:6]), parts[11] if len(parts) > 11 else ""))
        return found

    def test_page_shown_and_its_button_opens_the_address(self):
        self.publish_page("Hello from the publisher.", "--inform-url", windows_path(self.opener),
                          "--inform-width", "480", "--inform-height", "400")
        self.informed_agent()
        fields = self.dialog()
        os.makedirs(SCREENSHOTS, exist_ok=True)
        subprocess.run(["import", "-window", "root", os.path.join(SCREENSHOTS, "inform_dialog.png")],
                       capture_output=True, timeout=60)
        self.assertEqual(fields["caption"], ["News of Sample"])
        self.assertEqual(fields["plain"], ["Hello from the publisher."])
        left, top, right, bottom = (int(v) for v in fields["window"][0].split())
        self.assertEqual((right - left, bottom - top), (480, 400))
        width, height = (int(v) for v in fields["client"][0].split())
        text, button = self.children(fields)
        self.assertEqual(text[:5], ("RICHEDIT", 3, 0, width - 3, height - 43))
        self.assertEqual(button, ("Button", (width - 160) // 2, height - 33, 160, 25, "Read more"))
        # The button opens the address and closes the dialog.
        self.assertEqual(self.drive("click", "0"), 0)
        self.assertTrue(wait_until(lambda: os.path.exists(self.opened), 60), "the address was not opened")
        self.assertTrue(self.inform_end())
        self.assertEqual(self.drive("gone", "10000"), 0)
        self.assertEqual(self.original_value("VersionOriginal"), "2")
        self.assertTrue(os.path.exists(os.path.join(self.folder, "Note.htm")))  # the page stays
        # Informed: even with a new stamp, the next check stops at the version test.
        self.builder("--write-info", os.path.join(self.server_folder, "Prog.info"), "--publish",
                     os.path.join(self.server_folder, "Note.htm"), "--inform", "--version-new", "2", "--stamp", "6",
                     "--update-url", test_agent.nginx.http_url + self.name)
        self.assertEqual(self.command(31, 1), 0)
        self.assertEqual(self.wait_traced(self.copy_pid(), r" GetOkToPerformAU=(\d)", 2)[1], "3")

    def test_scrambled_page_without_an_address(self):
        body = "Line one\r\nLine | two | with bars\r\n"
        self.publish_page(body, scrambled=True)
        self.informed_agent(font="Tahoma")
        fields = self.dialog()
        self.assertEqual(fields["plain"][0].replace("\\r", "\r").replace("\\n", "\n"), body)
        width, height = (int(v) for v in fields["client"][0].split())
        children = self.children(fields)
        # No address: no button, and the text fills the client area.
        self.assertEqual([c[:5] for c in children], [("RICHEDIT", 3, 0, width - 3, height)])
        self.assertEqual(self.drive("close"), 0)
        self.assertTrue(self.inform_end())
        self.assertEqual(self.original_value("VersionOriginal"), "2")

    def test_address_of_blanks_shows_no_button(self):
        self.publish_page("Only text.")
        # A publisher's hand-edited INFO file: an address of blanks (quoted, so that they stay).
        info = os.path.join(self.server_folder, "Prog.info")
        with open(info, "rb") as f:
            text = f.read().decode("latin-1")
        self.assertIn("[AutoInform]\r\n", text)
        with open(info, "wb") as f:
            f.write(text.replace("[AutoInform]\r\n", '[AutoInform]\r\nDownloadURL_INFORM="   "\r\n', 1).encode("latin-1"))
        self.informed_agent()
        fields = self.dialog()
        width, height = (int(v) for v in fields["client"][0].split())
        self.assertEqual([c[:5] for c in self.children(fields)], [("RICHEDIT", 3, 0, width - 3, height)])
        self.assertEqual(self.drive("close"), 0)
        self.assertTrue(self.inform_end())

    def test_empty_body_opens_the_address_at_once(self):
        self.publish_page("", "--inform-url", windows_path(self.opener))
        self.informed_agent()
        self.assertTrue(wait_until(lambda: os.path.exists(self.opened), 60), "the address was not opened")
        self.assertTrue(self.inform_end())
        self.assertEqual(self.drive("gone", "1000"), 0)
        self.assertEqual(self.original_value("VersionOriginal"), "2")

    def test_foreign_page_is_refused(self):
        self.refused_page_case("foreign", "Bad Secret Token!")

    def test_changed_page_is_refused_by_its_digest(self):
        self.refused_page_case("changed", "Bad SHA-256 Hash!")

    def refused_page_case(self, what, refusal):
        if what == "foreign":
            self.publish_page("Not ours.", token="OTHER")
        else:
            # Our token, but not the page the INFO file's digest was written for.
            self.publish_page("As published.")
            page = os.path.join(self.server_folder, "Note.htm")
            with open(page, "rb") as f:
                text = f.read()
            with open(page, "wb") as f:
                f.write(text.replace(b"As published.", b"As tampered."))
        self.informed_agent()
        caption, text = self.answer(0)
        self.assertEqual(caption, "Error")
        self.assertIn(refusal, text)
        self.assertFalse(self.inform_end())
        self.assertFalse(os.path.exists(os.path.join(self.folder, "Note.htm")))
        self.assertEqual(self.original_value("VersionOriginal"), "1")


if __name__ == "__main__":
    unittest.main(verbosity=2)
