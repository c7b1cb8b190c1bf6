#!/usr/bin/env python3
"""Checks a built stub executable: machine type, subsystem, header layout and imports.

The stub must run on a bare Windows installation: it may import only DLLs that every Windows
system carries. It must also keep the layout the container relies on: "MZ" at 0, "PE" at 256,
and the EndOfData field (offsets 248..255) free, that is zero, in a freshly linked file.
"""
import argparse
import struct
import sys

MACHINES = {"i686": (0x14C, 0x10B), "x86_64": (0x8664, 0x20B)}
SYSTEM_DLLS = {
    "advapi32.dll", "comctl32.dll", "comdlg32.dll", "gdi32.dll", "kernel32.dll", "msvcrt.dll",
    "ole32.dll", "oleaut32.dll", "shell32.dll", "shlwapi.dll", "user32.dll", "version.dll",
    "wininet.dll", "psapi.dll", "shfolder.dll", "usp10.dll", "riched32.dll", "riched20.dll",
    "ntdll.dll", "ws2_32.dll", "uxtheme.dll", "winmm.dll",
}


def rva_to_offset(sections, rva):
    for virtual_address, virtual_size, raw_pointer, raw_size in sections:
        if virtual_address <= rva < virtual_address + max(virtual_size, raw_size):
            return rva - virtual_address + raw_pointer
    raise ValueError("RVA 0x%x lies in no section" % rva)


def c_string(data, offset):
    end = data.index(b"\0", offset)
    return data[offset:end].decode("ascii")


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--machine", required=True, choices=MACHINES)
    parser.add_argument("--max-bytes", type=int, default=0,
                        help="size budget: a larger file is a problem (0: no budget)")
    parser.add_argument("exe")
    args = parser.parse_args()
    data = open(args.exe, "rb").read()
    problems = []

    if data[0:2] != b"MZ":
        problems.append("no MZ at offset 0")
    if data[256:260] != b"PE\0\0":
        problems.append("no PE signature at offset 256")
    if struct.unpack_from("<I", data, 0x3C)[0] != 256:
        problems.append("e_lfanew is not 256")
    if any(data[248:256]):
        problems.append("EndOfData field (248..255) is not zero")

    machine, magic_expected = MACHINES[args.machine]
    pe = 256
    if struct.unpack_from("<H", data, pe + 4)[0] != machine:
        problems.append("machine is 0x%x, expected 0x%x" % (struct.unpack_from("<H", data, pe + 4)[0], machine))
    sections_count = struct.unpack_from("<H", data, pe + 6)[0]
    optional_size = struct.unpack_from("<H", data, pe + 20)[0]
    optional = pe + 24
    magic = struct.unpack_from("<H", data, optional)[0]
    if magic != magic_expected:
        problems.append("optional header magic 0x%x, expected 0x%x" % (magic, magic_expected))
    subsystem = struct.unpack_from("<H", data, optional + 68)[0]
    if subsystem != 2:
        problems.append("subsystem %d is not the Windows GUI (2)" % subsystem)

    directories = optional + (96 if magic == 0x10B else 112)
    import_rva = struct.unpack_from("<I", data, directories + 8)[0]
    sections = []
    section_sizes = []
    for i in range(sections_count):
        s = optional + optional_size + 40 * i
        virtual_size, virtual_address, raw_size, raw_pointer = struct.unpack_from("<IIII", data, s + 8)
        sections.append((virtual_address, virtual_size, raw_pointer, raw_size))
        name = data[s:s + 8].rstrip(b"\0").decode("ascii", "replace")
        section_sizes.append("%s=%d" % (name, raw_size))

    imports = []
    offset = rva_to_offset(sections, import_rva)
    while True:
        name_rva = struct.unpack_from("<I", data, offset + 12)[0]
        if name_rva == 0:
            break
        imports.append(c_string(data, rva_to_offset(sections, name_rva)).lower())
        offset += 20
    foreign = sorted(set(imports) - SYSTEM_DLLS)
    if foreign:
        problems.append("imports DLLs that are not system DLLs: %s" % ", ".join(foreign))

    # The stub travels with every setup: its size is printed on every run, so that growth is seen.
    if args.max_bytes and len(data) > args.max_bytes:
        problems.append("%d bytes, over the budget of %d" % (len(data), args.max_bytes))

    print("%s: machine=%s subsystem=%d size=%d bytes imports=%s"
          % (args.exe, args.machine, subsystem, len(data), ", ".join(imports)))
    print("sections (bytes in the file): " + " ".join(section_sizes))
    for p in problems:
        print("PROBLEM: " + p)
    sys.exit(1 if problems else 0)


if __name__ == "__main__":
    main()
