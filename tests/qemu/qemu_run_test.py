#!/usr/bin/env python3
"""Host checks of tools/qemu-run's own logic (no virtual machine): the
start-up script it writes, how it quotes arguments for the UEFI Shell, and
how it takes the application's output out of the firmware's console stream."""

import importlib.machinery
import importlib.util
import os
import sys
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
QEMU_RUN = os.path.join(os.path.dirname(os.path.dirname(HERE)), "tools", "qemu-run")

loader = importlib.machinery.SourceFileLoader("qemu_run", QEMU_RUN)
module_spec = importlib.util.spec_from_loader("qemu_run", loader)
qr = importlib.util.module_from_spec(module_spec)
loader.exec_module(qr)


def console(*runs, noise="UEFI Interactive Shell v2.2\r\nMapping table\r\n  FS0: Alias(s):F0a:\r\n"):
    """A serial stream as OVMF writes it: noise, then per run the markers
    around the application's output, with colours and CR LF line ends."""
    text = "\x1b[2J\x1b[01;01H\x1b[0m\x1b[37m\x1b[40m" + noise
    for n, (output, status) in enumerate(runs):
        text += "%s-%d\r\n" % (qr.BEGIN, n) + output
        if status is not None:
            text += "%s-%d %s\r\n" % (qr.END, n, status)
    return text


class Extraction(unittest.TestCase):
    def extract(self, raw, count):
        return qr.split_runs(qr.clean(raw), count)

    def test_output_between_markers_without_noise_or_escapes(self):
        raw = console(("Usage:\r\n\x1b[1m\x1b[31mFAIL\x1b[0m\r\n", "0x0"))
        self.assertEqual(self.extract(raw, 1), [("Usage:\nFAIL\n", "0x0")])

    def test_runs_are_kept_apart_and_in_order(self):
        raw = console(("first\r\n", "0x0"), ("second\r\n", "0x1"), ("", "0xE"))
        self.assertEqual(self.extract(raw, 3), [("first\n", "0x0"), ("second\n", "0x1"), ("", "0xE")])

    def test_output_without_final_line_end_keeps_its_last_line(self):
        raw = console(("banner\r\nERROR -- cut short", None)) + "%s-0 0x1\r\n" % qr.END
        self.assertEqual(self.extract(raw, 1), [("banner\nERROR -- cut short", "0x1")])

    def test_marker_text_inside_output_of_another_run_is_not_taken(self):
        raw = console(("%s-1 is just text\r\n" % qr.END, "0x0"), ("x\r\n", "0x0"))
        self.assertEqual(self.extract(raw, 2), [("%s-1 is just text\n" % qr.END, "0x0"), ("x\n", "0x0")])

    def test_unfinished_run_has_no_status_and_ends_the_list(self):
        raw = console(("started\r\n", None))
        self.assertEqual(self.extract(raw, 2), [("started\n", None)])

    def test_machine_that_never_reached_the_application(self):
        self.assertEqual(self.extract(console(), 1), [])

    def test_control_characters_other_than_line_ends_are_dropped(self):
        self.assertEqual(qr.clean("a\x00b\x08c\td\r\n\x1b(B\x1b7e"), "abc\td\ne")

    def test_status_is_written_in_upper_case_hex(self):
        self.assertEqual(qr.format_status("0x0"), "0x0")
        self.assertEqual(qr.format_status("0xe"), "0xE")
        self.assertEqual(qr.format_status("0xFFFFFFFFFFFFFFFF"), "0xFFFFFFFFFFFFFFFF")
        self.assertEqual(qr.format_status("garbage"), "garbage")


class Script(unittest.TestCase):
    def test_each_run_is_bracketed_and_the_machine_shuts_down(self):
        script = qr.startup_script([["-h"], []])
        lines = script.split("\r\n")
        self.assertEqual(lines[0], "@echo -off")
        self.assertIn("Iovet.efi -h", lines)
        self.assertIn("Iovet.efi", lines)
        self.assertLess(lines.index("echo %s-0" % qr.BEGIN), lines.index("Iovet.efi -h"))
        self.assertLess(lines.index("Iovet.efi -h"), lines.index("echo %s-0 %%lasterror%%" % qr.END))
        self.assertEqual(lines[-2], "reset -s")

    def test_arguments_are_quoted_for_the_shell(self):
        self.assertEqual(qr.shell_quote("-v"), "-v")
        self.assertEqual(qr.shell_quote("a b"), '"a b"')
        self.assertEqual(qr.shell_quote('say "hi"'), '"say ^"hi^""')
        self.assertEqual(qr.shell_quote("%path%"), '"^%path^%"')
        self.assertEqual(qr.shell_quote(""), '""')


if __name__ == "__main__":
    unittest.main(argv=[sys.argv[0]] + sys.argv[1:])
