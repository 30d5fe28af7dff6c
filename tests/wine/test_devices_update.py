"""Releases over the real update path of TarnwickNewer.exe (the test build that trusts the
development key) under Wine with the simulated devices: the release list and the build come over
WinHTTP from the update host of tools/wine_update_host.py, the signature is checked by CNG, and
the dongle is found through the stand-in device DLLs.
"""
import base64
import os
import sys
import time
import unittest

from devices_program import DevicesCase
from harness import wait_until
from test_devices_hid import CONNECTED


class UpdateCheckTest(DevicesCase):
    update_host = True

    @classmethod
    def setUpClass(cls):
        if os.geteuid() != 0:
            raise unittest.SkipTest("the update host needs root (hosts file, trust store, port 443)")
        super().setUpClass()

    def firmware_state(self):
        status, body = self.program.request("GET", "/api/fw")
        return body.decode() if status == 200 else f"{status} {body!r}"

    def test_a_published_release_is_offered_and_announced(self):
        self.tray_shows(CONNECTED)
        self.world("publish 1.5.0")
        self.assertEqual(self.program.request("POST", "/api/fw/check"), (200, b'{"ok":true}'))
        self.assertTrue(wait_until(lambda: '"1.5.0"' in self.firmware_state(), timeout=60),
                        self.firmware_state())
        self.assertTrue(wait_until(lambda: "Firmware update ready" in self.world("balloons"),
                                   timeout=15), self.world("balloons"))
        # The host gone: the check fails with WinHTTP's own error, and only the built-in image is
        # offered until a check succeeds again.
        self.world("host offline")
        self.program.request("POST", "/api/fw/check")
        self.assertTrue(wait_until(lambda: '"state":"failed"' in self.firmware_state(), 60),
                        self.firmware_state())
        self.assertIn('"error":"this PC looks offline"', self.firmware_state())
        self.assertIn('"target":"0.9.3"', self.firmware_state())
        self.world("host online")
        self.program.request("POST", "/api/fw/check")
        self.assertTrue(wait_until(lambda: '"target":"1.5.0"' in self.firmware_state(), 60),
                        self.firmware_state())


    def finished_job(self, timeout=240):
        doc = self.program.wait_fw(lambda d: not d["job"]["active"] and d["job"]["result"],
                                   timeout)
        self.assertFalse(doc["job"]["active"], doc["job"])
        return doc["job"]

    def test_an_update_keeps_settings_and_pairing_and_a_repair_clears_them(self):
        self.tray_shows(CONNECTED)
        factory = self.world("config")
        config = bytearray.fromhex(factory.split("] ", 1)[1].replace(" ", ""))
        config[5] = 40  # speaker volume, saved in the dongle's flash
        for command in ([1] + list(config), [2]):
            self.program.request("POST", "/api/feature",
                                 {"id": 246, "data": base64.b64encode(bytes(command)).decode()})
        self.assertEqual(self.world("board settings"), "ok saved yes paired yes")
        self.world("publish 1.5.0")
        self.program.request("POST", "/api/fw/check")
        self.program.wait_fw(lambda d: d["fw"]["target"] == "1.5.0", 60)

        # Over the real WinHTTP, CNG, HID and WinUSB adapters: switched into update mode by its
        # report, written over PICOBOOT, restarted, and back as the dongle on 1.5.0.
        started = time.monotonic()
        self.assertEqual(self.program.start("update")[0], 200)
        job = self.finished_job()
        print(f"update of a built-in-size release: {time.monotonic() - started:.1f} s",
              file=sys.stderr)
        self.assertEqual((job["result"], job["installed"]), ("ok", "1.5.0"), job)
        self.tray_shows(CONNECTED)
        self.assertIn(b'"version":"1.5.0"', self.program.request("GET", "/api/dev")[1])
        self.assertEqual(self.world("config"), "ok [config] " + config.hex(" "))
        self.assertEqual(self.world("board settings"), "ok saved yes paired yes")
        self.assertIn("Firmware installed", self.world("balloons"))

        self.assertEqual(self.program.start("repair", confirm=True)[0], 200)
        job = self.finished_job()
        self.assertEqual(job["result"], "ok", job)
        self.assertEqual(self.world("board settings"), "ok saved no paired no")
        self.assertEqual(self.world("config"), factory)


if __name__ == "__main__":
    unittest.main()
