"""The auto-update agent under Wine, end to end: the installed agent makes and starts its transient
copy and forwards its switches to it; the copy checks on its timer (or at once when asked), fetches
the INFO file from a local nginx (or the test-mode folder named in the prefix's registry), runs the
eligibility chain, writes its time stamps, tells a monitor window what it does, answers agent
commands, and asks first when the user must agree."""
import datetime
import os
import re
import subprocess
import time
import unittest

from httpserve import CertificateAuthority, FaultServer, Nginx
from test_launch import BOXDRIVE
from ulvtest import E2E_DIR, WINE_RUN, WINMSG, WineTestCase, stretched, wait_until, windows_path

SERVERS = os.path.join(E2E_DIR, "agent_servers")
TEST_MODE_KEY = r"HKCU\Software\Dravocel\Ulvane\AutoUpdate"
WM_SHUTDOWN, WM_AGENTMSG = 1123, 1125
NOT_HIGHER = "3 - New version is not higher then old version"
LOG_STAMP = r"(\d\d)/(\d\d)/(\d\d) (\d\d):(\d\d):(\d\d) +(\d+)"

nginx = fault = None


def setUpModule():
    global nginx, fault
    os.makedirs(SERVERS, exist_ok=True)
    # Plain HTTP only: an authority nobody trusts is enough for the HTTPS ports nginx is given,
    # and spares the machine's certificate store.
    authority = CertificateAuthority(os.path.join(SERVERS, "ca"))
    nginx = Nginx(os.path.join(SERVERS, "nginx"), authority=authority).start()
    fault = FaultServer().start()


def tearDownModule():
    for server in (fault, nginx):
        if server is not None:
            server.stop()


def local_seconds(moment=None):
    """The agent's time stamp: local days since 30 December 1899, times 86400, rounded."""
    delta = (moment or datetime.datetime.now()) - datetime.datetime(1899, 12, 30)
    return round(delta.total_seconds())


def mirror(seconds):
    """The readable form written beside every stamp."""
    moment = datetime.datetime(1899, 12, 30) + datetime.timedelta(seconds=seconds)
    return moment.strftime("%d-%b-%Y %H:%M:%S").upper()


def ini(sections):
    """INI text from {section: {key: value}}, with Windows line ends."""
    lines = []
    for section, values in sections.items():
        lines.append("[%s]" % section)
        lines += ["%s=%s" % item for item in values.items()]
    return "\r\n".join(lines) + "\r\n"


def low32(value):
    value &= 0xFFFFFFFF
    return value - (1 << 32) if value >= 1 << 31 else value


class Listener:
    """ulvwinmsg listen: a window to name in "/WM_MSG=", printing what it is told."""

    def __init__(self, test, ms=120000):
        self.run = test.start(WINMSG, "listen", str(ms))
        test.assertTrue(wait_until(lambda: "\n" in self.run.output(), 60), "the listener did not come up")
        _, self.window, self.message = self.run.output().splitlines()[0].split()

    def notes(self):
        return [tuple(int(v) for v in line.split()[1:]) for line in self.run.output().splitlines()
                if line.startswith("notify ")]


class AgentTestCase(WineTestCase):
    """An installed agent of the test's own, its files, its copy, its trace and its boxes."""
    serial = 0

    def setUp(self):
        super().setUp()
        # A name of each test's own: the copy's window class is named after the agent, and a copy
        # left over from an earlier test must not be taken for this test's.
        AgentTestCase.serial += 1
        self.name = "Ag%d_%d" % (os.getpid() % 10000, AgentTestCase.serial)
        self.copy_class = ".AutoUpdate.X_" + self.name
        self.folder = None
        self.server_folder = os.path.join(nginx.root, self.name)
        os.makedirs(self.server_folder)
        self.publish(VersionNew=1, Stamp=1)

    def tearDown(self):
        self.stop_copy(check=False)
        subprocess.run([WINE_RUN, "reg", "delete", TEST_MODE_KEY, "/f"], capture_output=True)
        super().tearDown()

    # --- the agent, its files and the server ---------------------------------------------------

    def agent(self, url=None, folder="agent", **original):
        """An installed agent with its .original file in `folder`; returns its path. `original`
        holds [OriginalSetup] keys, and s2.. texts for [AutoUpdate]."""
        self.folder = self.path(folder)
        agent = self.build("%s/%s.exe" % (folder, self.name), "--agent", "--agent-log-file", "--update-url",
                           url or nginx.http_url + self.name, "--info-file", "Prog.info",
                           "--agent-exe", self.name + ".exe", "--update-token", "TOK")
        setup = {"VersionOriginal": 1, "ProbeSecondsInterval": -1, "ProbeSecondsLast": 0, "ProgramName": "Sample"}
        texts = {k: v for k, v in original.items() if re.fullmatch(r"s\d+", k)}
        setup.update({k: v for k, v in original.items() if k not in texts})
        with open(self.original_path(), "w", newline="") as f:
            f.write(ini({"OriginalSetup": setup, "AutoUpdate": texts}))
        return agent

    def original_path(self):
        return os.path.join(self.folder, "Prog.original")

    def original(self):
        return self.read_text(self.original_path())

    def original_value(self, key):
        found = re.search(r"^%s=(.*?)\r?$" % re.escape(key), self.original(), re.M)
        return found and found.group(1)

    def set_original(self, **values):
        """Changes [OriginalSetup] keys in place; the agent's own stamps stay."""
        text = self.original()
        for key, value in values.items():
            line = "%s=%s" % (key, value)
            text, n = re.subn(r"^%s=.*$" % re.escape(key), line.replace("\\", "\\\\"), text, flags=re.M)
            if not n:
                text = text.replace("[OriginalSetup]\r\n", "[OriginalSetup]\r\n%s\r\n" % line, 1)
        with open(self.original_path(), "w", newline="") as f:
            f.write(text)

    def publish(self, content=None, **new_setup):
        """The INFO file on the server: raw `content`, or a [NewSetup] section."""
        with open(os.path.join(self.server_folder, "Prog.info"), "w", newline="") as f:
            f.write(content if content is not None else ini({"NewSetup": new_setup}))

    def info_requests(self):
        """GET requests of this test's INFO file that reached nginx."""
        try:
            text = self.read_text(nginx.access_log)
        except FileNotFoundError:
            return 0
        return text.count('"GET /%s/Prog.info ' % self.name)

    def start_agent(self, agent, *switches, env=None):
        """Runs the plain agent to its end; returns its exit code."""
        return subprocess.run([WINE_RUN, agent, *switches], stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                              stderr=subprocess.DEVNULL, timeout=stretched(120), env=env).returncode

    def copy_window(self, timeout=30000):
        rc, out = self.winmsg("find", self.copy_class, timeout)
        return int(out) if rc == 0 else None

    def copy_gone(self, timeout=30000):
        return self.winmsg("gone", self.copy_class, timeout)[0] == 0

    def stop_copy(self, check=True):
        # A copy with a question open counts no ticks: answer No first.
        for _ in range(5):
            if self.box_open():
                self.press(1)
            self.winmsg("post", self.copy_class, WM_SHUTDOWN, 0, 0)
            if self.copy_gone(5000):
                return
        if check:
            self.fail("the copy did not stop")

    def command(self, code, value=0):
        rc, out = self.winmsg("send", self.copy_class, WM_AGENTMSG, code, value)
        self.assertEqual(rc, 0, "no copy to send command %d to" % code)
        return int(out)

    def log(self):
        path = os.path.join(self.folder, "X_%s.log" % self.name)
        return self.read_text(path) if os.path.exists(path) else ""

    def local_info(self):
        return self.read_text(os.path.join(self.folder, "Prog.info"))

    # --- the trace -----------------------------------------------------------------------------

    def copy_pid(self, index=0):
        """The process id of the `index`-th copy started in this test."""
        copy = re.escape(windows_path(os.path.join(self.folder, "X_%s.exe" % self.name)))
        self.assertTrue(self.trace.wait_for(r' ==== STUB START ====> "%s".*' % copy, index + 1), self.trace.text())
        return self.trace.matching(r' ==== STUB START ====> "%s".*' % copy)[index].split(" ")[0]

    def traced(self, pid, pattern):
        """The values of `pattern`'s group in the trace lines of process `pid`."""
        return [m.group(1) for line in self.trace.lines() for m in [re.fullmatch(pid + pattern, line)] if m]

    def wait_traced(self, pid, pattern, count, timeout=30):
        self.assertTrue(wait_until(lambda: len(self.traced(pid, pattern)) >= count, timeout), self.trace.text())
        return self.traced(pid, pattern)

    # --- message boxes -------------------------------------------------------------------------

    def box_open(self):
        return subprocess.run([WINE_RUN, BOXDRIVE, "gone", "0"], capture_output=True, timeout=120).returncode != 0

    def box(self, timeout=60000):
        """Caption and text of the message box on screen, line breaks as "\\n"."""
        result = subprocess.run([WINE_RUN, BOXDRIVE, "info", str(stretched(timeout))], capture_output=True,
                                text=True, timeout=stretched(180))
        self.assertEqual(result.returncode, 0, "no message box appeared")
        fields = {}
        for line in result.stdout.splitlines():
            key, _, value = line.partition(" ")
            fields.setdefault(key, value)
        text = fields.get("plain", "").replace("\\r\\n", "\n").replace("\\t", "\t").replace("\\\\", "\\")
        return fields.get("caption", ""), text

    def answer(self, index):
        """Reads the box on screen and presses button `index` (0 Yes/OK, 1 No)."""
        found = self.box()
        self.press(index)
        self.assertTrue(wait_until(lambda: not self.box_open(), 20), "the box stayed")
        return found

    def press(self, index):
        subprocess.run([WINE_RUN, BOXDRIVE, "click", str(index)], capture_output=True, timeout=120)



class AgentTests(AgentTestCase):
    def test_plain_agent_starts_one_copy_and_a_second_start_stops_it(self):
        agent = self.agent()
        self.assertEqual(self.start_agent(agent), 0)
        # The plain agent has ended; its copy lives on and counts its ticks.
        window = self.copy_window()
        self.assertIsNotNone(window, "no transient copy")
        copy = os.path.join(self.folder, "X_%s.exe" % self.name)
        self.assertTrue(os.path.exists(copy))
        pid = self.copy_pid()
        self.wait_traced(pid, r" AutoUpdateTimerCount=(-?\d+)", 3)

        self.assertEqual(self.start_agent(agent, "/STOP=0"), 0)
        plain_end = max(i for i, line in enumerate(self.trace.lines()) if " ==== STUB END ====> " in line)
        self.assertTrue(self.copy_gone(20000), "the copy did not stop")
        self.assertTrue(self.trace.wait_for(r" ==== STUB END ====> .*X_%s\.exe.*" % self.name))
        # Countdown 0: the copy ends on its next tick, which is the only one it counts after the
        # plain agent has posted the stop (one may fall between the post and its end line).
        later = [line for line in self.trace.lines()[plain_end:] if line.startswith(pid + " AutoUpdateTimerCount=")]
        self.assertLessEqual(len(later), 1, later)
        log = self.log()
        self.assertEqual(log.count("Create X_ File"), 1, log)
        self.assertIn("PostProcessMessage(wm_ShutDown) to: " + windows_path(copy), log)
        self.assertTrue(wait_until(lambda: not os.path.exists(copy), 20), "the copy did not delete itself")
        self.assertTrue(os.path.exists(agent))

    def test_forced_new_copy_after_a_wait(self):
        agent = self.agent()
        self.start_agent(agent)
        self.assertIsNotNone(self.copy_window())
        self.assertEqual(self.start_agent(agent, "/_ZZ=99", "/WAIT=2"), 0)
        self.assertEqual(len(self.trace.matching(r" CreateAndRun_X_Exe-2")), 2, self.trace.text())
        log = self.log()
        self.assertEqual(log.count("Create X_ File"), 2, log)
        self.assertEqual(len(re.findall(r" WinExec: ", log)), 2, log)
        # The second plain agent waited its two seconds between the two lines.
        found = re.search(LOG_STAMP + r"   Wait 2 SEC\r\n(?:.*\r\n)*?" + LOG_STAMP + r"   Create X_ File", log)
        self.assertIsNotNone(found, log)
        stamps = [datetime.datetime(2000 + int(g[2]), int(g[1]), int(g[0]), int(g[3]), int(g[4]), int(g[5]))
                  for g in (found.groups()[:6], found.groups()[7:13])]
        self.assertGreaterEqual((stamps[1] - stamps[0]).total_seconds(), 2, log)

    def test_monitor_named_on_the_command_line(self):
        agent = self.agent()
        silent, listener = Listener(self), Listener(self)
        # Without a message the registration names nothing to send.
        self.assertEqual(self.start_agent(agent, "/WM_MSG=%s" % silent.window), 0)
        window = self.copy_window()
        self.assertEqual(self.start_agent(agent, "/WM_MSG=%s:%s" % (listener.window, listener.message), "/TEST=0"), 0)
        self.assertTrue(wait_until(lambda: (40, 2) in listener.notes(), 30), listener.notes())
        self.assertEqual(self.start_agent(agent, "/STOP=0"), 0)
        self.assertTrue(self.copy_gone())
        self.assertTrue(wait_until(lambda: (43, 0) in listener.notes(), 10), listener.notes())
        self.assertEqual(listener.notes(), [(50, window), (51, WM_AGENTMSG), (40, 1), (40, 2), (43, 0)])
        self.assertEqual(silent.notes(), [])
        self.assertEqual(self.info_requests(), 1)

    @staticmethod
    def requested_check_cases():
        return [
            # name, update folder, DVX, answer, box expected after the check (caption, text)
            ("developer", None, "994", 0, ("Attention", "Nothing new.\n\n(%s)   " % NOT_HIGHER)),
            ("user", None, None, 0, ("Attention", "Nothing new.")),
            ("error page", fault.url + "errorpage", None, 0, ("Error", "404 File Not Found...")),
            ("declined", fault.url + "plain", None, 1, None),
        ]

    def test_requested_check_asks_and_tells_the_outcome(self):
        # The settings reader trims the blanks around values: the parts are marked instead.
        question = "Look for news of Sample.[server]Now?"
        fault.files["Prog.info"] = b"[NewSetup]\r\nVersionNew=9\r\n"
        for number, (name, url, dvx, button, outcome) in enumerate(self.requested_check_cases()):
            with self.subTest(name):
                agent = self.agent(url, folder="agent%d" % number, ProbeSecondsLast=12345, s21="Nothing new.",
                                   s22="Look for news of PROG_NAME.", s23="[server]", s24="Now?")
                env = dict(os.environ)
                env.pop("DVX", None)
                if dvx:
                    env["DVX"] = dvx
                requests, fault_requests = self.info_requests(), len(fault.requests)
                before = local_seconds()
                self.assertEqual(self.start_agent(agent, "/TEST=2", env=env), 0)
                self.assertEqual(self.answer(button), ("Confirm", question))
                if outcome:
                    caption, text = self.answer(0)
                    self.assertEqual(caption, outcome[0])
                    if caption == "Error":
                        self.assertIn(outcome[1], text)
                        self.assertIn("URL:  %serrorpage/Prog.info." % fault.url, text)
                    else:
                        self.assertEqual(text, outcome[1])
                # Started for this check only, the copy ends after it.
                self.assertTrue(self.copy_gone(), "the copy started for the check did not end")
                log = self.log()
                if button == 1:
                    self.assertNotIn("Download START", log)
                    self.assertEqual(len(fault.requests), fault_requests)
                    self.assertEqual(self.original_value("ProbeSecondsLast"), "12345")
                    continue
                code = "0 - Error downloading .INFO file" if url else NOT_HIGHER
                self.assertIn("GetOkToPerformAU = " + code, log)
                self.assertEqual(self.info_requests() - requests, 0 if url else 1)
                stamp = int(self.original_value("ProbeSecondsLast"))
                self.assertTrue(before <= stamp <= local_seconds(), stamp)
                self.assertEqual(self.original_value("__ProbeSecondsLast"), mirror(stamp))

    def test_check_for_a_copy_of_its_own_ends_on_the_third_tick_after(self):
        agent = self.agent()
        self.assertEqual(self.start_agent(agent, "/TEST=1"), 0)
        pid = self.copy_pid()
        self.assertTrue(self.copy_gone(15000), "the copy did not end after its check")
        self.assertTrue(self.trace.wait_for(r" ==== STUB END ====> .*X_%s\.exe.*" % self.name))
        lines = [line for line in self.trace.lines() if line.startswith(pid + " ")]
        checks = [i for i, line in enumerate(lines) if " GetOkToPerformAU=" in line]
        self.assertEqual(len(checks), 1, lines)
        ticks = [line for line in lines[checks[0]:] if " AutoUpdateTimerCount=" in line]
        self.assertEqual(len(ticks), 2, lines)
        log = self.log()
        self.assertIn("GetOkToPerformAU = " + NOT_HIGHER, log)
        # With switches to forward the plain agent waited for the copy's window.
        self.assertLess(log.index(" X WinMain"), log.index("   HandleParamOK() --- Start"), log)

    def test_check_interval_rules(self):
        now = local_seconds()
        cases = [
            # interval, last probe, status of the first tick, checks over the first six ticks
            (86400, now - 86400, 1, 1),   # a day ago: due, and just checked afterwards
            (86400, now - 86400 + 60, 0, 0),  # a minute short of a day
            (0, now, 2, 1),               # one more check, then no more
            (-1, 0, 0, 0),                # never by itself
        ]
        for number, (interval, last, first, checks) in enumerate(cases):
            with self.subTest(interval=interval, last=last):
                agent = self.agent(folder="agent%d" % number, ProbeSecondsInterval=interval, ProbeSecondsLast=last)
                started = local_seconds()
                self.assertEqual(self.start_agent(agent, "/DELAY=0"), 0)
                pid = self.copy_pid()
                statuses = self.wait_traced(pid, r" ShotTimeStatus=(\d)", 6)[:6]
                self.assertEqual(statuses, [str(first)] + ["0"] * 5)
                self.assertEqual(len(self.traced(pid, r" GetOkToPerformAU=(\d)")), checks)
                if checks:
                    stamp = int(self.original_value("ProbeSecondsLast"))
                    self.assertTrue(started <= stamp <= local_seconds(), stamp)
                    self.assertEqual(self.original_value("__ProbeSecondsLast"), mirror(stamp))
                else:
                    self.assertEqual(self.original_value("ProbeSecondsLast"), str(last))
                if interval == -1:
                    # A check asked for by command still runs.
                    self.assertEqual(self.command(31, 1), 0)
                    self.assertEqual(self.wait_traced(pid, r" GetOkToPerformAU=(\d)", 1), ["3"])
                    self.assertIn("1", self.traced(pid, r" ShotTimeStatus=(\d)"))
                self.stop_copy()

    def test_ask_before_every_check(self):
        agent = self.agent(ProbeSecondsInterval=86400, ProbeSecondsLast=0, s22="Look for updates now?")
        # Long enough before the first check to turn asking on.
        self.assertEqual(self.start_agent(agent, "/DELAY=8"), 0)
        self.assertIsNotNone(self.copy_window())
        self.command(20, 1)
        pid = self.copy_pid()
        for _ in range(2):
            # Declined, the check stays due: the next tick asks again.
            self.assertEqual(self.answer(1), ("Confirm", "Look for updates now?"))
        self.assertTrue(self.box_open() or self.box(10000))
        self.command(12, -1)  # no further checks, so that the copy can be stopped
        self.press(1)
        self.assertEqual(self.traced(pid, r" GetOkToPerformAU=(\d)"), [])
        self.assertNotIn("Download START", self.log())
        self.assertEqual(self.info_requests(), 0)
        self.assertEqual(self.original_value("ProbeSecondsLast"), "0")
        self.stop_copy()

        # The list handed to a new copy on its command line turns asking on from its start.
        self.set_original(ProbeSecondsInterval=86400)
        self.assertEqual(self.start_agent(agent, "/TRANSIENT=|1|255|255|255|255|255|255|255|", "/DELAY=0"), 0)
        self.assertEqual(self.answer(1), ("Confirm", "Look for updates now?"))
        self.assertEqual(self.info_requests(), 0)
        self.assertIn(" /TRANSIENTx=|1|255|255|255|255|255|255|255|", self.log())

    def set_test_mode(self, day, folder):
        for name, value in (("TestMode", "1"), ("TestModeDate", day.strftime("%d-%b-%Y").upper()),
                            ("TestModeURL", windows_path(folder))):
            subprocess.run([WINE_RUN, "reg", "add", TEST_MODE_KEY, "/v", name, "/t", "REG_SZ", "/d", value, "/f"],
                           capture_output=True, check=True)

    def test_test_mode_of_the_day_reads_its_folder_every_five_seconds(self):
        published = self.path("published")
        os.makedirs(published)
        with open(os.path.join(published, "Prog.info"), "w", newline="") as f:
            f.write(ini({"NewSetup": {"VersionNew": 1, "Stamp": 77}}))
        source = re.escape(" DownloadFileAU: %s\\Prog.info" % windows_path(published))
        today = datetime.date.today()
        texts = {"s22": "Check.", "s23": "[server]", "s24": "Now?"}

        # Yesterday's test mode is off: a day between checks, just checked, nothing is due.
        self.set_test_mode(today - datetime.timedelta(days=1), published)
        agent = self.agent(folder="yesterday", ProbeSecondsInterval=86400, ProbeSecondsLast=local_seconds(), **texts)
        self.start_agent(agent, "/DELAY=0")
        pid = self.copy_pid()
        self.assertEqual(set(self.wait_traced(pid, r" ShotTimeStatus=(\d)", 8)), {"0"})
        self.command(31, 1)
        self.wait_traced(pid, r" GetOkToPerformAU=(\d)", 1)
        self.assertIn("TestMode=FALSE", self.log())
        self.assertIn("Download END:   %s%s/Prog.info" % (nginx.http_url, self.name), self.log())
        self.assertEqual(self.info_requests(), 1)
        self.assertEqual(self.trace.matching(source), [])
        self.stop_copy()

        # Today's: the folder instead of the server, every five seconds.
        self.set_test_mode(today, published)
        agent = self.agent(folder="today", ProbeSecondsInterval=86400, ProbeSecondsLast=local_seconds(), **texts)
        self.start_agent(agent, "/DELAY=0")
        pid = self.copy_pid()
        fires = self.wait_traced(pid, r" Fire  (.*)", 2, timeout=40)
        moments = [datetime.datetime.strptime(f.title(), "%d-%b-%Y %H:%M:%S") for f in fires[:2]]
        self.assertTrue(5 <= (moments[1] - moments[0]).total_seconds() <= 8, fires)
        self.assertEqual(len(self.trace.matching(source)), len(self.traced(pid, r" DownloadFileAU: (.*)")))
        self.assertIn("TestMode=TRUE", self.log())
        self.assertEqual(self.info_requests(), 1)
        self.assertIn("Stamp=77", self.local_info())
        # Its question names no server for a folder, and says it is test mode.
        self.command(31, 2)
        caption, text = self.answer(1)
        self.assertEqual(caption, "Confirm")
        self.assertTrue(text.startswith("Check.Now?\n\n"), text)
        self.assertTrue(text.endswith("PLEASE NOTE - You are now running in Test Mode!"), text)

    def test_info_file_and_eligibility_chain(self):
        update = b"U" * 1000
        with open(os.path.join(self.server_folder, "Upd.exe"), "wb") as f:
            f.write(update)
        with open(os.path.join(self.server_folder, "Note.htm"), "wb") as f:
            f.write(b"N" * 300)
        newer = {"VersionNew": 2, "Stamp": 5, "DownloadURL_UPDATE": nginx.http_url + self.name,
                 "NameOfUpdateFile": "Upd.exe"}
        cases = [
            # what is published (None: nothing), .original changes, code expected, log line expected
            ("missing", None, {}, 0, None),
            ("empty", "", {}, 0, None),
            ("not newer", {"VersionNew": 1, "Stamp": 5}, {}, 3, None),
            ("other versions", dict(newer, ValidVersions="7,8"), {}, 4, None),
            ("size off by 100", dict(newer, ValidVersions="3,1", SizeOfUpdateFile=1100), {}, 5, "  HttpSize=1000"),
            ("size off by 99", dict(newer, SizeOfUpdateFile=1099), {}, 6, "PerformAutoUpdate() - START"),
            ("same stamp", dict(newer, SizeOfUpdateFile=1000), {}, 2, None),
            ("re-ask due", dict(newer, SizeOfUpdateFile=1000),
             {"ReAskSecondsInterval": 60, "ReAskSecondsLast": local_seconds() - 3600}, 6, None),
            ("no original version", dict(newer, Stamp=6), {"VersionOriginal": 0}, 1, None),
            ("inform", "[NewSetup]\r\nVersionNew=2\r\nStamp=7\r\nDownloadURL_UPDATE=%s%s\r\n[General]\r\n"
                       "AutoInform=1\r\n[AutoInform]\r\nNameOfInformFile=Note.htm\r\nSizeOfInformFile=300\r\n"
                       % (nginx.http_url, self.name), {"VersionOriginal": 1}, 6, "PerformAutoInform() - START"),
        ]
        agent = self.agent()
        self.start_agent(agent)
        self.assertIsNotNone(self.copy_window())
        pid = self.copy_pid()
        stale = "[NewSetup]\r\nVersionNew=8\r\nStamp=99\r\n"
        for number, (name, published, original, code, line) in enumerate(cases):
            with self.subTest(name):
                info = os.path.join(self.server_folder, "Prog.info")
                if published is None:
                    os.remove(info)
                else:
                    self.publish(published if isinstance(published, str) else ini({"NewSetup": published}))
                self.set_original(**original)
                with open(os.path.join(self.folder, "Prog.info"), "w", newline="") as f:
                    f.write(stale)
                log_start = len(self.log())
                self.assertEqual(self.command(31, 1), 0)
                codes = self.wait_traced(pid, r" GetOkToPerformAU=(\d)", number + 1)
                self.assertEqual(codes[number], str(code))
                # The log line follows the trace line.
                self.assertTrue(wait_until(lambda: "GetOkToPerformAU = %d - " % code in self.log()[log_start:], 10),
                                self.log()[log_start:])
                if line:
                    self.assertTrue(wait_until(lambda: line in self.log()[log_start:], 10), self.log()[log_start:])
                if code == 6:
                    # The update and the page carry no token of the agent's: refused and deleted.
                    caption, text = self.answer(0)
                    self.assertEqual(caption, "Error")
                    self.assertIn("Bad Secret Token!", text)
                    fetched = "Note.htm" if name == "inform" else "Upd.exe"
                    self.assertTrue(wait_until(lambda: "ERROR: " in self.log()[log_start:], 10))
                    self.assertFalse(os.path.exists(os.path.join(self.folder, fetched)))
                # Whatever arrived replaces the INFO file beside the agent: the server's page of a
                # missing file, nothing at all, or the publication.
                if published is None:
                    self.assertIn("404 Not Found", self.local_info())
                else:
                    expected = published if isinstance(published, str) else ini({"NewSetup": published})
                    self.assertEqual(self.local_info(), expected)
                if code == 6:
                    self.assertEqual(self.original_value("Stamp"), str(7 if name == "inform" else 5))
                    stamp = int(self.original_value("ReAskSecondsLast"))
                    self.assertEqual(self.original_value("__ReAskSecondsLast"), mirror(stamp))

    def test_agent_commands_read_and_write_the_files(self):
        now = local_seconds()
        agent = self.agent(VersionOriginal=4, ProbeSecondsInterval=-1, ReAskSecondsInterval=600,
                           ProbeSecondsLast=now, ReAskSecondsLast=(1 << 32) + 77)
        self.start_agent(agent)
        self.assertIsNotNone(self.copy_window())
        with open(os.path.join(self.folder, "Prog.info"), "w", newline="") as f:
            f.write(ini({"NewSetup": {"VersionNew": 9}}))
        reads = [(4, 4), (5, 9), (7, 0), (8, -1), (9, 600), (10, low32(now)), (11, 77), (99, 0)]
        for code, expected in reads:
            with self.subTest(code=code):
                self.assertEqual(self.command(code), expected)
        writes = [
            (12, 3600, {"ProbeSecondsInterval": "3600"}, 8),
            (13, -5, {"ReAskSecondsInterval": "-5"}, 9),
            (14, 1000, {"ProbeSecondsLast": "1000", "__ProbeSecondsLast": "30-DEC-1899 00:16:40"}, 10),
            (15, 90061, {"ReAskSecondsLast": "90061", "__ReAskSecondsLast": "31-DEC-1899 01:01:01"}, 11),
        ]
        for code, value, values, read in writes:
            with self.subTest(code=code):
                self.command(code, value)
                self.assertEqual({key: self.original_value(key) for key in values}, values)
                self.assertEqual(self.command(read), value)
        # An unknown command changed nothing of the files.
        self.assertEqual(self.original_value("VersionOriginal"), "4")
        self.assertIn("VersionNew=9", self.local_info())


class AgentFaultTests(AgentTestCase):
    """What the agent makes of INFO files that are no publication and of commands of any value."""

    def test_info_files_that_are_no_publication(self):
        # The INFO file is read into memory: more than a mebibyte is refused, announced or not.
        too_large = "Prog.info --- File too large: more than 1048576 bytes"
        fault.files["Prog.info"] = b"[NewSetup]\r\nVersionNew=9\r\n"
        self.publish("[NewSetup]\r\nVersionNew=9\r\n" + ";" * 1048576 + "\r\n")
        cases = [("announced", None, too_large), ("endless", fault.url + "endless", too_large),
                 ("server error", fault.url + "servererror", None)]
        for number, (name, url, error) in enumerate(cases):
            with self.subTest(name):
                agent = self.agent(url, folder="agent%d" % number)
                self.start_agent(agent)
                self.assertIsNotNone(self.copy_window())
                pid = self.copy_pid()
                self.assertEqual(self.command(31, 1), 0)
                self.assertEqual(self.wait_traced(pid, r" GetOkToPerformAU=(\d)", 1), ["0"])
                if error:
                    self.assertTrue(self.trace.wait_for(re.escape(" HTTP_DownloadFile_Incremental: " + error)),
                                    self.trace.text())
                    self.assertEqual(self.local_info(), "")
                else:
                    # The server's page is kept for the user to read, as a 404 page is.
                    self.assertIn("500 Internal Server Error", self.local_info())
                self.stop_copy()

    def test_commands_of_any_value(self):
        agent = self.agent()
        self.start_agent(agent)
        self.assertIsNotNone(self.copy_window())
        extremes = [0, -1, -2147483648, 2147483647]
        # Written as given and read back as given, stamps with their readable mirror.
        for code in (12, 13, 14, 15):
            for value in extremes:
                with self.subTest(code=code, value=value):
                    self.assertEqual(self.command(code, value), 0)
                    self.assertEqual(self.command(code - 4), value)
        self.assertIsNotNone(self.original_value("__ProbeSecondsLast"))
        # Every other code, known or not, takes any value without harm.
        for code in (4, 5, 7, 20, 21, 22, 23, 24, 25, 32, 0, 99, -1, 2147483647):
            for value in extremes:
                self.command(code, value)
        # Countdowns without a limit, one far off, then none: the copy keeps running and answering.
        for value in (2147483647, -2147483648, -1):
            self.assertEqual(self.command(30, value), 0)
        time.sleep(3)
        self.assertEqual(self.command(4), 1)
        self.assertEqual(self.command(30, 0), 0)
        self.assertTrue(self.copy_gone(15000), "countdown 0 did not end the copy")

    def test_a_flood_of_check_requests_gives_one_check(self):
        agent = self.agent()
        self.start_agent(agent)
        self.assertIsNotNone(self.copy_window())
        pid = self.copy_pid()
        requests = self.info_requests()
        self.assertEqual(self.winmsg("flood", self.copy_class, WM_AGENTMSG, 31, 1, 1000), (0, "1000"))
        self.wait_traced(pid, r" GetOkToPerformAU=(\d)", 1)
        time.sleep(5)
        self.assertEqual(len(self.traced(pid, r" GetOkToPerformAU=(\d)")), 1)
        self.assertEqual(self.info_requests() - requests, 1)
        self.assertEqual(self.command(4), 1)


if __name__ == "__main__":
    unittest.main(verbosity=2)
