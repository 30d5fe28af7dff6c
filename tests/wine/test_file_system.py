"""The file-system and registry adapters against Wine (file_system_probe.exe): files in the local
application data folder, registry values under HKCU, the version resources of the two program
builds, and a removable, labelled drive with an INFO_UF2.TXT that gets a TARNWICK.UF2 copied
onto it. The file and registry checks are the ones the simulated world meets on Linux
(tests/sim/port_conformance.h).
"""
import glob
import os

from harness import PREFIX, Wine, WineTestCase, exe, scratch_dir, shutil
from test_launcher import WINE_DRIVES, reg, windows_path

DRIVE = "n:"
INFO_UF2 = ("UF2 Bootloader v1.0\nModel: Raspberry Pi RP2350\nBoard-ID: RP2350\n"
            + "".join("padding line %03d to go past the first 599 bytes\n" % i for i in range(20)))


def probe(*args, timeout=180):
    return Wine.run(exe("file_system_probe"), *args, timeout=timeout)


def failed_checks(done):
    return [line for line in done.stdout.splitlines() if line.startswith("FAIL")]


def lines_starting(done, word):
    return [line[len(word) + 1:] for line in done.stdout.splitlines() if line.startswith(word + " ")]


class FileSystemTest(WineTestCase):
    def tearDown(self):
        super().tearDown()
        for folder in glob.glob(os.path.join(PREFIX, "drive_c", "users", "*", "AppData", "Local",
                                             "Tarnwick Probe *")):
            shutil.rmtree(folder, ignore_errors=True)

    def test_files_in_local_app_data_behave_as_the_simulation_expects(self):
        done = probe("files")
        self.assertEqual(failed_checks(done), [], done.stdout + done.stderr[-2000:])
        self.assertEqual(done.returncode, 0, done.stdout + done.stderr[-2000:])
        self.assertTrue(lines_starting(done, "base")[0].lower().startswith("c:\\users\\"))

    def test_registry_values_are_written_read_and_deleted_under_hkcu(self):
        done = probe("registry")
        self.assertEqual(failed_checks(done), [], done.stdout + done.stderr[-2000:])
        self.assertEqual(done.returncode, 0)
        self.assertNotEqual(reg("query", r"HKCU\Software\Tarnwick Probe").returncode, 0,
                            "the probe leaves nothing behind")

    def test_version_resources_of_the_two_builds(self):
        text = os.path.join(scratch_dir(), "notes.txt")
        with open(text, "w") as f:
            f.write("no resources here\n")
        try:
            done = probe("version", windows_path(exe("Tarnwick")), windows_path(exe("TarnwickNewer")),
                         windows_path(text))
        finally:
            shutil.rmtree(os.path.dirname(text), ignore_errors=True)
        versions = [line.rsplit(" ", 2)[-2:] for line in lines_starting(done, "version")]
        self.assertEqual(len(versions), 3, done.stdout)
        self.assertEqual(versions[0][1], "1.2.0.0")
        self.assertEqual(versions[1][1], "1.2.1.0")
        self.assertEqual(versions[2][0], "none", done.stdout)
        # Only the product's resource names it ours; the test build's must not, or a test build
        # that installed itself would keep the product from replacing it.
        self.assertEqual(lines_starting(done, "names"), [
            "Tarnwick.exe|Tarnwick Bridge",
            "TarnwickNewer-test.exe|Tarnwick Bridge test build",
            "-|-"], done.stdout)


class Rp2350DriveCase(WineTestCase):
    """A folder shown to Wine as a removable drive labelled "RP2350" with the boot ROM's
    INFO_UF2.TXT, as a board in update mode brings up. Subclasses name the drive letter."""

    drive = DRIVE

    def setUp(self):
        super().setUp()
        self.dir = scratch_dir()
        self.root = os.path.join(self.dir, "rp2350-drive")
        os.makedirs(self.root)
        with open(os.path.join(self.root, ".windows-label"), "w") as f:
            f.write("RP2350\n")
        with open(os.path.join(self.root, "INFO_UF2.TXT"), "w", newline="\n") as f:
            f.write(INFO_UF2)
        self.link = os.path.join(PREFIX, "dosdevices", self.drive)
        if os.path.islink(self.link):
            os.unlink(self.link)
        os.symlink(self.root, self.link)
        reg("add", WINE_DRIVES, "/v", self.drive, "/d", "floppy", "/f")
        # The mount manager reads drive types when it starts.
        Wine.kill_all()

    def tearDown(self):
        reg("delete", WINE_DRIVES, "/v", self.drive, "/f")
        if os.path.islink(self.link):
            os.unlink(self.link)
        super().tearDown()
        shutil.rmtree(self.dir, ignore_errors=True)


class RemovableDriveTest(Rp2350DriveCase):
    def test_type_label_info_file_and_a_chunked_copy(self):
        size = 3 * 32768 + 1696
        done = probe("drive", DRIVE.upper(), str(size))
        self.assertEqual(done.returncode, 0, done.stdout + done.stderr[-2000:])
        self.assertEqual(lines_starting(done, "logical"), ["yes"])
        self.assertEqual(lines_starting(done, "type"), ["removable"])
        self.assertEqual(lines_starting(done, "label"), ["RP2350"])
        info = done.stdout.split("info ", 1)[1]
        self.assertTrue(info.startswith("599 " + INFO_UF2[:599]), info[:200])
        self.assertEqual(lines_starting(done, "copy"), ["%d bytes in 4 chunks" % size])
        with open(os.path.join(self.root, "TARNWICK.UF2"), "rb") as f:
            copied = f.read()
        self.assertEqual(copied, bytes((i * 31 + i // 512) & 0xFF for i in range(size)))


if __name__ == "__main__":
    import unittest
    unittest.main()
