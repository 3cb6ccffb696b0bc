#!/usr/bin/env python3
"""Checks the shipped launcher file: a 32-bit GUI program that needs no MinGW DLL and carries
icon groups 107 and 108, bitmap 129 (530 x 225, 24 bits) and the application manifest."""
import re
import struct
import sys

RT_BITMAP, RT_GROUP_ICON, RT_MANIFEST = 2, 14, 24
MINGW_DLLS = ("libgcc", "libstdc++", "libwinpthread")
SUPPORTED_OS = [
    "{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}",
    "{1f676c76-80e1-4239-95bb-83d0f6d0da78}",
    "{4a2f28e3-53b9-4441-ba9c-d69d4a4a6e38}",
    "{35138b9a-5d96-4fbd-8e2d-a2440225f93a}",
    "{e2011457-1546-43c5-a5fe-008deee3d3f0}",
]


class Pe:
    def __init__(self, data):
        self.data = data
        pe = struct.unpack_from("<I", data, 0x3C)[0]
        assert data[pe:pe + 4] == b"PE\0\0", "not a PE file"
        self.machine, sections, _, _, _, optional_size, _ = struct.unpack_from("<HHIIIHH", data, pe + 4)
        optional = pe + 24
        self.magic = struct.unpack_from("<H", data, optional)[0]
        self.subsystem = struct.unpack_from("<H", data, optional + 68)[0]
        directories = optional + (96 if self.magic == 0x10B else 112)
        self.directories = [struct.unpack_from("<II", data, directories + 8 * i) for i in range(16)]
        table = optional + optional_size
        self.sections = []
        for i in range(sections):
            name, vsize, vaddr, rawsize, rawptr = struct.unpack_from("<8sIIII", data, table + 40 * i)
            self.sections.append((vaddr, max(vsize, rawsize), rawptr))

    def offset(self, rva):
        for vaddr, size, rawptr in self.sections:
            if vaddr <= rva < vaddr + size:
                return rva - vaddr + rawptr
        raise ValueError("rva %x outside every section" % rva)

    def cstring(self, rva):
        start = self.offset(rva)
        return self.data[start:self.data.index(b"\0", start)].decode("ascii")

    def imported_dlls(self):
        rva, _ = self.directories[1]
        names, at = [], self.offset(rva)
        while True:
            entry = struct.unpack_from("<IIIII", self.data, at)
            if not any(entry):
                return names
            names.append(self.cstring(entry[3]).lower())
            at += 20

    def resources(self):
        """Yields (type, name, data) for every resource with an integer type and name."""
        base_rva, _ = self.directories[2]
        base = self.offset(base_rva)

        def entries(at):
            named, ids = struct.unpack_from("<HH", self.data, at + 12)
            for i in range(named + ids):
                ident, target = struct.unpack_from("<II", self.data, at + 16 + 8 * i)
                yield ident, target

        for rtype, t in entries(base):
            for name, n in entries(base + (t & 0x7FFFFFFF)):
                for _, leaf in entries(base + (n & 0x7FFFFFFF)):
                    rva, size = struct.unpack_from("<II", self.data, base + leaf)[:2]
                    at = self.offset(rva)
                    yield rtype, name, self.data[at:at + size]


def main(path):
    pe = Pe(open(path, "rb").read())
    problems = []
    if pe.machine != 0x14C or pe.magic != 0x10B:
        problems.append("not a 32-bit x86 program (machine %#x, magic %#x)" % (pe.machine, pe.magic))
    if pe.subsystem != 2:
        problems.append("subsystem %d, not the Windows GUI subsystem" % pe.subsystem)
    dlls = pe.imported_dlls()
    problems += ["needs %s beside it" % d for d in dlls if d.startswith(MINGW_DLLS)]
    # Every transfer goes through WinINet; the URL download service's cache files cost too much under Wine.
    problems += ["imports %s" % d for d in dlls if d.lower() == "urlmon.dll"]
    found = {(t, n): d for t, n, d in pe.resources()}
    for key, what in (((RT_GROUP_ICON, 107), "icon group 107"), ((RT_GROUP_ICON, 108), "icon group 108"),
                      ((RT_BITMAP, 129), "bitmap 129"), ((RT_MANIFEST, 1), "application manifest")):
        if key not in found:
            problems.append("no " + what)
    for group in (107, 108):
        data = found.get((RT_GROUP_ICON, group))
        if data:
            count = struct.unpack_from("<H", data, 4)[0]
            images = sorted((data[6 + 14 * i], struct.unpack_from("<H", data, 6 + 14 * i + 6)[0]) for i in range(count))
            if images != [(32, 8), (32, 32)]:
                problems.append("icon group %d holds %s, not 32 x 32 at 8 and 32 bits" % (group, images))
    bitmap = found.get((RT_BITMAP, 129))
    if bitmap:
        _, width, height, _, bits = struct.unpack_from("<IiiHH", bitmap, 0)
        if (width, abs(height), bits) != (530, 225, 24):
            problems.append("bitmap 129 is %d x %d at %d bits" % (width, abs(height), bits))
    manifest = found.get((RT_MANIFEST, 1), b"").decode("utf-8", "replace")
    if manifest:
        ids = re.findall(r'supportedOS\s+Id="([^"]+)"', manifest)
        if ids != SUPPORTED_OS:
            problems.append("supportedOS ids %s" % ids)
        if not re.search(r'name="Microsoft\.Windows\.Common-Controls"\s+version="6\.0\.0\.0"', manifest):
            problems.append("no dependency on common controls 6.0.0.0")
    print("%s: machine %#x, subsystem %d, imports %s" % (path, pe.machine, pe.subsystem, ", ".join(dlls)))
    for problem in problems:
        print("FAIL: " + problem)
    print("%d passed, %d failed" % (1 if not problems else 0, 1 if problems else 0))
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1]))
