"""The QEMU lab of tools/qemu-run: the chipset view that q35 lacks, staged
by the shell before the first run, and the machine's command line (shared by
tools/qemu-usb)."""
import os
import re
import struct

LAB_BEGIN = "IOVET-LAB-BEGIN"
LAB_END = "IOVET-LAB-END"

# ---------------------------------------------------------------------------
# The lab: the chipset view that q35 lacks, staged by the shell.
#
# q35's host bridge keeps what is written to its MCHBAR register (0x48) but
# decodes nothing there, and B0:D31:F1 is empty. A stock ivshmem device
# stands in for the chipset: its 64-bit memory BAR (0x18/0x1C), moved to the
# MCHBAR window, serves the engine base registers from a file written here;
# its device-specific configuration registers (writable in QEMU) hold the
# PCH's IBDF (0x6C), HPTC (0x60), HBDF (0x70) and P2SB hide register (0xE1).
# The older PCH keeps them in the q35 LPC bridge itself (B0:D31:F0) and its
# root complex register block, which QEMU's ICH9 model implements.

MCHBAR = 0xFED10000
MCHBAR_SIZE = 0x8000          # the window the routines decode, bits 31:15
ENGINE_BASE = 0xFED90001      # QEMU's emulated engine (0xFED90000), enabled
IOAPIC_RID = 0xFF00           # QEMU's DMAR: the I/O APIC scope is bus 0xFF, 0.0
HPET_RID = 0xF078             # QEMU's DMAR names no HPET: bus 0xF0, device 15, function 0
HPTC = 0x80                   # HPET at 0xFED00000 (bits 1:0 = 0), address enable (bit 7)
RCBA = 0xFED1C000
HPTC_IN_RCBA = 0x3404

# family or profile: (CPU model, where the PCH registers live, default engine
# offset behind MCHBAR). lum: the PCH registers' home and the default
# engine's base are not known for the profile, so none is staged; its
# graphics engine's register (0x5410) is read only when B0:D2:F0 answers,
# which q35 lacks.
FAMILIES = {
    "qen": ("Skylake-Client,model=61,stepping=4", "lpc", 0x5410),     # CPUID 0x306D4
    "rav": ("Skylake-Client", "p2sb", 0x5410),                        # CPUID 0x506E3
    "mof": ("Skylake-Client,model=142,stepping=10", "p2sb", 0x5410),  # CPUID 0x806EA
    "jix": ("Skylake-Client,model=140,stepping=1", "p2sb", 0x5410),   # CPUID 0x806C1
    "yod": ("Skylake-Client,model=138,stepping=1", "p2sb", 0x5410),   # CPUID 0x806A1
    "gux": ("Skylake-Client,model=92,stepping=9", "d13", 0x6C80),     # CPUID 0x506C9
    "wez": ("Skylake-Client,model=102,stepping=3", "p2sb", 0x5410),   # CPUID 0x60663
    "pek": ("Skylake-Client,model=151,stepping=2", "p2sb", 0x5410),   # CPUID 0x90672
    "lum": ("Skylake-Client,model=170,stepping=4", "none", None),     # CPUID 0xA06A4
}


def type131():
    """The vendor's SMBIOS type-131 structure that board firmware carries and
    OVMF does not: capability word (offset 0x04) 0, no VMX capable or
    enabled, which is what TCG's processor reports; "wKam" at 0x38."""
    formatted = bytearray(0x40 - 4)
    formatted[0x38 - 4:0x3C - 4] = b"wKam"
    return struct.pack("<BBH", 131, 0x40, 0x8300) + bytes(formatted) + b"\0\0"


def pci_address(device, function, offset):
    """The mm -pci address of a B0 configuration register (ssbbddffrr)."""
    return "%02X%02X%02X%02X%02X" % (0, 0, device, function, offset)


def stand_in(family):
    """(device, function) of the ivshmem device that stands in for the chipset."""
    return (0x0D, 0) if FAMILIES[family][1] == "d13" else (0x1F, 1)


def has_p2sb(family):
    return stand_in(family) == (0x1F, 1)


def lab_window(family):
    """The bytes behind MCHBAR: the default engine's base register."""
    window = bytearray(MCHBAR_SIZE)
    offset = FAMILIES[family][2]
    if offset is not None:
        window[offset:offset + 8] = struct.pack("<Q", ENGINE_BASE)
    return bytes(window)


def lab_registers(family, e1):
    """[(what, mm address and flags, width, value)] of every staged register,
    in the order they are written."""
    dev, fn = stand_in(family)
    regs = [
        ("MCHBAR", pci_address(0, 0, 0x48) + " -pci", 4, MCHBAR | 1),
        ("stand-in BAR low", pci_address(dev, fn, 0x18) + " -pci", 4, MCHBAR | 0xC),
        ("stand-in BAR high", pci_address(dev, fn, 0x1C) + " -pci", 4, 0),
        ("stand-in command", pci_address(dev, fn, 0x04) + " -pci", 2, 0x0006),
    ]
    if FAMILIES[family][1] == "lpc":
        regs.append(("IBDF", pci_address(0x1F, 0, 0x6C) + " -pci", 2, IOAPIC_RID))
        for i in range(8):
            regs.append(("HBDF%d" % i, pci_address(0x1F, 0, 0x70 + 2 * i) + " -pci", 2, HPET_RID))
        regs.append(("RCBA", pci_address(0x1F, 0, 0xF0) + " -pci", 4, RCBA | 1))
        regs.append(("HPTC", "%08X -mmio" % (RCBA + HPTC_IN_RCBA), 4, HPTC))
    elif FAMILIES[family][1] != "none":
        regs.append(("IBDF", pci_address(dev, fn, 0x6C) + " -pci", 2, IOAPIC_RID))
        regs.append(("HPTC", pci_address(dev, fn, 0x60) + " -pci", 1, HPTC))
        regs.append(("HBDF", pci_address(dev, fn, 0x70) + " -pci", 2, HPET_RID))
    if has_p2sb(family):
        regs.append(("P2SB 0xE1", e1_address(), 1, e1))
    return regs


def e1_address():
    return pci_address(0x1F, 1, 0xE1) + " -pci"


def mm_write(address, width, value):
    address, _, kind = address.partition(" ")
    return "mm %s %0*X -w %d %s" % (address, 2 * width, value, width, kind)


def mm_read(address, width):
    address, _, kind = address.partition(" ")
    return "mm %s -w %d %s -n" % (address, width, kind)


def lab_staging(family, e1):
    """Shell lines that stage the lab and then print every staged register
    between two markers, so that the runner can see the staging held."""
    regs = lab_registers(family, e1)
    lines = [mm_write(a, w, v) for _, a, w, v in regs]
    lines.append("echo " + LAB_BEGIN)
    lines += [mm_read(a, w) for _, a, w, _ in regs]
    if FAMILIES[family][2] is not None:
        lines.append(mm_read("%08X -mmio" % (MCHBAR + FAMILIES[family][2]), 8))
    lines.append("echo " + LAB_END)
    return lines


def lab_expected(family, e1):
    regs = lab_registers(family, e1)
    values = [(what, v) for what, _, _, v in regs]
    if FAMILIES[family][2] is not None:
        values.append(("engine base behind MCHBAR + 0x%X" % FAMILIES[family][2], ENGINE_BASE))
    return values


def staging_problems(text, family, e1):
    """What of the staging did not read back as written (empty: all held)."""
    m = re.search(r"%s[ \t]*\n(.*?)%s" % (LAB_BEGIN, LAB_END), text, re.S)
    if not m:
        return ["the staging did not run"]
    read = re.findall(r"0x([0-9A-Fa-f]+)", m.group(1))
    problems = []
    for n, (what, value) in enumerate(lab_expected(family, e1)):
        got = int(read[n], 16) if n < len(read) else None
        # The BAR's low bits are its read-only type bits.
        if what == "stand-in BAR low" and got is not None:
            got |= 0xC
        if got != value:
            problems.append("%s reads %s, staged 0x%X" % (what, "nothing" if got is None else "0x%X" % got, value))
    return problems


def lab_summary(family, cpu, e1):
    kind = FAMILIES[family][1]
    dev, fn = stand_in(family)
    text = "lab %s on %s: MCHBAR 0x%X (ivshmem B0:D%d:F%d BAR2)" % (family, cpu, MCHBAR | 1, dev, fn)
    if kind == "none":
        text += ", nothing behind it; no PCH registers (their home is not known for %s)" % family
    else:
        where = {"p2sb": "P2SB B0:D31:F1 (ivshmem)", "d13": "B0:D13:F0 (ivshmem)",
                 "lpc": "LPC B0:D31:F0, HPTC at RCBA 0x%X + 0x%X" % (RCBA, HPTC_IN_RCBA)}[kind]
        text += (", default engine 0x%X at MCHBAR + 0x%X; %s IBDF 0x%04X, HPTC 0x%02X, HBDF 0x%04X" %
                 (ENGINE_BASE, FAMILIES[family][2], where, IOAPIC_RID, HPTC, HPET_RID))
    if has_p2sb(family):
        text += ", 0xE1 0x%02X" % e1
    return text + "; SMBIOS type 131 (no VMX)"


def machine_command(qemu, cpu, firmware, drive_args, serial_args, iommu, family, work):
    """QEMU's command line: q35, TCG, OVMF (code, variable store copy), the drive and serial given, the
    remapping engine, and with a family the lab's stand-in and SMBIOS structure (files written into work)."""
    code, local_vars = firmware
    command = [
        qemu,
        "-machine", "q35,accel=tcg,kernel-irqchip=split",
        "-cpu", cpu,
        "-m", "512",
        "-display", "none",
        "-monitor", "none",
        "-no-reboot",
        "-drive", "if=pflash,format=raw,readonly=on,file=" + code,
        "-drive", "if=pflash,format=raw,file=" + local_vars,
    ] + drive_args + ["-net", "none"] + serial_args
    if iommu:
        command += ["-device", "intel-iommu,intremap=on"]
    if family:
        window = os.path.join(work, "mchbar.bin")
        with open(window, "wb") as f:
            f.write(lab_window(family))
        dev, fn = stand_in(family)
        smbios = os.path.join(work, "type131.bin")
        with open(smbios, "wb") as f:
            f.write(type131())
        command += ["-object", "memory-backend-file,id=lab,mem-path=%s,size=%d,share=on" % (window, MCHBAR_SIZE),
                    "-device", "ivshmem-plain,memdev=lab,addr=%x.%x" % (dev, fn),
                    "-smbios", "file=" + smbios]
    return command
