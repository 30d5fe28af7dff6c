"""A program of ours running under Wine with the simulated devices (tools/wine_devices.py): its
world's control port, its panel's API, and what it printed, with the stand-ins' "CONTRACT"
complaints picked out."""
import json
import os
import re
import shutil
import socket
import subprocess
import sys
import tempfile
import threading
import unittest
import urllib.parse

from harness import BUILD, PREFIX, ROOT, Wine, WineTestCase, exe, wait_until

sys.path.insert(0, os.path.join(ROOT, "tools"))
import wine_devices  # noqa: E402

FIRST_PORT = 17832
LAST_PORT = 17843


def ours_listening(port):
    """True when a program of this run's Wine prefix listens on 127.0.0.1:port. Other checkouts
    run their own Wine tests on the same ports at the same time; Wine's sockets belong to the
    prefix's wineserver, which tells whose a port is."""
    found = subprocess.run(["ss", "-ltnpH", f"sport = :{port}"], capture_output=True, text=True)
    for pid in re.findall(r"pid=(\d+)", found.stdout):
        try:
            with open(f"/proc/{pid}/environ", "rb") as environ:
                if b"WINEPREFIX=" + PREFIX.encode() + b"\0" in environ.read():
                    return True
        except OSError:
            continue
    return False


WINE_DRIVES = r"HKLM\Software\Wine\Drives"


def reg(*args):
    subprocess.run(["wine", "reg", *args], env=Wine.env(), capture_output=True, timeout=60)


class BoardDrive:
    """A folder made a removable Wine drive for the board's "RP2350" drive: the world inside the
    program shows the drive there while the board has it (tests/wine/devices/drive_mirror.cpp)."""

    def __init__(self, letter):
        self.letter = letter
        self.dir = tempfile.mkdtemp(prefix="tw-board-drive-")
        # Made and removed by the world as the board's drive comes and goes. Wine's mount
        # manager reads a drive's label when it starts, so the folder is there with its label
        # then; it keeps the letter and the label while the folder is away, so the program sees
        # the drive's files come and go, not the drive itself.
        self.root = os.path.join(self.dir, "drive")
        os.makedirs(self.root)
        with open(os.path.join(self.root, ".windows-label"), "w") as label:
            label.write("RP2350\n")
        self.link = os.path.join(PREFIX, "dosdevices", letter)
        if os.path.lexists(self.link):
            os.unlink(self.link)
        os.symlink(self.root, self.link)
        reg("add", WINE_DRIVES, "/v", letter, "/d", "floppy", "/f")
        Wine.kill_all()  # the mount manager reads drive types when it starts
        os.environ["TW_DEVICES_DRIVE_DIR"] = self.root

    def close(self):
        os.environ.pop("TW_DEVICES_DRIVE_DIR", None)
        reg("delete", WINE_DRIVES, "/v", self.letter, "/f")
        if os.path.lexists(self.link):
            os.unlink(self.link)
        shutil.rmtree(self.dir, ignore_errors=True)


class DevicesProgram:
    """Starts `name` with the devices; close() ends it. With `drive` (a letter such as "r:"),
    the board's drive is shown there; with `update_host`, tools/wine_update_host.py plays the
    update host. Started as at log-on by default: an interactive start opens the panel in a real
    browser."""

    def __init__(self, name="TarnwickNewer", drive=None, args=("--startup",), update_host=False):
        self.drive = BoardDrive(drive) if drive else None
        try:
            self.session = wine_devices.run(
                exe(name), list(args), update_host=update_host, stdout=subprocess.PIPE,
                stderr=subprocess.PIPE, text=True, errors="replace")
        finally:
            os.environ.pop("TW_DEVICES_DRIVE_DIR", None)
        self.process, control = self.session.process, self.session.port
        self.lines = []
        self._lock = threading.Lock()
        for stream in (self.process.stdout, self.process.stderr):
            threading.Thread(target=self._collect, args=(stream,), daemon=True).start()
        self.control = socket.create_connection(("127.0.0.1", control), timeout=60)
        self.control_lines = self.control.makefile("rw", newline="\n")
        ports = range(FIRST_PORT, LAST_PORT + 1)
        self.port = wait_until(lambda: next((p for p in ports if ours_listening(p)), None),
                               timeout=90)
        if self.port is None:
            self.close()
            raise AssertionError("the program never served its panel:\n" + self.output())
        self.key = self._key()

    def _collect(self, stream):
        for line in stream:
            with self._lock:
                self.lines.append(line.rstrip("\n"))

    def output(self):
        with self._lock:
            return "\n".join(self.lines)

    def contract_breaches(self):
        with self._lock:
            return [line for line in self.lines if "CONTRACT" in line]

    def world(self, command):
        """One world command; returns its answer line ("ok ..." or "error ...")."""
        self.control_lines.write(command + "\n")
        self.control_lines.flush()
        return self.control_lines.readline().rstrip("\n")

    def request(self, method, target, body=b""):
        """One request to the panel's server with the page's key; (status, body). `body` may be
        a dict of form fields."""
        if isinstance(body, dict):
            body = urllib.parse.urlencode(body).encode()
        head = [f"{method} {target} HTTP/1.1", f"Host: 127.0.0.1:{self.port}",
                "Connection: close"]
        if getattr(self, "key", None):
            head.append("X-TW-Key: " + self.key)
        if method == "POST":
            head += ["Content-Type: application/x-www-form-urlencoded",
                     f"Content-Length: {len(body)}"]
        with socket.create_connection(("127.0.0.1", self.port), timeout=30) as s:
            s.sendall(("\r\n".join(head) + "\r\n\r\n").encode() + body)
            answer = b""
            while chunk := s.recv(65536):
                answer += chunk
        status, _, rest = answer.partition(b"\r\n")
        return int(status.split()[1]), rest.partition(b"\r\n\r\n")[2]

    def _key(self):
        _, page = self.request("GET", "/")
        marker = b'const TW_KEY = "'
        start = page.index(marker) + len(marker)
        return page[start:page.index(b'"', start)].decode()

    def fw(self):
        """The firmware API's state document."""
        status, body = self.request("GET", "/api/fw")
        assert status == 200, (status, body)
        return json.loads(body)

    def start(self, action, confirm=False):
        """Starts a firmware action; returns (HTTP status, answer)."""
        body = f"action={action}" + ("&confirm=1" if confirm else "")
        status, answer = self.request("POST", "/api/fw/start", body.encode())
        return status, json.loads(answer or b"{}")

    def wait_fw(self, predicate, timeout=90):
        """Polls the state document until `predicate` holds; returns it, or the last one seen."""
        seen = {}

        def check():
            seen["doc"] = self.fw()
            return predicate(seen["doc"])

        wait_until(check, timeout=timeout, interval=0.3)
        return seen.get("doc")

    def close(self):
        try:
            self.control.close()
        except OSError:
            pass
        self.process.terminate()
        try:
            self.process.wait(timeout=20)
        except subprocess.TimeoutExpired:
            self.process.kill()
            self.process.wait()
        self.session.close()
        if self.drive:
            self.drive.close()
        # What the program printed, kept for a look after a failure.
        with open(os.path.join(ROOT, "build", "wine-devices.log"), "a") as log:
            log.write(self.output() + "\n")


class DevicesCase(WineTestCase):
    """A program with the devices for each test, and the steps the tests share. Every test also
    fails on a "CONTRACT" line: a call the stand-ins caught breaking Microsoft's documented
    contract."""

    exe_name = "TarnwickNewer"
    drive = None  # a letter: the board's drive is shown there
    update_host = False

    @classmethod
    def setUpClass(cls):
        super().setUpClass()
        for needed in (exe(cls.exe_name), os.path.join(BUILD, "wine-devices", "winusb.dll")):
            if not os.path.exists(needed):
                raise unittest.SkipTest(needed + " is not built")

    def setUp(self):
        super().setUp()
        self.program = DevicesProgram(self.exe_name, drive=self.drive,
                                      update_host=self.update_host)

    def tearDown(self):
        self.program.close()
        super().tearDown()
        self.assertEqual(self.program.contract_breaches(), [], self.program.output()[-4000:])

    def world(self, command):
        answer = self.program.world(command)
        self.assertTrue(answer.startswith("ok"), command + " -> " + answer)
        return answer

    def after_polls(self, count):
        """Returns once the program has enumerated HID devices `count` more times (its status
        poll does every 2 s)."""
        listings = lambda: int(self.world("listings").split()[1])  # noqa: E731
        target = listings() + count
        self.assertTrue(wait_until(lambda: listings() >= target, timeout=10 + 3 * count))

    def tray_shows(self, texts, timeout=15):
        """Waits until the tray shows one of `texts` (a text or a tuple of them)."""
        texts = (texts,) if isinstance(texts, str) else texts
        shown = wait_until(lambda: (lambda t: t if any(x in t for x in texts) else None)(
            self.world("tray")), timeout=timeout)
        self.assertIsNotNone(shown, f"the tray never showed {texts!r}: {self.world('tray')}")
        return shown
