"""The stub's HTTP transfer under Wine, through the real code (tools/wintest/ulvhttp): downloads to
disk and into memory from a stock nginx over HTTP and HTTPS (a test authority, trusted by the
machine for the run), and from a scripted server that misbehaves on purpose: no length, zero
length, bodies cut short or reset, slow bodies stopped by a close request, error pages. Also the size query
with its trace line, the connection test and the user agents."""
import os
import unittest

from httpserve import FIXED_DATE, TestServers
from ulvtest import E2E_DIR, WIN64, WineTestCase, wait_until, windows_path

HTTP = os.path.join(WIN64, "tools", "wintest", "ulvhttp.exe")
SERVERS = os.path.join(E2E_DIR, "download_servers")

servers = TestServers(SERVERS)
nginx = fault = None


def setUpModule():
    global nginx, fault
    servers.start()
    nginx, fault = servers.nginx, servers.fault


def tearDownModule():
    servers.stop()


def dos_stamp(http_date):
    """The DOS date-time of an HTTP date, taken as it is (no time-zone change)."""
    import email.utils
    t = email.utils.parsedate_to_datetime(http_date)
    return ((t.year - 1980) << 25) | (t.month << 21) | (t.day << 16) | (t.hour << 11) | (t.minute << 5) | (t.second // 2)


def payload(size, seed=1):
    """`size` bytes that are not all alike, so a misplaced block shows."""
    import random
    return random.Random(seed).randbytes(size)


class TransferTestCase(WineTestCase):
    trace_viewer = False

    def fetch(self, url, target="-", *options):
        """Runs one download; returns the probe's report as a dict (and "rc")."""
        run = self.start(HTTP, "get", url, target, *[str(o) for o in options])
        rc = run.wait(240)
        report = {"rc": rc}
        for line in run.output().replace("\r\n", "\n").splitlines():
            if "=" in line:
                key, value = line.split("=", 1)
                report.setdefault(key, value)
        return report

    def serve(self, name, content):
        with open(os.path.join(nginx.root, name), "wb") as f:
            f.write(content)
        return content


class DownloadTests(TransferTestCase):
    def test_download_to_disk_and_into_memory(self):
        content = self.serve("setup.bin", payload(300000))
        for base in (nginx.http_url, nginx.https_url):
            with self.subTest(base=base):
                report = self.fetch(base + "setup.bin")
                self.assertEqual((report["rc"], report["error"]), (0, ""))
                self.assertEqual(bytes.fromhex(report.get("content", "")) if "content" in report else None, None)
                self.assertEqual(int(report["bytes"]), len(content))
                local = self.path("setup.bin")
                report = self.fetch(base + "setup.bin", windows_path(local))
                self.assertEqual((report["rc"], report["error"]), (0, ""))
                self.assertEqual(self.read_bytes(local), content)
                self.assertEqual(sorted(os.listdir(self.dir)).count("setup.bin"), 1)
                self.assertEqual([n for n in os.listdir(self.dir) if n.startswith("setup.bin.")], [])
                # ~300 KB: kilobyte display; 8192-byte blocks.
                self.assertEqual(report["start"], "1,%d" % (-(-len(content) // 8192) + 1))
                self.assertTrue(report["lasttext"].startswith("293.0/293.0 KB"), report["lasttext"])
                os.remove(local)

    def test_small_file_in_ten_blocks_into_memory(self):
        content = self.serve("fifty.bin", payload(50))
        report = self.fetch(nginx.http_url + "fifty.bin")
        self.assertEqual(report["error"], "")
        self.assertEqual(bytes.fromhex(report["content"]), content)
        self.assertEqual((report["start"], report["steps"], report["caption"]), ("1,11", "10", "fifty.bin"))
        self.assertTrue(report["lasttext"].startswith("50/50 Bytes"), report["lasttext"])

    def test_address_without_scheme_gets_http(self):
        content = self.serve("plain.txt", b"no scheme given")
        report = self.fetch(nginx.http_url[len("http://"):] + "plain.txt")
        self.assertEqual((report["error"], bytes.fromhex(report["content"])), ("", content))

    def test_earlier_partial_files_are_deleted_first(self):
        content = self.serve("again.bin", payload(20000))
        local = self.path("again.bin")
        for stale in ("again.bin.12345", "again.bin.1", "again.bin"):
            with open(self.path(stale), "wb") as f:
                f.write(b"old")
        keep = self.path("again.binx")  # another name that merely begins alike
        with open(keep, "wb") as f:
            f.write(b"keep")
        report = self.fetch(nginx.http_url + "again.bin", windows_path(local))
        self.assertEqual(report["error"], "")
        self.assertEqual(sorted(n for n in os.listdir(self.dir) if n.startswith("again.bin")),
                         ["again.bin", "again.binx"])
        self.assertEqual(self.read_bytes(local), content)

    def test_zero_length_is_file_not_found(self):
        fault.files["empty.bin"] = b""
        url = fault.url + "zero/empty.bin"
        report = self.fetch(url, windows_path(self.path("empty.bin")))
        self.assertEqual((report["rc"], report["error"]), (1, url + " --- File Not Found !"))
        self.assertEqual(os.listdir(self.dir), [n for n in os.listdir(self.dir) if not n.startswith("empty.bin")])

    def test_no_content_length_is_complete_when_the_server_ends_the_body(self):
        fault.files["stream.bin"] = content = payload(70000, seed=2)
        report = self.fetch(fault.url + "nolength/stream.bin")
        self.assertEqual(report["error"], "")
        self.assertEqual(int(report["bytes"]), len(content))
        local = self.path("stream.bin")
        report = self.fetch(fault.url + "nolength/stream.bin", windows_path(local))
        self.assertEqual(report["error"], "")
        self.assertEqual(self.read_bytes(local), content)
        self.assertEqual([n for n in os.listdir(self.dir) if n.startswith("stream.bin.")], [])

    def test_body_cut_short_is_a_failure_that_keeps_nothing_under_the_local_name(self):
        fault.files["cut.bin"] = content = payload(40000, seed=3)
        half = len(content) // 2
        for kind in ("short", "reset"):
            with self.subTest(kind=kind):
                url = fault.url + kind + "/cut.bin"
                report = self.fetch(url)
                self.assertEqual(report["rc"], 1)
                self.assertEqual(int(report["bytes"]), 0)  # a partial text is never handed out
                local = self.path("cut.bin")
                with open(local, "wb") as f:
                    f.write(b"an older download")
                report = self.fetch(url, windows_path(local))
                self.assertEqual(report["rc"], 1)
                if kind == "short":
                    self.assertEqual(report["error"], "cut.bin --- Download incomplete: %d of %d bytes arrived"
                                     % (half, len(content)))
                else:
                    self.assertTrue(report["error"].startswith("cut.bin --- "), report["error"])
                self.assertFalse(os.path.exists(local), "an older file of the local name survived")
                partial = self.path("cut.bin.%d" % len(content))  # this server sends no date
                self.assertTrue(os.path.exists(partial), os.listdir(self.dir))
                self.assertEqual(self.read_bytes(partial), content[:os.path.getsize(partial)])
                os.remove(partial)

    def test_close_request_aborts_after_the_current_block(self):
        fault.files["slow.bin"] = content = payload(200000, seed=4)
        local = self.path("slow.bin")
        report = self.fetch(fault.url + "slow/slow.bin", windows_path(local), "--close-after", 1500)
        self.assertEqual((report["rc"], report["error"]), (1, "Download Aborted"))
        self.assertFalse(os.path.exists(local))
        # The partial file keeps its temporary name: local + "." + (length + Last-Modified stamp).
        partial = self.path("slow.bin.%d" % ((len(content) + dos_stamp(FIXED_DATE)) & 0xFFFFFFFF))
        self.assertTrue(os.path.exists(partial), os.listdir(self.dir))
        self.assertLess(os.path.getsize(partial), len(content))
        self.assertEqual(self.read_bytes(partial), content[:os.path.getsize(partial)])

    def test_certificates_are_checked(self):
        self.serve("secure.bin", b"secret")
        # Wine reports an untrusted authority with the general code of a refused certificate.
        refused = "the server's certificate was refused"
        cases = [
            (nginx.wrong_host_url, ["the server's certificate is not valid for this address"]),
            (nginx.untrusted_url, ["the server's certificate is not issued by a trusted authority", refused]),
        ]
        for base, problems in cases:
            with self.subTest(base=base):
                url = base + "secure.bin"
                report = self.fetch(url)
                self.assertEqual(report["rc"], 1)
                self.assertIn(report["error"],
                              ["Unable to open Internet Connection: %s (%s)" % (url, p) for p in problems])

    def test_bodies_beyond_their_limit_stop_and_leave_nothing(self):
        fault.files["big.bin"] = content = payload(200000, seed=5)
        os.makedirs(self.path("dl"))
        local = self.path("dl", "capped.bin")
        for kind, limit, target, steps in (("endless", 1048576, "-", None), ("endless", 100000, local, None),
                                           ("plain", 199999, local, "0")):
            with self.subTest(kind=kind, limit=limit, target=target):
                url = fault.url + kind + "/big.bin"
                report = self.fetch(url, windows_path(target) if target != "-" else "-", "--limit", limit)
                self.assertEqual((report["rc"], report["error"]),
                                 (1, "big.bin --- File too large: more than %d bytes" % limit))
                self.assertEqual(report["bytes"], "0" if target == "-" else "-1")
                if steps is not None:  # an announced length beyond the limit is refused before the body
                    self.assertEqual(report["steps"], steps)
                # No partial file either: an endless body is not worth resuming.
                self.assertEqual(os.listdir(self.path("dl")), [])
        # A body of exactly the limit is whole.
        report = self.fetch(fault.url + "plain/big.bin", windows_path(local), "--limit", len(content))
        self.assertEqual((report["error"], report["bytes"]), ("", str(len(content))))

    def test_server_that_never_answers_is_a_failure(self):
        # The transfer's time-outs end the wait on Windows; Wine's library waits until the server
        # gives up. Either way nothing said is no empty file.
        fault.files["quiet.bin"] = b"q" * 100
        fault.silent_seconds = 4
        url = fault.url + "silent/quiet.bin"
        report = self.fetch(url, "-", "--timeout", 3000)
        self.assertEqual(report["rc"], 1)
        self.assertIn(report["error"], ["Unable to open Internet Connection: %s (%s)" % (url, detail) for detail in
                                        ("the server did not answer in time", "the server did not answer")])

    def test_redirect_to_another_host_is_followed(self):
        # Setups often live on another host than their address; what arrives is judged by its token
        # and digest, not by where it came from.
        content = self.serve("moved.bin", payload(30000, seed=6))
        fault.files["moved.bin"] = b""
        fault.redirect_to = nginx.http_url.replace("127.0.0.1", "localhost")
        report = self.fetch(fault.url + "redirect/moved.bin", windows_path(self.path("moved.bin")))
        self.assertEqual((report["error"], report["bytes"]), ("", str(len(content))))
        with open(self.path("moved.bin"), "rb") as f:
            self.assertEqual(f.read(), content)

    def test_unreachable_server(self):
        url = "http://127.0.0.1:1/nothing.bin"
        report = self.fetch(url)
        self.assertEqual((report["rc"], report["error"]), (1, "Unable to open Internet Connection: " + url))

    def test_downloads_name_themselves(self):
        fault.files["agent.bin"] = b"x" * 100
        before = len(fault.requests)
        self.assertEqual(self.fetch(fault.url + "plain/agent.bin")["error"], "")
        self.assertEqual([r.user_agent for r in fault.requests[before:]], ["HTTP_Connect_3"])

    def read_bytes(self, path):
        with open(path, "rb") as f:
            return f.read()


class SizeQueryTests(TransferTestCase):
    trace_viewer = True

    def size(self, url):
        run = self.start(HTTP, "size", url)
        run.wait(120)
        return int(run.output().strip().split("=", 1)[1])

    def test_size_query_and_its_trace_line(self):
        fault.files["sized.bin"] = b"s" * 1234
        before = len(fault.requests)
        cases = [
            (fault.url + "plain/sized.bin", 1234, True),
            (fault.url + "nolength/sized.bin", -1, True),
            ("http://127.0.0.1:1/sized.bin", -1, False),
        ]
        for url, expected, line in cases:
            with self.subTest(url=url):
                self.assertEqual(self.size(url), expected)
                pattern = "HTTP_GetFileSize=%d  %s" % (expected, url)
                if line:
                    self.assertTrue(wait_until(lambda: pattern in self.trace.lines(), 30), self.trace.text())
                else:
                    self.assertNotIn(url, self.trace.text())
        # A warm-up request, then the real one, both as the size query's user agent.
        agents = [r.user_agent for r in fault.requests[before:] if r.path.endswith("plain/sized.bin")]
        self.assertEqual(agents, ["HTTP_Connect_2", "HTTP_Connect_2"])

    def test_connection_test(self):
        run = self.start(HTTP, "connected")
        self.assertEqual(run.wait(120), 0)
        self.assertIn("connected=TRUE", run.output())


if __name__ == "__main__":
    unittest.main()
