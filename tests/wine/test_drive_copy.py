"""The real Tarnwick.exe installing its built-in firmware onto an RP2350 drive under Wine, driven
through its firmware API. Wine offers no PICOBOOT interface, so on a machine whose only board is a
removable drive labelled RP2350 an install reads nothing over USB, copies TARNWICK.UF2 onto the
drive in chunks, waits for the drive to go away as the board restarts, and then waits for the
dongle. Without network the update check fails at once and the built-in image is the one copied.
"""
import glob
import json
import os
import re
import select
import time

from harness import BUILD, PREFIX, Wine, exe, wait_until
from test_server import FIRST_PORT, KEY_PATTERN, LAST_PORT, exchange, get
from test_file_system import Rp2350DriveCase

DRIVE = "s:"
CHUNK = 32768
COPYING = re.compile(r"^Copying firmware\u2026 (\d+)%$")
NO_USB = "Windows didn't offer this app the dongle's USB update interface"
COPY_FAILED = ("The dongle didn't take the firmware, and copying it onto its RP2350 drive didn't "
               "work either.")


def built_in_image():
    images = glob.glob(os.path.join(BUILD, "generated", "*.uf2"))
    assert len(images) == 1, images
    with open(images[0], "rb") as f:
        return f.read()


def listening_port():
    """The panel port a program of this test's Wine prefix listens on, or None. Other prefixes on
    the machine may run their own copy in the same port range at the same time, so the port is
    told by whose socket it is, not by which one started answering. Wine's server holds every
    socket of its prefix; the program itself may not have fetched the listening one yet."""
    mark = b"\0WINEPREFIX=" + PREFIX.encode() + b"\0"
    sockets = set()
    for pid in filter(str.isdigit, os.listdir("/proc")):
        try:
            with open("/proc/%s/environ" % pid, "rb") as f:
                if mark not in b"\0" + f.read():
                    continue
            for fd in os.listdir("/proc/%s/fd" % pid):
                target = os.readlink("/proc/%s/fd/%s" % (pid, fd))
                if target.startswith("socket:["):
                    sockets.add(target[len("socket:["):-1])
        except OSError:
            continue  # gone meanwhile, or not ours to read
    with open("/proc/net/tcp") as f:
        for line in f.readlines()[1:]:
            fields = line.split()
            port = int(fields[1].split(":")[1], 16)
            if fields[3] == "0A" and fields[9] in sockets and FIRST_PORT <= port <= LAST_PORT:
                return port
    return None


class DriveCopyTest(Rp2350DriveCase):
    drive = DRIVE

    def setUp(self):
        super().setUp()
        self.image = built_in_image()
        self.uf2 = os.path.join(self.root, "TARNWICK.UF2")
        self.trail = []
        self.first_seen = {}  # phase: when the document first showed it

    # --- the program and its API ---

    def start_program(self):
        process = Wine.start(exe("Tarnwick"))
        # After tearDown has ended every Windows process.
        self.addCleanup(process.wait, 30)
        self.addCleanup(process.stderr.close)
        self.addCleanup(process.stdout.close)
        self.port = wait_until(listening_port, 60)
        self.assertIsNotNone(self.port, "the program never listened")
        _, _, page = get(self.port, "/")
        self.key = KEY_PATTERN.findall(page)[0].decode("ascii")

    def document(self):
        status, _, body = get(self.port, "/api/fw?k=" + self.key)
        self.assertEqual(status, "HTTP/1.1 200 OK", body)
        return json.loads(body)

    def job(self):
        job = self.document()["job"]
        step = (job["phase"], job["pct"], job["msg"])
        if not self.trail or self.trail[-1] != step:
            self.trail.append(step)
        self.first_seen.setdefault(job["phase"], time.monotonic())
        return job

    def post(self, path, body=""):
        # As the page sends it: key in the query, its own origin.
        head = ("POST %s?k=%s HTTP/1.1\r\nHost: 127.0.0.1:%d\r\nOrigin: http://127.0.0.1:%d\r\n"
                "Content-Type: application/x-www-form-urlencoded\r\nContent-Length: %d\r\n\r\n"
                % (path, self.key, self.port, self.port, len(body)))
        status, _, answer = exchange(self.port, (head + body).encode("ascii"))
        self.assertEqual((status, answer), ("HTTP/1.1 200 OK", b'{"ok":true}'), path)

    def follow(self, predicate, timeout, what=None, interval=0.05):
        """Polls the job until `predicate` holds and returns it. Past the time-out the test fails
        when `what` names what was awaited, else the answer is None."""
        job = wait_until(lambda: (lambda j: j if predicate(j) else None)(self.job()), timeout,
                         interval)
        if what is not None:
            self.assertIsNotNone(job, "no %s within %d s; the job went %r"
                                 % (what, timeout, self.trail))
        return job

    def install(self):
        self.start_program()
        # Nothing could be read of a board that shows only its drive: the page asks before it
        # sends this, and the job writes such a board only when the person agreed.
        self.post("/api/fw/start", "action=install&confirm=1")

    def unplug(self):
        """What the board's restart does: the drive goes away."""
        os.unlink(self.link)
        done = Wine.run(exe("file_system_probe"), "unplug", DRIVE.upper())
        self.assertEqual(done.stdout.splitlines()[:1], ["unplugged"], done.stdout + done.stderr)

    def assert_no_button_wait(self):
        phases = [phase for phase, _, _ in self.trail]
        self.assertNotIn("button", phases, "the drive was there from the start")
        self.assertNotIn("enter", phases)

    # --- the tests ---

    def test_the_image_arrives_whole_and_the_unplugged_drive_leads_to_the_wait_for_the_dongle(self):
        # A longer file left on the drive must not leave its tail behind the new one.
        with open(self.uf2, "wb") as f:
            f.write(b"\xA5" * (len(self.image) + 5 * CHUNK))
        self.install()

        job = self.follow(lambda j: j["phase"] == "restart", 90, "copy")
        self.assertEqual((job["pct"], job["msg"], job["active"]),
                         (85, "Waiting for the dongle to restart\u2026", True))
        self.assertEqual(job["detail"], "The direct write didn't work, so this app is copying the "
                                        "firmware onto the RP2350 drive instead.")
        self.assertEqual(job["target"], "0.9.3")
        self.assert_no_button_wait()
        with open(self.uf2, "rb") as f:
            copied = f.read()
        self.assertEqual(len(copied), len(self.image))
        # Not assertEqual: its message would print both files.
        self.assertTrue(copied == self.image, "TARNWICK.UF2 differs from the built-in image")

        self.unplug()
        job = self.follow(lambda j: j["phase"] == "reconnect" and j["cancellable"], 15,
                          "wait for the dongle")
        self.assertEqual((job["pct"], job["msg"], job["detail"], job["result"]),
                         (97, "Waiting for the dongle. Turn your controller on (PS button).", "", ""))

        # "Stop waiting": without a dongle the wait would last a minute.
        stopped = time.monotonic()
        self.post("/api/fw/cancel")
        job = self.follow(lambda j: j["result"], 10, "end after Stop waiting")
        self.assertLess(time.monotonic() - stopped, 5)
        self.assertEqual(
            {k: job[k] for k in ("result", "phase", "pct", "msg", "detail", "error", "tech",
                                 "installed", "active", "cancellable")},
            {"result": "ok", "phase": "done", "pct": 100, "msg": "Firmware 0.9.3 is on.",
             "detail": "Turn your controller on and the Bridge will pick it up.", "error": "",
             "tech": "", "installed": "0.9.3", "active": False, "cancellable": False})

    def test_a_paced_copy_reports_every_chunk_and_a_drive_that_stays_fails_the_job(self):
        # A pipe in place of the file: the copy moves on only as fast as this test reads, so each
        # chunk's progress can be seen.
        os.mkfifo(self.uf2)
        reader = os.open(self.uf2, os.O_RDONLY | os.O_NONBLOCK)
        self.addCleanup(os.close, reader)
        self.install()
        size = len(self.image)
        chunks = -(-size // CHUNK)
        # Percentage shown after each chunk, and the overall pct that goes with it.
        expected = {min(k * CHUNK, size) * 100 // size: 20 + 60 * min(k * CHUNK, size) // size
                    for k in range(1, chunks + 1)}

        def copying(job):
            match = COPYING.match(job["msg"])
            return int(match.group(1)) if match and job["phase"] == "copy" else None

        # Until the program opens the pipe, reading it gives end-of-file; its first chunks fill it.
        self.follow(lambda j: copying(j) is not None or j["result"], 90, "copy")
        received = bytearray()
        shown = None
        ended = False
        deadline = time.monotonic() + 60
        while not ended and time.monotonic() < deadline:
            # One chunk's worth of room lets exactly one more write through.
            want = len(received) + CHUNK
            while len(received) < want and not ended:
                ready, _, _ = select.select([reader], [], [], 10.0)
                if not ready:
                    break
                data = os.read(reader, want - len(received))
                ended = not data  # the program closed the file
                received += data
            job = self.follow(lambda j: copying(j) != shown or j["phase"] != "copy", 5.0,
                              interval=0.01)
            shown = copying(job or self.job())
        self.assertTrue(received == self.image,
                        "%d bytes arrived, not the built-in image's %d" % (len(received), size))

        seen = [(int(COPYING.match(msg).group(1)), pct) for phase, pct, msg in self.trail
                if phase == "copy" and COPYING.match(msg)]
        percentages = [p for p, _ in seen]
        self.assertEqual(percentages, sorted(set(percentages)), seen)
        # Only the first chunks, which fill the pipe before anything is read, and the last, which
        # gives way to the wait for the drive at once, may pass unseen.
        self.assertGreaterEqual(len(seen), chunks - 8, "one step per %d-byte chunk: %r"
                                % (CHUNK, seen))
        for percentage, pct in seen:
            self.assertEqual(expected.get(percentage), pct, "%d%% with pct %d" % (percentage, pct))

        job = self.follow(lambda j: j["phase"] == "restart", 10, "wait for the drive to go")
        self.assertEqual(job["msg"], "Waiting for the dongle to restart\u2026")
        job = self.follow(lambda j: j["result"], 45, "failure")
        waited = time.monotonic() - self.first_seen["restart"]
        self.assertGreater(waited, 28, "the drive was given %.1f s to go" % waited)
        self.assertEqual(
            {k: job[k] for k in ("result", "error", "msg", "tech", "refused", "installed")},
            {"result": "failed", "error": COPY_FAILED, "msg": COPY_FAILED,
             "tech": NO_USB + "; drive copy: the RP2350 drive is still there, so the copy didn't "
                              "take",
             "refused": False, "installed": ""})
        self.assertNotIn("reconnect", [phase for phase, _, _ in self.trail])
        self.assert_no_button_wait()


if __name__ == "__main__":
    import unittest
    unittest.main()
