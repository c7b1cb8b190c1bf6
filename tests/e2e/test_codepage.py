"""Names and texts in the target code page: the builder on Linux takes UTF-8 file names and a UTF-8
language file and writes them in the code pages Windows reads them in. Under Wine a setup unpacks
'café.txt' and 'Übersicht.pdf' under those names, and a Cyrillic language entry (Charset=204)
shows its message box in Russian on a Russian system. Refusals are checked on the builder alone."""
import os
import shutil
import subprocess
import tempfile
import time
import unittest

from test_launch import BOXDRIVE, LaunchTestCase
from ulvtest import BUILDER, E2E_DIR, SCREENSHOTS, STUB, WIN64, WINE_RUN, wait_until, windows_path

WINDOWS_BUILDER = os.path.join(WIN64, "tools", "builder", "ulvbuild.exe")

RUSSIAN = "\n".join([
    "[Russian]",
    "Charset=204",
    "FontName=Tahoma",
    "Confirm=Подтверждение",
    "BtnText=|&ОК|&Отмена|&Да|&Нет|&Прервать|&Повторить|&Пропустить|",
    "s2=Файлы будут распакованы на временный диск (<DRIVE>)<P>",
    "s4=<P>Нужно места на временном диске: <T>  <SPACE_REQ> МБ<P>",
    "s5=Свободно на временном диске: <T>  <SPACE_AVAIL> МБ<P>",
    "s6=<P>Продолжить установку?<P>",
]) + "\n"


def run_builder(*args):
    return subprocess.run([BUILDER, *args], capture_output=True, text=True)


class RussianSystem:
    """The environment of a Windows system whose ANSI code page is 1251: Wine takes its code page
    from the Unix locale, so a ru_RU.UTF-8 locale is compiled into a folder of the test's own
    (the machine itself may have none but C)."""

    def __init__(self, folder):
        self.folder = folder
        self.saved = None

    def available(self):
        if not os.path.isdir(os.path.join(self.folder, "ru_RU.UTF-8")):
            if not shutil.which("localedef"):
                return False
            os.makedirs(self.folder, exist_ok=True)
            subprocess.run(["localedef", "-i", "ru_RU", "-f", "UTF-8", os.path.join(self.folder, "ru_RU.UTF-8")],
                           capture_output=True, timeout=120)
        return os.path.isfile(os.path.join(self.folder, "ru_RU.UTF-8", "LC_CTYPE"))

    def __enter__(self):
        self.saved = {k: os.environ.get(k) for k in ("LANG", "LC_ALL", "LOCPATH")}
        os.environ.update(LANG="ru_RU.UTF-8", LC_ALL="ru_RU.UTF-8", LOCPATH=self.folder)
        return self

    def __exit__(self, *exc):
        for key, value in self.saved.items():
            if value is None:
                os.environ.pop(key, None)
            else:
                os.environ[key] = value


class BuilderCodePageTests(unittest.TestCase):
    """The builder alone: refused names and texts name their culprit and leave no output."""

    def setUp(self):
        self.dir = tempfile.mkdtemp(prefix="codepage_builder_")
        self.stub = os.path.join(self.dir, "stub.bin")
        with open(self.stub, "wb") as f:
            f.write(b"\0" * 300)

    def tearDown(self):
        shutil.rmtree(self.dir, ignore_errors=True)

    def folder(self, *names):
        folder = tempfile.mkdtemp(dir=self.dir)
        for name in names:
            with open(os.path.join(folder, name), "w") as f:
                f.write(name)
        return folder

    def write(self, name, text, encoding="utf-8"):
        path = os.path.join(self.dir, name)
        with open(path, "w", encoding=encoding) as f:
            f.write(text)
        return path

    def test_refusals_name_the_culprit_and_the_code_page_and_write_nothing(self):
        western = self.folder("café.txt")
        cases = [
            (["--files", self.folder("café.txt", "日本.txt")],
             "payload file name '日本.txt'", "cannot be written in code page 1252"),
            (["--files", western, "--codepage", "932"],
             "payload file name 'café.txt'", "cannot be written in code page 932"),
            (["--files", western, "--languages", self.write("ru.ini", "[Russian]\ns1=Распаковка\n")],
             "[Russian] key 's1'", "cannot be written in code page 1252"),
            (["--files", western, "--languages", self.write("de.ini", "[German]\nCharset=204\ns1=Größe\n")],
             "[German] key 's1' (Charset=204)", "cannot be written in code page 1251"),
            (["--files", western, "--languages", self.write("cp.ini", "[Russian]\nCharset=204\ns1=Файлы\n", "cp1251")],
             "[Russian] key 's1'", "is not UTF-8 text"),
            (["--files", western, "--update-url", "http://пример.рф/"],
             "--update-url", "cannot be written in code page 1252"),
        ]
        for args, culprit, problem in cases:
            with self.subTest(args=args):
                out = os.path.join(self.dir, "out", "setup.exe")
                os.makedirs(os.path.dirname(out), exist_ok=True)
                result = run_builder("--stub", self.stub, "--out", out, *args)
                self.assertEqual(result.returncode, 1, result.stderr)
                self.assertIn(culprit, result.stderr)
                self.assertIn(problem, result.stderr)
                self.assertEqual(os.listdir(os.path.dirname(out)), [])

    def test_a_language_file_in_its_code_page_is_copied_with_native(self):
        lang = self.write("cp.ini", "[Russian]\nCharset=204\ns1=Файлы\n", "cp1251")
        out = os.path.join(self.dir, "setup.exe")
        result = run_builder("--stub", self.stub, "--out", out, "--languages", lang, "--languages-encoding", "native")
        self.assertEqual(result.returncode, 0, result.stderr)
        utf8 = self.write("utf8.ini", "[Russian]\nCharset=204\ns1=Файлы\n")
        again = os.path.join(self.dir, "again.exe")
        self.assertEqual(run_builder("--stub", self.stub, "--out", again, "--languages", utf8).returncode, 0)
        with open(out, "rb") as f, open(again, "rb") as g:
            native, converted = f.read(), g.read()
        self.assertIn("s1=Файлы".encode("cp1251"), native)
        self.assertEqual(native, converted)


class CodePageWineTests(LaunchTestCase):

    def test_names_unpack_under_their_names(self):
        release = self.path("release")
        setup = self.engine_setup("western.exe", HoldWindow=1, Release=windows_path(release),
                                  extra={"café.txt": "café", "Docs/Übersicht.pdf": "Übersicht"})
        folder = self.work_folder(setup)
        run = self.start(setup)
        # The launcher waits for the engine's window: its work folder stays until the release.
        self.assertTrue(wait_until(lambda: "holder" in self.record(), 60), self.trace.text())
        # The engine lists the files beside it (sorted by their bytes) in the ANSI code page 1252.
        self.assertEqual(self.record()["files"], ["|Engine.exe|TestEngine.ini|café.txt|"])
        # Wine keeps Windows names as UTF-8 names on the Unix side.
        with open(os.path.join(folder, "café.txt"), "rb") as f:
            self.assertEqual(f.read(), "café".encode())
        with open(os.path.join(folder, "Docs", "Übersicht.pdf"), "rb") as f:
            self.assertEqual(f.read(), "Übersicht".encode())
        with open(release, "w"):
            pass
        self.assertEqual(run.wait(60), 0)
        self.assert_cleaned_up(folder)

    def test_the_windows_builder_writes_the_same_container(self):
        folder = self.path("product")
        for rel, content in {"café.txt": "c", "Docs/Übersicht.pdf": "u", "Engine.exe": "e"}.items():
            os.makedirs(os.path.dirname(os.path.join(folder, rel)), exist_ok=True)
            with open(os.path.join(folder, rel), "w") as f:
                f.write(content)
        lang = self.path("languages.ini")
        with open(lang, "w", encoding="utf-8") as f:
            f.write("[German]\ns1=Entpacken…\n[Hebrew]\nCharset=177\ns1=חילוץ\n" + RUSSIAN)
        # Stored records and no dates: zlib and the clock play no part in the comparison.
        common = ["--store", "--no-dates", "--main", "Engine.exe", "--main-args", "/title=Café",
                  "--update-url", "http://example.com/Überblick", "--info-file", "Prog.info"]
        linux = self.path("linux.exe")
        result = run_builder("--stub", STUB, "--out", linux, "--files", folder, "--languages", lang, *common)
        self.assertEqual(result.returncode, 0, result.stderr)
        windows = self.path("windows.exe")
        with tempfile.TemporaryFile(dir=self.dir) as out:
            rc = subprocess.run([WINE_RUN, WINDOWS_BUILDER, "--stub", windows_path(STUB), "--out", windows_path(windows),
                                 "--files", windows_path(folder), "--languages", windows_path(lang), *common],
                                stdout=out, stderr=out, stdin=subprocess.DEVNULL, timeout=180).returncode
            out.seek(0)
            self.assertEqual(rc, 0, out.read().decode("utf-8", "replace"))
        with open(linux, "rb") as f, open(windows, "rb") as g:
            linux_bytes, windows_bytes = f.read(), g.read()
        self.assertIn(b"|Docs\\\xdcbersicht.pdf|0|", linux_bytes)
        self.assertIn("s2=Файлы".encode("cp1251"), linux_bytes)
        self.assertIn("s1=חילוץ".encode("cp1255"), linux_bytes)
        self.assertEqual(windows_bytes, linux_bytes)

        # The same refusal on both hosts.
        os.makedirs(os.path.join(folder, "日本"))
        with open(os.path.join(folder, "日本", "x.txt"), "w") as f:
            f.write("x")
        with tempfile.TemporaryFile(dir=self.dir) as out:
            rc = subprocess.run([WINE_RUN, WINDOWS_BUILDER, "--stub", windows_path(STUB), "--out",
                                 windows_path(self.path("refused.exe")), "--files", windows_path(folder)],
                                stdout=out, stderr=out, stdin=subprocess.DEVNULL, timeout=180).returncode
            out.seek(0)
            message = out.read().decode("utf-8", "replace")
        self.assertEqual(rc, 1, message)
        self.assertIn("cannot be written in code page 1252", message)
        self.assertFalse(os.path.exists(self.path("refused.exe")))

    def test_cyrillic_entry_shows_its_box_in_russian(self):
        self.assertTrue(os.environ.get("DISPLAY"), "the screenshot needs the test run's display")
        russia = RussianSystem(os.path.join(E2E_DIR, "codepage_locales"))
        self.assertTrue(russia.available(), "no ru_RU locale could be compiled (localedef and the locale sources "
                        "of Debian's 'locales' package are needed)")
        lang = self.path("russian.ini")
        with open(lang, "w", encoding="utf-8") as f:
            f.write(RUSSIAN)
        setup = self.engine_setup("cyrillic.exe", "--show-temp-drive-info", "--languages", lang, ExitCode=0)
        # Without a window manager on the test display nobody draws captions; Wine draws this
        # program's itself, so that the caption shows in the picture.
        subprocess.run([WINE_RUN, "reg", "add", r"HKCU\Software\Wine\AppDefaults\cyrillic.exe\X11 Driver",
                        "/v", "Decorated", "/d", "N", "/f"], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                       stdin=subprocess.DEVNULL, check=True, timeout=180)
        with russia:
            run = self.start(setup)
            box = self.russian_box()
            self.assertEqual(box["caption"], "Подтверждение")
            self.assertIn("Файлы будут распакованы на временный диск (C:)", box["plain"])
            self.assertIn("Продолжить установку?", box["plain"])
            self.assertEqual(box["buttons"], ["&Да", "&Нет"])
            time.sleep(1)  # let it paint
            os.makedirs(SCREENSHOTS, exist_ok=True)
            shot = os.path.join(SCREENSHOTS, "codepage_cyrillic_box.png")
            left, top, right, bottom = box["window"]
            subprocess.run(["import", "-window", "root", "-display", os.environ["DISPLAY"], "-crop",
                            "%dx%d+%d+%d" % (right - left, bottom - top, left, top), "+repage", shot],
                           check=True, timeout=60)
            print("screenshot:", shot)
            self.assertGreater(os.path.getsize(shot), 0)
            subprocess.run([WINE_RUN, BOXDRIVE, "click", "1"], capture_output=True, timeout=120, check=True)  # No
            self.assertEqual(run.wait(60), 0)
        self.assertEqual(self.record(), {})

    def russian_box(self):
        """The box on screen as the Russian system reads it: its texts decoded from code page 1251."""
        with tempfile.TemporaryFile(dir=self.dir) as out:
            rc = subprocess.run([WINE_RUN, BOXDRIVE, "info", "60000"], stdout=out, stderr=subprocess.DEVNULL,
                                stdin=subprocess.DEVNULL, timeout=180).returncode
            out.seek(0)
            text = out.read().decode("cp1251")
        self.assertEqual(rc, 0, "no message box appeared")
        box = {"buttons": []}
        for line in text.splitlines():
            key, _, rest = line.partition(" ")
            if key == "window":
                box["window"] = tuple(map(int, rest.split()))
            elif key in ("caption", "plain"):
                box[key] = rest
            elif key == "child" and rest.split(" ")[1] == "Button":
                box["buttons"].append(rest.split(" ", 11)[11] if len(rest.split(" ", 11)) > 11 else "")
        return box


if __name__ == "__main__":
    unittest.main()
