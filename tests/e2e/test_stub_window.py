"""The stub window under Wine: its hidden creation and geometry, the timer count switch, the two
close requests, the monitor registration and the agent command message."""
import os
import re
import subprocess
import time
import unittest

from ulvtest import WINE_RUN, WINMSG, WineTestCase, wait_until

WM_CLOSE, WM_SHUTDOWN, WM_AGENTMSG = 0x0010, 1123, 1125
AGENT = ["--agent", "--agent-exe", "agent.exe", "--agent-log-file"]


class StubWindowTests(WineTestCase):
    def start_agent(self, name="probe.exe", *switches, languages=None):
        args = list(AGENT)
        if languages:
            path = self.path("lang.ini")
            with open(path, "w") as f:
                f.write(languages)
            args += ["--languages", path]
        exe = self.build(name, *args)
        run = self.start(exe, *switches)
        class_name = ".AutoUpdate." + os.path.splitext(name)[0]
        rc, _ = self.winmsg("find", class_name, 30000)
        self.assertEqual(rc, 0, "the stub window did not come up")
        return run, class_name

    def stop(self, run, class_name):
        self.winmsg("post", class_name, WM_SHUTDOWN, 0, 0)
        self.assertEqual(run.wait(60), 0)

    def info(self, class_name):
        rc, text = self.winmsg("info", class_name)
        self.assertEqual(rc, 0)
        lines = text.splitlines()
        window = [int(v, 0) for v in lines[0].split()[1:]]
        area = [int(v) for v in lines[1].split()[1:]]
        caption = lines[2][len("caption "):]
        children = [line.split() for line in lines if line.startswith("child ")]
        return window, area, caption, [(c[1], *map(int, c[2:7])) for c in children]

    def test_hidden_centred_window_with_its_controls(self):
        cases = [
            ("", "Ulvane Installation Suite", 70, 416),
            ("[English]\ns0=Sample Setup\nCharset=177\n", "Sample Setup", 122, 70),
            ("[English]\nCharset=178\n", "Ulvane Installation Suite", 122, 70),
        ]
        for number, (languages, caption_expected, label_x, activity_x) in enumerate(cases):
            with self.subTest(languages=languages):
                run, class_name = self.start_agent("probe%d.exe" % number, languages=languages or None)
                (left, top, right, bottom, visible, _, _), area, caption, children = self.info(class_name)
                self.assertEqual(visible, 0)
                self.assertEqual((right - left, bottom - top), (492, 110))
                self.assertEqual(left, area[0] + (area[2] - area[0] - 492) // 2)
                self.assertEqual(top, area[1] + (area[3] - area[1] - 110) // 2)
                self.assertEqual(caption, caption_expected)
                self.assertEqual([c[:6] for c in children], [
                    ("Static", label_x, 20, 340, 18, 1),
                    ("msctls_progress32", 70, 38, 392, 13, 1),
                    ("msctls_progress32", activity_x, 20, 46, 13, 0),
                ])
                self.stop(run, class_name)

    def test_sleep_switch_sets_the_first_timer_count(self):
        for switch, first in (("", -2), ("/SleepX=5", -4), ("/SleepX=0", 1), ("/SleepX=-5", -2)):
            with self.subTest(switch=switch):
                name = "sleep%d.exe" % abs(first * 10 + len(switch))
                before = len(self.trace.matching(r" AutoUpdateTimerCount=-?\d+"))
                run, class_name = self.start_agent(name, *([switch] if switch else []))
                self.assertTrue(self.trace.wait_for(r" AutoUpdateTimerCount=-?\d+", before + 1))
                line = self.trace.matching(r" AutoUpdateTimerCount=-?\d+")[before]
                self.assertTrue(line.endswith("=%d" % first), line)
                self.stop(run, class_name)

    def test_first_close_request_only_stops_transfers(self):
        run, class_name = self.start_agent()
        self.winmsg("post", class_name, WM_CLOSE)
        time.sleep(1.5)
        self.assertIsNone(run.proc.poll(), "the first close request closed the window")
        self.assertEqual(self.winmsg("find", class_name, 0)[0], 0)
        self.winmsg("post", class_name, WM_CLOSE)
        self.assertEqual(run.wait(60), 0)
        self.assertIn("- wm_Destroy -", self.trace.lines())
        log = self.read_text(self.path("X_probe.log"))
        self.assertEqual(log.count(".. CloseMainWindow() - Start"), 2)
        self.assertEqual(log.count(".. DestroyMainWindow() - Start"), 1)

    def test_monitor_registration_and_notifications(self):
        run, class_name = self.start_agent()
        # A zero window handle registers nothing usable: no answer comes.
        rc, out = self.winmsg("monitor", class_name, 1500, "zero")
        self.assertEqual([l for l in out.splitlines() if l.startswith("notify")], [])
        # A real monitor is told the agent's window and the command message, and the loop's end.
        _, agent_info = self.winmsg("find", class_name, 0)
        monitor = subprocess.Popen([WINE_RUN, WINMSG, "monitor", class_name, "6000"], stdout=subprocess.PIPE,
                                   text=True)
        time.sleep(2.5)
        self.winmsg("post", class_name, WM_SHUTDOWN, 0, 0)
        out, _ = monitor.communicate(timeout=120)
        notes = [l.split()[1:] for l in out.splitlines() if l.startswith("notify")]
        self.assertEqual(notes[:2], [["50", agent_info], ["51", "1125"]])
        self.assertIn(["43", "0"], notes[2:])
        self.assertEqual(run.wait(60), 0)

    def test_agent_commands_answer(self):
        run, class_name = self.start_agent()
        for code, value, result in ((6, 0, "0"), (40, 0, "0"), (7, 0, "0"), (30, -1, "0"), (32, 0, "0")):
            rc, out = self.winmsg("send", class_name, WM_AGENTMSG, code, value)
            self.assertEqual((rc, out), (0, result), (code, value))
        # Command 30 sets the countdown: 0 ends the agent on its next tick.
        self.winmsg("send", class_name, WM_AGENTMSG, 30, 0)
        self.assertEqual(run.wait(60), 0)


if __name__ == "__main__":
    unittest.main(verbosity=2)
