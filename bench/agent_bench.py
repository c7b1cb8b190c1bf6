#!/usr/bin/env python3
"""Agent benchmark: what the transient agent copy costs while it waits, and whether anything
leaks per tick or per check.
  - idle: an agent whose checks are off ("ProbeSecondsInterval" -1) runs for IDLE_SECONDS
    (default 600); its CPU time, private memory and handle, GDI and USER object counts are read at
    the start and at the end (tools/wintest/ulvprocstat);
  - checks: an agent in test mode (registry of the prefix, a local folder) is asked for CHECKS
    (default 100) checks, one per tick (agent command 31), and measured the same way.
Targets: idle CPU under 0.1% of one core; private memory under 8 MB; every count flat.
Usage: [IDLE_SECONDS=n] [CHECKS=n] bench/agent_bench.py   (after scripts/build.sh)"""
import datetime
import os
import re
import shutil
import subprocess
import sys
import functools
import time

print = functools.partial(print, flush=True)  # noqa: A001  (progress shows while it runs)

ROOT = os.path.abspath(os.path.join(os.path.dirname(__file__), ".."))
# A prefix and display of its own: the bench writes the test-mode registry values, which would
# steer any other agent of a shared prefix.
os.environ.setdefault("ULV_WINEPREFIX", os.path.join(ROOT, "build", "bench-agent-prefix"))
os.environ.pop("DISPLAY", None)
sys.path.insert(0, os.path.join(ROOT, "tests", "e2e"))
from ulvtest import BUILDER, STUB, WIN64, WINE_RUN, windows_path  # noqa: E402

TOOLS = os.path.join(WIN64, "tools", "wintest")
WORK = os.path.join(ROOT, "build", "bench-agent")
KEY = r"HKCU\Software\Dravocel\Ulvane\AutoUpdate"
CLASS = ".AutoUpdate.X_Agent"


def wine(*args, check=True):
    return subprocess.run([WINE_RUN, *args], capture_output=True, text=True, check=check).stdout


def stat(copy):
    out = wine(os.path.join(TOOLS, "ulvprocstat.exe"), windows_path(copy), check=False)
    return {k: int(v) for k, v in re.findall(r"(\w+)=(\d+)", out)}


def make_agent(folder, original):
    os.makedirs(folder, exist_ok=True)
    agent = os.path.join(folder, "Agent.exe")
    subprocess.run([BUILDER, "--stub", STUB, "--out", agent, "--agent", "--update-url", "http://127.0.0.1:1",
                    "--info-file", "Prog.info", "--agent-exe", "Agent.exe", "--update-token", "TOK", "--agent-log-file"],
                   check=True, capture_output=True)
    with open(os.path.join(folder, "Prog.original"), "w") as f:
        f.write(original)
    return agent


def start(agent):
    # Not through a pipe: the copy inherits the plain agent's output handles, and a pipe would
    # stay open for as long as the copy runs.
    subprocess.run([WINE_RUN, agent, "/DELAY=0"], stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                   stderr=subprocess.DEVNULL, check=True)
    for _ in range(100):
        if subprocess.run([WINE_RUN, os.path.join(TOOLS, "ulvwinmsg.exe"), "find", CLASS, "0"],
                          capture_output=True).returncode == 0:
            return os.path.join(os.path.dirname(agent), "X_Agent.exe")
        time.sleep(0.2)
    raise RuntimeError("the agent's copy did not come up")


def stop():
    wine(os.path.join(TOOLS, "ulvwinmsg.exe"), "post", CLASS, "1123", "0", "0", check=False)
    wine(os.path.join(TOOLS, "ulvwinmsg.exe"), "gone", CLASS, "30000", check=False)


def report(name, first, last, seconds):
    cpu = last["cpu_ms"] - first["cpu_ms"]
    print("%s: %.0f s, CPU %d ms = %.3f%% of one core (target < 0.1%%)" % (name, seconds, cpu, 100.0 * cpu / 1000 / seconds))
    print("  private memory %.1f MB at the end, peak %.1f MB (target < 8 MB)"
          % (last["private"] / 1048576, last["peak_private"] / 1048576))
    for key in ("handles", "gdi", "user"):
        print("  %-7s start %d, end %d%s" % (key, first[key], last[key], "" if first[key] == last[key] else "  (changed)"))


def main():
    idle_seconds = int(os.environ.get("IDLE_SECONDS", "600"))
    checks = int(os.environ.get("CHECKS", "100"))
    shutil.rmtree(WORK, ignore_errors=True)
    subprocess.run([WINE_RUN, "--prepare"], check=True)

    # Idle: checks off, the timer ticking once a second.
    agent = make_agent(os.path.join(WORK, "idle"), "[OriginalSetup]\nVersionOriginal=1\nProbeSecondsInterval=-1\n")
    copy = start(agent)
    time.sleep(10)  # past the start-up ticks
    first, t0 = stat(copy), time.monotonic()
    time.sleep(idle_seconds)
    last, t1 = stat(copy), time.monotonic()
    stop()
    report("idle copy", first, last, t1 - t0)

    # Checks in test mode, against a folder that publishes nothing new.
    folder = os.path.join(WORK, "published")
    os.makedirs(folder)
    with open(os.path.join(folder, "Prog.info"), "w") as f:
        f.write("[NewSetup]\nVersionNew=1\nStamp=1\n")
    today = datetime.date.today().strftime("%d-%b-%Y").upper()
    for name, value in (("TestMode", "1"), ("TestModeDate", today), ("TestModeURL", windows_path(folder))):
        wine("reg", "add", KEY, "/v", name, "/t", "REG_SZ", "/d", value, "/f")
    try:
        agent = make_agent(os.path.join(WORK, "checks"), "[OriginalSetup]\nVersionOriginal=1\nProbeSecondsInterval=-1\n")
        copy = start(agent)
        time.sleep(10)
        wine(os.path.join(TOOLS, "ulvwinmsg.exe"), "post", CLASS, "1125", "31", "1")  # one check to warm up
        time.sleep(3)
        first, t0 = stat(copy), time.monotonic()
        for _ in range(checks):
            wine(os.path.join(TOOLS, "ulvwinmsg.exe"), "post", CLASS, "1125", "31", "1")
            time.sleep(1.1)
        time.sleep(3)
        last, t1 = stat(copy), time.monotonic()
        stop()
        with open(os.path.join(WORK, "checks", "X_Agent.log"), encoding="latin-1") as f:
            done = f.read().count("GetOkToPerformAU = ")
        report("%d checks in test mode (%d ran, warm-up included)" % (checks, done), first, last, t1 - t0)
    finally:
        wine("reg", "delete", KEY, "/f", check=False)


if __name__ == "__main__":
    main()
