#!/usr/bin/env python3
"""QEMU check of the shell's manual page: "Iovet.efi -?" never reaches the
application (the UEFI Shell runs "help Iovet.efi" instead), so the shell must
find Iovet.man beside the image and print it.

Usage: manual_page_check.py [--image FILE]

Exit status 0 when the check passed, 1 when it failed, 77 when QEMU or the
image is missing (CTest reports it as skipped).
"""

import os
import shutil
import subprocess
import sys
import tempfile

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(os.path.dirname(HERE))
QEMU_RUN = os.path.join(ROOT, "tools", "qemu-run")
SYNOPSIS = "Iovet.efi [-h] [-d] [-p] [-t] [-v]"


def main():
    args = sys.argv[1:]
    image = os.environ.get("IOVET_EFI_IMAGE", os.path.join(ROOT, "build", "efi", "Iovet.efi"))
    if "--image" in args:
        image = args[args.index("--image") + 1]
    if not os.path.isfile(image):
        print("skipped: %s not found (make efi builds it)" % image)
        return 77
    if not shutil.which(os.environ.get("QEMU", "qemu-system-x86_64")):
        print("skipped: qemu-system-x86_64 not installed")
        return 77
    with tempfile.TemporaryDirectory(prefix="iovet-man-") as work:
        batch = os.path.join(work, "batch")
        with open(batch, "w") as f:
            f.write("-?\n-h\n")
        proc = subprocess.run([sys.executable, QEMU_RUN, "--image", image, "--batch", batch],
                              stdin=subprocess.DEVNULL, stdout=subprocess.PIPE, stderr=subprocess.PIPE, timeout=300)
    out = proc.stdout.decode("utf-8", "replace")
    err = proc.stderr.decode("utf-8", "replace")
    runs = dict((chunk.partition("\n")[0].strip(), chunk.partition("\n")[2])
                for chunk in out.split("==> Iovet.efi ")[1:])
    page, usage = runs.get("-?", ""), runs.get("-h", "")
    failures = []

    def check(condition, what, text):
        print(("ok    " if condition else "FAIL  ") + what)
        if not condition:
            failures.append(what)
            print("      | " + "\n      | ".join(text.splitlines()[:60]))

    check(proc.returncode == 0, "qemu-run boots, runs both commands and shuts the machine down", err)
    lines = page.splitlines()
    check(SYNOPSIS in lines, "-? prints the manual page's SYNOPSIS line", page)
    check("  -v      Verbose option." in lines and "EXAMPLES:" in lines,
          "-? prints the options and the examples of the manual page", page)
    check("Usage:" not in page and "*****" not in page, "-? does not start the application", page)
    check(usage.startswith("Usage:   " + SYNOPSIS + "\n"), "-h still reaches the application's usage text", usage)
    if failures:
        print("%d check(s) failed" % len(failures))
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
