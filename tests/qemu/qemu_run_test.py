#!/usr/bin/env python3
"""Host checks of tools/qemu-run's own logic (no virtual machine): the
start-up script it writes, how it quotes arguments for the UEFI Shell, how
it takes the application's output out of the firmware's console stream, the
lab's staging and its read-back; and the QEMU checks' expectation file."""

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

sys.path.insert(0, HERE)
sys.dont_write_bytecode = True  # no __pycache__ in the source tree
import qemu_checks  # noqa: E402


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


class Lab(unittest.TestCase):
    def staged_reads(self, family, e1, change=None):
        """The console text of the staging read-back as the shell prints it,
        every register as staged unless change names one with its value."""
        lines = []
        for what, value in qr.lab_expected(family, e1):
            if what == "stand-in BAR low":
                value &= ~0xF  # the shell shows the type bits as they read
            if change and what == change[0]:
                value = change[1]
            lines.append("0x%X" % value)
        return "%s\n%s\n%s\n" % (qr.LAB_BEGIN, "\n".join(lines), qr.LAB_END)

    def test_staging_that_held_has_no_problem(self):
        for family in qr.FAMILIES:
            self.assertEqual(qr.staging_problems(self.staged_reads(family, 0xA0), family, 0xA0), [], family)

    def test_a_register_that_did_not_hold_is_named(self):
        problems = qr.staging_problems(self.staged_reads("rav", 0, ("MCHBAR", 0)), "rav", 0)
        self.assertEqual(problems, ["MCHBAR reads 0x0, staged 0xFED10001"])
        self.assertEqual(qr.staging_problems("no markers at all", "rav", 0), ["the staging did not run"])
        cut = self.staged_reads("qen", 0).split("\n")
        del cut[-3]  # the last read is lost
        self.assertIn("nothing", qr.staging_problems("\n".join(cut), "qen", 0)[-1])

    def test_each_family_stages_its_own_pch_source(self):
        def addresses(family):
            return [a for _, a, _, _ in qr.lab_registers(family, 0)]
        self.assertIn("00001F016C -pci", addresses("rav"))           # P2SB IBDF
        self.assertIn("00001F01E1 -pci", addresses("mof"))           # P2SB hide register
        self.assertIn("00000D006C -pci", addresses("gux"))           # B0:D13:F0
        self.assertNotIn("00001F01E1 -pci", addresses("gux"))
        self.assertIn("FED1F404 -mmio", addresses("qen"))             # HPTC at RCBA + 0x3404
        self.assertIn("00001F007E -pci", addresses("qen"))           # the eighth HBDF
        window = qr.lab_window("gux")
        self.assertEqual(window[0x6C80:0x6C88], (0xFED90001).to_bytes(8, "little"))
        self.assertEqual(len(window), qr.MCHBAR_SIZE)

    def test_hide_register_staged_before_and_read_after_every_application_run(self):
        lines = qr.startup_script([["-t"], "memmap", ["-v"]], "rav", 0xA0).split("\r\n")
        stage = qr.mm_write(qr.e1_address(), 1, 0xA0)
        read = qr.mm_read(qr.e1_address(), 1)
        runs = lines[lines.index("echo %s" % qr.LAB_END):]
        self.assertEqual(runs[1:3], [stage, "echo %s-0" % qr.BEGIN])
        self.assertEqual(runs[4:7], ["echo %s-0 %%lasterror%%" % qr.END, "echo %s-0" % qr.E1_MARK, read])
        self.assertEqual(runs.count(stage), 2)  # before each application run, not before the shell command
        self.assertEqual(runs.count(read), 2)
        self.assertIn("memmap", lines)
        self.assertEqual(lines[lines.index("memmap") + 1], "echo %s-1 %%lasterror%%" % qr.END)
        self.assertNotIn(read, qr.startup_script([["-t"]], "gux").split("\r\n"))
        self.assertNotIn("echo " + qr.LAB_BEGIN, qr.startup_script([["-t"]]).split("\r\n"))

    def test_hide_register_read_backs_are_taken_per_run(self):
        text = "%s-0\n0xA0\n%s-1\n  0x1\n%s-7\n0x5\n" % (qr.E1_MARK, qr.E1_MARK, qr.E1_MARK)
        self.assertEqual(qr.read_backs(text, 2), {0: 0xA0, 1: 0x01})

    def test_batch_lines(self):
        self.assertEqual(qr.parse_batch("-v\n# note\n!memmap -b\n\n-x \"a b\"\n"),
                         [["-v"], "memmap -b", [], ["-x", "a b"]])


class Expectations(unittest.TestCase):
    def parse(self, text):
        path = os.path.join(self.tmp, "expected")
        with open(path, "w") as f:
            f.write(text)
        return qemu_checks.read_expected(path)

    def setUp(self):
        import tempfile
        self.tmp = tempfile.mkdtemp()

    def tearDown(self):
        import shutil
        shutil.rmtree(self.tmp)

    def test_the_lab_file_pins_every_record_and_each_cause(self):
        expected = qemu_checks.read_expected(qemu_checks.EXPECTED)
        self.assertEqual(len(expected), 55)
        self.assertTrue(all(cause for result, cause in expected.values() if result != "PASS"))

    def test_a_result_other_than_pass_needs_its_cause(self):
        self.assertEqual(self.parse("# c\n01 PASS\n16 FAIL  no flag\n"), {1: ("PASS", ""), 16: ("FAIL", "no flag")})
        for bad in ("16 FAIL\n", "16 FAILED x\n", "x PASS\n", "01 PASS\n01 PASS\n"):
            with self.assertRaises(ValueError, msg=bad):
                self.parse(bad)

    def test_every_changed_result_is_named(self):
        expected = {1: ("PASS", ""), 16: ("FAIL", "no flag"), 62: ("N/A", "placeholder")}
        report = ("01) one\nResult : PASS\n---\n16) sixteen\nResult : PASS\n---\n"
                  "20) twenty\nResult : WARNING\n       : No HPET scope\n---\n")
        lines = qemu_checks.differences(expected, qemu_checks.report_results(report))
        self.assertEqual(len(lines), 3)
        self.assertTrue(lines[0].startswith("assertion 16: expected FAIL (no flag), got PASS"))
        self.assertTrue(lines[1].startswith("assertion 20: WARNING, not in"))
        self.assertTrue(lines[2].startswith("assertion 62: expected N/A, not in the report"))

    def test_page_prompts_come_out_whole(self):
        prompt = qemu_checks.PAGE_PROMPT
        paged = "22) x\nResult : FAIL\n       : not reported in corre" + prompt + "\nsponding DRHD.\n" + prompt + "\nEnd\n"
        self.assertEqual(qemu_checks.without_prompts(paged),
                         "22) x\nResult : FAIL\n       : not reported in corresponding DRHD.\nEnd\n")


if __name__ == "__main__":
    unittest.main(argv=[sys.argv[0]] + sys.argv[1:])
