"""The tray's Win32 adapters against Wine: windows, messages, mutexes, overlapped I/O, UTF-16."""
import os

from harness import Wine, WineTestCase, exe
from test_instance import bring_up_desktop


class TrayAdapterTest(WineTestCase):
    def test_adapters_behave_as_windows_does(self):
        program = exe("tray_adapter_check")
        if not os.path.exists(program):
            self.skipTest("tray_adapter_check.exe is not built")
        bring_up_desktop()
        done = Wine.run(program, timeout=120)
        failed = [line for line in done.stdout.splitlines() if line.startswith("FAIL")]
        self.assertEqual(failed, [], done.stdout + done.stderr)
        self.assertEqual(done.returncode, 0, done.stdout + done.stderr)


if __name__ == "__main__":
    import unittest
    unittest.main()
