#!/usr/bin/env python3
"""Moves the NT headers of a linked PE executable to file offset 256.

The stub recognises its own executables by "PE" at offset 256, and keeps the container's
EndOfData field at offsets 248..255 of the DOS stub area. MinGW's linker places the NT headers
at offset 128; the headers area (up to SizeOfHeaders) has room for them further on, so they are
moved there, the old place is cleared and e_lfanew is updated. Running it again is harmless.
"""
import struct
import sys

TARGET = 256


def fail(message):
    sys.stderr.write("pe_move_headers: %s\n" % message)
    sys.exit(1)


def main():
    if len(sys.argv) != 2:
        fail("usage: pe_move_headers.py FILE.exe")
    path = sys.argv[1]
    data = bytearray(open(path, "rb").read())
    if len(data) < 0x40 or data[0:2] != b"MZ":
        fail("%s is not an MZ executable" % path)
    old = struct.unpack_from("<I", data, 0x3C)[0]
    if data[old:old + 4] != b"PE\0\0":
        fail("%s has no PE signature at e_lfanew %d" % (path, old))
    if old == TARGET:
        return
    if old > TARGET:
        fail("NT headers at %d already lie beyond %d" % (old, TARGET))

    sections = struct.unpack_from("<H", data, old + 6)[0]
    optional_size = struct.unpack_from("<H", data, old + 20)[0]
    optional = old + 24
    size_of_headers = struct.unpack_from("<I", data, optional + 60)[0]
    length = 24 + optional_size + 40 * sections
    first_raw = min((struct.unpack_from("<I", data, optional + optional_size + 40 * i + 20)[0]
                     for i in range(sections)
                     if struct.unpack_from("<I", data, optional + optional_size + 40 * i + 20)[0] > 0),
                    default=size_of_headers)
    limit = min(size_of_headers, first_raw)
    if TARGET + length > limit:
        fail("headers of %d bytes do not fit between %d and %d" % (length, TARGET, limit))
    # Whatever lies after the section table up to the new end must be padding.
    if any(data[old + length:TARGET + length]):
        fail("bytes after the section table are in use; cannot move the headers")

    block = bytes(data[old:old + length])
    data[old:TARGET + length] = bytes(TARGET + length - old)
    data[TARGET:TARGET + length] = block
    struct.pack_into("<I", data, 0x3C, TARGET)
    open(path, "wb").write(data)


if __name__ == "__main__":
    main()
