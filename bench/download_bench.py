#!/usr/bin/env python3
"""Download benchmark: a 256 MB file of random data from a local nginx (tests/e2e/httpserve.py),
fetched in ROUNDS interleaved rounds (default 5) by
  - the stub's download routine under Wine (tools/wintest/ulvhttp get URL TARGET --latency),
  - a plain 8 KiB InternetReadFile loop of the same toolchain under the same Wine (ulvhttp plain),
  - native curl,
then the median (min-max) MB/s of each, the ratio stub / plain loop, the stub's worst gap
between progress reports, and the peak memory of both ulvhttp clients, with one more stub
download of a 32 MB file to show that memory does not grow with the file.
ulvhttp's figures come from inside the process (elapsed_ms covers the transfer only); curl's
are wall time, its start-up included.
Usage: [ROUNDS=n] bench/download_bench.py [--https] [--clients stub,plain,curl]"""
import argparse
import filecmp
import os
import shutil
import statistics
import subprocess
import sys
import time

ROOT = os.path.abspath(os.path.join(os.path.dirname(__file__), ".."))
sys.path.insert(0, os.path.join(ROOT, "tests", "e2e"))
from httpserve import CertificateAuthority, Nginx, TrustedAuthority  # noqa: E402
from ulvtest import WIN64, WINE_RUN, windows_path  # noqa: E402

ULVHTTP = os.path.join(WIN64, "tools", "wintest", "ulvhttp.exe")
WORK = os.path.join(ROOT, "build", "bench-download")
MB = 1048576


def make_file(path, size):
    with open(path, "wb") as f:
        for _ in range(size // MB):
            f.write(os.urandom(MB))
        f.write(os.urandom(size % MB))


def report(text):
    """key=value lines of ulvhttp (Windows line ends allowed)."""
    values = {}
    for line in text.replace("\r", "").split("\n"):
        if "=" in line:
            key, value = line.split("=", 1)
            values[key.strip()] = value.strip()
    return values


def ulvhttp(mode, url, target, *extra):
    result = subprocess.run([WINE_RUN, ULVHTTP, mode, url, windows_path(target), *extra], capture_output=True,
                            timeout=1800)
    text = result.stdout.decode("latin-1")
    values = report(text)
    if values.get("error", None) != "" or "elapsed_ms" not in values:
        raise RuntimeError("ulvhttp %s failed (exit %d):\n%s%s" % (mode, result.returncode, text,
                                                                 result.stderr.decode("latin-1")[-2000:]))
    return values


def check_copy(source, target, full):
    """Same size always; the same bytes when `full` (once per client: comparing 256 MB takes time)."""
    size, got = os.path.getsize(source), os.path.getsize(target) if os.path.exists(target) else -1
    if got != size:
        raise RuntimeError("%s: %d bytes, the source has %d" % (target, got, size))
    if full and not filecmp.cmp(source, target, shallow=False):
        raise RuntimeError("%s differs from the source" % target)


def spread(values, fmt="%.1f"):
    return (fmt + " (" + fmt + "-" + fmt + ")") % (statistics.median(values), min(values), max(values))


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--https", action="store_true",
                        help="download over HTTPS (installs a test authority in the machine's store)")
    parser.add_argument("--clients", default="stub,plain,curl", help="comma-separated subset of stub,plain,curl")
    parser.add_argument("--size-mb", type=int, default=256)
    parser.add_argument("--small-mb", type=int, default=32, help="file size of the extra memory run of the stub")
    args = parser.parse_args()
    clients = [c for c in args.clients.split(",") if c]
    unknown = set(clients) - {"stub", "plain", "curl"}
    if unknown:
        parser.error("unknown clients: " + ", ".join(sorted(unknown)))
    rounds = int(os.environ.get("ROUNDS", "5"))
    if rounds < 1:
        parser.error("ROUNDS must be at least 1")
    if {"stub", "plain"} & set(clients) and not os.path.isfile(ULVHTTP):
        sys.exit("download_bench: %s is not built (scripts/build.sh)" % ULVHTTP)
    if "curl" in clients and not shutil.which("curl"):
        sys.exit("download_bench: curl is missing (scripts/install-deps.sh)")

    shutil.rmtree(WORK, ignore_errors=True)
    os.makedirs(WORK)
    size = args.size_mb * MB
    authority = None
    try:
        if args.https:
            authority = TrustedAuthority(os.path.join(WORK, "ca")).install()
        else:
            # Only the plain HTTP port is used: the HTTPS ones need not be trusted.
            authority = CertificateAuthority(os.path.join(WORK, "ca"))
        with Nginx(os.path.join(WORK, "nginx"), authority=authority) as web:
            source = os.path.join(web.root, "big.bin")
            small = os.path.join(web.root, "small.bin")
            make_file(source, size)
            base = web.https_url if args.https else web.http_url
            url = base + "big.bin"
            print("== source: %d bytes, %s; %d rounds" % (size, url, rounds), flush=True)
            if {"stub", "plain"} & set(clients):
                subprocess.run([WINE_RUN, "--prepare"], check=True)

            speed = {c: [] for c in clients}
            latency_max, latency_median, samples = [], [], []
            block_gap = {"stub": [], "plain": []}  # the longest wait for one block, per round
            memory = {}  # client -> [peak private, peak working set], highest over the rounds
            target = os.path.join(WORK, "download.bin")
            # The clients take turns in every round, so that a slow spell of the machine falls on
            # all of them alike.
            for round_no in range(1, rounds + 1):
                line = []
                for client in clients:
                    if os.path.exists(target):
                        os.remove(target)
                    if client == "curl":
                        start = time.monotonic()
                        subprocess.run(["curl", "-sSf", "-o", target, url], check=True)
                        ms = (time.monotonic() - start) * 1000
                        extra = ""
                    else:
                        values = ulvhttp("get" if client == "stub" else "plain", url, target,
                                         *(["--latency"] if client == "stub" else []))
                        if int(values["bytes"]) != size:
                            raise RuntimeError("%s reported %s bytes of %d" % (client, values["bytes"], size))
                        ms = max(1.0, float(values["elapsed_ms"]))
                        peaks = memory.setdefault(client, [0, 0])
                        peaks[0] = max(peaks[0], int(values["peak_private_bytes"]))
                        peaks[1] = max(peaks[1], int(values["peak_working_set"]))
                        block_gap[client].append(float(values["block_gap_max_ms"]))
                        extra = ", longest block %.0f ms" % block_gap[client][-1]
                        if client == "stub":
                            latency_max.append(float(values["latency_max_ms"]))
                            latency_median.append(float(values["latency_median_ms"]))
                            samples.append(int(values["latency_samples"]))
                            extra += ", latency max %.1f ms" % latency_max[-1]
                    check_copy(source, target, full=round_no == 1)
                    speed[client].append(size / MB / (ms / 1000))
                    line.append("%s %.1f MB/s (%d ms%s)" % (client, speed[client][-1], ms, extra))
                print("round %d: %s" % (round_no, ", ".join(line)), flush=True)
            if os.path.exists(target):
                os.remove(target)

            small_peaks = None
            if "stub" in clients:
                make_file(small, args.small_mb * MB)
                values = ulvhttp("get", base + "small.bin", target, "--latency")
                check_copy(small, target, full=True)
                small_peaks = (int(values["peak_private_bytes"]), int(values["peak_working_set"]))
                os.remove(target)

        print()
        print("MB/s, median (min-max) over %d rounds:" % rounds)
        for client in clients:
            print("  %-5s %s" % (client, spread(speed[client])))
        if "stub" in clients and "plain" in clients:
            ratio = statistics.median(speed["stub"]) / statistics.median(speed["plain"])
            print("ratio stub / plain loop (medians): %.2f  (target >= 0.9)" % ratio)
        if latency_max:
            print("stub window's answer to a sent message: max %.1f ms over all rounds (target <= 50 ms); "
                  "per round max %s ms, median %s ms, samples %s"
                  % (max(latency_max), spread(latency_max), spread(latency_median, "%.2f"), spread(samples, "%d")))
        for client in ("stub", "plain"):
            if block_gap.get(client):
                print("%-5s longest wait for one block: per round %s ms (the window cannot answer while a read "
                      "waits)" % (client, spread(block_gap[client], "%.0f")))
        for client in ("stub", "plain"):
            if client in memory:
                private, working = memory[client]
                print("%-5s peak private memory %.1f MB, peak working set %.1f MB (%d MB file, highest of the rounds)"
                      % (client, private / MB, working / MB, args.size_mb))
        if small_peaks:
            print("stub  peak private memory %.1f MB, peak working set %.1f MB (%d MB file)  (target: flat, a few MB)"
                  % (small_peaks[0] / MB, small_peaks[1] / MB, args.small_mb))
    finally:
        if isinstance(authority, TrustedAuthority):
            authority.remove()
        shutil.rmtree(WORK, ignore_errors=True)


if __name__ == "__main__":
    main()
