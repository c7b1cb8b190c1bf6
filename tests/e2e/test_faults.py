"""The launcher's fault table under Wine: setup files damaged in their framing and in their
records, descriptors and dates that name nothing sound, disks that belong to another setup or
were cut short, a temporary drive that fills up while the payload is unpacked and a work folder
that cannot be made. Each case gives the real stub (or the real unpacking, through ulvunpack) an
exact input and checks what the user gets: the message, the exit code, no engine started on a
damaged payload, the work folders gone, nothing written outside them, and the setup's own files
as they were.

Covered elsewhere: records reaching beyond the data and a missing disk 2 (test_launch
test_incomplete_unpacking_fails, test_unpack test_record_reaching_beyond_the_data_fails_clearly
and test_missing_disk_prompt_answered_ok_then_cancel); names that would leave the folder
(test_unpack test_names_outside_the_folder_are_never_written)."""
import contextlib
import hashlib
import os
import shutil
import signal
import struct
import subprocess
import time
import unittest

from test_launch import EXIT_BAD_CHECKSUM, EXIT_INCOMPLETE, RESULT_LINE, LaunchTestCase, read_bytes
from test_unpack import UNPACK, hand_made_container, tree
from ulvtest import STUB, WINE_RUN, WINEPREFIX, wait_until, wine_temp_dir, windows_path

BOXDRIVE = os.path.join(os.path.dirname(UNPACK), "ulvboxdrive.exe")
DRIVE_C = os.path.join(WINEPREFIX, "drive_c")
MAGIC = 0x4A3B2C1D
BOX_YES, BOX_NO = 0, 1      # the temporary-drive question
BOX_OK, BOX_CANCEL = 0, 1   # messages and the disk prompt


def dos_date(year, month, day, hours=0, minutes=0, seconds=0):
    """A DOS date-time as the descriptors hold it; its fields are taken as given, sound or not."""
    return ((year - 1980) << 25) | (month << 21) | (day << 16) | (hours << 11) | (minutes << 5) | (seconds // 2)


def folder_size(folder):
    return sum(os.path.getsize(os.path.join(base, name)) for base, _, names in os.walk(folder) for name in names)


@contextlib.contextmanager
def mounted(mount_point, link, options):
    """A tmpfs mounted at `mount_point` and reached from the prefix through the symbolic link
    `link`, for the block; the test is skipped where nothing can be mounted. The mount stays out
    of the prefix, so that removing the prefix never meets a filesystem left mounted by a run that
    was killed."""
    if os.geteuid() != 0:
        raise unittest.SkipTest("mounting a small drive needs root")
    os.makedirs(mount_point, exist_ok=True)
    result = subprocess.run(["mount", "-t", "tmpfs", "-o", options, "tmpfs", mount_point], capture_output=True,
                            text=True)
    if result.returncode != 0:
        raise unittest.SkipTest("cannot mount a tmpfs: " + result.stderr.strip())
    try:
        # Left by a run that was killed (a stray launcher may even have made a folder there).
        if os.path.isdir(link) and not os.path.islink(link):
            shutil.rmtree(link)
        elif os.path.lexists(link):
            os.remove(link)
        os.symlink(mount_point, link)
        yield mount_point
    finally:
        if os.path.islink(link):
            os.remove(link)
        # The Wine server may still hold a handle for a moment after the stub has ended.
        if subprocess.run(["umount", mount_point], capture_output=True).returncode != 0:
            time.sleep(2)
            subprocess.run(["umount", "-l", mount_point], capture_output=True)


@contextlib.contextmanager
def ended_afterwards(program):
    """Ends, after the block, every Wine process still running `program`. A launcher started
    through the command shell is no child of the test: a failed case would otherwise leave it,
    and its message box, to the next test."""
    try:
        yield
    finally:
        name = windows_path(program).encode("latin-1")
        for pid in filter(str.isdigit, os.listdir("/proc")):
            try:
                with open("/proc/%s/cmdline" % pid, "rb") as f:
                    if name in f.read():
                        os.kill(int(pid), signal.SIGKILL)
            except OSError:
                pass


class FaultTestCase(LaunchTestCase):
    """Runs a launcher through its failure and checks every promise of the fault table."""

    def outside(self, *extra_folders):
        """What a run must leave as it was: the test folder's files with their contents (the
        setup files first of all), the names in the temporary folder and at the top of drive C:,
        and the files below `extra_folders`."""
        state = {}
        for base, _, names in os.walk(self.dir):
            for name in names:
                if name.startswith(("trace.txt", "out_", "record.txt")):
                    continue
                path = os.path.join(base, name)
                with open(path, "rb") as f:
                    state[os.path.relpath(path, self.dir)] = hashlib.sha256(f.read()).hexdigest()
        state["<temp>"] = sorted(os.listdir(wine_temp_dir()))
        state["<C:>"] = sorted(os.listdir(DRIVE_C))
        for folder in extra_folders:
            state[folder] = sorted(os.path.relpath(os.path.join(base, name), folder)
                                   for base, dirs, names in os.walk(folder) for name in names + dirs)
        return state

    def answer(self, fragment, button):
        """Waits for the message box, checks that its text holds `fragment`, presses `button` and
        waits until the box is gone; returns the text."""
        caption, text = self.box()
        self.assertIn(fragment, text, caption)
        self.press(button)
        subprocess.run([WINE_RUN, BOXDRIVE, "gone", "30000"], capture_output=True, timeout=120)
        return text

    def fails(self, run, code, folder, before, *extra_folders):
        """The launch ended with `code`, started no engine, removed `folder` and left everything
        else as `before` found it."""
        run.wait(120)
        self.assertTrue(self.trace.wait_for(RESULT_LINE, self.results + 1), self.trace.text())
        self.results += 1
        self.assertEqual(self.result(), (False, code))
        self.assertEqual(self.record(), {})
        self.assert_cleaned_up(folder)
        self.assertEqual(self.outside(*extra_folders), before)

    def setUp(self):
        super().setUp()
        self.results = 0


class ContainerFaults(FaultTestCase):

    def test_framing_damage_is_a_setup_file_without_container(self):
        good = read_bytes(self.engine_setup("good.exe", ExitCode=0))
        trailer = len(good) - 74
        header_offset = struct.unpack_from("<I", good, trailer + 4)[0]
        update_count = header_offset + 4 + struct.unpack_from("<I", good, header_offset)[0]

        def patched(at, fmt, value, data=good):
            data = bytearray(data)
            struct.pack_into(fmt, data, at, value)
            return bytes(data)

        def ending_at(end_of_data):  # the EndOfData field: high word at 248, low word at 252
            return patched(252, "<I", end_of_data & 0xFFFFFFFF, patched(248, "<I", end_of_data >> 32))

        cases = [
            ("cut short", good[:header_offset + 40]),
            ("wrong magic", patched(trailer + 12, "<I", MAGIC ^ 1)),
            ("EndOfData beyond the file", ending_at(len(good) + 1000)),
            ("EndOfData inside the headers", ending_at(header_offset + 6)),
            ("trailer length 4", patched(len(good) - 4, "<I", 4)),
            ("trailer length beyond the file", patched(len(good) - 4, "<I", len(good) + 1)),
            ("header string count beyond the file", patched(update_count, "<I", 0xFFFFFFF0)),
        ]
        for i, (what, data) in enumerate(cases):
            with self.subTest(what):
                setup = self.path("damaged%d.exe" % i)
                with open(setup, "wb") as f:
                    f.write(data)
                folder = self.work_folder(setup)
                before = self.outside()
                run = self.start(setup)
                # Nothing is asked first; the one message is the damaged setup file's.
                self.answer("Bad CRC!", BOX_OK)
                self.fails(run, EXIT_BAD_CHECKSUM, folder, before)

    def test_damaged_records_stop_the_unpacking(self):
        files = self.engine_files(ExitCode=0)
        engine, ini = files["Engine.exe"], files["TestEngine.ini"].encode()
        sound = [("|Engine.exe*|0|", engine, True), ("|TestEngine.ini|0|", ini, True)]

        def with_length(length):
            data = bytearray(hand_made_container(sound + [("|more.txt|0|", b"more", False)], stub=read_bytes(STUB)))
            struct.pack_into("<i", data, data.index(b"|more.txt|") - 4, length)
            return bytes(data)

        # A bomb: a thousand records of a megabyte of zeros each, about a kilobyte apiece, for a
        # file that the container says holds 4096 bytes: a gigabyte that must never be written.
        declared = len(engine) + len(ini) + 4096
        bomb = hand_made_container(sound + [("|zeros.bin|0|", bytes(1 << 20), True)] * 1024, stub=read_bytes(STUB),
                                   declared=declared)
        self.assertLess(len(bomb), len(read_bytes(STUB)) + 2 * 1024 * 1024)
        cases = [("length -1", with_length(-1)), ("length INT32_MIN", with_length(-2 ** 31)), ("bomb", bomb)]
        for what, data in cases:
            with self.subTest(what):
                setup = self.path(what.replace(" ", "_") + ".exe")
                with open(setup, "wb") as f:
                    f.write(data)
                folder = self.work_folder(setup)
                before = self.outside()
                run = self.start(setup)
                caption, text = self.box()
                self.assertIn("Unable to read the Setup File: it is damaged or incomplete!", text)
                self.assertIn(os.path.basename(setup), text)
                # While the message is up the work folder still holds what was written: never
                # more than the container declared.
                self.assertLessEqual(folder_size(folder), declared)
                self.press(BOX_OK)
                self.fails(run, EXIT_INCOMPLETE, folder, before)


class RecordRules(FaultTestCase):
    trace_viewer = False

    def test_impossible_dates_and_descriptors_that_name_no_file(self):
        valid = dos_date(2021, 6, 15, 10, 30, 20)
        impossible = {
            "month13.txt": dos_date(2021, 13, 1), "day0.txt": dos_date(2021, 6, 0),
            "feb29.txt": dos_date(2023, 2, 29), "apr31.txt": dos_date(2021, 4, 31),
            "hour24.txt": dos_date(2021, 6, 1, 24), "minute60.txt": dos_date(2021, 6, 1, 12, 60),
            "second60.txt": dos_date(2021, 6, 1, 12, 0, 60), "ones.txt": 0xFFFFFFFF, "timeonly.txt": 1234,
        }
        records = [("|valid.txt|%d|" % valid, b"valid", True)]
        records += [("|%s|%d|" % (name, date), name.encode(), True) for name, date in impossible.items()]
        records.append(("|good.txt|0|", b"good", False))
        # The content of the record without a "|" list counts as declared content too.
        declared = sum(len(content) for _, content, _ in records) + len(b"content")
        container = bytearray(hand_made_container(records, declared=declared))
        # Two records whose descriptors name no file, before the last one: one without any NUL,
        # one that is no "|" list (read with 'n' as delimiter it would name 'obar.txt').
        for body in (b"|nonul.txt|0|content", b"nobar.txt\0content"):
            record = struct.pack("<i", -len(body)) + body
            at = container.index(b"|good.txt|") - 4
            container[at:at] = record
        path = self.path("dates.exe")
        with open(path, "wb") as f:
            f.write(container)
        dest = self.path("dest")
        before = time.time()
        run = self.start(UNPACK, windows_path(path), windows_path(dest), "--quiet")
        text = self.answer("Unable to save Extracted File!", BOX_OK)
        self.assertIn("The file name is not allowed: the name is empty.", text)
        run.wait(120)
        report = dict(line.split("=", 1) for line in run.output().splitlines() if "=" in line)
        # A record that cannot be placed leaves the payload incomplete: nothing to start.
        self.assertEqual((report["verdict"], report["whole"], report["main"]), ("TRUE", "FALSE", ""))
        written = tree(dest)
        self.assertEqual(set(written), {"valid.txt", "good.txt"} | set(impossible))
        self.assertEqual(written["good.txt"], b"good")
        t = time.localtime(os.path.getmtime(os.path.join(dest, "valid.txt")))
        self.assertEqual((t.tm_year, t.tm_mon, t.tm_mday, t.tm_hour, t.tm_min, t.tm_sec), (2021, 6, 15, 10, 30, 20))
        # An impossible date is no date: the file keeps the time it was written.
        for name in impossible:
            self.assertGreater(os.path.getmtime(os.path.join(dest, name)), before - 5, name)
        self.assertFalse([f for f in os.listdir(self.dir) if "bar" in f or "nonul" in f])


class DiskFaults(FaultTestCase):

    def multi_disk_setup(self, name, **extra):
        """A setup of two or more disk files: the launcher with the engine, the rest on the next ones."""
        files = {"random.bin": os.urandom(400000)}
        files.update(extra)
        setup = self.engine_setup(name, "--disk-size", str(len(self.engine) + os.path.getsize(STUB)),
                                  "--chunk-size", "64K", "--store", ExitCode=6, extra=files)
        self.assertTrue(os.path.exists(setup + ".002"))
        return setup

    def test_a_disk_of_another_setup_is_asked_for_again(self):
        setup = self.multi_disk_setup("setup.exe")
        other = self.multi_disk_setup("other.exe", **{"foreign.bin": b"f" * 100000})
        shutil.copyfile(setup + ".002", self.path("own.002"))
        shutil.copyfile(other + ".002", setup + ".002")
        folder = self.work_folder(setup)

        # OK with the foreign disk still in place asks again; the right disk then completes.
        run = self.start(setup)
        self.answer("DISK #2", BOX_OK)
        caption, text = self.box()
        self.assertIn("DISK #2", text)
        # Disk 1 is out, nothing of the other setup's.
        self.assertIn("Engine.exe", os.listdir(folder))
        self.assertNotIn("foreign.bin", os.listdir(folder))
        shutil.copyfile(self.path("own.002"), setup + ".002")
        self.press(BOX_OK)
        run.wait(120)
        self.assertTrue(self.trace.wait_for(RESULT_LINE, 1), self.trace.text())
        self.results = 1
        self.assertEqual(self.result(), (False, 6))
        self.assertEqual(self.record()["files"], ["|Engine.exe|TestEngine.ini|random.bin|"])
        self.assert_cleaned_up(folder)

        # Cancel at the prompt: nothing is started and the foreign disk stays as it was.
        os.remove(self.record_path)
        shutil.copyfile(other + ".002", setup + ".002")
        before = self.outside()
        run = self.start(setup)
        self.answer("DISK #2", BOX_CANCEL)
        self.fails(run, EXIT_INCOMPLETE, folder, before)

    def test_a_disk_cut_short_is_damaged(self):
        setup = self.multi_disk_setup("setup.exe")
        with open(setup + ".002", "r+b") as f:
            f.truncate(os.path.getsize(setup + ".002") // 2)
        folder = self.work_folder(setup)
        before = self.outside()
        run = self.start(setup)
        text = self.answer("Unable to read the Setup File: it is damaged or incomplete!", BOX_OK)
        self.assertIn("setup.exe.002", text)
        self.fails(run, EXIT_INCOMPLETE, folder, before)


class SpaceFaults(FaultTestCase):
    """A temporary folder on a small or read-only filesystem mounted into drive C: of the prefix.
    On the temporary folder's own drive, and with no other fixed drive among C to E (the test
    prefix has none), the launcher has no other place to go."""

    def launch_with_temp(self, setup, temp):
        """Starts the launcher with TEMP and TMP set to the Windows folder `temp`: Wine takes them
        from the registry for a process started from Linux, so a command shell sets them."""
        commands = "set TEMP=%s&& set TMP=%s&& start /wait %s" % (temp, temp, windows_path(setup))
        return self.start("cmd", "/c", commands, cwd=self.dir)

    def test_temporary_drive_full_during_unpacking(self):
        setup = self.engine_setup("setup.exe", "--store", extra={"random.bin": os.urandom(3 * 1024 * 1024)})
        with mounted(self.path("small"), os.path.join(DRIVE_C, "ulvsmall"), "size=1m") as small, \
                ended_afterwards(setup):
            folder = os.path.join(small, os.path.basename(self.work_folder(setup)))
            before = self.outside(small)
            run = self.launch_with_temp(setup, "C:\\ulvsmall")
            self.answer("Limited Free Space on your Temp Drive! (C:)", BOX_YES)
            text = self.answer("Unable to save Extracted File!", BOX_OK)
            self.assertRegex(text, r"Data Size: \\t\d+ Bytes")
            self.assertRegex(text, r"Bytes Free: \\t\d+ Bytes")
            self.fails(run, EXIT_INCOMPLETE, folder, before, small)
            self.assertEqual(os.listdir(small), [])

    def test_work_folder_that_cannot_be_made(self):
        setup = self.engine_setup("setup.exe")
        with mounted(self.path("readonly"), os.path.join(DRIVE_C, "ulvreadonly"), "ro,size=64m") as readonly, \
                ended_afterwards(setup):
            folder = os.path.join(readonly, os.path.basename(self.work_folder(setup)))
            before = self.outside(readonly)
            run = self.launch_with_temp(setup, "C:\\ulvreadonly")
            text = self.answer("Unable to create Directory!", BOX_OK)
            self.assertIn(os.path.basename(folder), text)
            self.fails(run, EXIT_INCOMPLETE, folder, before, readonly)


if __name__ == "__main__":
    unittest.main(verbosity=2)
