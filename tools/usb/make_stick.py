#!/usr/bin/env python3
"""Builds the Iovet boot stick (make usb).

Usage: make_stick.py EFI_DIR OUT_DIR

EFI_DIR holds the release build (Iovet.efi, zyr-tests, Iovet.man). OUT_DIR
gets:
  files/                  the stick's files, for copying onto any FAT stick
  iovet-usb.img           a 64 MiB disk image to write to a stick: an MBR with
                          one FAT32 partition (type 0x0C) from 1 MiB holding
                          those files; the run stays at the shell prompt
  iovet-usb-poweroff.img  the same with the switch file iovet-poweroff: the
                          run powers the machine off at its end (for labs)

The stick boots the UEFI Shell that Debian's ovmf package carries inside its
firmware volume, extracted here with UEFIExtract (package uefitool-cli) and
checked to be an x86-64 PE32+ EFI application. The disk images are written
with mtools. Environment: OVMF_CODE names the firmware file to take the shell
from.
"""

import os
import shutil
import struct
import subprocess
import sys
import tempfile

HERE = os.path.dirname(os.path.abspath(__file__))
SHELL_GUID = "7C04A583-9E3E-4F1C-AD65-E05268D0B4D1"  # the UEFI Shell's file in OVMF's firmware volume
OVMF_CODE = ["/usr/share/OVMF/OVMF_CODE.fd", "/usr/share/OVMF/OVMF_CODE_4M.fd", "/usr/share/ovmf/OVMF.fd"]
IMAGE_BYTES = 64 << 20
PARTITION_START = 2048  # sectors: 1 MiB
SECTOR = 512
POWEROFF = "iovet-poweroff"
DISK_SIGNATURE = 0x494F5654

MARKER = """Iovet boot stick
================

Boot this stick on a board (the firmware's boot menu, UEFI mode; Secure Boot
off, or the stick's files signed with a key the board trusts). The UEFI Shell
(EFI\\BOOT\\BOOTX64.EFI, also shellx64.efi) runs startup.nsh, which finds this
volume by this file, runs Iovet unattended and writes into \\iovet-results\\
under the next free run number NNN:

  NNN-report.txt   Iovet.efi -v, the verbose report (UCS-2)
  NNN-dump.txt     Iovet.efi -d, the ACPI table dump
  NNN-system.txt   smbiosview -t 1, the board's SMBIOS system record

It then stays at the shell prompt; with a file named iovet-poweroff at this
stick's root it powers the machine off instead.

On a host, tools/iovet-results NNN-report.txt turns a report into JUnit and
JSON files.
"""


def fail(message):
    sys.stderr.write("make_stick: %s\n" % message)
    sys.exit(1)


def need(program, package):
    if not shutil.which(program):
        fail("%s not found (apt-get install %s)" % (program, package))


def firmware():
    code = os.environ.get("OVMF_CODE")
    for path in [code] if code else OVMF_CODE:
        if os.path.isfile(path):
            return path
    fail("OVMF firmware not found (apt-get install ovmf, or set OVMF_CODE)")


def pe_problem(data):
    """What makes data no x86-64 PE32+ EFI application (None: it is one)."""
    if len(data) < 0x40 or data[:2] != b"MZ":
        return "no MZ header"
    pe = struct.unpack_from("<I", data, 0x3C)[0]
    if pe + 24 + 70 > len(data) or data[pe:pe + 4] != b"PE\0\0":
        return "no PE header"
    machine = struct.unpack_from("<H", data, pe + 4)[0]
    magic, = struct.unpack_from("<H", data, pe + 24)
    subsystem, = struct.unpack_from("<H", data, pe + 24 + 68)
    if machine != 0x8664:
        return "machine 0x%04X, not x86-64" % machine
    if magic != 0x20B:
        return "optional header 0x%03X, not PE32+" % magic
    if subsystem != 10:
        return "subsystem %d, not an EFI application" % subsystem
    return None


def extract_shell(work):
    need("UEFIExtract", "uefitool-cli")
    code = firmware()
    out = os.path.join(work, "shell")
    # Section type 0x10: the PE32 image of the file.
    proc = subprocess.run(["UEFIExtract", code, SHELL_GUID, "-o", out, "-m", "body", "-t", "10"],
                          stdout=subprocess.PIPE, stderr=subprocess.STDOUT)
    body = os.path.join(out, "body.bin")
    if proc.returncode != 0 or not os.path.isfile(body):
        fail("no UEFI Shell (file %s) in %s: %s" % (SHELL_GUID, code, proc.stdout.decode(errors="replace").strip()))
    with open(body, "rb") as f:
        data = f.read()
    problem = pe_problem(data)
    if problem:
        fail("the file extracted from %s is not the UEFI Shell: %s" % (code, problem))
    print("make_stick: UEFI Shell from %s: %d bytes, x86-64 PE32+ EFI application" % (code, len(data)))
    return data


def crlf(text):
    return text.replace("\r\n", "\n").replace("\n", "\r\n").encode("ascii")


def write_files(efi_dir, shell, files):
    shutil.rmtree(files, ignore_errors=True)
    os.makedirs(os.path.join(files, "EFI", "BOOT"))
    for name in ("Iovet.efi", "zyr-tests", "Iovet.man"):
        source = os.path.join(efi_dir, name)
        if not os.path.isfile(source):
            fail("%s not found (make efi builds it)" % source)
        shutil.copyfile(source, os.path.join(files, name))
    for path in (("EFI", "BOOT", "BOOTX64.EFI"), ("shellx64.efi",)):
        with open(os.path.join(files, *path), "wb") as f:
            f.write(shell)
    with open(os.path.join(HERE, "startup.nsh")) as f:
        script = f.read()
    with open(os.path.join(files, "startup.nsh"), "wb") as f:
        f.write(crlf(script))
    with open(os.path.join(files, "iovet-usb.txt"), "wb") as f:
        f.write(crlf(MARKER))


def master_boot_record(sectors):
    """One primary partition, FAT32 with LBA (0x0C), from 1 MiB to the end."""
    mbr = bytearray(SECTOR)
    mbr[440:444] = struct.pack("<I", DISK_SIGNATURE)
    # CHS fields at their "use LBA" maximum.
    mbr[446:462] = struct.pack("<B3sB3sII", 0, b"\xfe\xff\xff", 0x0C, b"\xfe\xff\xff",
                               PARTITION_START, sectors - PARTITION_START)
    mbr[510:512] = b"\x55\xaa"
    return bytes(mbr)


def mtools(*command):
    proc = subprocess.run(command, stdout=subprocess.PIPE, stderr=subprocess.STDOUT,
                          env=dict(os.environ, MTOOLS_SKIP_CHECK="1"))
    if proc.returncode != 0:
        fail("%s: %s" % (" ".join(command), proc.stdout.decode(errors="replace").strip()))


def write_image(files, image, extra=()):
    need("mformat", "mtools")
    sectors = IMAGE_BYTES // SECTOR
    partition = "%s@@%d" % (image, PARTITION_START * SECTOR)
    with open(image, "wb") as f:
        f.write(master_boot_record(sectors))
        f.truncate(IMAGE_BYTES)
    # 32 sectors per track and 64 heads: the partition is whole cylinders.
    mtools("mformat", "-i", partition, "-F", "-v", "IOVET", "-N", "%08X" % DISK_SIGNATURE,
           "-H", str(PARTITION_START), "-T", str(sectors - PARTITION_START), "-h", "64", "-s", "32", "::")
    mtools("mcopy", "-s", "-i", partition, *[os.path.join(files, n) for n in sorted(os.listdir(files))], "::")
    for name, data in extra:
        path = os.path.join(os.path.dirname(image), name)
        with open(path, "wb") as f:
            f.write(data)
        mtools("mcopy", "-i", partition, path, "::" + name)
        os.remove(path)


def main():
    if len(sys.argv) != 3:
        sys.stderr.write(__doc__)
        return 2
    efi_dir, out = sys.argv[1], sys.argv[2]
    os.makedirs(out, exist_ok=True)
    with tempfile.TemporaryDirectory(prefix="iovet-stick-", dir=out) as work:
        shell = extract_shell(work)
        files = os.path.join(out, "files")
        write_files(efi_dir, shell, files)
        switch = (POWEROFF, crlf("With this file at the stick's root, startup.nsh powers the machine off at its end.\n"))
        for name, extra in (("iovet-usb.img", ()), ("iovet-usb-poweroff.img", (switch,))):
            # Built beside the image and renamed: a failed build leaves no half image.
            partial = os.path.join(work, name)
            write_image(files, partial, extra)
            os.replace(partial, os.path.join(out, name))
            print("make_stick: %s" % os.path.join(out, name))
    print("make_stick: %s (the same files, for copying onto any FAT stick; add %s to power off)" %
          (os.path.join(out, "files"), POWEROFF))
    return 0


if __name__ == "__main__":
    sys.exit(main())
