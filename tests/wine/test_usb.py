"""The WinUSB adapter under Wine, which has no USB boards: finding the PICOBOOT class finds nothing
without failing, and opening a board that is not there fails at the "open" step with the Windows
error, before WinUSB is asked for anything."""
import os
import re
import unittest

from harness import Wine, exe


class UsbAdapterTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        Wine.up()
        program = exe("usb_probe")
        if not os.path.exists(program):
            raise unittest.SkipTest("usb_probe.exe is not built")
        done = Wine.run(program, timeout=120)
        cls.output = done.stdout + done.stderr
        cls.returncode = done.returncode
        cls.lines = {}
        for line in done.stdout.splitlines():
            what, _, outcome = line.partition(": ")
            cls.lines[what] = outcome

    def line(self, what):
        self.assertIn(what, self.lines, self.output)
        return self.lines[what]

    def test_the_program_loads_and_runs_to_its_end(self):
        # The program imports winusb.dll and cfgmgr32.dll; a missing export would stop it before
        # its first line.
        self.assertEqual(self.returncode, 0, self.output)

    def test_no_picoboot_interface_is_an_empty_list_not_a_failure(self):
        self.assertEqual(self.line("list picoboot"), "ok 0")
        self.assertEqual(self.line("list picoboot lower case"), "ok 0")

    def test_present_interfaces_come_with_their_paths_and_the_old_entries_go(self):
        match = re.fullmatch(r"ok (\d+)(.*)", self.line("list hid"))
        self.assertIsNotNone(match, self.output)
        count = int(match.group(1))
        self.assertLessEqual(count, 4)
        entries = re.findall(r"\[([^|\]]*) \| ([^\]]*)\]", match.group(2))
        self.assertEqual(len(entries), count)
        for path, _parent in entries:
            self.assertTrue(path.lower().startswith("\\\\?\\hid#"), path)
        self.assertNotIn("stale", self.line("list hid"))
        self.assertEqual(self.line("list hid none wanted"), "ok 0")

    def test_a_class_that_is_not_a_guid_fails_the_list(self):
        self.assertEqual(self.line("list not a guid"), "fail 0")

    def test_opening_a_missing_board_fails_at_the_open_step(self):
        match = re.fullmatch(r"fail step=open error=(\d+)", self.line("open missing board"))
        self.assertIsNotNone(match, self.output)
        self.assertIn(int(match.group(1)), (2, 3))  # file or path not found
        self.assertRegex(self.line("open empty path"), r"^fail step=open error=[1-9]\d*$")


if __name__ == "__main__":
    unittest.main()
