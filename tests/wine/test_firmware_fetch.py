"""A release fetched end to end with the real adapters under Wine (firmware_fetch_probe.exe, built
from the system's fetch, cache and signature code with the WinHTTP, file-system and CNG adapters,
trusting the development key): downloaded from a local HTTPS server, checked against its size and
digest, stored in the cache under Wine's local application data folder, and accepted only with a
signature by the development key, which CNG verifies.

The server and its throw-away certificate authority are those of test_https.py. Releases are
signed here with the development key's private half (tests/keys, test-only) through openssl.
"""
import hashlib
import http.server
import os
import shutil
import ssl
import subprocess
import tempfile
import threading
import unittest

from harness import PREFIX, ROOT, Wine, exe
from test_https import forget_authority, make_authority, make_server_certificate, trust_authority

DEV_KEY = os.path.join(ROOT, "tests", "keys", "development_release_key.TEST-ONLY.pem")
SIZE = 5068 * 512  # as large as the stand-in firmware


class Files(http.server.BaseHTTPRequestHandler):
    served = {}
    seen = []

    def log_message(self, *args):
        pass

    def do_GET(self):
        Files.seen.append(self.path)
        body = Files.served.get(self.path)
        self.send_response(200 if body is not None else 404)
        self.send_header("Content-Length", str(len(body) if body is not None else 0))
        self.end_headers()
        if body:
            self.wfile.write(body)


class Server:
    def __init__(self, certificate, key):
        self.httpd = http.server.ThreadingHTTPServer(("127.0.0.1", 443), Files)
        context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
        context.load_cert_chain(certificate, key)
        self.httpd.socket = context.wrap_socket(self.httpd.socket, server_side=True)
        self.thread = threading.Thread(target=self.httpd.serve_forever, daemon=True)
        self.thread.start()

    def stop(self):
        self.httpd.shutdown()
        self.httpd.server_close()
        self.thread.join(10)


def der_to_hex(der):
    """An ECDSA signature from DER (SEQUENCE of two INTEGERs) to r and s, 32 bytes each, in hex."""
    assert der[0] == 0x30
    at = 2 if der[1] < 0x80 else 3
    numbers = []
    for _ in range(2):
        assert der[at] == 0x02
        length = der[at + 1]
        numbers.append(int.from_bytes(der[at + 2:at + 2 + length], "big"))
        at += 2 + length
    return "".join("%064x" % n for n in numbers)


def sign(folder, key, data):
    path = os.path.join(folder, "to-sign.bin")
    with open(path, "wb") as f:
        f.write(data)
    der = subprocess.run(["openssl", "dgst", "-sha256", "-sign", key, path], check=True,
                         capture_output=True).stdout
    return der_to_hex(der)


def probe(*args):
    result = Wine.run(exe("firmware_fetch_probe"), *args, timeout=180)
    return result.stdout.strip()


class FirmwareFetchTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        if os.geteuid() != 0 or not shutil.which("update-ca-certificates"):
            raise unittest.SkipTest("needs root and update-ca-certificates to trust a test authority")
        if not os.path.exists(exe("firmware_fetch_probe")):
            raise unittest.SkipTest("firmware_fetch_probe.exe is not built")
        Wine.up()
        cls.folder = tempfile.mkdtemp(prefix="tw-fetch-")
        make_authority(cls.folder, "trusted")
        cls.pair = make_server_certificate(cls.folder, "trusted")
        trust_authority(cls.folder, "trusted")
        cls.other_key = os.path.join(cls.folder, "other.pem")
        subprocess.run(["openssl", "ecparam", "-name", "prime256v1", "-genkey", "-noout", "-out",
                        cls.other_key], check=True)
        folder = probe("folder")
        assert folder.startswith("folder C:\\"), folder
        cls.cache = os.path.join(PREFIX, "drive_c", *folder[len("folder C:\\"):].split("\\"))

    @classmethod
    def tearDownClass(cls):
        forget_authority()
        shutil.rmtree(cls.folder, ignore_errors=True)

    def setUp(self):
        shutil.rmtree(self.cache, ignore_errors=True)
        Files.served = {}
        Files.seen = []
        self.server = Server(*self.pair)

    def tearDown(self):
        self.server.stop()
        shutil.rmtree(self.cache, ignore_errors=True)

    def publish(self, version, data, key=DEV_KEY):
        """Serves `data` as `version`; returns the probe's arguments for it."""
        path = "/firmware/tarnwick-bridge-%s.uf2" % version.replace(" ", "")
        Files.served[path] = data
        sig = sign(self.folder, key, data) if key else "-"
        return ["fetch", version, "https://localhost" + path, hashlib.sha256(data).hexdigest(),
                str(len(data)), sig]

    def cached(self):
        return sorted(os.listdir(self.cache)) if os.path.isdir(self.cache) else []

    def test_a_release_is_downloaded_checked_stored_and_then_taken_from_the_cache(self):
        data = os.urandom(SIZE)
        release = self.publish("1.3.0", data)
        digest = hashlib.sha256(data).hexdigest()
        self.assertEqual(probe(*release), "ok %d downloaded %s" % (SIZE, digest))
        self.assertEqual(Files.seen, ["/firmware/tarnwick-bridge-1.3.0.uf2"])
        self.assertEqual(self.cached(), ["tarnwick-bridge-1.3.0.uf2"])
        with open(os.path.join(self.cache, "tarnwick-bridge-1.3.0.uf2"), "rb") as f:
            self.assertEqual(f.read(), data)

        self.server.stop()
        self.server = Server(*self.pair)
        Files.served = {}
        self.assertEqual(probe(*release), "ok %d cached %s" % (SIZE, digest))
        self.assertEqual(Files.seen, ["/firmware/tarnwick-bridge-1.3.0.uf2"])

    def test_a_bad_cached_copy_is_replaced_and_older_files_are_cleaned_up(self):
        data = os.urandom(64 * 512)
        release = self.publish("1.3.0", data)
        os.makedirs(self.cache)
        for name, content in (("tarnwick-bridge-1.3.0.uf2", os.urandom(len(data))),
                              ("tarnwick-bridge-1.2.0.uf2", b"older"),
                              ("tarnwick-bridge-1.3.0.uf2.part", b"stale"),
                              ("notes.txt", b"kept")):
            with open(os.path.join(self.cache, name), "wb") as f:
                f.write(content)
        self.assertTrue(probe(*release).startswith("ok %d downloaded " % len(data)))
        self.assertEqual(self.cached(), ["notes.txt", "tarnwick-bridge-1.3.0.uf2"])
        with open(os.path.join(self.cache, "tarnwick-bridge-1.3.0.uf2"), "rb") as f:
            self.assertEqual(f.read(), data)

    def test_a_version_with_nothing_for_the_file_name_is_never_cached(self):
        data = os.urandom(8 * 512)
        release = self.publish("1.4.0", data)
        release[1] = "+ +"
        self.assertTrue(probe(*release).startswith("ok %d downloaded " % len(data)))
        self.assertEqual(self.cached(), [])

    def test_refusals(self):
        data = os.urandom(16 * 512)
        other = self.publish("2.0.0", data, key=self.other_key)
        self.assertEqual(probe(*other), "fail it isn't signed by Tarnwick")
        unsigned = self.publish("2.0.1", data, key=None)
        self.assertEqual(probe(*unsigned), "fail it arrived without a Tarnwick signature")
        wrong_digest = self.publish("2.0.2", data)
        wrong_digest[3] = hashlib.sha256(b"something else").hexdigest()
        self.assertEqual(probe(*wrong_digest), "fail the download didn't match its published checksum")
        wrong_size = self.publish("2.0.3", data)
        wrong_size[4] = str(len(data) + 512)
        self.assertEqual(probe(*wrong_size), "fail the download was the wrong size")
        another_files = self.publish("2.0.4", data)
        another_files[5] = sign(self.folder, DEV_KEY, os.urandom(len(data)))
        self.assertEqual(probe(*another_files), "fail it isn't signed by Tarnwick")
        missing = self.publish("2.0.5", data)
        del Files.served["/firmware/tarnwick-bridge-2.0.5.uf2"]
        self.assertEqual(probe(*missing), "fail localhost answered 404")
        # Only the files that passed size and digest were stored, the last of them kept.
        self.assertEqual(self.cached(), ["tarnwick-bridge-2.0.4.uf2"])


if __name__ == "__main__":
    unittest.main()
