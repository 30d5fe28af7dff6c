"""Start with Windows under Wine, with the real program, Wine's registry and files: ticking the menu
item in a copy started from a Downloads folder installs the program in the local application data
folder and registers it in the Run key; a newer build started later replaces the installed copy, an
older one leaves a newer copy of the product alone but replaces a test build; unticking takes the
value and the copy away."""
import glob
import os
import re
import struct

from harness import PREFIX, Wine, WineTestCase, exe, scratch_dir, shutil, wait_until
from test_instance import bring_up_desktop, helper, running_tray, tray_version
from test_launcher import reg, windows_path

RUN_KEY = r"HKCU\Software\Microsoft\Windows\CurrentVersion\Run"
VALUE = "Tarnwick Bridge"
ID_START_WITH_WINDOWS = 1003
ID_QUIT = 1005
OWN_VERSION = 1002000
NEWER_VERSION = 1002001


def user_folder():
    """The prefix's folder of the user Wine runs as (Unix path)."""
    found = [path for path in glob.glob(os.path.join(PREFIX, "drive_c", "users", "*"))
             if os.path.isdir(os.path.join(path, "AppData", "Local"))]
    assert len(found) == 1, found
    return found[0]


def run_value():
    """(type, data) of the Run value, or None."""
    done = reg("query", RUN_KEY, "/v", VALUE)
    if done.returncode != 0:
        return None
    for line in done.stdout.splitlines():
        match = re.match(r"^\s+%s\s+(REG_\w+)\s+(.*)$" % re.escape(VALUE), line.rstrip("\r\n"))
        if match:
            return match.group(1), match.group(2)
    return None


def content(path):
    try:
        with open(path, "rb") as f:
            return f.read()
    except OSError:
        return None


def with_file_version(program, major, minor, patch):
    """The program's bytes with another file version in its fixed file information."""
    at = program.find(struct.pack("<I", 0xFEEF04BD))
    assert at > 0 and program.find(struct.pack("<I", 0xFEEF04BD), at + 1) < 0
    ms, ls = (major << 16) | minor, patch << 16
    return program[:at + 8] + struct.pack("<II", ms, ls) + program[at + 16:]


class StartWithWindowsTest(WineTestCase):
    def setUp(self):
        super().setUp()
        user = os.path.basename(user_folder())
        self.folder = os.path.join(user_folder(), "AppData", "Local", "Tarnwick Bridge")
        self.copy = os.path.join(self.folder, "Tarnwick.exe")
        self.copy_windows = "C:\\users\\%s\\AppData\\Local\\Tarnwick Bridge\\Tarnwick.exe" % user
        self.clear()
        # The prefix's own Downloads leads into the home folder; the test keeps to a folder of its own.
        self.dir = scratch_dir()
        self.downloads = os.path.join(self.dir, "Downloads")
        os.makedirs(self.downloads)
        self.downloaded = os.path.join(self.downloads, "Tarnwick.exe")
        shutil.copy(exe("Tarnwick"), self.downloaded)
        bring_up_desktop()

    def tearDown(self):
        super().tearDown()
        self.clear()
        shutil.rmtree(self.dir, ignore_errors=True)

    def clear(self):
        reg("delete", RUN_KEY, "/v", VALUE, "/f")
        shutil.rmtree(self.folder, ignore_errors=True)

    def start(self, program, *args):
        process = Wine.start(program, *args)
        self.addCleanup(lambda: process.poll() is None and process.kill())
        return process

    def start_and_wait(self, program, version):
        process = self.start(program, "--startup")
        self.assertTrue(wait_until(lambda: tray_version() == version, timeout=60),
                        "%s did not come up" % program)
        return process

    def quit(self, process):
        helper("command", str(ID_QUIT))
        self.assertEqual(process.wait(timeout=60), 0)
        self.assertTrue(wait_until(lambda: running_tray() is None, timeout=30))

    def names(self):
        return sorted(os.listdir(self.folder))

    def leave_panel_file(self):
        with open(os.path.join(self.folder, "Korrinlink.html"), "w") as f:
            f.write("left from before\n")

    def test_tick_refresh_by_newer_kept_against_older_and_untick(self):
        expected_value = ("REG_SZ", '"%s" --startup' % self.copy_windows)
        os.makedirs(os.path.join(self.folder, "firmware"))
        for name in ("Tarnwick (1).exe", "Korrinlink.html", "notes.txt"):
            with open(os.path.join(self.folder, name), "w") as f:
                f.write("left from before\n")
        # A value of another type is no registration: the start-up leaves the folder alone.
        reg("add", RUN_KEY, "/v", VALUE, "/t", "REG_DWORD", "/d", "1", "/f")
        downloaded = self.start_and_wait(windows_path(self.downloaded), OWN_VERSION)
        self.assertFalse(os.path.exists(self.copy))

        # Tick from the downloaded copy: the menu's command toggles the value it finds off.
        helper("command", str(ID_START_WITH_WINDOWS))
        self.assertTrue(wait_until(lambda: run_value() == expected_value, timeout=30), run_value())
        self.assertEqual(content(self.copy), content(exe("Tarnwick")))
        self.assertEqual(self.names(), ["Tarnwick.exe", "firmware", "notes.txt"])

        # The newer build takes over from the running one and refreshes the copy and the value.
        reg("add", RUN_KEY, "/v", VALUE, "/d", "stale", "/f")
        newer = self.start_and_wait(exe("TarnwickNewer"), NEWER_VERSION)
        self.assertEqual(downloaded.wait(timeout=60), 0)
        self.assertEqual(content(self.copy), content(exe("TarnwickNewer")))
        self.assertEqual(run_value(), expected_value)
        self.quit(newer)

        # That was a test build, whose version resource does not name it ours: the product
        # replaces it at its next start although its version is higher.
        reg("add", RUN_KEY, "/v", VALUE, "/d", "stale", "/f")
        self.leave_panel_file()
        product = self.start_and_wait(exe("Tarnwick"), OWN_VERSION)
        self.assertEqual(content(self.copy), content(exe("Tarnwick")))
        self.assertEqual(run_value(), expected_value)
        self.assertNotIn("Korrinlink.html", self.names())
        self.quit(product)

        # A newer copy of the product itself stays: the older build leaves it, its value and its
        # folder as they are.
        newer_product = with_file_version(content(exe("Tarnwick")), 1, 2, 1)
        with open(self.copy, "wb") as f:
            f.write(newer_product)
        reg("add", RUN_KEY, "/v", VALUE, "/d", "stale", "/f")
        self.leave_panel_file()
        older = self.start_and_wait(exe("Tarnwick"), OWN_VERSION)
        self.assertEqual(content(self.copy), newer_product)
        self.assertEqual(run_value(), ("REG_SZ", "stale"))
        self.assertIn("Korrinlink.html", self.names())

        # Untick: the value and the copy go; the folder and what is not the program's stay.
        helper("command", str(ID_START_WITH_WINDOWS))
        self.assertTrue(wait_until(lambda: run_value() is None, timeout=30), run_value())
        self.assertTrue(wait_until(lambda: not os.path.exists(self.copy), timeout=30))
        self.assertEqual(self.names(), ["firmware", "notes.txt"])
        self.assertIsNone(older.poll())

    def test_run_value_is_stored_as_a_terminated_string(self):
        downloaded = self.start_and_wait(windows_path(self.downloaded), OWN_VERSION)
        helper("command", str(ID_START_WITH_WINDOWS))
        self.assertTrue(wait_until(lambda: run_value() is not None, timeout=30))
        self.quit(downloaded)
        Wine.kill_all()  # the server writes the registry out as it ends
        with open(os.path.join(PREFIX, "user.reg"), encoding="utf-8", errors="replace") as f:
            saved = f.read()
        # Wine saves a REG_SZ in string form only when its stored size ends with the terminator.
        data = '"%s" --startup' % self.copy_windows
        escaped = data.replace("\\", "\\\\").replace('"', '\\"')
        self.assertIn('"%s"="%s"\n' % (VALUE, escaped), saved)


if __name__ == "__main__":
    import unittest
    unittest.main()
