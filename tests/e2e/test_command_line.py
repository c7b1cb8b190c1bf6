"""The command-line helpers in a real process under Wine: ulvcmdprobe starts a copy of itself with
an exact command line (quotes, blanks and the spelling of the program's path chosen by the test)
and the copy prints its command tail and what the switch helpers find in it."""
import os
import shutil
import unittest

from ulvtest import WIN64, WineTestCase, windows_path

PROBE = os.path.join(WIN64, "tools", "wintest", "ulvcmdprobe.exe")


class CommandLineTests(WineTestCase):
    trace_viewer = False  # the probe writes to its console only

    def probe(self, exe, line, *switches):
        """Runs `exe` (a probe) with the command line `line`, in which "{exe}" stands for the
        probe's Windows path; returns the tail and, per switch, what the helpers gave."""
        text = line.replace("{exe}", windows_path(exe))
        run = self.start(exe, "--spawn", text.encode("latin-1").hex(), *switches)
        self.assertEqual(run.wait(), 0, run.output())
        report = {"switches": {}}
        for entry in run.output().replace("\r\n", "\n").split("\n"):
            parts = entry.split("|", 2)
            if parts[0] == "TAIL" and len(parts) == 2:
                report["tail"] = parts[1]
            elif len(parts) == 3:
                report["switches"].setdefault(parts[1], {})[parts[0]] = parts[2]
        self.assertIn("tail", report, run.output())
        self.assertEqual(sorted(report["switches"]), sorted(set(switches)), run.output())
        return report

    def probe_in(self, folder):
        """A copy of the probe in a folder of the test's own (names with blanks allowed)."""
        os.makedirs(self.path(folder), exist_ok=True)
        return shutil.copy(PROBE, self.path(folder, "ulvcmdprobe.exe"))

    def test_tail_leaves_out_the_program_however_it_is_written(self):
        plain = self.probe_in("plain")
        blanks = self.probe_in("with blanks")
        cases = [
            (plain, '"{exe}" /X', "/X"),
            (plain, "{exe}", ""),
            (plain, '"{exe}"', ""),
            (plain, "{exe} /a  /b ", "/a  /b"),
            (plain, '"{exe}"/X', "/X"),
            (plain, "ULVCMDPROBE.EXE /X", "/X"),            # the name ignoring case
            (plain, "other.exe /z", "other.exe /z"),        # the name does not occur at all
            (blanks, '"{exe}" /X "a b"', '/X "a b"'),
            (blanks, "{exe} /X", "/X"),
            (blanks, "{exe}", ""),
        ]
        for exe, line, tail in cases:
            with self.subTest(line=line, folder=os.path.basename(os.path.dirname(exe))):
                self.assertEqual(self.probe(exe, line)["tail"], tail)

    def test_switch_values(self):
        exe = self.probe_in("plain")
        # line after the program, switch, SwitchValue, SwitchInt (default -1), SwitchPresent
        cases = [
            ("/WAIT=5 /X", "/WAIT=", "5", "5", "TRUE"),
            ("/x /wait=5", "/WAIT=", "5", "5", "TRUE"),
            ('/OriginExe="C:\\a b\\x/y.exe" /Y', "/OriginExe=", "C:\\a b\\x/y.exe", "-1", "TRUE"),
            ("/OriginExe=C:\\a b\\x.exe /Y", "/OriginExe=", "C:\\a", "-1", "TRUE"),
            ('/Msg=" spaced /value "', "/Msg=", "spaced /value", "-1", "TRUE"),
            ("/X /AutoUpdateProg", "/AutoUpdateProg", "TRUE", "-1", "TRUE"),
            ("/AutoUpdateProg /X=1", "/AutoUpdateProg", "", "-1", "TRUE"),
            ("/A=1/B=2", "/A=", "1", "1", "TRUE"),
            ("/A=1/B=2", "/B=", "2", "2", "TRUE"),
            ("/SpanCdLvl=", "/SpanCdLvl=", "TRUE", "-1", "TRUE"),
            ("/SleepX=-5", "/SleepX=", "-5", "-5", "TRUE"),
            ("/SleepX=5x", "/SleepX=", "5x", "-1", "TRUE"),
            ("/X", "/WAIT=", "", "-1", "FALSE"),
        ]
        lines = {}
        for tail, switch, value, number, present in cases:
            lines.setdefault(tail, []).append((switch, value, number, present))
        for tail, expected in lines.items():
            report = self.probe(exe, '"{exe}" ' + tail, *[e[0] for e in expected])
            self.assertEqual(report["tail"], tail)
            for switch, value, number, present in expected:
                with self.subTest(tail=tail, switch=switch):
                    got = report["switches"][switch]
                    self.assertEqual((got["VALUE"], got["INT"], got["PRESENT"]), (value, number, present))

    def test_command_line_value_cuts_the_whole_line_at_its_delimiter(self):
        exe = self.probe_in("plain")
        cases = [
            ('"{exe}" /OriginExe="C:\\a b\\x.exe" /Y', "/OriginExe", "C:\\a b\\x.exe"),
            ('"{exe}" /OriginExe="C:\\a b\\x/y.exe"', "/OriginExe", "C:\\a b\\x"),
            ('"{exe}" /originexe=abc', "/OriginExe", "abc"),
            ('"{exe}" /OriginExe=', "/OriginExe", ""),
            ('"{exe}" /OriginExe= "" ', "/OriginExe", ""),
            ('"{exe}" /Y', "/OriginExe", "<default>"),
            ('"{exe}" -Mode=fast -X', "-Mode", "fast"),
        ]
        for line, switch, value in cases:
            with self.subTest(line=line):
                self.assertEqual(self.probe(exe, line, switch)["switches"][switch]["LINEVALUE"], value)


if __name__ == "__main__":
    unittest.main()
