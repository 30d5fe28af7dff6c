"""Firmware over WinUSB under Wine: TarnwickNewer.exe (which trusts the development key) against the
simulated RP2350 board behind the stand-in winusb.dll and setupapi.dll, so the shipped WinUSB
adapter and its overlapped transfers do the work. Every test also fails on a "CONTRACT" line: a
call the stand-ins caught breaking Microsoft's documented contract."""
import os
import unittest

from devices_program import DevicesCase
from harness import wait_until

BUILT_IN = "0.9.3"


def counters(answer):
    """"ok commands 3 erased 0 ..." -> {"commands": 3, "erased": 0, ...}"""
    words = answer.split()[1:]
    return {words[i]: int(words[i + 1]) for i in range(0, len(words) - 1, 2)}


class FirmwareCase(DevicesCase):
    """The steps the firmware tests share."""

    def board_read(self):
        doc = self.program.wait_fw(lambda d: d["boot"]["present"] and d["boot"]["read"] != 0, 30)
        self.assertNotEqual(doc["boot"]["read"], 0, doc)
        return doc

    def job_where(self, predicate, timeout=120):
        doc = self.program.wait_fw(lambda d: predicate(d["job"]), timeout)
        self.assertTrue(predicate(doc["job"]), doc["job"])
        return doc["job"]

    def finish_waiting_for_dongle(self):
        """The stand-in image is a data image no board starts, so the job waits a minute for a
        dongle that never comes; once it waits, cancelling ends it as the person would."""
        self.job_where(lambda j: j["phase"] == "reconnect" and j["cancellable"])
        self.program.request("POST", "/api/fw/cancel")
        return self.job_where(lambda j: not j["active"] and j["result"], 30)


class DevicesFirmwareTest(FirmwareCase):
    def test_each_kind_of_board_in_update_mode_is_read_and_advised(self):
        cases = [
            ("board ours 0.9.1", dict(ours=True, program="korrinlink", version="0.9.1"),
             "update", False, "Dongle in update mode: It has 0.9.1 and 0.9.3 is ready. "
             "Open the panel to install it."),
            ("board foreign blink", dict(ours=False, program="blink", blank=False), "replace", True,
             "Board in update mode: It's running something else (blink). Open the panel if you "
             "want Tarnwick Bridge on it."),
            ("board blank", dict(ours=False, blank=True, program=""), "install", False,
             "New board in update mode: It has no firmware yet. Open the panel to install 0.9.3."),
        ]
        for command, boot, advice, confirm, balloon in cases:
            with self.subTest(command):
                self.world(command)
                # Each board is announced once, with the balloon for its kind.
                self.assertTrue(wait_until(lambda: self.world("balloons").endswith(balloon), 30),
                                self.world("balloons"))
                doc = self.program.wait_fw(
                    lambda d: d["boot"]["read"] == 1 and d["advice"]["kind"] == advice, 30)
                self.assertEqual(doc["boot"]["read"], 1, doc["boot"])
                self.assertTrue(doc["boot"]["usb"])
                for field, value in boot.items():
                    self.assertEqual(doc["boot"][field], value, doc["boot"])
                self.assertEqual((doc["advice"]["kind"], doc["advice"]["confirm"]),
                                 (advice, confirm), doc["advice"])

    def test_install_writes_the_built_in_image_and_again_writes_nothing(self):
        self.world("board usb-only")
        self.board_read()
        settings_before = self.world("board settings")
        self.assertTrue(settings_before.endswith("paired yes"), settings_before)
        before = counters(self.world("board counters"))
        self.assertEqual(self.program.start("install")[0], 200)
        job = self.finish_waiting_for_dongle()
        self.assertEqual((job["result"], job["msg"], job["installed"]),
                         ("ok", "Firmware %s is on." % BUILT_IN, BUILT_IN), job)
        # Settings and pairing live outside the image: an install keeps them.
        self.assertEqual(self.world("board settings"), settings_before)
        first = counters(self.world("board counters"))
        self.assertGreater(first["programmed"], before["programmed"])
        self.assertEqual(first["reboots"], before["reboots"] + 1)
        self.assertEqual(first["failed"], 0)

        # The board restarted and, finding no program it can start, is back in update mode with
        # the image on it: the same install now only compares.
        doc = self.program.wait_fw(lambda d: d["boot"]["read"] == 1 and d["boot"]["serial"], 30)
        self.assertEqual(doc["boot"]["version"], BUILT_IN, doc["boot"])
        self.assertEqual(self.program.start("install")[0], 200)
        job = self.finish_waiting_for_dongle()
        self.assertEqual(job["result"], "ok", job)
        second = counters(self.world("board counters"))
        self.assertEqual((second["erased"], second["programmed"]),
                         (first["erased"], first["programmed"]), "an identical image was written")

        # A repair writes the same image (nothing of it) and clears settings and pairing.
        self.program.wait_fw(lambda d: d["boot"]["read"] == 1 and d["boot"]["serial"], 30)
        self.assertEqual(self.program.start("repair")[0], 200)
        job = self.finish_waiting_for_dongle()
        self.assertEqual(job["result"], "ok", job)
        self.assertEqual(self.world("board settings"), "ok saved no paired no")

    def test_a_foreign_board_is_refused_unless_confirmed(self):
        self.world("board foreign blink")
        self.board_read()
        self.assertEqual(self.program.start("install")[0], 200)
        job = self.job_where(lambda j: not j["active"] and j["result"])
        self.assertEqual((job["result"], job["refused"]), ("failed", True), job)
        self.assertIn("blink", job["error"])
        self.assertEqual(counters(self.world("board counters"))["erased"], 0)

        self.assertEqual(self.program.start("install", confirm=True)[0], 200)
        self.job_where(lambda j: j["phase"] == "write" and j["pct"] > 25)
        self.assertGreater(counters(self.world("board counters"))["erased"], 0)

    def test_a_stalled_pipe_is_recovered_by_the_interface_reset(self):
        # The board's first command stalls both pipes: the probe's command fails, its recovery
        # resets the interface and sends it again, and the board is read; the restart that
        # follows goes through cleanly.
        self.world("fault board command stall 1")
        self.world("board ours 0.9.1")
        doc = self.board_read()
        self.assertEqual((doc["boot"]["read"], doc["boot"]["version"]), (1, "0.9.1"), doc["boot"])
        self.assertGreaterEqual(counters(self.world("board counters"))["resets"], 1)

        self.assertEqual(self.program.start("restart")[0], 200)
        job = self.job_where(lambda j: not j["active"] and j["result"], 90)
        self.assertEqual((job["result"], job["installed"]), ("ok", "0.9.1"), job)
        self.assertEqual(counters(self.world("board counters"))["reboots"], 1)

    def test_the_board_leaving_the_bus_mid_write_ends_in_a_true_state(self):
        self.world("board ours 0.9.1")
        self.board_read()
        # Well into the write: the probe and the comparison take a few dozen commands.
        self.world("fault board unplug-at-command fail 40")
        self.assertEqual(self.program.start("install")[0], 200)
        job = self.job_where(lambda j: not j["active"] and j["result"])
        self.assertEqual(job["result"], "failed", job)
        self.assertRegex(job["tech"], r"Windows error (1167|995)")
        doc = self.program.wait_fw(lambda d: not d["boot"]["present"], 30)
        self.assertFalse(doc["boot"]["present"], doc["boot"])
        self.assertFalse(doc["running"]["present"], doc["running"])



class DevicesDriveTest(FirmwareCase):
    """The board's "RP2350" drive shown as a Wine drive (tests/wine/devices/drive_mirror.cpp)."""

    drive = "r:"

    def test_a_board_without_its_interface_gets_the_image_through_its_drive(self):
        # Wine's mount manager keeps a drive letter and its label until it stops, so the program
        # never sees the drive go as the board restarts, and its job waits for that in vain: the
        # test looks at what reached the board instead.
        self.world("board drive-only")
        doc = self.program.wait_fw(lambda d: d["boot"]["drive"], 30)
        self.assertEqual((doc["boot"]["drive"], doc["boot"]["usb"]), ("R:", False), doc["boot"])
        self.assertEqual(self.program.start("install", confirm=True)[0], 200)
        self.job_where(lambda j: j["phase"] == "restart")
        seen = {}

        def restarted():
            seen.update(counters(self.world("board counters")))
            return seen["reboots"] == 1

        self.assertTrue(wait_until(restarted, timeout=60, interval=0.5), seen)
        self.assertEqual(seen["commands"], 0)  # nothing went over USB
        self.assertGreater(seen["programmed"], 0)
        self.assertEqual(seen["drive"] % 512, 0)
        self.assertGreater(seen["drive"], 0)


if __name__ == "__main__":
    unittest.main()
