"""The real Tarnwick.exe against the simulated dongle under Wine: the stand-in hid.dll and
setupapi.dll of tools/wine_devices.py answer its SetupAPI enumeration and HidD_/HidP_ calls, and
its own CreateFileW, ReadFile, WriteFile and CancelIoEx run on real kernel handles. What the
tray shows is read inside the process (the world's "tray" and "balloons" commands); the panel's
device API is reached over the program's own HTTP server. Any call the stand-ins find against
Microsoft's documented contract prints a "CONTRACT" line, and every test fails on one.
"""
import base64
import socket
import sys
import threading
import time
import unittest

from devices_program import DevicesCase
from harness import wait_until

CONNECTED = "Tarnwick Bridge — Connected"
NO_CONTROLLER = "Tarnwick Bridge — No controller connected"
# A log-on start hides the icon from the third poll without a dongle on.
NO_DONGLE = (NO_CONTROLLER, "hidden")


class TrayTest(DevicesCase):
    exe_name = "Tarnwick"

    def test_the_tray_follows_the_dongle_and_passes_over_other_devices(self):
        steps = [
            ([], "icon 1 | " + CONNECTED + " • battery good • signal strong"),
            (["battery 1"], "battery extremely low"),
            (["signal -70"], "signal good"),
            ([], "LOW BATTERY WARNED ONCE"),
            (["unplug"], NO_DONGLE),
            (["plug 2"], CONNECTED),  # another device path
            (["unplug", "dualsense", "keyboard"], NO_DONGLE),
            (["plug"], CONNECTED),
        ]
        for commands, expected in steps:
            for command in commands:
                self.world(command)
            if expected == "LOW BATTERY WARNED ONCE":
                self.after_polls(2)  # more polls with the battery still low: still one balloon
                balloons = self.world("balloons")[3:].split(" / ")
                self.assertEqual(
                    [b for b in balloons if b.startswith("Controller battery")],
                    ["Controller battery: Extremely low — plug it in when you get a chance."])
            else:
                self.tray_shows(expected)

    def test_a_dongle_that_vanishes_between_listing_and_open_is_found_again(self):
        self.tray_shows(CONNECTED)
        self.world("vanish")
        self.tray_shows(NO_DONGLE)
        self.world("plug")
        self.tray_shows(CONNECTED)


class PanelTest(DevicesCase):
    exe_name = "Tarnwick"

    def feature(self, report):
        status, body = self.program.request("GET", f"/api/feature?id={report}")
        self.assertEqual(status, 200, body)
        return base64.b64decode(body.split(b'"data":"')[1].split(b'"')[0])

    def command(self, payload):
        status, body = self.program.request(
            "POST", "/api/feature", {"id": 246, "data": base64.b64encode(bytes(payload)).decode()})
        self.assertEqual((status, body), (200, b'{"ok":true}'))

    def test_settings_and_output_reports_reach_the_dongle(self):
        self.tray_shows(CONNECTED)
        status, body = self.program.request("GET", "/api/dev")
        self.assertIn(b'"found":true,"vid":1356', body)
        self.assertIn(b'"version":"0.9.3"', body)
        factory = self.feature(0xF7)
        self.assertEqual(factory[0], 0xF7)
        config = bytearray(factory[1:23])
        config[5] = 40  # speaker volume
        config[9] = 1  # the dongle's light
        self.command([1] + list(config))
        self.command([2])
        self.assertEqual(self.feature(0xF7)[1:23], bytes(config))
        self.assertEqual(self.world("config"), "ok [config] " + config.hex(" "))
        # Restore defaults: every invalid byte takes its factory value.
        self.command([1] + [0xFF] * 22)
        self.command([2])
        self.assertEqual(self.feature(0xF7), factory)

        rumble = bytes([0x02, 0x03, 0x80, 0x40] + [0] * 44)
        status, body = self.program.request(
            "POST", "/api/output", {"id": 2, "data": base64.b64encode(rumble[1:4]).decode()})
        self.assertEqual((status, body), (200, b'{"ok":true}'))
        # The write is done once the device took it; the world may record it a moment later.
        expected = "ok [output] " + rumble.hex(" ")
        self.assertTrue(wait_until(lambda: self.world("last-output") == expected, timeout=5),
                        self.world("last-output"))


class InputStreamTest(DevicesCase):
    exe_name = "Tarnwick"

    def open_stream(self):
        port, key = self.program.port, self.program.key
        stream = socket.create_connection(("127.0.0.1", port), timeout=15)
        stream.sendall(f"GET /api/input?k={key} HTTP/1.1\r\nHost: 127.0.0.1:{port}\r\n\r\n"
                       .encode())
        return stream

    def test_the_input_stream_keeps_up_with_250_reports_a_second(self):
        self.tray_shows(CONNECTED)
        stream = self.open_stream()
        received = b""
        start = None
        while start is None or time.monotonic() - start < 10:
            chunk = stream.recv(65536)
            self.assertTrue(chunk, "the stream ended")
            if start is None and b"data: " in chunk:
                start, received = time.monotonic(), b""
            received += chunk
        stream.close()
        reports = received.count(b"data: ")
        print(f"input stream: {reports} reports in 10 s", file=sys.stderr)
        self.assertGreaterEqual(reports, 0.99 * 250 * 10)

    def test_unplugging_with_a_read_pending_ends_the_stream_without_holding_up_the_window(self):
        self.tray_shows(CONNECTED)
        self.after_polls(2)  # past the start-up's own handles
        handles_before = int(self.world("handles").split()[1])
        stream = self.open_stream()
        first = b""
        while b"data: " not in first:
            chunk = stream.recv(65536)
            self.assertTrue(chunk, "the stream ended before its first report")
            first += chunk
        ended = threading.Event()

        def read_to_the_end():
            stream.settimeout(10)
            while stream.recv(65536):
                pass  # the stream ends once the read fails
            ended.set()

        reader = threading.Thread(target=read_to_the_end, daemon=True)
        reader.start()
        self.world("unplug")
        # The window keeps answering while the stream's pending read is failed and let go.
        answers = [int(self.world("ui-answer-ms").split()[1])]
        while not ended.is_set() and len(answers) < 1000:
            answers.append(int(self.world("ui-answer-ms").split()[1]))
        reader.join(15)
        self.assertTrue(ended.is_set(), "the stream did not end")
        self.assertTrue(0 <= min(answers) and max(answers) < 500,
                        f"the tray window took up to {max(answers)} ms to answer (-1: no answer)")
        self.tray_shows(NO_DONGLE)
        self.world("plug")
        self.tray_shows(CONNECTED)
        self.after_polls(2)
        # The stream's device, event and thread are all let go (a little slack for the poll's
        # handle that may be open at the moment of counting).
        self.assertLessEqual(int(self.world("handles").split()[1]), handles_before + 2)


if __name__ == "__main__":
    unittest.main()
