"""Unpacking under Wine, through the real UnpackPayload (tools/wintest/ulvunpack): records stored
and deflated, files split over records and disks, dates, checksums, disk prompts, the agent copy,
and damaged or hostile containers that must neither hang nor write outside the folder."""
import os
import shutil
import struct
import subprocess
import time
import unittest
import zlib

from ulvtest import STUB, WIN64, WINE_RUN, WINEPREFIX, WineTestCase, wait_until, windows_path

UNPACK = os.path.join(WIN64, "tools", "wintest", "ulvunpack.exe")
BOXDRIVE = os.path.join(WIN64, "tools", "wintest", "ulvboxdrive.exe")
MAGIC = 0x4A3B2C1D


def tree(folder):
    """Relative path -> bytes of every file below `folder`."""
    found = {}
    for base, _, files in os.walk(folder):
        for name in files:
            path = os.path.join(base, name)
            with open(path, "rb") as f:
                found[os.path.relpath(path, folder).replace(os.sep, "/")] = f.read()
    return found


def hand_made_container(records, stub=b"", header_count=2, checksum=1234, declared=None):
    """A container written here byte by byte: `records` are (descriptor, content, packed), and
    the trailer declares the sizes of their contents as the builder does (or a payload of one
    file of `declared` bytes, when given): the unpacking takes no more content than that."""
    data = bytearray(stub)
    header_offset = len(data)
    deflated = {}  # records with the same body deflate to the same bytes: done once
    for text in (b"\x02", b"|u|i.info|agent.exe|||"):
        data += struct.pack("<I", len(text)) + text
    for descriptor, content, packed in records:
        body = descriptor.encode("latin-1") + b"\0" + content
        if packed:
            if body not in deflated:
                deflated[body] = zlib.compress(body)
            body = deflated[body]
            data += struct.pack("<i", len(body)) + body
        else:
            data += struct.pack("<i", -len(body)) + body
    trailer = bytearray(74)
    trailer[0] = 1
    trailer[1] = header_count
    struct.pack_into("<IIII", trailer, 4, header_offset, len(records), MAGIC, checksum)
    sizes = [len(content) for _, content, _ in records] if declared is None else [declared]
    for k in range(9):
        cluster = 1 if k == 0 else 256 << k
        struct.pack_into("<I", trailer, 28 + 4 * k, sum((n + cluster - 1) // cluster * cluster for n in sizes))
    struct.pack_into("<I", trailer, 70, 74)
    return bytes(data + trailer)


class UnpackTests(WineTestCase):
    trace_viewer = False

    def setUp(self):
        super().setUp()
        self.dest = self.path("dest")
        self.files = {
            "Engine.exe": b"MZ engine",
            "readme.txt": b"read me\r\n",
            "empty.txt": b"",
            "sub/deep/big.bin": os.urandom(300000),
        }

    def unpack(self, container, *args, wait=True):
        run = self.start(UNPACK, windows_path(container), windows_path(self.dest), *args)
        if wait:
            run.wait(180)
        return run

    def report(self, run):
        lines = run.output().replace("\r\n", "\n").split("\n")
        values = dict(line.split("=", 1) for line in lines if "=" in line and not line.startswith("progress="))
        values["progress"] = [line[len("progress="):] for line in lines if line.startswith("progress=")]
        return values

    def box(self, timeout=60000):
        """The text of the message box on screen, once there is one."""
        result = subprocess.run([WINE_RUN, BOXDRIVE, "info", str(timeout)], capture_output=True, text=True,
                                timeout=180)
        self.assertEqual(result.returncode, 0, "no message box appeared")
        plain = [line[len("plain "):] for line in result.stdout.splitlines() if line.startswith("plain ")]
        return plain[0] if plain else ""

    def press(self, index):
        subprocess.run([WINE_RUN, BOXDRIVE, "click", str(index)], capture_output=True, timeout=120, check=True)

    def build_setup(self, name, *args):
        return self.build(name, "--main", "Engine.exe", "--main-args", " /a", "--chunk-size", "64K", *args,
                          files=self.files)

    def test_stored_and_deflated_records_with_split_files(self):
        for store in (False, True):
            with self.subTest(store=store):
                shutil.rmtree(self.dest, ignore_errors=True)
                setup = self.build_setup("setup%d.exe" % store, *(["--store"] if store else []))
                run = self.unpack(setup)
                self.assertEqual(run.rc, 0, run.output())
                report = self.report(run)
                self.assertEqual(report["verdict"], "TRUE")
                self.assertEqual(report["main"], "Engine.exe* /a")
                self.assertEqual(tree(self.dest), self.files)
                # Reset for nothing, reset to the record count, one step per new file.
                records = 3 + (300000 + 65535) // 65536
                self.assertEqual(report["progress"][:2], ["0,0,0,1", "0,%d,0,1" % records])
                self.assertEqual(report["progress"][2:].count("1,0,0,0"), 4)

    def test_dates_are_set_or_left(self):
        folder = self.path("dated")
        os.makedirs(folder)
        with open(os.path.join(folder, "readme.txt"), "wb") as f:
            f.write(b"old")
        os.utime(os.path.join(folder, "readme.txt"), (1500000000, 1500000000))
        for dated in (True, False):
            with self.subTest(dated=dated):
                shutil.rmtree(self.dest, ignore_errors=True)
                setup = self.build("setup.exe", "--files", folder, *([] if dated else ["--no-dates"]))
                before = time.time()
                self.assertEqual(self.unpack(setup).rc, 0)
                written = os.path.getmtime(os.path.join(self.dest, "readme.txt"))
                if dated:
                    self.assertLess(abs(written - 1500000000), 3)
                else:
                    self.assertGreater(written, before - 5)

    def test_empty_payload(self):
        setup = self.build("empty.exe")
        run = self.unpack(setup)
        report = self.report(run)
        self.assertEqual(report["verdict"], "TRUE")
        self.assertEqual(report["main"], "")
        self.assertEqual(tree(self.dest), {})

    def test_bad_checksum_unpacks_nothing(self):
        setup = self.build_setup("setup.exe", "--checksum", "77")
        report = self.report(self.unpack(setup))
        self.assertEqual(report["verdict"], "FALSE")
        self.assertFalse(os.path.exists(self.dest) and os.listdir(self.dest))

    def test_a_changed_byte_fails_the_checksum(self):
        setup = self.build_setup("setup.exe")
        with open(setup, "r+b") as f:
            f.seek(os.path.getsize(setup) - 74 - 100)
            byte = f.read(1)
            f.seek(-1, 1)
            f.write(bytes([byte[0] ^ 0x40]))
        self.assertEqual(self.report(self.unpack(setup))["verdict"], "FALSE")

    def test_three_disks_in_both_layouts(self):
        for layout, first in (("executable", "setup.exe"), ("launcher", "setup.exe.001")):
            with self.subTest(layout=layout):
                shutil.rmtree(self.dest, ignore_errors=True)
                extra = ["--separate-launcher"] if layout == "launcher" else []
                self.build_setup("setup.exe", "--disk-size", "200K", *extra)
                disks = sorted(f for f in os.listdir(self.dir) if f.startswith("setup.exe."))
                self.assertGreaterEqual(len(disks), 2 if layout == "executable" else 3, disks)
                report = self.report(self.unpack(self.path(first)))
                self.assertEqual(report["verdict"], "TRUE")
                self.assertEqual(report["main"], "Engine.exe* /a")
                self.assertEqual(tree(self.dest), self.files)
                for f in os.listdir(self.dir):
                    if f.startswith("setup.exe"):
                        os.remove(self.path(f))

    def test_missing_disk_prompt_answered_ok_then_cancel(self):
        self.build_setup("setup.exe", "--disk-size", "200K")
        second = self.path("setup.exe.002")
        hidden = self.path("hidden.002")
        os.rename(second, hidden)
        run = self.unpack(self.path("setup.exe"), wait=False)
        self.assertIn("DISK #2", self.box())
        os.rename(hidden, second)
        self.press(0)  # OK: the file is there now
        run.wait(180)
        report = self.report(run)
        self.assertEqual(report["main"], "Engine.exe* /a")
        self.assertEqual(tree(self.dest), self.files)

        shutil.rmtree(self.dest)
        os.rename(second, hidden)
        run = self.unpack(self.path("setup.exe"), wait=False)
        self.assertIn("DISK #2", self.box())
        self.press(1)  # Cancel
        run.wait(180)
        report = self.report(run)
        self.assertEqual(report["main"], "")
        # What disk 1 held stays.
        self.assertTrue(tree(self.dest))
        self.assertLess(len(tree(self.dest)), len(self.files) + 1)

    def test_force_prompt_asks_even_when_the_disk_is_there(self):
        self.build_setup("setup.exe", "--disk-size", "200K")
        run = self.unpack(self.path("setup.exe"), "--force-prompt", wait=False)
        self.assertIn("DISK #2", self.box())
        self.press(0)
        # Every further disk is asked for too.
        while run.proc.poll() is None:
            result = subprocess.run([WINE_RUN, BOXDRIVE, "info", "3000"], capture_output=True, text=True,
                                    timeout=120)
            if result.returncode == 0:
                # The box may close between the look and the click; the next round sees that.
                subprocess.run([WINE_RUN, BOXDRIVE, "click", "0"], capture_output=True, timeout=120)
        self.assertEqual(tree(self.dest), self.files)

    def test_agent_copy(self):
        self.build_setup("SETUP.EXE", "--disk-size", "200K", "--separate-launcher")
        report = self.report(self.unpack(self.path("SETUP.EXE.001"), "--agent", "agent.exe"))
        self.assertEqual(report["verdict"], "TRUE")
        with open(os.path.join(self.dest, "agent.exe"), "rb") as f:
            agent = f.read()
        with open(STUB, "rb") as f:
            stub = f.read()
        self.assertEqual(agent[:248], stub[:248])
        self.assertEqual(agent[248:256], b"\0" * 8)  # EndOfData 0: the trailer ends the file
        trailer = agent[-74:]
        self.assertEqual(struct.unpack_from("<I", trailer, 12)[0], MAGIC)
        self.assertEqual(trailer[69], 1)                       # ThisIs_AutoUpdateProg
        self.assertEqual(struct.unpack_from("<I", trailer, 70)[0], 74)
        header_offset = struct.unpack_from("<I", trailer, 4)[0]
        # The same header strings as disk 1, and no payload after them.
        with open(self.path("SETUP.EXE.001"), "rb") as f:
            disk1 = f.read()
        self.assertEqual(agent[header_offset:-74], disk1[header_offset:len(agent) - 74])
        strings = agent[header_offset:-74]
        language = struct.unpack_from("<I", strings, 0)[0]
        update = struct.unpack_from("<I", strings, 4 + language)[0]
        self.assertEqual(len(strings), 4 + language + 4 + update)
        # A container not named like an executable leaves no agent.
        shutil.rmtree(self.dest)
        data = self.build_setup("data.bin")
        self.unpack(data, "--agent", "agent.exe")
        self.assertFalse(os.path.exists(os.path.join(self.dest, "agent.exe")))

    def test_record_that_does_not_inflate(self):
        container = bytearray(hand_made_container([("|ok.txt|0|", b"fine", True), ("|bad.txt|0|", b"x" * 100, True)]))
        # Damage the deflate data of the second record, keeping its zlib header.
        second = container.rindex(zlib.compress(b"|bad.txt|0|\0" + b"x" * 100)[:2])
        container[second + 4:second + 8] = b"\xff\xff\xff\xff"
        path = self.path("bad.exe")
        with open(path, "wb") as f:
            f.write(container)
        run = self.unpack(path)
        self.assertEqual(run.rc, 3)
        self.assertIn("zliberror=", run.output())
        self.assertEqual(tree(self.dest)["ok.txt"], b"fine")

    def test_record_reaching_beyond_the_data_fails_clearly(self):
        container = bytearray(hand_made_container([("|ok.txt|0|", b"fine", False), ("*|main.exe*|0|", b"m", False)]))
        # The second record claims a million bytes.
        offset = container.index(b"|main.exe*") - 5
        struct.pack_into("<i", container, offset, -1000000)
        path = self.path("cut.exe")
        with open(path, "wb") as f:
            f.write(container)
        run = self.unpack(path, wait=False)
        self.assertIn("damaged", self.box())
        self.press(0)
        run.wait(60)
        report = self.report(run)
        self.assertEqual(report["main"], "")
        self.assertEqual(tree(self.dest), {"ok.txt": b"fine"})

    def test_names_outside_the_folder_are_never_written(self):
        outside = self.path("outside")
        os.makedirs(outside)
        drive_c = os.path.join(WINEPREFIX, "drive_c")
        names = ["..\\outside\\evil1.txt", "sub\\..\\..\\outside\\evil2.txt", windows_path(outside) + "\\evil3.txt",
                 "\\\\server\\share\\evil4.txt", "/outside/evil5.txt", "CON", "good\\..\\x.txt", "ok:stream",
                 "C:\\evil6.txt", "C:evil7.txt", "\\\\?\\C:\\evil8.txt", "\\\\?\\" + windows_path(outside) + "\\evil9.txt",
                 "evil10.txt::$DATA", "evil11.txt.", "evil12.txt ", "...\\outside\\evil13.txt", "sub.\\evil14.txt",
                 ".. \\outside\\evil15.txt", "NUL.txt", "com1", "sub\\AUX"]
        records = [("|%s|0|" % name, b"evil", True) for name in names] + [("|good.txt|0|", b"good", True)]
        path = self.path("hostile.exe")
        with open(path, "wb") as f:
            f.write(hand_made_container(records))
        run = self.unpack(path, wait=False)
        self.assertIn("Unable to save Extracted File!", self.box())  # the first refusal only
        self.press(0)
        run.wait(60)
        # Every name is tried (and the others refused without a message), nothing is given to
        # start, and the unpacking says it did not write the whole payload.
        report = self.report(run)
        self.assertEqual((report["main"], report["whole"]), ("", "FALSE"))
        self.assertEqual(tree(self.dest), {"good.txt": b"good"})
        self.assertEqual(os.listdir(outside), [])
        for folder in (self.dir, drive_c, os.path.dirname(self.dir)):
            self.assertEqual([f for f in os.listdir(folder) if f.startswith("evil")], [], folder)


if __name__ == "__main__":
    unittest.main(verbosity=2)
