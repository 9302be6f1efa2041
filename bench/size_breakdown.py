#!/usr/bin/env python3
"""What an executable's bytes are made of, from the GNU ld map of its link:
the input sections that stayed in the image, summed by where they came from.

    bench/size_breakdown.py EXE MAP [EXE MAP]   (a second pair: the floor)

Groups: the program's own libraries, the runtime's decimal-to-double
conversion (mingw-w64's gdtoa strtod), the rest of the C runtime and its
start-up, import tables, resources, relocations; and the PE headers with
the padding of every section to the 512-byte file alignment (the file size
less all of the above).
"""
import re
import struct
import sys

IMAGE_SECTIONS = {".text", ".data", ".rdata", ".eh_frame", ".bss", ".idata", ".CRT", ".tls", ".rsrc",
                  ".reloc", ".pdata", ".xdata"}
GDTOA = re.compile(r"libmingwex\.a\(.*-(strtodg|strtodnrp|gethex|hexnan|smisc|sum|gmisc|misc|hd_init|"
                   r"ulp|gdtoa|strtof|strtold|g__fmt|dmisc)\.o\)")


def group(name, section):
    if section == ".rsrc":
        return "resources (icon, manifest, version)"
    if section == ".reloc":
        return "relocations"
    if section == ".idata":
        return "import tables"
    if "libkestrivo_values" in name:
        return "program: values/"
    if "libkestrivo_sync" in name:
        return "program: sync/"
    if "libkestrivo_win" in name or "main.cpp" in name:
        return "program: app/ and net/"
    if "bare_window" in name:
        return "program: bare window"
    if GDTOA.search(name):
        return "runtime: strtod (gdtoa)"
    if section == ".eh_frame":
        return "runtime: unwind tables"
    return "runtime: start-up, CRT and libgcc"


def sums(map_path):
    totals = {}
    section = None
    pending = None
    for line in open(map_path, encoding="latin-1"):
        if not line.startswith(" "):
            m = re.match(r"^(\.\S+)", line)
            section = m.group(1) if m else None
            pending = None
            continue
        m = re.match(r"^ (\S+)\s*$", line)
        if m:
            pending = m.group(1)
            continue
        m = re.match(r"^ (\S+)?\s+0x([0-9a-f]+)\s+0x([0-9a-f]+)\s+(\S.*)$", line)
        if m and (m.group(1) or pending) and section in IMAGE_SECTIONS and section != ".bss":
            name = m.group(4).strip().split("/")[-1]
            key = group(name, section)
            totals[key] = totals.get(key, 0) + int(m.group(3), 16)
        pending = None
    return totals


def icon_bytes(exe):
    """Bytes of the RT_ICON and RT_GROUP_ICON data in the resource section."""
    data = open(exe, "rb").read()
    pe = struct.unpack_from("<I", data, 0x3C)[0]
    nsec = struct.unpack_from("<H", data, pe + 6)[0]
    opt_size = struct.unpack_from("<H", data, pe + 20)[0]
    magic = struct.unpack_from("<H", data, pe + 24)[0]
    dd = pe + 24 + (96 if magic == 0x10B else 112)
    rsrc_rva = struct.unpack_from("<I", data, dd + 2 * 8)[0]
    if rsrc_rva == 0:
        return 0
    sec = pe + 24 + opt_size
    for i in range(nsec):
        vsize, vaddr, rawsize, rawptr = struct.unpack_from("<IIII", data, sec + 40 * i + 8)
        if vaddr <= rsrc_rva < vaddr + vsize:
            base = rawptr + rsrc_rva - vaddr
            break
    else:
        return 0

    def walk(off, depth, kind):
        total = 0
        named, ids = struct.unpack_from("<HH", data, base + off + 12)
        for e in range(named + ids):
            ident, target = struct.unpack_from("<II", data, base + off + 16 + 8 * e)
            k = ident if depth == 0 else kind
            if target & 0x80000000:
                total += walk(target & 0x7FFFFFFF, depth + 1, k)
            elif k in (3, 14):  # RT_ICON, RT_GROUP_ICON
                total += struct.unpack_from("<I", data, base + target + 4)[0]
        return total

    return walk(0, 0, None)


def main(args):
    pairs = [(args[i], args[i + 1]) for i in range(0, len(args), 2)]
    rows = []
    for exe, map_path in pairs:
        t = sums(map_path)
        size = len(open(exe, "rb").read())
        t["PE headers and section padding"] = size - sum(t.values())
        rows.append((exe, size, t, icon_bytes(exe)))
    keys = sorted({k for _, _, t, _ in rows for k in t}, key=lambda k: -rows[0][2].get(k, 0))
    head = f"{'':40}" + "".join(f"{exe.split('/')[-1]:>16}" for exe, _, _, _ in rows)
    if len(rows) == 2:
        head += f"{'difference':>12}"
    print(head)
    for k in keys:
        vals = [t.get(k, 0) for _, _, t, _ in rows]
        line = f"{k:40}" + "".join(f"{v:16d}" for v in vals)
        if len(rows) == 2:
            line += f"{vals[0] - vals[1]:12d}"
        print(line)
    print(f"{'file size':40}" + "".join(f"{s:16d}" for _, s, _, _ in rows) +
          (f"{rows[0][1] - rows[1][1]:12d}" if len(rows) == 2 else ""))
    print(f"{'  of the resources: icon data':40}" + "".join(f"{i:16d}" for _, _, _, i in rows))


if __name__ == "__main__":
    main(sys.argv[1:])
