#!/usr/bin/env python3
"""Writes the benchmark payload: realistic mixed data of about 3:1 under zlib (text-like runs
with some incompressible stretches, as program files and media mix in a real setup).
Usage: make_payload.py FOLDER SIZE_MB [LARGE_MB ...]   (files of LARGE_MB each, the rest in 1 MB files)"""
import os
import random
import sys

rnd = random.Random(2026)
syllables = ["ka", "lo", "mi", "ne", "tu", "ra", "so", "vi", "de", "pa", "ri", "go", "ul", "an", "es", "th"]
words = ["".join(rnd.choice(syllables) for _ in range(rnd.randint(1, 4))) for _ in range(3000)]
pool = " ".join(rnd.choice(words) for _ in range(600000)).encode()


def chunk(n):
    """n bytes: text slices from the pool, with one incompressible stretch in every 64 KB."""
    out = bytearray()
    while len(out) < n:
        start = rnd.randrange(0, len(pool) - 65536)
        out += pool[start:start + 64136]
        out += os.urandom(1400)
    return bytes(out[:n])


def write(path, size):
    with open(path, "wb") as f:
        left = size
        while left > 0:
            piece = min(left, 4 << 20)
            f.write(chunk(piece))
            left -= piece


def main():
    folder, total = sys.argv[1], int(sys.argv[2]) << 20
    large = [int(x) << 20 for x in sys.argv[3:]]
    os.makedirs(folder, exist_ok=True)
    for i, size in enumerate(large):
        write(os.path.join(folder, "large%d.bin" % i), size)
    rest = total - sum(large)
    for i in range(max(0, rest) >> 20):
        write(os.path.join(folder, "part%03d.dat" % i), 1 << 20)


if __name__ == "__main__":
    main()
