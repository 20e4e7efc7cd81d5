"""Reads the parts of a PE32+ image that the image checks look at: the
header time stamp, the data directories and the section table."""

import struct

BUDGET = 92160  # bytes: 90 KiB for the release Iovet.efi


class PeImage:
    def __init__(self, data):
        self.data = data
        if data[:2] != b"MZ":
            raise ValueError("no MZ header")
        pe = struct.unpack_from("<I", data, 0x3C)[0]
        if data[pe:pe + 4] != b"PE\0\0":
            raise ValueError("no PE signature")
        self.coff = pe + 4
        count, self.timestamp = struct.unpack_from("<HI", data, self.coff + 2)
        optional_size = struct.unpack_from("<H", data, self.coff + 16)[0]
        self.optional = self.coff + 20
        if struct.unpack_from("<H", data, self.optional)[0] != 0x20B:
            raise ValueError("not a PE32+ image")
        directories = struct.unpack_from("<I", data, self.optional + 108)[0]
        self.directories = [struct.unpack_from("<II", data, self.optional + 112 + 8 * i)
                            for i in range(min(directories, 16))]
        self.sections = []
        table = self.optional + optional_size
        for i in range(count):
            name, vsize, rva, rawsize, rawptr = struct.unpack_from("<8sIIII", data, table + 40 * i)
            flags = struct.unpack_from("<I", data, table + 40 * i + 36)[0]
            self.sections.append({"name": name.rstrip(b"\0").decode("ascii", "replace"), "virtual": vsize,
                                  "rva": rva, "raw": rawsize, "offset": rawptr, "flags": flags})

    def debug_directory(self):
        return self.directories[6] if len(self.directories) > 6 else (0, 0)

    def section_at(self, offset):
        for s in self.sections:
            if s["offset"] <= offset < s["offset"] + s["raw"]:
                return s["name"]
        return "headers"

    def describe(self):
        lines = ["  %-8s %8s %8s" % ("section", "bytes", "in file")]
        for s in self.sections:
            lines.append("  %-8s %8d %8d" % (s["name"], s["virtual"], s["raw"]))
        return "\n".join(lines)
