"""The whole story of the product, run under Wine and told step by step:

1. a local nginx serves the publisher's update folder;
2. version 1 of the sample product is installed through a web installer, which downloads the
   real setup from the server and runs it (the demo engine installs the files, the product's
   program, the update agent and its .original file);
3. the product and its agent start, as a login would start them;
4. the publisher builds version 2 (setup and INFO file) with the builder and uploads both, or
   with --inform an information page instead;
5. the agent is asked to check: it finds the publication, asks (the script answers through the
   box driver and keeps a screenshot of every question), downloads, closes the running product,
   installs and starts the product again; or it shows the information page.

Called by scripts/main-job.sh after the builds, with DISPLAY and ULV_WINEPREFIX set."""
import argparse
import os
import re
import shutil
import subprocess
import sys
import time

ROOT = os.path.abspath(os.path.join(os.path.dirname(__file__), ".."))
sys.path.insert(0, os.path.join(ROOT, "tests", "e2e"))
from httpserve import CertificateAuthority, Nginx  # noqa: E402
from ulvtest import sample_product  # noqa: E402

OUT = os.path.join(ROOT, "build", "main-job")
BUILDER = os.path.join(ROOT, "build", "native", "tools", "builder", "ulvbuild")
WIN64 = os.path.join(ROOT, "build", "win64")
STUB = os.path.join(WIN64, "src", "stub", "ulvstub.exe")
TOOLS = os.path.join(WIN64, "tools", "wintest")
RUN = os.path.join(ROOT, "tests", "wine", "wine-run.sh")
PREFIX = os.environ["ULV_WINEPREFIX"]
INSTALLED = os.path.join(PREFIX, "drive_c", "Program Files", "Sample Product")
TOKEN = "SAMPLE-UPDATES"
PRODUCT_EXE = "C:\\Program Files\\Sample Product\\SampleProduct.exe"
AGENT_EXE = "C:\\Program Files\\Sample Product\\SampleAgent.exe"


def say(text):
    print(text, flush=True)


def winpath(path):
    return "Z:" + os.path.abspath(path).replace("/", "\\")


def build(*args):
    result = subprocess.run([BUILDER, *args], capture_output=True, text=True)
    if result.returncode != 0:
        sys.exit("builder failed: " + result.stderr)


def wine(*args, timeout=180, env=None):
    return subprocess.run([RUN, *args], capture_output=True, text=True, timeout=timeout, env=env)


def start_agent(*args, env=None):
    """Runs the plain agent to its end; its transient copy lives on, so no pipe is shared with it."""
    return subprocess.run([RUN, AGENT_EXE, *args], stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                          stderr=subprocess.DEVNULL, timeout=180, env=env).returncode


def sample_setup(out, version_text, number, update_url):
    """The sample product's setup: its files, its program, the demo engine and the agent."""
    folder = os.path.join(OUT, "v%d" % number)
    os.makedirs(folder, exist_ok=True)
    build("--stub", STUB, "--out", out, *sample_product(folder, version_text, number),
          *agent_options(update_url), "--download-url", update_url, "--download-token", TOKEN)


def agent_options(update_url):
    """What the installed agent needs to know: where to look, its name, the token, its log."""
    return ["--update-url", update_url, "--info-file", "SampleProduct.info", "--agent-exe", "SampleAgent.exe",
            "--update-token", TOKEN, "--install-agent", "--agent-log-file"]


class Story:
    def __init__(self, inform):
        self.inform = inform
        self.screenshots = []
        self.log_seen = 0

    def shot(self, name):
        path = os.path.join(OUT, name)
        subprocess.run(["import", "-window", "root", path], capture_output=True, timeout=60)
        self.screenshots.append(path)
        return path

    def agent_log(self):
        path = os.path.join(INSTALLED, "X_SampleAgent.log")
        if not os.path.exists(path):
            return ""
        with open(path, "rb") as f:
            return f.read().decode("latin-1")

    def follow_log(self):
        """Prints the agent log lines that tell the story, as they arrive."""
        text = self.agent_log()
        for line in text[self.log_seen:].splitlines():
            if re.search(r"Download (START|END)|GetOkToPerformAU|PerformAuto|Shut Down|ReStartAutoUpdateExe\(\) - "
                         r"Start|ERROR|ATTENTION", line):
                say("   agent: " + line.split("   ", 1)[-1].strip())
        self.log_seen = len(text)

    def box(self, cls="UMsgBox", timeout=1000):
        result = wine(os.path.join(TOOLS, "ulvboxdrive.exe"), "info", str(timeout),
                      env=dict(os.environ, ULV_BOX_CLASS=cls))
        if result.returncode != 0:
            return None
        fields = {}
        for line in result.stdout.splitlines():
            key, _, value = line.partition(" ")
            fields.setdefault(key, value)
        return fields

    def answer_boxes_until(self, done, limit=300):
        """Answers every box with its first button (Yes / OK) until `done()`; prints each one."""
        deadline = time.monotonic() + limit
        count = 0
        while not done():
            if time.monotonic() > deadline:
                sys.exit("the agent did not finish in %d s" % limit)
            self.follow_log()
            fields = self.box()
            if fields:
                count += 1
                text = re.sub(r"(\\[rnt])+", " ", fields.get("plain", "")).strip()
                say("   box %s: %s" % (fields.get("caption", ""), text))
                say("   screenshot: " + self.shot("box%d.png" % count))
                wine(os.path.join(TOOLS, "ulvboxdrive.exe"), "click", "0")
                wine(os.path.join(TOOLS, "ulvboxdrive.exe"), "gone", "3000")
        self.follow_log()

    def run(self):
        shutil.rmtree(OUT, ignore_errors=True)
        os.makedirs(OUT)
        shutil.rmtree(INSTALLED, ignore_errors=True)

        say("== 1. A local nginx serves the update folder")
        nginx = Nginx(os.path.join(OUT, "nginx"), authority=CertificateAuthority(os.path.join(OUT, "ca"))).start()
        try:
            url = nginx.http_url + "updates/"
            www = os.path.join(nginx.root, "updates")
            os.makedirs(www)
            say("   " + url)
            return self.story(url, www)
        finally:
            wine(os.path.join(TOOLS, "ulvwinmsg.exe"), "post", ".AutoUpdate.X_SampleAgent", "1123", "0", "0")
            wine(os.path.join(TOOLS, "ulvwinmsg.exe"), "post", "UlvHelperWindow", "16", "0", "0")
            nginx.stop()

    def story(self, url, www):
        say("== 2. Version 1 is installed through a web installer")
        setup1 = os.path.join(www, "SampleSetup.exe")
        sample_setup(setup1, "1.0", 100, url)
        web = os.path.join(OUT, "SampleWebSetup.exe")
        # The web installer leaves the agent (its own program, cut to its settings) for the engine
        # to install beside the product.
        build("--stub", STUB, "--out", web, "--internet-setup", "--download-url", url, "--download-setup", setup1,
              *agent_options(url))
        run = subprocess.Popen([RUN, web], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        self.answer_boxes_until(lambda: run.poll() is not None, limit=240)
        say("   web installer exit code %d" % run.returncode)
        original = os.path.join(INSTALLED, "SampleProduct.original")
        if not os.path.exists(original):
            sys.exit("version 1 was not installed")
        say("   installed: " + ", ".join(sorted(os.listdir(INSTALLED))))
        self.set_original(original, ProbeSecondsInterval=-1)  # checks only when asked, for the story

        say("== 3. The product and its agent start, as a login would start them")
        product_log = os.path.join(OUT, "product.txt")
        env = dict(os.environ, ULV_HELPER_ARGS="--log=%s vt" % winpath(product_log))
        # Started by their Windows paths, as the system's start-up would: the update finds the
        # running product by the path its INFO file names.
        subprocess.Popen([RUN, PRODUCT_EXE], env=env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        start_agent(env=env)
        if wine(os.path.join(TOOLS, "ulvwinmsg.exe"), "find", ".AutoUpdate.X_SampleAgent", "30000").returncode:
            sys.exit("the agent's transient copy did not start")
        say("   SampleProduct.exe runs; the agent's transient copy X_SampleAgent.exe runs")

        if self.inform:
            say("== 4. The publisher builds an information page and its INFO file, and uploads both")
            body = os.path.join(OUT, "news.txt")
            with open(body, "w", encoding="utf-8") as f:
                f.write("Sample Product 2.0 is on its way.\r\nRead all about it on our web site.\r\n")
            page = os.path.join(www, "News.htm")
            build("--inform-page", page, "--update-token", TOKEN, "--body", body)
            build("--write-info", os.path.join(www, "SampleProduct.info"), "--publish", page, "--inform",
                  "--version-new", "200", "--update-url", url, "--inform-width", "480", "--inform-height", "320")
        else:
            say("== 4. The publisher builds version 2 and its INFO file, and uploads both")
            setup2 = os.path.join(www, "SampleSetup2.exe")
            sample_setup(setup2, "2.0", 200, url)
            build("--write-info", os.path.join(www, "SampleProduct.info"), "--publish", setup2, "--version-new", "200",
                  "--program-name", "Sample Product 2.0", "--running-process", "<InstallDir>\\SampleProduct.exe",
                  "--shut-down", "close", "--restart", "--confirm-download", "--confirm-install", "--inform-finish")
        say("   " + ", ".join(sorted(os.listdir(www))))

        say("== 5. The agent checks")
        self.log_seen = len(self.agent_log())
        start_agent("/TEST=1", env=env)
        if self.inform:
            while "PerformAutoInform() - END" not in self.agent_log():
                self.follow_log()
                fields = self.box("URichEditBox")
                if fields:
                    text = re.sub(r"(\\[rnt])+", " ", fields.get("plain", "")).strip()
                    say("   page %s: %s" % (fields.get("caption", ""), text))
                    say("   screenshot: " + self.shot("inform.png"))
                    page = dict(os.environ, ULV_BOX_CLASS="URichEditBox")
                    wine(os.path.join(TOOLS, "ulvboxdrive.exe"), "close", env=page)
                    wine(os.path.join(TOOLS, "ulvboxdrive.exe"), "gone", "10000", env=page)
            self.follow_log()
        else:
            self.answer_boxes_until(lambda: "PerformAutoUpdate() - END" in self.agent_log())
            restarted = wait(lambda: open(product_log).read().count("ready") >= 2, 60)
            say("   the product %s" % ("was started again" if restarted else "was not started again"))

        version = self.original_value(os.path.join(INSTALLED, "SampleProduct.original"), "VersionOriginal")
        say("== Installed version: %s" % version)
        say("== Screenshots: " + (" ".join(self.screenshots) or "none"))
        ok = version == "200"
        say("== Exit code: %d" % (0 if ok else 1))
        return 0 if ok else 1

    @staticmethod
    def original_value(path, key):
        with open(path, "rb") as f:
            found = re.search(r"^%s=(.*?)\r?$" % key, f.read().decode("latin-1"), re.M)
        return found.group(1) if found else None

    @staticmethod
    def set_original(path, **values):
        with open(path, "rb") as f:
            text = f.read().decode("latin-1")
        for key, value in values.items():
            text = text.replace("[OriginalSetup]\r\n", "[OriginalSetup]\r\n%s=%s\r\n" % (key, value), 1)
        with open(path, "wb") as f:
            f.write(text.encode("latin-1"))


def wait(predicate, timeout):
    deadline = time.monotonic() + timeout
    while time.monotonic() < deadline:
        try:
            if predicate():
                return True
        except OSError:
            pass
        time.sleep(0.5)
    return False


if __name__ == "__main__":
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--inform", action="store_true", help="publish an information page instead of version 2")
    sys.exit(Story(parser.parse_args().inform).run())
