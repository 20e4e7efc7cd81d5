#!/usr/bin/env python3
"""Checks of the release image as users copy it.

Usage: image_checks.py GROUP

  shipped       build/efi/Iovet.efi (IOVET_EFI_IMAGE elsewhere) within its
                size budget, without debug information, with a fixed header
                time stamp, and with the catalogue and the manual page beside
                it as the repository holds them
  reproducible  builds the release image twice, from the repository and from
                a copy of its sources at another path, in two build
                directories, and compares the two images with the banner's
                build stamp masked

Exit status 0 when every check passed, 1 when one failed, 77 when the image
or the cross toolchain is missing (CTest reports the group as skipped).
"""

import os
import re
import shutil
import subprocess
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(os.path.dirname(HERE))
sys.path.insert(0, HERE)
from pe_image import BUDGET, PeImage  # noqa: E402

# The banner's build stamp: the compiler's __DATE__ and __TIME__ strings.
STAMP = re.compile(rb"(?:Jan|Feb|Mar|Apr|May|Jun|Jul|Aug|Sep|Oct|Nov|Dec) [ 123][0-9] [0-9]{4} "
                   rb"[0-2][0-9]:[0-5][0-9]:[0-6][0-9]\0")

failures = []


def check(condition, what, detail=""):
    print(("ok    " if condition else "FAIL  ") + what)
    if not condition:
        failures.append(what)
        if detail:
            print("      " + detail.replace("\n", "\n      "))


def same_file(a, b):
    try:
        with open(a, "rb") as fa, open(b, "rb") as fb:
            return fa.read() == fb.read()
    except OSError:
        return False


def group_shipped():
    image = os.environ.get("IOVET_EFI_IMAGE", os.path.join(ROOT, "build", "efi", "Iovet.efi"))
    if not os.path.isfile(image):
        print("skipped: %s not found (make efi builds it)" % image)
        return 77
    with open(image, "rb") as f:
        data = f.read()
    pe = PeImage(data)
    print("%s: %d bytes, budget %d (%+d)\n%s" % (image, len(data), BUDGET, len(data) - BUDGET, pe.describe()))
    check(len(data) <= BUDGET, "the image fits its budget of %d bytes" % BUDGET, "%d bytes" % len(data))
    debug_sections = [s["name"] for s in pe.sections if s["name"].startswith((".debug", "/"))]
    check(not debug_sections and pe.debug_directory() == (0, 0), "no debug information in the image",
          "debug sections %s, debug directory %s" % (debug_sections, pe.debug_directory()))
    check(pe.timestamp == 0, "header time stamp fixed at 0", "0x%08X" % pe.timestamp)
    writable_code = [s["name"] for s in pe.sections if s["flags"] & 0x20000000 and s["flags"] & 0x80000000]
    check(not writable_code, "no section both executable and writable", str(writable_code))
    here = os.path.dirname(os.path.abspath(image))
    for name in ("zyr-tests", "Iovet.man"):
        check(same_file(os.path.join(here, name), os.path.join(ROOT, name)),
              "%s beside the image is the repository's" % name)
    return 1 if failures else 0


# What the image is built from, for a second checkout at another path.
IMAGE_SOURCES = ("CMakeLists.txt", "cmake", "src", "zyr-tests", "Iovet.man")


def copy_sources(destination):
    os.mkdir(destination)
    for name in IMAGE_SOURCES:
        source = os.path.join(ROOT, name)
        if os.path.isdir(source):
            shutil.copytree(source, os.path.join(destination, name))
        else:
            shutil.copy(source, os.path.join(destination, name))
    return destination


def build(source, directory):
    configure = ["cmake", "-S", source, "-B", directory, "-DIOVET_TARGET=efi",
                 "-DCMAKE_TOOLCHAIN_FILE=" + os.path.join(source, "cmake", "efi-toolchain.cmake")]
    for command in (configure, ["cmake", "--build", directory, "-j", "2"]):
        proc = subprocess.run(command, stdin=subprocess.DEVNULL, stdout=subprocess.PIPE, stderr=subprocess.STDOUT)
        if proc.returncode != 0:
            print(proc.stdout.decode("utf-8", "replace")[-4000:])
            return None
    with open(os.path.join(directory, "Iovet.efi"), "rb") as f:
        return f.read()


def stamp_spans(data):
    return [m.span() for m in STAMP.finditer(data)]


def masked(data, spans):
    out = bytearray(data)
    for start, end in spans:
        out[start:end] = b"\0" * (end - start)
    return bytes(out)


def group_reproducible():
    if not (shutil.which("clang++") or shutil.which("clang++-14")) or \
            not (shutil.which("lld-link") or shutil.which("lld-link-14")):
        print("skipped: clang++ or lld-link not installed")
        return 77
    with tempfile.TemporaryDirectory(prefix="iovet-repro-") as work:
        # The first build from the repository, the second from a copy of its
        # sources at another path, each in a build directory of its own.
        images = []
        for n, source in enumerate((ROOT, copy_sources(os.path.join(work, "checkout")))):
            began = time.monotonic()
            data = build(source, os.path.join(work, "build-%d" % n))
            check(data is not None, "release build %d" % (n + 1))
            if data is None:
                return 1
            print("      build %d: %.1f s, %d bytes" % (n + 1, time.monotonic() - began, len(data)))
            images.append(data)
    a, b = images
    spans = [stamp_spans(a), stamp_spans(b)]
    check(len(spans[0]) == 1 and spans[0] == spans[1],
          "each image holds one build stamp, at the same offset", str(spans))
    check(PeImage(a).timestamp == 0 and PeImage(b).timestamp == 0, "both header time stamps are 0")
    check(len(a) == len(b), "both images have the same size", "%d and %d bytes" % (len(a), len(b)))
    if len(a) == len(b) and spans[0] == spans[1]:
        ma, mb = masked(a, spans[0]), masked(b, spans[0])
        differ = [i for i in range(len(ma)) if ma[i] != mb[i]]
        pe = PeImage(a)
        where = sorted(set(pe.section_at(i) for i in differ))
        check(not differ, "the images are equal but for the build stamp",
              "%d bytes differ, first at 0x%X, in %s" % (len(differ), differ[0], ", ".join(where)) if differ else "")
        for n, image in enumerate(images):
            stamps = [image[s:e].rstrip(b"\0").decode() for s, e in spans[0]]
            print("      build %d stamp (masked): %s" % (n + 1, " ".join(stamps)))
    return 1 if failures else 0


GROUPS = {"shipped": group_shipped, "reproducible": group_reproducible}


def main():
    if len(sys.argv) != 2 or sys.argv[1] not in GROUPS:
        sys.stderr.write(__doc__)
        return 2
    return GROUPS[sys.argv[1]]()


if __name__ == "__main__":
    sys.exit(main())
