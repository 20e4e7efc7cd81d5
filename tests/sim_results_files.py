#!/usr/bin/env python3
"""iovet-sim's --json and --junit files read back with real parsers (json,
xml.etree): on every reference platform, on one machine's tables on another
(each record names its sources and their origins), on a failing platform, on an 8-bit
catalogue holding every byte 0x80-0xFF, on a UCS-2 catalogue with non-ASCII
characters, and on a run that stops without a report.

usage: sim_results_files.py IOVET_SIM REPOSITORY
"""
import json
import os
import shutil
import subprocess
import sys
import tempfile
import xml.etree.ElementTree as ET

SIM, REPO = sys.argv[1], sys.argv[2]
FAMILIES = ["qen", "rav", "mof", "jix", "yod", "gux", "wez"]
failures = []


def check(ok, what):
    if not ok:
        failures.append(what)
    return ok


def run(tmp, platform_args, app_args=("-v",)):
    js, xs = os.path.join(tmp, "r.json"), os.path.join(tmp, "r.xml")
    p = subprocess.run([SIM, *platform_args, "--json", js, "--junit", xs, "--", *app_args],
                       stdout=subprocess.PIPE, stderr=subprocess.PIPE, timeout=120)
    console = p.stdout.decode("utf-8", "surrogateescape")
    with open(js, encoding="utf-8") as f:  # strict: invalid UTF-8 fails here
        doc = json.load(f)
    root = ET.parse(xs).getroot()
    return console, doc, root


def common(label, console, doc, root, reported=True):
    """The two files agree with each other and with the console."""
    results = doc["results"]
    cases = root.findall("./testsuite/testcase")
    if not reported:
        # A run without a report is no pass: one more case, in error.
        check(cases and cases[0].get("name") == "report" and cases[0].find("error") is not None and
              root.find("testsuite").get("errors") == "1", f"{label}: no error case for the missing report")
        cases = cases[1:]
    check(len(cases) == len(results), f"{label}: {len(cases)} test cases, {len(results)} JSON entries")
    suite = root.find("testsuite")
    fails = sum(r["result"] == "FAIL" for r in results)
    check(suite.get("failures") == str(fails), f"{label}: failures=\"{suite.get('failures')}\", {fails} FAIL entries")
    for r, case in zip(results, cases):
        name = "%02d) %s" % (r["number"], r["description"])
        check(case.get("name") == name, f"{label}: test case {case.get('name')!r}, JSON {name!r}")
        failure = case.find("failure")
        if r["result"] == "FAIL":
            check(failure is not None and failure.get("message") == r["message"].rstrip("\r\n"),
                  f"{label}: failure of {r['number']}")
        if not reported:
            continue
        # The verbose listing: "NN) description", then "       : message"
        # for every record that did not pass, the message printed whole.
        check(name + "\n" in console, f"{label}: {name!r} not on the console")
        if r["result"] != "PASS":
            check("       : " + r["message"] + "\n" in console,
                  f"{label}: message of {r['number']} {r['message']!r} is not the console's")
    return results


def platform_with_catalogue(tmp, data):
    d = os.path.join(tmp, "platform")
    shutil.rmtree(d, ignore_errors=True)
    shutil.copytree(os.path.join(REPO, "platforms", "rav"), d)
    with open(os.path.join(d, "zyr-tests"), "wb") as f:
        f.write(data)
    return d


def catalogue_lines():
    with open(os.path.join(REPO, "zyr-tests"), encoding="ascii") as f:
        return [l.rstrip("\r\n") for l in f if "@" in l]


def main():
    tmp = tempfile.mkdtemp(prefix="iovet-results-")
    try:
        lines = catalogue_lines()
        # A family without -x reports its own assertions, not those from 101.
        family_lines = [l for l in lines if int(l.split("@")[0]) < 101]
        for family in FAMILIES:
            console, doc, root = run(tmp, ["--reference", family])
            results = common(family, console, doc, root)
            check(len(results) == len(family_lines),
                  f"{family}: {len(results)} entries for {len(family_lines)} catalogue lines")
            check(doc["status"] == "PASS", f"{family}: status {doc['status']!r}")
            placeholder = [r for r in results if r["number"] == 62]
            check(placeholder and placeholder[0]["message"].endswith("\n"), f"{family}: 62's message lost its line end")

        # Tables of one machine on another's hardware: each record names the
        # sources its assertion uses and whose each is, in both files.
        tables = os.path.join(REPO, "platforms", "mof", "acpi")
        console, doc, root = run(tmp, ["--reference", "rav", "--tables", tables])
        common("mixed sources", console, doc, root)
        by_number = {r["number"]: r for r in doc["results"]}
        check(by_number[19]["sources"] == {"dmar": "tables " + tables, "hpet": "tables " + tables,
                                           "chipset": "reference rav", "device-registers": "reference rav"},
              f"mixed sources: 19 names {by_number[19].get('sources')}")
        props = {p.get("name"): p.get("value") for p in root.findall("./testsuite/testcase[2]/properties/property")}
        check(props == {"source.dmar": "tables " + tables}, f"mixed sources: JUnit properties of 2: {props}")
        console, doc, root = run(tmp, ["--reference", "rav"])
        check(not any("sources" in r for r in doc["results"]), "one machine: no sources per record")

        failing = os.path.join(REPO, "tests", "data", "platforms", "rav-rmrr-limit-past-reserved")
        console, doc, root = run(tmp, ["--platform", failing])
        results = common("failing platform", console, doc, root)
        check(any(r["result"] == "FAIL" for r in results), "failing platform: no FAIL entry")

        # Every byte 0x80-0xFF, three or so per description, read as 8-bit text.
        high = bytes(range(0x80, 0x100))
        data, expected = b"", {}
        for k, line in enumerate(lines):
            extra = high[k * 3 % 128:k * 3 % 128 + 3] if k < 42 else high[126:]
            data += line.encode("ascii") + b" " + extra + b"\n"
            number, description = line.split("@", 1)
            expected[int(number)] = description + " " + extra.decode("latin-1")
        check(set(high) <= set(data), "the 8-bit catalogue lacks some byte 0x80-0xFF")
        console, doc, root = run(tmp, ["--platform", platform_with_catalogue(tmp, data)])
        for r in common("8-bit catalogue", console, doc, root):
            check(r["description"] == expected[r["number"]],
                  f"8-bit catalogue: {r['number']} {r['description']!r}, expected {expected[r['number']]!r}")

        # UCS-2 with a byte-order mark: Latin, Greek, CJK, a surrogate pair
        # (joined in the files) and a lone surrogate (U+FFFD in the files).
        extras = ["é ü ß", "Ω λ", "→ ≠ ∞", "日本語", "\U0001F600", "\ud800"]
        text, expected = "", {}
        for k, line in enumerate(lines):
            extra = extras[k % len(extras)]
            text += line + " " + extra + "\r\n"
            number, description = line.split("@", 1)
            expected[int(number)] = description + " " + extra.replace("\ud800", "\ufffd")
        data = b"\xff\xfe" + text.encode("utf-16-le", "surrogatepass")
        console, doc, root = run(tmp, ["--platform", platform_with_catalogue(tmp, data)])
        common("UCS-2 catalogue", console, doc, root)
        for r in doc["results"]:
            check(r["description"] == expected[r["number"]],
                  f"UCS-2 catalogue: {r['number']} {r['description']!r}, expected {expected[r['number']]!r}")
        check(len(doc["results"]) == len(family_lines), "UCS-2 catalogue: an entry is missing")

        # Without record 13 the run stops at assertion 13 with no report: the
        # files still hold what assertions 1-12 recorded.
        data = "".join(l + "\n" for l in lines if not l.startswith("13@")).encode("ascii")
        console, doc, root = run(tmp, ["--platform", platform_with_catalogue(tmp, data)])
        results = common("stopped run", console, doc, root, reported=False)
        check("Zyr Test Status" not in console, "stopped run: a report was printed")
        by_number = {r["number"]: r["result"] for r in results}
        check(all(by_number.get(n) == "PASS" for n in (1, 2, 3, 12)),
              f"stopped run: 1, 2, 3 and 12 are {[by_number.get(n) for n in (1, 2, 3, 12)]}")
    finally:
        shutil.rmtree(tmp, ignore_errors=True)
    for f in failures:
        print("FAIL:", f)
    print(f"{len(failures)} failures")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
