#!/usr/bin/env python3
"""Round trip: the console text of iovet-sim -v, read by iovet-results, gives
the JSON and JUnit files iovet-sim writes itself, on every reference platform,
every failing case of tests/data/platforms, a processor without a setup
routine (-a) and a run on tables alone. The text is read as printed
(UTF-8, LF) and as a board's shell writes it (UCS-2 with a byte-order mark,
CR LF). Every difference is named: the record and field, or the first line
that differs; and the exit status must follow the report (1 on FAIL).

usage: results_round_trip.py IOVET_SIM IOVET_RESULTS REPOSITORY
"""
import json
import os
import shutil
import subprocess
import sys
import tempfile

SIM, RESULTS, REPO = sys.argv[1:4]
FAMILIES = ["qen", "rav", "mof", "jix", "yod", "gux", "wez"]


def first_difference(a, b):
    for n, (x, y) in enumerate(zip(a.splitlines(), b.splitlines()), 1):
        if x != y:
            return "line %d: iovet-sim %r, iovet-results %r" % (n, x, y)
    return "iovet-sim %d lines, iovet-results %d lines" % (len(a.splitlines()), len(b.splitlines()))


def json_differences(sim, read):
    a, b = json.loads(sim), json.loads(read)
    lines = ["%s: iovet-sim %r, iovet-results %r" % (k, a[k], b[k]) for k in ("platform", "status") if a[k] != b[k]]
    by_number = {r["number"]: r for r in b["results"]}
    for r in a["results"]:
        other = by_number.pop(r["number"], None)
        if other is None:
            lines.append("record %02d: not read back" % r["number"])
            continue
        lines += ["record %02d %s: iovet-sim %r, iovet-results %r" % (r["number"], k, r[k], other[k])
                  for k in ("description", "result", "message") if r[k] != other[k]]
    lines += ["record %02d: read back, not written by iovet-sim" % n for n in by_number]
    return lines or [first_difference(sim, read)]


def read(path):
    with open(path, encoding="utf-8") as f:
        return f.read()


def unlisted_platform(work):
    """rav's platform on a processor without a setup routine."""
    d = os.path.join(work, "unlisted")
    shutil.copytree(os.path.join(REPO, "platforms", "rav"), d)
    cpuid = os.path.join(d, "cpuid.txt")
    with open(cpuid) as f:
        text = f.read().replace("0x000506E3", "0x000A06A4")
    with open(cpuid, "w") as f:
        f.write(text)
    return d


def main():
    work = tempfile.mkdtemp(prefix="iovet-round-trip-")
    cases = [("reference " + f, ["--reference", f], ["-v"]) for f in FAMILIES]
    data = os.path.join(REPO, "tests", "data", "platforms")
    cases += [(os.path.join(data, d), ["--platform", os.path.join(data, d)], ["-v"]) for d in sorted(os.listdir(data))]
    # Records not evaluated, and passing records that say how they were
    # judged: a processor without a setup routine, and tables alone.
    unlisted = unlisted_platform(work)
    tables = os.path.join(REPO, "platforms", "rav", "acpi", "acpidump.txt")
    cases += [(unlisted, ["--platform", unlisted], ["-a", "-v"]), ("tables " + tables, ["--tables", tables], ["-v"])]
    problems = []
    try:
        for name, platform, args in cases:
            sim_json, sim_junit = os.path.join(work, "sim.json"), os.path.join(work, "sim.xml")
            proc = subprocess.run([SIM, *platform, "--json", sim_json, "--junit", sim_junit, "--", *args],
                                  stdout=subprocess.PIPE, stderr=subprocess.PIPE, timeout=120)
            console = proc.stdout.decode("utf-8")
            shell_file = b"\xff\xfe" + console.replace("\n", "\r\n").encode("utf-16-le")
            for form, data in (("UTF-8", console.encode("utf-8")), ("UCS-2", shell_file)):
                report = os.path.join(work, "report.txt")
                with open(report, "wb") as f:
                    f.write(data)
                got_json, got_junit = os.path.join(work, "got.json"), os.path.join(work, "got.xml")
                got = subprocess.run([RESULTS, "--platform", name, "--json", got_json, "--junit", got_junit, report],
                                     stdout=subprocess.PIPE, stderr=subprocess.PIPE, timeout=60)
                label = "%s (%s)" % (name, form)
                if got.returncode == 2:
                    problems.append("%s: not read: %s" % (label, got.stderr.decode().strip()))
                    continue
                status = json.loads(read(sim_json))["status"]
                if got.returncode != (1 if status == "FAIL" else 0):
                    problems.append("%s: exit status %d for %s" % (label, got.returncode, status))
                if read(got_json) != read(sim_json):
                    problems += ["%s: JSON %s" % (label, d) for d in json_differences(read(sim_json), read(got_json))]
                if read(got_junit) != read(sim_junit):
                    problems.append("%s: JUnit %s" % (label, first_difference(read(sim_junit), read(got_junit))))
    finally:
        shutil.rmtree(work, ignore_errors=True)
    for p in problems:
        print("FAIL:", p)
    print("%d cases, %d differences" % (len(cases), len(problems)))
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
