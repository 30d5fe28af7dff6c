"""Releases over the real update path of TarnwickNewer.exe (the test build that trusts the
development key) under Wine with the simulated devices: the release list and the build come over
WinHTTP from the update host of tools/wine_update_host.py, the signature is checked by CNG, and
the dongle is found through the stand-in device DLLs.
"""
import os
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


if __name__ == "__main__":
    unittest.main()
