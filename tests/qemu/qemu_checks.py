#!/usr/bin/env python3
"""Checks of the UEFI image in QEMU, through tools/qemu-run.

Usage: qemu_checks.py GROUP [--image FILE]

Each group is one boot of the virtual machine (about 15-30 s under TCG),
except families (six boots):
  frame         usage forms, banner, arguments, default/-v/-d/--dbg runs on
                QEMU's own tables (bare machine, MCHBAR disabled), and the
                firmware version section from an added SMBIOS group
  no-catalogue  the run without zyr-tests beside the application
  bad-path      a DMAR of our own whose device scope has a three-entry path,
                on a processor that no setup routine supports
  lab           the default lab run (rav) against lab-rav.expected, the
                same with -a (which changes nothing on a listed processor),
                -x (the same 55, then tests 101 on against
                lab-rav-os.expected), and -p: the shell's page-break prompt, answered on the serial
                line
  unlisted      a processor without a setup routine: refused with the hint
                to use -a; with -a, the results against lab-unlisted.expected
  families      every other family's routine in the lab reaches the
                assertions and the report; the P2SB is left as found
  profiles      the later profiles pek (against lab-pek.expected) and lum
                without -a (two boots)
  p2sb          rav leaves the P2SB hide register as it found it, reserved
                bits included
  rmrr          assertion 40 against OVMF's memory map: an injected DMAR with
                an RMRR in a reserved region and one in conventional memory
  manual-page   "Iovet.efi -?": the shell prints the manual page Iovet.man
                beside the image; -h still reaches the application
  usb           the boot stick (build/usb/iovet-usb-poweroff.img) as a USB
                storage device in the lab: its results, read back with
                mtools and tools/iovet-results, against lab-rav.expected

Exit status 0 when every check passed, 1 when one failed, 77 when QEMU, the
firmware or the image is missing (CTest reports the group as skipped).
"""

import os
import re
import shutil
import struct
import subprocess
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(os.path.dirname(HERE))
QEMU_RUN = os.path.join(ROOT, "tools", "qemu-run")

USAGE = (
    "Usage:   Iovet.efi [-h] [-a] [-d] [-p] [-t] [-v] [-x]\n"
    "Options: -h   Display command line options.\n"
    "         -a   Also on a processor without a chipset profile: check what\n"
    "              needs no chipset view; the rest is reported as missing data.\n"
    "         -d   Display ACPI Tables (DMAR, HPET, MADT, MCFG).\n"
    "         -p   Pause output after each screen.\n"
    "              Do not use when output is redirected to file.\n"
    "         -t   Run Zyr tests.\n"
    "         -v   Verbose option.\n"
    "         -x   Also on the seven known families: what an operating system\n"
    "              checks at boot (tests 101 on).\n"
)
BANNER_RULE = "*" * 45 + "\n"
COLLECTION_FAILED = "Application Exists. Error occurred collecting needed Zyr test data.\n"
STATUS_LINE = "Zyr Test Status: "

failures = []


def check(condition, what, output=None):
    if condition:
        print("ok    " + what)
        return
    print("FAIL  " + what)
    failures.append(what)
    if output is not None:
        print("      --- output ---")
        for line in output.splitlines()[:80]:
            print("      | " + line)
        print("      --------------")


def qemu_run(image, options, batch=None, args=()):
    command = [sys.executable, QEMU_RUN, "--image", image] + list(options)
    if batch is not None:
        command += ["--batch", batch]
    command += ["--"] + list(args)
    proc = subprocess.run(command, stdin=subprocess.DEVNULL, stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                          timeout=300)
    out = proc.stdout.decode("utf-8", "replace")
    err = proc.stderr.decode("utf-8", "replace")
    if proc.returncode != 0:
        print("qemu-run ended with %d:\n%s" % (proc.returncode, err))
    return proc.returncode, out, err


def split_batch(out):
    """Splits the output of a batch into [(arguments, output)], in order; a
    shell command's arguments are "! COMMAND"."""
    runs = []
    for chunk in re.split(r"^==> (?:Iovet\.efi )?", out, flags=re.M)[1:]:
        args, _, text = chunk.partition("\n")
        runs.append((args.strip(), text))
    return runs


def statuses(err):
    return [line.split(":", 1)[1].strip() for line in err.splitlines() if line.startswith("Iovet.efi status:")]


# Tables built for the checks: check_tables.py beside this file (no
# bytecode left in the source tree).
sys.dont_write_bytecode = True
from check_tables import acpi_checksum, acpi_header, dmar_with_long_path, dmar_with_rmrrs, smbios_firmware_group  # noqa: E402,F401

# ---------------------------------------------------------------------------
# Groups.

def group_frame(image, work):
    group, oem = smbios_firmware_group()
    with open(os.path.join(work, "type14.bin"), "wb") as f:
        f.write(group)
    with open(os.path.join(work, "type221.bin"), "wb") as f:
        f.write(oem)
    batch = os.path.join(work, "batch")
    # "-p -h" comes last: the page-break mode it switches on must not pause
    # any later output of the boot.
    runs = ["-h", "/H", "-t -h", "", "-z --dbg", "-d", "-v", "-p -h"]
    with open(batch, "w") as f:
        f.write("\n".join(runs) + "\n")
    rc, out, err = qemu_run(image, ["--bare",
                                    "--qemu", "-smbios", "--qemu", "file=" + os.path.join(work, "type14.bin"),
                                    "--qemu", "-smbios", "--qemu", "file=" + os.path.join(work, "type221.bin")],
                            batch=batch)
    check(rc == 0, "qemu-run boots, runs every command and shuts the machine down", err)
    results = split_batch(out)
    check([a for a, _ in results] == runs, "every run of the batch reported", out)
    check(statuses(err) == ["0x0"] * len(runs), "every run ends with status 0", err)
    by_args = dict(results)

    for args in ("-h", "/H", "-t -h", "-p -h"):
        check(by_args.get(args) == USAGE, "%s prints exactly the usage text" % args, by_args.get(args))

    plain = by_args.get("", "")
    check(plain.startswith(BANNER_RULE + "Iovet v1.1.35\nBuilt: "), "plain run starts with the banner", plain)
    check(plain.count(BANNER_RULE) == 2, "banner has its two rules", plain)
    check(COLLECTION_FAILED not in plain, "collection succeeds on QEMU's tables", plain)
    check("ERROR -- MCHBAR enabled bit not set. Tests need access to MCHBAR.\n" in plain,
          "the setup routine reports q35's disabled MCHBAR", plain)
    status_at = plain.find(STATUS_LINE)
    check(status_at > plain.find("MCHBAR") and plain.rfind("Total | ") > status_at,
          "plain run ends in the short report", plain)
    check("Test Assertions" not in plain and "BIOS Information" not in plain,
          "plain run prints no verbose section", plain)

    dbg = by_args.get("-z --dbg", "")
    check("DEBUG -- support Line# 262\n" in dbg, "arguments reach main: --dbg switches the debug lines on", dbg)
    check("DEBUG -- main() Line# 101\n" in dbg, "the debug line of main before the report", dbg)
    mch = dbg.find("DEBUG : testsetup_rav() :  MCHBAR = 0x")
    check(mch >= 0, "Skylake-Client reaches testsetup_rav and prints its MCHBAR line", dbg)
    check(mch >= 0 and dbg.find(STATUS_LINE, mch) > mch, "the report follows the setup routine", dbg)
    check("DEBUG" not in plain, "no debug line without --dbg", plain)

    dump = by_args.get("-d", "")
    for heading in ("-- DMAR --\nSignature                    DMAR\n", "-- HPET --\nSignature                    HPET\n",
                    "-- MCFG --\nSignature                    MCFG\n", "-- MADT --\nSignature                    APIC\n"):
        check(heading in dump, "-d dumps %s" % heading.split("\n")[0], dump)
    order = [dump.find(h) for h in ("-- DMAR --", "-- HPET --", "-- MCFG --", "-- MADT --")]
    check(order == sorted(order) and order[0] > 0, "dumps in the order DMAR, HPET, MCFG, MADT", dump)
    check(" --DRHD\n" in dump and " RegisterBaseAddress         0x00000000FED90000\n" in dump,
          "DMAR dump shows QEMU's remapping engine", dump)
    check(STATUS_LINE not in dump and "Result :" not in dump and "MCHBAR" not in dump,
          "-d alone runs no assertion and prints no report", dump)

    verbose = by_args.get("-v", "")
    check("----------------\nBIOS Information\n----------------\nVendor                  EFI Development Kit II / OVMF\n"
          in verbose, "-v shows OVMF's BIOS information", verbose)
    fw = ("----------------------------\nFirmware Version Information\n----------------------------\n"
          "Reference Code - SA\n Component Name     = 1\nRC 10.11.12\n Version String     = 2\n"
          " Major Version      = 0xA\n Minor Version      = 0xB\n Revision           = 0xC\n"
          " Build Number       = 0x1234\n")
    check(fw in verbose, "-v shows the firmware version group added through -smbios", verbose)
    check("Microcode" not in verbose, "a component without \"Reference Code\" is left out", verbose)
    check("--------------------\nPlatform Information\n--------------------\nCPUID1.EAX              0x000506E" in verbose
          and "IA32_FEATURE_CONTROL    0x" in verbose and "B0:D0:F0:0x02           0x29C0\n" in verbose,
          "-v shows the platform information of the q35 machine", verbose)
    sections = [verbose.find(s) for s in ("BIOS Information", "Firmware Version Information",
                                          "Platform Information", "Test Assertions", STATUS_LINE)]
    check(min(sections) > 0 and sections == sorted(sections),
          "-v: BIOS, firmware, platform, assertions, then the summary", verbose)
    check("01) " in verbose and "Result : " in verbose, "-v lists the assertions", verbose)


def group_no_catalogue(image, work):
    rc, out, err = qemu_run(image, ["--no-catalogue"])
    check(rc == 0, "qemu-run without the catalogue", err)
    check(statuses(err) == ["0x0"], "status 0 without the catalogue", err)
    expected = ("Failed to open Zyr Test file (zyr-tests).\n"
                "Please ensure it is located in same directory as application.\n" + COLLECTION_FAILED)
    check(out.startswith(BANNER_RULE) and out.endswith(expected),
          "the catalogue message, then the collection-failure line ends the run", out)
    check(STATUS_LINE not in out, "no report without the catalogue", out)


def group_bad_path(image, work):
    """Our own DMAR on a processor that no setup routine supports (qemu64):
    the dump stops at the path, and a run of the assertions stops at the
    processor dispatch."""
    table = os.path.join(work, "dmar.bin")
    with open(table, "wb") as f:
        f.write(dmar_with_long_path())
    batch = os.path.join(work, "batch")
    with open(batch, "w") as f:
        f.write("-d\n-t\n")
    rc, out, err = qemu_run(image, ["--no-iommu", "--cpu", "qemu64", "--qemu", "-acpitable", "--qemu", "file=" + table],
                            batch=batch)
    check(rc == 0, "qemu-run with an injected DMAR", err)
    check(statuses(err) == ["0x1", "0x0"], "the dump ends the application with status 1, the other run with 0", err)
    by_args = dict(split_batch(out))
    dump = by_args.get("-d", "")
    tail = ("  Start Bus Number           0x00\n"
            "  PCI Path:                  D:2 F:0\n"
            "  PCI Path:                  D:3 F:0\n"
            "  PCI Path:                  D:4 F:0\n"
            "ERROR -- PciPath of Device Scope appears to be invalid.\n")
    check(dump.endswith(tail), "three path lines, the path error line and nothing after it", dump)
    check("  PCI Path:                  D:31 F:2\n  PCI Path:                  D:0 F:0\n\n --DRHD\n" in dump,
          "a path entry past its structure but inside the table is dumped", dump)
    check(" RegisterBaseAddress         0x00000000FED90000\n" in dump and "-- HPET --" not in dump,
          "the injected DMAR is the one dumped, and no dump follows it", dump)
    run = by_args.get("-t", "")
    check(COLLECTION_FAILED not in run and "CPU not supported 0x" in run and run.endswith("\n"),
          "an unsupported processor is named", run)
    check(STATUS_LINE not in run and "MCHBAR" not in run, "no setup routine and no report for it", run)


# ---------------------------------------------------------------------------
# The lab.

EXPECTED = os.path.join(HERE, "lab-rav.expected")
OS_EXPECTED = os.path.join(HERE, "lab-rav-os.expected")
RESULT_WORDS = {"PASS": "PASS", "FAIL": "FAIL", "WARNING": "WARNING",
                "Not Applicable for this platform": "N/A", "Missing Data needed for test.": "MISSING"}
PAGE_PROMPT = "Press ENTER to continue or 'Q' break:"


def read_expected(path):
    """{number: (result, cause)} of an expectation file; raises ValueError
    on a malformed line or a result other than PASS without its cause."""
    expected = {}
    with open(path) as f:
        for n, line in enumerate(f, 1):
            if not line.strip() or line.startswith("#"):
                continue
            fields = line.split(None, 2)
            if len(fields) < 2 or not fields[0].isdigit() or fields[1] not in RESULT_WORDS.values():
                raise ValueError("%s:%d: expected NUMBER RESULT [CAUSE]" % (path, n))
            cause = fields[2].strip() if len(fields) > 2 else ""
            if fields[1] != "PASS" and not cause:
                raise ValueError("%s:%d: a %s needs its cause" % (path, n, fields[1]))
            if int(fields[0]) in expected:
                raise ValueError("%s:%d: assertion %s listed twice" % (path, n, fields[0]))
            expected[int(fields[0])] = (fields[1], cause)
    return expected


def without_prompts(output):
    """The console text without the shell's page-break prompts (the line end
    after a prompt is the shell's own, also when it cut a line short)."""
    return output.replace(PAGE_PROMPT + "\n", "")


def report_results(output):
    """{number: (result word, message)} of the records a -v report lists."""
    output = without_prompts(output)
    results = {}
    for m in re.finditer(r"^(\d{2,3})\) .*\nResult : (.*)\n(?:       : (.*)\n)?", output, re.M):
        results[int(m.group(1))] = (RESULT_WORDS.get(m.group(2), m.group(2)), m.group(3) or "")
    return results


def differences(expected, results, path=EXPECTED):
    """One line per assertion whose result differs from its expectation."""
    lines = []
    for number in sorted(set(expected) | set(results)):
        if number not in results:
            lines.append("assertion %02d: expected %s, not in the report" % (number, expected[number][0]))
        elif number not in expected:
            lines.append("assertion %02d: %s, not in %s" % (number, results[number][0], os.path.basename(path)))
        elif results[number][0] != expected[number][0]:
            lines.append("assertion %02d: expected %s (%s), got %s: %s" %
                         (number, expected[number][0], expected[number][1] or "-", results[number][0],
                          results[number][1].strip()))
    return lines


def pinned(path):
    """The expectation file's results, or None after a failed check."""
    try:
        return read_expected(path)
    except (OSError, ValueError) as e:
        check(False, "expectation file readable: %s" % e)
        return None


def check_pinned(expected, verbose, path, what, results=None):
    """Every result of a -v report (or the given part of them) as the
    expectation file pins it; the report's results."""
    if results is None:
        results = report_results(verbose)
    wrong = differences(expected, results, path)
    for line in wrong:
        print("      " + line)
    check(not wrong, "every result of %s as %s pins it" % (what, os.path.basename(path)), None if wrong else verbose)
    return results


def batch_file(work, runs):
    batch = os.path.join(work, "batch")
    with open(batch, "w") as f:
        f.write("".join(run + "\n" for run in runs))
    return batch


def p2sb_read_backs(err):
    return [(int(m.group(1), 16), int(m.group(2), 16))
            for m in re.finditer(r"^P2SB 0xE1: 0x([0-9A-F]+) before, 0x([0-9A-F]+) after$", err, re.M)]


def timed(what, function, *args):
    started = time.monotonic()
    result = function(*args)
    print("time  %s: %.1f s" % (what, time.monotonic() - started))
    return result


def group_lab(image, work):
    """The machine of make run: every result pinned; then -p, whose page
    break the shell keeps for the rest of the boot, so it runs last."""
    expected = pinned(EXPECTED)
    if expected is None:
        return
    os_expected = pinned(OS_EXPECTED)
    if os_expected is None:
        return
    batch = batch_file(work, ["-v", "-a -v", "-x -v", "-p -v"])
    rc, out, err = timed("lab boot (-v, -a -v, -x -v, -p -v)", qemu_run, image, ["--answer-pages"], batch)
    check(rc == 0, "the lab boots and runs the four commands", err)
    staging = [line for line in err.splitlines() if line.startswith("qemu-run: lab ")]
    check(len(staging) == 1 and staging[0].startswith("qemu-run: lab rav on Skylake-Client: MCHBAR 0xFED10001"),
          "one stderr line names the lab's staging", err)
    check(statuses(err) == ["0x0"] * 4, "every run ends with status 0", err)
    by_args = dict(split_batch(out))
    verbose = by_args.get("-v", "")
    check(by_args.get("-a -v") == verbose, "-a on a listed processor prints exactly what the run without it prints",
          by_args.get("-a -v"))
    results = check_pinned(expected, verbose, EXPECTED, "the lab run")
    evaluated = [n for n, (r, _) in results.items() if r != "N/A"]
    check(len(results) == 55 and len(evaluated) >= 50,
          "at least 50 of the 55 records evaluated (%d)" % len(evaluated), verbose)
    check("ERROR -- MCHBAR" not in verbose, "the setup routine finds MCHBAR enabled", verbose)

    # -x: the family's 55 as without it, then what an operating system checks.
    extended = by_args.get("-x -v", "")
    os_results = report_results(extended)
    check({n: r for n, r in os_results.items() if n < 101} == results,
          "-x: the family's records are those of the run without it", extended)
    check_pinned(os_expected, extended, OS_EXPECTED, "the -x run's tests from 101",
                 {n: r for n, r in os_results.items() if n >= 101})
    check("Total | 65" in extended, "-x: the report counts 65 records", extended)

    paged = by_args.get("-p -v", "")
    check(PAGE_PROMPT not in verbose, "no page-break prompt before -p", verbose)
    prompts = paged.count(PAGE_PROMPT)
    answered = re.search(r"^Page-break prompts answered: (\d+)$", err, re.M)
    check(prompts >= 3 and answered is not None and int(answered.group(1)) == prompts,
          "-p: the shell prompts after each screenful and every prompt is answered (%d)" % prompts, paged)
    check(without_prompts(paged) == verbose, "-p: the output is the same but for the pauses", paged)


# family: (the routine's MCHBAR debug line, its default engine's debug text)
FAMILY_LINES = {
    "qen": ("DEBUG : testsetup_qen() :  MCHBAR = 0xFED10001", "mch_bar + 0x5410 = 0xFED90001"),
    "mof": ("DEBUG : testsetup_mof() :  MCHBAR = 0xFED10001", "mch_bar + 0x5410 = 0xFED90001"),
    "jix": ("DEBUG : testsetup_jix():  MCHBAR = 0xFED10001", "mch_bar + 0x5410 = 0xFED90001"),
    "yod": ("DEBUG : testsetup_yod():  MCHBAR = 0xFED10001", "mch_bar + 0x5410 = 0xFED90001"),
    "gux": ("DEBUG : testsetup_gux():  MCHBAR = 0xFED10001", "mch_bar + 0x6C80 = 0xFED90001"),
    "wez": ("DEBUG : testsetup_wez():  MCHBAR = 0xFED10001", "mch_bar + 0x5410 = 0xFED90001"),
}


def group_families(image, work):
    """Each family's CPU in its own boot: the routine finds the staged
    chipset, the assertions run on the staged request IDs and the report
    follows. The P2SB is left as found: visible."""
    for family, (mchbar_line, engine_line) in FAMILY_LINES.items():
        # mof finds reserved bits set beside the clear hide bit: they must stay.
        staged = 0xA0 if family == "mof" else 0x00
        rc, out, err = timed("family %s boot" % family, qemu_run, image,
                             ["--family", family, "--p2sb-e1", "0x%02X" % staged], None, ["-v", "--dbg"])
        check(rc == 0 and statuses(err) == ["0x0"], "%s: the lab boots and the run ends with status 0" % family, err)
        check(mchbar_line in out, "%s: CPUID selects testsetup_%s, which finds MCHBAR enabled" % (family, family), out)
        check(engine_line in out, "%s: the default engine's base read behind MCHBAR" % family, out)
        results = report_results(out)
        summary = out[out.rfind(STATUS_LINE):]
        check(len(results) == 55 and "Total | 55" in summary, "%s: the report lists all 55 records" % family, summary)
        check(results.get(18, ("",))[0] == "PASS" and results.get(57, ("",))[0] == "PASS",
              "%s: IBDF matches QEMU's I/O APIC scope (18) and the default engine is QEMU's (57)" % family, summary)
        check(not [n for n, (r, _) in results.items() if r == "MISSING"],
              "%s: nothing is missing: the PCH registers were reached" % family, summary)
        counts = {}
        for r, _ in results.values():
            counts[r] = counts.get(r, 0) + 1
        print("      %s: %s" % (family, ", ".join("%s %d" % (k, counts.get(k, 0))
                                                for k in ("PASS", "FAIL", "WARNING", "N/A", "MISSING"))))
        backs = p2sb_read_backs(err)
        if family in ("mof", "jix", "yod", "wez"):
            check(backs == [(staged, staged)], "%s: the P2SB found visible (0xE1 = 0x%02X) is left as found"
                  % (family, staged), err)
        elif family == "qen":
            check(backs == [(0, 0)], "qen: the P2SB hide register is not written", err)


UNLISTED_CPU = "Skylake-Client,model=189,stepping=1"  # CPUID 0xB06D1: no chipset profile
UNLISTED_EXPECTED = os.path.join(HERE, "lab-unlisted.expected")
UNLISTED_REASON = "Needs the chipset's view of the remapping engines, which is not known for processor 0xB06D0."


def group_unlisted(image, work):
    """A processor without a setup routine: refused with the hint, then with
    -a everything but the chipset's view is checked; every result pinned."""
    expected = pinned(UNLISTED_EXPECTED)
    if expected is None:
        return
    batch = batch_file(work, ["-v", "-a -v"])
    rc, out, err = timed("unlisted processor boot (-v, -a -v)", qemu_run, image, ["--cpu", UNLISTED_CPU], batch)
    check(rc == 0 and statuses(err) == ["0x0", "0x0"], "both runs end with status 0", err)
    by_args = dict(split_batch(out))
    refused = by_args.get("-v", "")
    check(refused.endswith("CPU not supported 0xB06D0\n"
                           "Run Iovet.efi -a to check what needs no chipset view of this processor.\n")
          and STATUS_LINE not in refused, "without -a: the unsupported-processor line, the hint, no report", refused)
    verbose = by_args.get("-a -v", "")
    results = check_pinned(expected, verbose, UNLISTED_EXPECTED, "the -a run")
    missing = [n for n, (r, _) in results.items() if r == "MISSING"]
    check(len(results) == 65 and 65 - len(missing) >= 46,
          "at least 46 of the 65 records evaluated (%d)" % (65 - len(missing)), verbose)
    check(all(results[n][1] == UNLISTED_REASON for n in missing), "every missing record gives its reason", verbose)
    check("testsetup_" not in verbose and "MCHBAR" not in verbose and p2sb_read_backs(err) == [(0, 0), (0, 0)],
          "no setup routine runs and the P2SB is not written", err)
    summary = verbose[verbose.rfind(STATUS_LINE):]
    check(summary.startswith(STATUS_LINE + "FAIL (%d not evaluated)\n" % len(missing)) and
          "\nNot evaluated:\n01) " in summary, "the status line counts and the summary lists what was not evaluated",
          summary)


PEK_EXPECTED = os.path.join(HERE, "lab-pek.expected")
PROFILE_MISSING = re.compile(r"^Needs (the [^,]+?|whether [^,]+?)(, the .+?)*( and the .+?)?, "
                             r"which the chipset profile (\w+) does not give\.$")


def group_profiles(image, work):
    """The later profiles, each in its own boot, without -a: pek's run
    pinned in lab-pek.expected; lum reaches test 1 from the chipset's switch
    and touches no P2SB. Every missing record names a fact and the profile."""
    expected = pinned(PEK_EXPECTED)
    for profile in ("pek", "lum"):
        rc, out, err = timed("%s boot" % profile, qemu_run, image, ["--family", profile], None, ["-v"])
        check(rc == 0 and statuses(err) == ["0x0"], "%s: the lab boots, the run ends with status 0" % profile, err)
        check("Chipset profile         %s (judged by the general rules)\n" % profile in out,
              "%s: one verbose line names the profile" % profile, out)
        if profile == "pek" and expected is not None:
            results = check_pinned(expected, out, PEK_EXPECTED, "the pek run")
        else:
            results = report_results(out)
        evaluated = [n for n, (r, _) in results.items() if r in ("PASS", "FAIL", "WARNING")]
        print("      %s: %d of %d evaluated" % (profile, len(evaluated), len(results)))
        missing = [results[n][1] for n, (r, _) in results.items() if r == "MISSING"]
        named = [PROFILE_MISSING.match(m) for m in missing]
        check(all(m and m.group(4) == profile for m in named),
              "%s: every missing record names a fact and the profile" % profile, "\n".join(missing))
        if profile == "pek":
            first = [n for n in evaluated if n < 100]
            check(len(results) == 65 and len(first) >= 46, "pek: at least 46 of the 55 evaluated, tests 101 on too", out)
            check(p2sb_read_backs(err) == [(0, 0)], "pek: the P2SB found visible stays visible", err)
        else:
            check(results.get(1, ("",))[0] == "PASS", "lum: test 1 evaluated from the chipset's switch", out)
            check(p2sb_read_backs(err) == [(0, 0)], "lum: the P2SB hide register is not written", err)


def group_p2sb(image, work):
    """rav restores the hide register as it found it. The staged value has
    reserved bits set, so that a write of a constant shows."""
    rc, out, err = timed("p2sb boot", qemu_run, image, ["--p2sb-e1", "0xA0"], None, ["-t"])
    check(rc == 0 and statuses(err) == ["0x0"], "rav run with 0xE1 staged as 0xA0", err)
    check(STATUS_LINE in out, "the run reaches the report", out)
    backs = p2sb_read_backs(err)
    check(backs == [(0xA0, 0xA0)],
          "rav leaves B0:D31:F1 0xE1 as it found it (0xA0): no bit but the hide bit may change, "
          "and the P2SB it found visible stays visible (read back: %s)" %
          (", ".join("0x%02X" % after for _, after in backs) or "nothing"), err)


def memory_type_at(memmap, address):
    """The type the shell's memmap gives the region holding address."""
    for m in re.finditer(r"^(\S+)\s+([0-9A-F]{16})-([0-9A-F]{16}) ", memmap, re.M):
        if int(m.group(2), 16) <= address <= int(m.group(3), 16):
            return m.group(1)
    return None


RESERVED_RMRR = (0xB0000000, 0xB0000FFF)   # in OVMF's reserved PCI Express configuration window
CONVENTIONAL_RMRR = (0x200000, 0x200FFF)  # in conventional memory below OVMF's firmware volumes


def group_rmrr(image, work):
    """Assertion 40 against the memory map OVMF hands the application. The
    shell's memmap, in the same boot, shows where each RMRR lies."""
    table = os.path.join(work, "dmar.bin")
    with open(table, "wb") as f:
        f.write(dmar_with_rmrrs([RESERVED_RMRR, CONVENTIONAL_RMRR]))
    batch = os.path.join(work, "batch")
    with open(batch, "w") as f:
        f.write("!memmap\n-v --dbg\n")
    rc, out, err = timed("rmrr boot", qemu_run, image,
                         ["--no-iommu", "--qemu", "-acpitable", "--qemu", "file=" + table], batch)
    check(rc == 0, "qemu-run with the injected DMAR", err)
    by_args = dict(split_batch(out))
    memmap = by_args.get("! memmap", "")
    check(memory_type_at(memmap, RESERVED_RMRR[0]) == "Reserved" and
          memory_type_at(memmap, RESERVED_RMRR[1]) == "Reserved",
          "OVMF's map marks 0x%X-0x%X reserved" % RESERVED_RMRR, memmap)
    check(memory_type_at(memmap, CONVENTIONAL_RMRR[0]) == "Available",
          "OVMF's map marks 0x%X-0x%X conventional" % CONVENTIONAL_RMRR, memmap)
    run = by_args.get("-v --dbg", "")
    check(run.count("DEBUG -- #40 : RMRR found in Reserved Memory Map area.\n") == 1,
          "40: the RMRR in the reserved region is found there", run)
    results = report_results(run)
    check(results.get(40) == ("FAIL", "RMRR Base Address(0x200000) Limit Adress(0x200FFF) is not marked as "
                                      "reserved in system memory map."),
          "40: the RMRR in conventional memory fails, and it is the one named", run)
    check(results.get(38, ("",))[0] == "PASS" and results.get(39, ("",))[0] == "PASS",
          "38, 39: both RMRRs have one endpoint scope", run)


MANUAL_SYNOPSIS = "Iovet.efi [-h] [-a] [-d] [-p] [-t] [-v] [-x]"


def group_manual_page(image, work):
    """"Iovet.efi -?" never reaches the application: the shell runs "help
    Iovet.efi" instead, so it must find Iovet.man beside the image."""
    batch = os.path.join(work, "batch")
    with open(batch, "w") as f:
        f.write("-?\n-h\n")
    rc, out, err = timed("manual page boot", qemu_run, image, ["--bare"], batch)
    check(rc == 0, "qemu-run boots, runs both commands and shuts the machine down", err)
    runs = dict(split_batch(out))
    page, usage = runs.get("-?", ""), runs.get("-h", "")
    lines = page.splitlines()
    check(MANUAL_SYNOPSIS in lines, "-? prints the manual page's SYNOPSIS line", page)
    check("  -v      Verbose option." in lines and "EXAMPLES:" in lines,
          "-? prints the options and the examples of the manual page", page)
    check("Usage:" not in page and BANNER_RULE not in page, "-? does not start the application", page)
    check(usage.startswith("Usage:   " + MANUAL_SYNOPSIS + "\n"), "-h still reaches the application's usage text", usage)


def group_usb(image, work):
    """The boot stick in the lab: a check of its own, tests/qemu/stick_check.py."""
    sys.dont_write_bytecode = True  # no __pycache__ in the source tree
    import stick_check
    stick_check.group_usb(work, sys.modules[__name__])


GROUPS = {"manual-page": group_manual_page, "usb": group_usb, "frame": group_frame, "no-catalogue": group_no_catalogue, "bad-path": group_bad_path,
          "lab": group_lab, "unlisted": group_unlisted, "families": group_families, "p2sb": group_p2sb,
          "profiles": group_profiles,
          "rmrr": group_rmrr}


def main():
    args = sys.argv[1:]
    if not args or args[0] not in GROUPS:
        sys.stderr.write(__doc__)
        return 2
    image = os.environ.get("IOVET_EFI_IMAGE", os.path.join(ROOT, "build", "efi", "Iovet.efi"))
    if "--image" in args:
        image = args[args.index("--image") + 1]
    if not os.path.isfile(image):
        print("skipped: %s not found (make efi builds it)" % image)
        return 77
    if not shutil.which(os.environ.get("QEMU", "qemu-system-x86_64")):
        print("skipped: qemu-system-x86_64 not installed")
        return 77
    with tempfile.TemporaryDirectory(prefix="iovet-check-") as work:
        GROUPS[args[0]](image, work)
    if failures:
        print("%d check(s) failed" % len(failures))
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
