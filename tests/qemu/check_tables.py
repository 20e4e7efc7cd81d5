"""ACPI tables and SMBIOS structures that the QEMU checks inject."""
import struct


def acpi_checksum(table):
    table = bytearray(table)
    table[9] = (-sum(table)) & 0xFF
    return bytes(table)


def acpi_header(signature, length, revision=1):
    return (signature + struct.pack("<IBB", length, revision, 0) + b"IOVETQ" + b"QEMUTEST" +
            struct.pack("<I", 1) + b"IOVT" + struct.pack("<I", 1))


def dmar_with_long_path():
    """A DMAR of two DRHDs. The first has a Length-10 scope in its last 8-byte
    slot, so the scope's second path entry is the second DRHD's Type (0x0000);
    the second has one device scope with three path entries."""
    short = struct.pack("<BBHBB", 1, 10, 0, 0, 0) + bytes([31, 2])
    first = struct.pack("<HHBBHQ", 0, 16 + len(short), 0, 0, 0, 0xFED91000) + short
    scope = struct.pack("<BBHBB", 1, 12, 0, 0, 0) + bytes([2, 0, 3, 0, 4, 0])
    drhd = struct.pack("<HHBBHQ", 0, 16 + len(scope), 0, 0, 0, 0xFED90000) + scope
    body = struct.pack("<BB", 38, 1) + bytes(10) + first + drhd
    return acpi_checksum(acpi_header(b"DMAR", 36 + len(body)) + body)


def smbios_structure(type_, handle, formatted, strings):
    area = b"".join(s.encode("ascii") + b"\0" for s in strings) + b"\0"
    if not strings:
        area = b"\0\0"
    return struct.pack("<BBH", type_, 4 + len(formatted), handle) + formatted + area


def smbios_firmware_group():
    """A group "Firmware Version Info" (type 14) naming one OEM structure
    (type 0xDD) that carries two version records: one "Reference Code"
    component that the report shows and one other component it leaves out."""
    records = struct.pack("<B", 2)
    records += struct.pack("<BBBBBH", 1, 2, 0x0A, 0x0B, 0x0C, 0x1234)
    records += struct.pack("<BBBBBH", 3, 4, 9, 9, 9, 9)
    oem = smbios_structure(0xDD, 0xE001, records,
                           ["Reference Code - SA", "RC 10.11.12", "Microcode", "MC 9"])
    group = smbios_structure(14, 0xE000, struct.pack("<BBH", 1, 0xDD, 0xE001), ["Firmware Version Info"])
    return group, oem


def dmar_with_rmrrs(rmrrs):
    """QEMU's engine as an INCLUDE_PCI_ALL DRHD, then one RMRR per (base,
    limit), each naming the SATA controller B0:D31:F2 (neither display nor
    USB, so only reserved memory will do)."""
    drhd = struct.pack("<HHBBHQ", 0, 16, 1, 0, 0, 0xFED90000)
    body = struct.pack("<BB", 38, 1) + bytes(10) + drhd
    for base, limit in rmrrs:
        scope = struct.pack("<BBHBB", 1, 8, 0, 0, 0) + bytes([31, 2])
        body += struct.pack("<HHHHQQ", 1, 24 + len(scope), 0, 0, base, limit) + scope
    return acpi_checksum(acpi_header(b"DMAR", 36 + len(body)) + body)
