"""The board watcher through the real Win32 adapters under Wine (watcher_probe.exe): the firmware
side built as Tarnwick.exe builds it, making watcher passes over Wine's drives, its temporary
folder and its windows. Wine has no USB boards, so a board shows up only as its UF2 drive: a
removable Wine drive with a label (.windows-label) and an INFO_UF2.TXT in its root.
"""
import os
import subprocess
import time

from harness import PREFIX, Wine, WineTestCase, exe, scratch_dir, shutil, wait_until
from test_launcher import WINE_DRIVES, reg

RP2350_INFO = "UF2 Bootloader v1.0\r\nModel: Raspberry Pi RP2350\r\nBoard-ID: RP2350\r\n"
RP2040_INFO = "UF2 Bootloader v3.0\r\nModel: Raspberry Pi RP2\r\nBoard-ID: RPI-RP2\r\n"
NO_USB = "Windows hasn't given this app the board's USB update interface"
MARKER = "tarnwick-hands-off"


class Probe:
    """What one watcher_probe run printed: the "what: value" lines, the passes and notices."""

    def __init__(self, done):
        self.output = done.stdout + done.stderr[-2000:]
        self.returncode = done.returncode
        self.values = {}
        self.passes = []
        self.notices = {}
        for line in done.stdout.splitlines():
            if line.startswith("pass "):
                head, fields = line.split(": ", 1)
                before, _, why = fields.partition(" why=")
                record = dict(item.split("=", 1) for item in before.split())
                record["why"] = why
                record["after_ms"] = int(head.split("+")[1])
                self.passes.append(record)
            elif line.startswith("notice "):
                number, text = line[len("notice "):].split(": ", 1)
                self.notices[int(number)] = text.split(" | ")
            elif ": " in line:
                what, value = line.split(": ", 1)
                self.values[what] = value
            elif line.endswith(":"):
                self.values[line[:-1]] = ""

    def board(self, number=1):
        """The board record after pass `number`, in the fields the tests compare."""
        p = self.passes[number - 1]
        return (p["station"], p["present"], p["usb"], p["drive"], p["read"])


class WatcherTest(WineTestCase):
    def setUp(self):
        super().setUp()
        self.dir = scratch_dir()
        self.letters = []
        self.marker = None

    def tearDown(self):
        for letter in self.letters:
            reg("delete", WINE_DRIVES, "/v", letter, "/f")
            link = os.path.join(PREFIX, "dosdevices", letter)
            if os.path.islink(link):
                os.unlink(link)
        if self.marker and os.path.exists(self.marker):
            os.unlink(self.marker)
        super().tearDown()
        shutil.rmtree(self.dir, ignore_errors=True)

    def add_drive(self, letter, label, info, wine_type="floppy"):
        root = os.path.join(self.dir, letter[0])
        os.makedirs(root)
        with open(os.path.join(root, ".windows-label"), "w") as f:
            f.write(label + "\n")
        with open(os.path.join(root, "INFO_UF2.TXT"), "w", newline="") as f:
            f.write(info)
        link = os.path.join(PREFIX, "dosdevices", letter)
        if os.path.islink(link):
            os.unlink(link)
        os.symlink(root, link)
        reg("add", WINE_DRIVES, "/v", letter, "/d", wine_type, "/f")
        self.letters.append(letter)

    def probe(self, *pauses_ms):
        done = Wine.run(exe("watcher_probe"), *[str(p) for p in pauses_ms], timeout=180)
        probe = Probe(done)
        self.assertEqual(probe.returncode, 0, probe.output)
        self.assertEqual(len(probe.passes), 1 + len(pauses_ms), probe.output)
        return probe

    def marker_path(self):
        """The hands-off marker's Unix path in Wine's temporary folder, as the program sees it."""
        temp = self.probe().values["temp"]
        done = subprocess.run(["winepath", "-u", temp], env=Wine.env(), capture_output=True,
                              text=True, timeout=60)
        folder = done.stdout.strip()
        self.assertTrue(os.path.isdir(folder), "%r -> %r" % (temp, done.stdout + done.stderr))
        self.marker = os.path.join(folder, MARKER)
        return self.marker

    def test_a_removable_rp2350_drive_is_a_board_without_usb_that_is_given_up_on_after_6_s(self):
        # In letter order: an RP2040 board's drive and a fixed drive labelled RP2350 come first
        # and are passed over.
        self.add_drive("p:", "RPI-RP2", RP2040_INFO)
        self.add_drive("q:", "RP2350", RP2350_INFO, wine_type="hd")
        self.add_drive("r:", "rp2350", RP2350_INFO)
        Wine.kill_all()  # the mount manager reads drive types when it starts

        probe = self.probe(6200)
        self.assertEqual(probe.values["built-in"], "1", probe.output)
        self.assertEqual(probe.values["picoboot list"], "ok 0", probe.output)
        self.assertEqual(probe.values["picoboot found"], "0", probe.output)
        self.assertEqual(probe.values["station"], "no", probe.output)
        self.assertEqual(probe.values["drive"], "R:", probe.output)
        self.assertEqual(probe.values["labelled"].split(), ["P:", "Q:", "R:"], probe.output)

        self.assertEqual(probe.board(1), ("0", "1", "0", "R:", "0"), probe.output)
        self.assertEqual(probe.passes[0]["why"], "")
        self.assertNotIn(1, probe.notices, "no advice before the board is read or given up on")
        self.assertGreaterEqual(probe.passes[1]["after_ms"], 6200)
        self.assertEqual(probe.board(2), ("0", "1", "0", "R:", "-1"), probe.output)
        self.assertEqual(probe.passes[1]["why"], NO_USB)
        self.assertEqual(probe.notices.get(2), ["information", "Dongle in update mode",
                                                "Open the panel to install firmware on it."],
                         probe.output)

    def test_an_rp2040_drive_and_a_fixed_rp2350_drive_are_not_boards(self):
        self.add_drive("p:", "RPI-RP2", RP2040_INFO)
        self.add_drive("q:", "RP2350", RP2350_INFO, wine_type="hd")
        Wine.kill_all()
        probe = self.probe()
        self.assertEqual(probe.values["drive"], "none", probe.output)
        # Both carry a boot ROM's label; only the drive check before a copy looks at that alone.
        self.assertEqual(probe.values["labelled"].split(), ["P:", "Q:"], probe.output)
        self.assertEqual(probe.board(), ("0", "0", "0", "none", "0"), probe.output)
        self.assertEqual(probe.notices, {})

    def test_a_fresh_hands_off_marker_holds_the_watcher_back(self):
        self.add_drive("r:", "RP2350", RP2350_INFO)
        Wine.kill_all()
        marker = self.marker_path()
        # Age of the marker's last write in seconds (negative: dated in the future) and whether
        # the watcher stands back. Wine takes a moment to start the probe, hence 100 s and not
        # 119 s for the fresh side.
        for age, fresh in ((0, True), (100, True), (121, False), (-600, True), (3600, False)):
            with self.subTest(age=age):
                with open(marker, "w") as f:
                    f.write("flashing\n")
                stamp = time.time() - age
                os.utime(marker, (stamp, stamp))
                probe = self.probe()
                self.assertEqual(probe.values["marker"], "fresh" if fresh else "stale",
                                 probe.output)
                self.assertEqual(probe.values["station"], "yes" if fresh else "no")
                if fresh:
                    self.assertEqual(probe.board(), ("1", "0", "0", "none", "0"), probe.output)
                else:
                    self.assertEqual(probe.board(), ("0", "1", "0", "R:", "0"), probe.output)
        os.unlink(marker)
        self.assertEqual(self.probe().values["marker"], "stale")

    def test_the_bench_tools_window_holds_the_watcher_back_until_it_closes(self):
        self.add_drive("r:", "RP2350", RP2350_INFO)
        Wine.kill_all()
        rig = Wine.start(exe("twmsg_helper"), "rig")
        try:
            self.assertEqual(rig.stdout.readline().strip(), "ready")
            probe = self.probe()
            self.assertEqual(probe.values["station"], "yes", probe.output)
            self.assertEqual(probe.values["marker"], "stale", probe.output)
            self.assertEqual(probe.board(), ("1", "0", "0", "none", "0"), probe.output)
            self.assertEqual(probe.notices, {})

            closed = Wine.run(exe("twmsg_helper"), "close-rig")
            self.assertEqual(closed.stdout.strip(), "closed", closed.stdout + closed.stderr)
            rig.wait(timeout=60)
        finally:
            if rig.poll() is None:
                rig.kill()
                rig.wait()
            rig.stdout.close()
            rig.stderr.close()

        probe = self.probe()
        self.assertEqual(probe.values["station"], "no", probe.output)
        self.assertEqual(probe.board(), ("0", "1", "0", "R:", "0"), probe.output)


if __name__ == "__main__":
    import unittest
    unittest.main()
