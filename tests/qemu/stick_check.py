"""The QEMU check of the boot stick: group usb of qemu_checks.py, which hands
over its own module (qc) for check, timed and the lab's expectations."""

import json
import os
import shutil
import subprocess
import sys
import xml.etree.ElementTree as ET

EARLIER = b"an earlier board's report\r\n"


def on_stick(stick, *args):
    """An mtools command on the stick's partition (from 1 MiB); its status."""
    command = [args[0], "-i", stick + "@@1M"] + list(args[1:])
    return subprocess.run(command, stdout=subprocess.PIPE, stderr=subprocess.STDOUT,
                          env=dict(os.environ, MTOOLS_SKIP_CHECK="1")).returncode


def boot(qc, stick):
    command = [sys.executable, os.path.join(qc.ROOT, "tools", "qemu-usb"), stick]
    proc = qc.timed("usb boot", lambda: subprocess.run(command, stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                                                       timeout=400))
    return proc.returncode, proc.stdout.decode("utf-8", "replace"), proc.stderr.decode("utf-8", "replace")


def group_usb(work, qc):
    """The boot stick (make usb, the variant that powers off) as a USB
    storage device, staged by tools/qemu-usb, with an earlier board's run on
    it; its results read back with mtools and tools/iovet-results."""
    image = os.path.join(qc.ROOT, "build", "usb", "iovet-usb-poweroff.img")
    if not (os.path.isfile(image) and shutil.which("mcopy")):
        print("skipped: %s or mtools missing (make usb builds it)" % image)
        sys.exit(77)
    stick, earlier = os.path.join(work, "stick.img"), os.path.join(work, "000-report.txt")
    shutil.copyfile(image, stick)
    with open(earlier, "wb") as f:
        f.write(EARLIER)
    on_stick(stick, "mmd", "::iovet-results")
    on_stick(stick, "mcopy", earlier, "::iovet-results/000-report.txt")

    rc, out, err = boot(qc, stick)
    qc.check(rc == 0 and "the stick's script powered the machine off" in err,
             "the stick boots in the lab, runs unattended and powers the machine off", err + out)
    qc.check("Iovet stick fs0: run 001: results into fs0:\\iovet-results\\\n" in out and
             "The files are fs0:\\iovet-results\\001-report.txt, -dump.txt and -system.txt" in out,
             "the script names its volume, takes the next free run number and says where the files went", out)
    files = {}
    for name in ("000-report.txt", "001-report.txt", "001-dump.txt", "001-system.txt"):
        path = os.path.join(work, "read-" + name)
        on_stick(stick, "mcopy", "-n", "::iovet-results/" + name, path)
        files[name] = open(path, "rb").read() if os.path.isfile(path) else b""
    qc.check(files["000-report.txt"] == EARLIER, "the earlier board's report is left as it was")
    dump = files["001-dump.txt"].decode("utf-16", "replace")
    qc.check("-- DMAR --\r\n" in dump and "-- MADT --" in dump, "the dump, UCS-2 with CR LF, holds the tables", dump)
    qc.check("System Information" in files["001-system.txt"].decode("utf-16", "replace"),
             "the board's system record is written")

    converted = subprocess.run([os.path.join(qc.ROOT, "tools", "iovet-results"), "--out", work,
                                os.path.join(work, "read-001-report.txt")],
                               stdout=subprocess.PIPE, stderr=subprocess.STDOUT)
    qc.check(converted.returncode == 1, "iovet-results reads the report (FAIL: exit status 1)",
             converted.stdout.decode("utf-8", "replace"))
    try:
        with open(os.path.join(work, "read-001-report.json"), encoding="utf-8") as f:
            doc = json.load(f)
        suite = ET.parse(os.path.join(work, "read-001-report.junit.xml")).getroot().find("testsuite")
    except (OSError, ValueError, ET.ParseError) as e:
        qc.check(False, "the JSON and JUnit files read back: %s" % e)
        return
    results = {r["number"]: (qc.RESULT_WORDS.get(r["result"], r["result"]), r["message"]) for r in doc["results"]}
    wrong = qc.differences(qc.read_expected(qc.EXPECTED), results)
    for line in wrong:
        print("      " + line)
    qc.check(not wrong and doc["status"] == "FAIL", "the stick's results are those lab-rav.expected pins")
    fails = sum(1 for r, _ in results.values() if r == "FAIL")
    qc.check(suite.get("tests") == str(len(results)) and suite.get("failures") == str(fails),
             "the JUnit file holds every record and the failures", str(suite.attrib))
