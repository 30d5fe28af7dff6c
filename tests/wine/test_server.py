"""The local HTTP server of the real Tarnwick.exe under Wine: the page with a fresh key, the device
API without HID devices, the request checks, and the port range when the first port is taken."""
import re
import socket
import time
import unittest

from harness import Wine, WineTestCase, exe, wait_until

ID_QUIT = 1005
FIRST_PORT = 17832
LAST_PORT = 17843
KEY_PATTERN = re.compile(rb'const TW_KEY = "([^"]*)";')


def listening(port):
    """True when something accepts connections on 127.0.0.1:port."""
    try:
        with socket.create_connection(("127.0.0.1", port), timeout=0.5):
            return True
    except OSError:
        return False


def exchange(port, request, timeout=10.0):
    """Sends raw request bytes and reads the answer until the server closes."""
    with socket.create_connection(("127.0.0.1", port), timeout=timeout) as s:
        s.sendall(request)
        chunks = []
        while True:
            chunk = s.recv(65536)
            if not chunk:
                break
            chunks.append(chunk)
    answer = b"".join(chunks)
    head, _, body = answer.partition(b"\r\n\r\n")
    return head.split(b"\r\n")[0].decode("latin-1"), head, body


def get(port, target, headers=None):
    lines = ["GET %s HTTP/1.1" % target]
    lines += headers if headers is not None else ["Host: 127.0.0.1:%d" % port]
    return exchange(port, ("\r\n".join(lines) + "\r\n\r\n").encode("ascii"))


class ServerTest(WineTestCase):
    def start_program(self, busy_before):
        """Starts Tarnwick.exe and returns the port it took: the one that starts answering."""
        self.process = Wine.start(exe("Tarnwick"))
        free = [p for p in range(FIRST_PORT, LAST_PORT + 1) if p not in busy_before]

        def new_port():
            for port in free:
                if listening(port):
                    return port
            return None

        port = wait_until(new_port, timeout=60)
        self.assertIsNotNone(port, "the program never listened on a port of the range")
        return port

    def busy_ports(self):
        return {p for p in range(FIRST_PORT, LAST_PORT + 1) if listening(p)}

    def key_of(self, port):
        status, head, page = get(port, "/")
        self.assertEqual(status, "HTTP/1.1 200 OK")
        self.assertIn(b"Content-Type: text/html; charset=utf-8", head)
        self.assertIn(b"\r\nReferrer-Policy: no-referrer\r\n", head + b"\r\n")
        self.assertIn(b"<title>Tarnwick Panel</title>", page)
        keys = KEY_PATTERN.findall(page)
        self.assertEqual(len(keys), 1)
        return keys[0].decode("ascii")

    def test_page_key_device_api_and_checks(self):
        port = self.start_program(self.busy_ports())
        key = self.key_of(port)
        self.assertRegex(key, r"^[0-9a-f]{32}$")
        self.assertNotEqual(key, "TWTOKENPLACEHOLDER00000000000000")

        status, head, body = get(port, "/api/dev?k=" + key)
        self.assertEqual(status, "HTTP/1.1 200 OK")
        self.assertIn(b"Content-Type: application/json; charset=utf-8", head)
        self.assertEqual(body, b'{"found":false,"updating":false}')

        host = "Host: 127.0.0.1:%d" % port
        cases = [
            (["Host: 127.0.0.1"], "403 Forbidden", b"not a local request"),
            (["Host: rebind.example:%d" % port], "403 Forbidden", b"not a local request"),
            ([], "403 Forbidden", b"not a local request"),
            ([host, "Origin: http://evil.example"], "403 Forbidden", b"cross-origin"),
            ([host, "Origin: null"], "403 Forbidden", b"cross-origin"),
        ]
        for headers, expected_status, message in cases:
            status, _, body = get(port, "/api/dev?k=" + key, headers)
            self.assertEqual(status, "HTTP/1.1 " + expected_status, headers)
            self.assertEqual(body, b'{"ok":false,"error":"' + message + b'"}')
        for target in ["/api/dev", "/api/dev?k=" + key.upper(), "/api/dev?k=" + key + "0",
                       "/api/dev?k="]:
            headers = [host, "X-TW-Key: " + key] if target.endswith("=") else None
            status, _, body = get(port, target, headers)
            self.assertEqual(status, "HTTP/1.1 403 Forbidden", target)
            self.assertEqual(body, b'{"ok":false,"error":"bad key"}')
        status, _, body = get(port, "/api/dev", [host, "X-TW-Key: " + key,
                                                  "Origin: http://localhost:%d" % port])
        self.assertEqual(status, "HTTP/1.1 200 OK")
        status, _, body = get(port, "/api/feature?id=248&k=" + key)
        self.assertEqual(status, "HTTP/1.1 503 Service Unavailable")
        self.assertEqual(body, b'{"ok":false,"error":"The Bridge is not plugged in"}')
        status, _, body = get(port, "/api")
        self.assertEqual((status, body), ("HTTP/1.1 404 Not Found", b"No.\n"))

        # Every run makes its own key.
        Wine.kill_all()
        wait_until(lambda: not listening(port), timeout=20)
        second = self.start_program(self.busy_ports())
        self.assertNotEqual(self.key_of(second), key)

    def test_takes_the_next_port_when_the_first_is_held(self):
        busy = self.busy_ports()
        free = [p for p in range(FIRST_PORT, LAST_PORT + 1) if p not in busy]
        self.assertGreaterEqual(len(free), 2)
        holder = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
        # Only so that connections of earlier tests lingering in TIME_WAIT don't block it; on
        # Linux it still keeps every other socket off the port while this one listens.
        holder.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
        try:
            holder.bind(("127.0.0.1", free[0]))
            holder.listen(1)
            port = self.start_program(busy | {free[0]})
            self.assertEqual(port, free[1])
            self.assertRegex(self.key_of(port), r"^[0-9a-f]{32}$")
        finally:
            holder.close()

    def test_quits_promptly_with_a_silent_connection_open(self):
        port = self.start_program(self.busy_ports())
        silent = socket.create_connection(("127.0.0.1", port), timeout=5)
        try:
            time.sleep(0.5)
            started = time.monotonic()
            self.assertEqual(Wine.run(exe("twmsg_helper"), "command", str(ID_QUIT)).returncode, 0)
            # The connection would otherwise hold the program for its 30 s receive time-out.
            self.assertEqual(self.process.wait(timeout=25), 0)
            self.assertLess(time.monotonic() - started, 25)
        finally:
            silent.close()


if __name__ == "__main__":
    unittest.main()
