"""The markup message box under Wine: ulvmsgbox shows one box through the entry points, ulvboxdrive
reads the box from outside (geometry, text, bold ranges, buttons) and plays its user (clicks, keys,
the caption's close, a quit message)."""
import os
import re
import subprocess
import tempfile
import time
import unittest

from ulvtest import SCREENSHOTS, WIN64, WINE_RUN, WineTestCase

PROBE = os.path.join(WIN64, "tools", "wintest", "ulvmsgbox.exe")
DRIVER = os.path.join(WIN64, "tools", "wintest", "ulvboxdrive.exe")
GERMAN = "|&OK|&Abbrechen|&Ja|&Nein|&Abbrechen|&Wiederholen|&Ignorieren|"
VK_RETURN, VK_ESCAPE, VK_LEFT = 0x0D, 0x1B, 0x25
BAND = (0, 78, 152)


def unescape(text):
    return re.sub(r"\\(.)", lambda m: {"r": "\r", "n": "\n", "t": "\t"}.get(m.group(1), m.group(1)), text)


class Box:
    """ulvboxdrive's description of a box."""

    def __init__(self, output):
        self.children = []
        self.bold = []
        for line in output.splitlines():
            key, _, rest = line.partition(" ")
            if key == "window":
                self.left, self.top, self.right, self.bottom = map(int, rest.split())
            elif key == "client":
                self.client_width, self.client_height = map(int, rest.split())
            elif key == "clientorigin":
                self.client_x, self.client_y = map(int, rest.split())
            elif key == "metrics":
                self.frame_x, self.frame_y, self.caption_height = map(int, rest.split())
            elif key == "caption":
                self.caption = unescape(rest)
            elif key == "owner":
                self.owner = rest
            elif key == "child":
                f = rest.split(" ", 11)
                self.children.append(dict(cls=f[1], left=int(f[2]), top=int(f[3]), width=int(f[4]),
                                          height=int(f[5]), style=int(f[6], 16), exstyle=int(f[7], 16),
                                          code=int(f[8]), default=f[9] == "1", focused=f[10] == "1",
                                          text=unescape(f[11] if len(f) > 11 else "")))
            elif key == "textstyle":
                align, rtl = rest.split()
                self.textstyle = (align, rtl == "1")
            elif key == "plain":
                self.plain = unescape(rest)
            elif key == "bold":
                self.bold = [tuple(map(int, r.split("-"))) for r in rest.split()]

    @property
    def width(self):
        return self.right - self.left

    @property
    def height(self):
        return self.bottom - self.top

    @property
    def text(self):
        return [c for c in self.children if c["cls"] != "Button"][0]

    @property
    def buttons(self):
        return sorted((c for c in self.children if c["cls"] == "Button"), key=lambda c: c["left"])


class MessageBoxTests(WineTestCase):
    trace_viewer = False

    @classmethod
    def setUpClass(cls):
        # Without a window manager on the test display nobody draws captions; for this program
        # alone Wine draws them itself, as it would for every window on a desktop of its own.
        subprocess.run([WINE_RUN, "reg", "add", r"HKCU\Software\Wine\AppDefaults\ulvmsgbox.exe\X11 Driver",
                        "/v", "Decorated", "/d", "N", "/f"], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                       stdin=subprocess.DEVNULL, check=True, timeout=180)

    def setUp(self):
        super().setUp()
        # A box left over by another test would answer in this one's place.
        self.assertEqual(self.drive("gone", 30000)[0], 0, "a message box of an earlier test is still open")

    def drive(self, *args):
        # Into a file, not a pipe: Wine's service processes started along with a program inherit
        # its handles and would hold a pipe open long after the program has ended.
        with tempfile.TemporaryFile(dir=self.dir) as out:
            rc = subprocess.run([WINE_RUN, DRIVER, *[str(a) for a in args]], stdout=out, stderr=subprocess.DEVNULL,
                                stdin=subprocess.DEVNULL, timeout=180).returncode
            out.seek(0)
            return rc, out.read().decode("latin-1")

    def show(self, entry, *args):
        """Starts ulvmsgbox and waits for its box; returns the run and the box."""
        run = self.start(PROBE, *[str(a) for a in args], entry)
        return run, self.box()

    def box(self):
        rc, out = self.drive("info", 60000)
        self.assertEqual(rc, 0, "no message box came up")
        return Box(out)

    def act(self, *args):
        rc, _ = self.drive(*args)
        self.assertEqual(rc, 0, "ulvboxdrive %s failed" % " ".join(map(str, args)))

    def still_open(self, seconds=1.0):
        time.sleep(seconds)
        return self.drive("info", 3000)[0] == 0

    def finish(self, run):
        """The probe's report once its box is answered: 'result', 'elapsed', ... as texts."""
        self.assertEqual(run.wait(60), 0)
        report = {}
        for line in run.output().splitlines():
            key, _, rest = line.strip().partition(" ")
            report[key] = rest
        return report

    def measure(self, text, face="Tahoma", size=8, weight=400):
        rc, out = self.drive("measure", face, size, 1, text, weight)
        self.assertEqual(rc, 0)
        values = dict(line.split() for line in out.splitlines())
        return int(values["width"]), int(values["lineheight"])

    def line_of_width(self, target):
        """A one-line text of about `target` pixels in the box's font, and its exact width."""
        words, width = [], 0
        while width < target:
            words.append("Lorem%d" % len(words))
            width, _ = self.measure(" ".join(words))
        return " ".join(words), width

    def expected_height(self, box, text_height):
        margin = 45 if text_height < 39 else 32
        return text_height + 36 + 2 * margin + 2 * box.frame_y + box.caption_height

    # --- text ------------------------------------------------------------------------------

    def test_error_heading_is_bold_and_upper_cased_only_for_a_default_title(self):
        for title, heading in [("Error", "ERROR"), ("Disk error", "Disk error")]:
            run, box = self.show("error", "--mode", 0, "--title", title, "--text", "Disk <B>full</B>.<P>Retry.")
            self.assertEqual(box.caption, title)
            self.assertEqual(box.plain, heading + "\r\n\r\nDisk full.\r\nRetry.\r\n")
            start = len(heading) + 4 + len("Disk ")
            self.assertEqual(box.bold, [(0, len(heading)), (start, start + 4)])
            [ok] = box.buttons
            self.assertEqual((ok["text"], ok["code"], ok["default"], ok["focused"]), ("&OK", 1, True, True))
            self.act("click", 0)
            self.assertEqual(self.finish(run)["result"], "none")

    # --- layout ----------------------------------------------------------------------------

    def test_short_one_line_text_gives_a_box_360_wide(self):
        text_width, line_height = self.measure("Done.")
        run, box = self.show("attention", "--text", "Done.")
        self.assertEqual(box.caption, "Attention")
        self.assertEqual(box.width, 360)
        self.assertEqual(box.height, self.expected_height(box, line_height))
        text = box.text
        self.assertEqual(text["width"], text_width + 10 + 10)
        w, h = box.client_width, box.client_height
        top = (h - 36 - line_height) // 2
        self.assertEqual((text["left"], text["top"], text["height"]),
                         ((w - 54 - text["width"]) // 2 + 54, top, h - top - 39))
        [ok] = box.buttons
        self.assertEqual((ok["left"], ok["top"], ok["width"], ok["height"]), (w - 80, h - 29, 70, 23))
        self.act("click", 0)
        self.finish(run)

    def test_line_wider_than_600_is_measured_600_wide_and_two_lines_high(self):
        line, width = self.line_of_width(700)
        self.assertTrue(600 < width < 1200, width)
        _, line_height = self.measure(line)
        run, box = self.show("yesno", "--text", line)
        self.assertEqual(box.text["width"], 610)
        self.assertEqual(box.width, 610 + 54 + 2 * 32 + 2 * box.frame_x)
        self.assertEqual(box.height, self.expected_height(box, 2 * line_height))
        self.assertEqual([(b["text"], b["left"], b["top"]) for b in box.buttons],
                         [("&Yes", box.client_width - 150, box.client_height - 29),
                          ("&No", box.client_width - 80, box.client_height - 29)])
        self.act("click", 1)
        self.assertEqual(self.finish(run)["result"], "FALSE")

    def test_bold_text_widens_the_control_in_steps_until_it_fits(self):
        line, width = self.line_of_width(560)
        bold_width, _ = self.measure(line, weight=700)
        measured = min(width + 10, 600)
        self.assertTrue(measured + 20 < bold_width < measured + 180, (width, bold_width))
        run, box = self.show("markup", "--text", "<B>" + line + "</B>", "--flags", 0)
        widened = box.text["width"]
        self.assertEqual((widened - measured) % 10, 0, (widened, measured))
        self.assertTrue(bold_width <= widened <= bold_width + 40, (widened, bold_width))
        self.assertEqual(box.bold, [(0, len(line))])
        self.act("click", 0)
        self.assertEqual(self.finish(run)["result"], "1")
        # The same text without bold keeps its measured width.
        run, box = self.show("markup", "--text", line, "--flags", 0)
        self.assertEqual(box.text["width"], width + 20)
        self.act("click", 0)
        self.finish(run)

    def test_font_of_set_msg_box_font(self):
        text_width, line_height = self.measure("Done.", size=14)
        run, box = self.show("markup", "--font", "Tahoma", 14, 1, "--text", "Done.", "--flags", 0)
        self.assertEqual(box.text["width"], text_width + 20)
        self.assertEqual(box.height, self.expected_height(box, line_height))
        self.act("click", 0)
        self.finish(run)

    # --- buttons and keys --------------------------------------------------------------------

    def test_default_button_index_wraps_and_enter_chooses_it(self):
        for flags, caption in [(0x203, "&Cancel"), (0x301, "&Cancel"), (0x104, "&No")]:
            run, box = self.show("markup", "--text", "Choose", "--flags", flags)
            [chosen] = [b for b in box.buttons if b["default"]]
            self.assertTrue(chosen["focused"])
            self.assertEqual(chosen["text"], caption, hex(flags))
            self.act("key", VK_RETURN)
            self.assertEqual(self.finish(run)["result"], str(chosen["code"]))

    def test_german_captions_answer_by_their_letters(self):
        for verb, key, result in [("key", ord("J"), "6"), ("key", ord("N"), "7"), ("syschar", "j", "6")]:
            run, box = self.show("markup", "--text", "Fortfahren?", "--buttons", GERMAN, "--flags", 0x24)
            self.assertEqual([b["text"] for b in box.buttons], ["&Ja", "&Nein"])
            self.act(verb, key)
            self.assertEqual(self.finish(run)["result"], result, (verb, key))

    def test_escape_does_nothing_and_arrows_move_the_focus(self):
        run, box = self.show("markup", "--text", "Sure?", "--flags", 0x124)
        self.assertEqual([b["focused"] for b in box.buttons], [False, True])
        self.act("key", VK_ESCAPE)
        self.assertTrue(self.still_open(), "Escape closed the box")
        self.act("key", VK_LEFT)
        time.sleep(0.5)
        self.assertEqual([b["focused"] for b in self.box().buttons], [True, False])
        self.act("key", VK_RETURN)
        self.assertEqual(self.finish(run)["result"], "6")

    def test_timeout_presses_the_first_button(self):
        run, box = self.show("markup", "--text", "Update now?", "--flags", 0x124, "--timeout", 5000)
        self.assertEqual(box.buttons[0]["code"], 6)
        self.assertTrue(self.still_open(2.5), "the box closed long before its timeout")
        report = self.finish(run)
        self.assertEqual(report["result"], "6")
        # Wine takes up to two seconds to take a window off a display without a window manager.
        self.assertTrue(5000 <= int(report["elapsed"]) < 9500, report["elapsed"])

    # --- closing -------------------------------------------------------------------------------

    def test_caption_close_answers_zero(self):
        for entry, flags, result in [("yesno", 0, "FALSE"), ("okcancel", 0, "FALSE"), ("markup", 0x23, "0")]:
            run, _ = self.show(entry, "--text", "Close me", "--flags", flags)
            self.act("close")
            self.assertEqual(self.finish(run)["result"], result, entry)

    def test_mode_2_greys_and_disables_the_close_command(self):
        run, _ = self.show("markup", "--mode", 2, "--text", "Wait", "--flags", 4, "--inspect", 300)
        self.act("close")
        self.assertTrue(self.still_open(), "the disabled Close command closed the box")
        self.act("click", 1)
        report = self.finish(run)
        self.assertEqual((report["closegreyed"], report["result"]), ("1", "7"))
        run, _ = self.show("markup", "--mode", 1, "--text", "Wait", "--flags", 4, "--inspect", 300)
        self.act("close")
        report = self.finish(run)
        self.assertEqual((report["closegreyed"], report["result"]), ("0", "0"))

    def test_quit_message_outlives_the_box(self):
        for when, code in [("before", 7), ("during", 9)]:
            args = ["--quit", code] if when == "before" else ["--check-quit"]
            run, _ = self.show("yesno", "--text", "Quit?", *args)
            if when == "during":
                self.act("quit", code)
            self.assertTrue(self.still_open(), "the quit message closed the box (%s)" % when)
            self.act("click", 0)
            report = self.finish(run)
            self.assertEqual(report["result"], "TRUE")
            self.assertEqual(report["quit"], "1 %d" % code, when)

    # --- owner, character set, AutoPlay --------------------------------------------------------

    def test_owner_is_disabled_while_the_box_shows(self):
        for mode in ["1", "owner"]:
            run, box = self.show("okcancel", "--owner", "--mode", mode, "--text", "Owned")
            self.assertEqual(box.owner, "UlvProbeOwner 0", mode)
            self.act("click", 0)
            report = self.finish(run)
            self.assertEqual((report["result"], report["owner_enabled"]), ("TRUE", "1"))

    def test_hebrew_and_arabic_read_right_to_left(self):
        for charset, style in [(177, ("right", True)), (178, ("right", True)), (1, ("left", False))]:
            run, box = self.show("error", "--mode", 1, "--charset", charset, "--text", "Shalom")
            self.assertEqual(box.textstyle, style, charset)
            self.act("click", 0)
            self.finish(run)

    def test_autoplay_query_is_refused(self):
        run, _ = self.show("okcancel", "--autoplay", "--text", "Insert disk 2")
        rc, out = self.drive("autoplay")
        self.assertEqual((rc, out.strip()), (0, "autoplay 1"))
        self.act("click", 1)
        self.assertEqual(self.finish(run)["result"], "FALSE")

    # --- what it looks like --------------------------------------------------------------------

    def test_screenshot_of_a_yes_no_box(self):
        self.assertTrue(os.environ.get("DISPLAY"), "the screenshot needs the test run's display")
        run, box = self.show("yesno", "--mode", 0, "--title", "Confirm", "--text",
                             "A newer version of <B>Sample Product</B> is available.<P>Do you want to install it now?")
        time.sleep(1)  # let it paint
        os.makedirs(SCREENSHOTS, exist_ok=True)
        shot = os.path.join(SCREENSHOTS, "msgbox_yes_no.png")
        subprocess.run(["import", "-window", "root", "-display", os.environ["DISPLAY"], "-crop",
                        "%dx%d+%d+%d" % (box.width, box.height, box.left, box.top), "+repage", shot],
                       check=True, timeout=60)

        def pixel(x, y):
            """The colour at client coordinates (x, y) of the box."""
            out = subprocess.run(["convert", shot, "-crop", "1x1+%d+%d" % (box.client_x - box.left + x,
                                                                        box.client_y - box.top + y),
                                  "-format", "%[fx:int(255*r+0.5)] %[fx:int(255*g+0.5)] %[fx:int(255*b+0.5)]",
                                  "info:"], capture_output=True, text=True, check=True).stdout
            return tuple(map(int, out.split()))

        h = box.client_height
        self.assertEqual(pixel(5, 5), BAND)
        self.assertEqual(pixel(50, h - 38), BAND)
        self.assertEqual(pixel(100, h - 36), (255, 255, 255))
        self.assertNotEqual(pixel(100, h - 37), (255, 255, 255))
        self.assertEqual(pixel(box.client_width - 5, 5), pixel(box.client_width - 5, h - 38))  # window colour
        self.assertEqual(box.bold, [(0, 7), (30, 44)])
        self.act("click", 0)
        self.assertEqual(self.finish(run)["result"], "TRUE")

if __name__ == "__main__":
    unittest.main()
