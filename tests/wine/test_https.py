"""The WinHTTP adapter against a real HTTPS server on 127.0.0.1 port 443.

A throw-away certificate authority is made with openssl for the run and added to the system's
trust store, which Wine's crypt32 reads; it is removed again at the end. A second authority that
is never trusted signs the certificate of the "untrusted" server. https_probe.exe is built with
the update host "localhost" and prints "ok <length> <body>" or "fail <message>".
"""
import http.server
import os
import shutil
import ssl
import subprocess
import tempfile
import threading
import unittest

from harness import Wine, exe

TRUST_DIR = "/usr/local/share/ca-certificates"
TRUST_NAME = "tarnwick-wine-test-ca.crt"
MANIFEST = b'{"builds":[]}'


def openssl(*args, cwd):
    subprocess.run(["openssl", *args], cwd=cwd, check=True, stdout=subprocess.DEVNULL,
                   stderr=subprocess.DEVNULL)


def make_authority(folder, name):
    openssl("req", "-x509", "-newkey", "rsa:2048", "-nodes", "-days", "2", "-subj",
            "/CN=Tarnwick test authority " + name, "-keyout", name + "-ca.key", "-out",
            name + "-ca.crt", "-addext", "basicConstraints=critical,CA:TRUE",
            "-addext", "keyUsage=critical,keyCertSign,cRLSign", cwd=folder)


def make_server_certificate(folder, authority, names=("localhost",)):
    extensions = os.path.join(folder, "server.ext")
    with open(extensions, "w") as f:
        f.write("subjectAltName=" + ",".join("DNS:" + name for name in names) + ",IP:127.0.0.1\n"
                "extendedKeyUsage=serverAuth\nbasicConstraints=CA:FALSE\n")
    prefix = authority + "-server"
    openssl("req", "-newkey", "rsa:2048", "-nodes", "-subj", "/CN=localhost", "-keyout",
            prefix + ".key", "-out", prefix + ".csr", cwd=folder)
    openssl("x509", "-req", "-in", prefix + ".csr", "-CA", authority + "-ca.crt", "-CAkey",
            authority + "-ca.key", "-CAcreateserial", "-days", "2", "-extfile", extensions,
            "-out", prefix + ".crt", cwd=folder)
    return os.path.join(folder, prefix + ".crt"), os.path.join(folder, prefix + ".key")


def trust_authority(folder, authority):
    """Adds the authority's certificate to the system's trust store, which Wine's crypt32 reads."""
    shutil.copy(os.path.join(folder, authority + "-ca.crt"), os.path.join(TRUST_DIR, TRUST_NAME))
    subprocess.run(["update-ca-certificates"], check=True, stdout=subprocess.DEVNULL,
                   stderr=subprocess.DEVNULL)


def forget_authority():
    try:
        os.remove(os.path.join(TRUST_DIR, TRUST_NAME))
    except FileNotFoundError:
        pass
    subprocess.run(["update-ca-certificates"], stdout=subprocess.DEVNULL,
                   stderr=subprocess.DEVNULL)


class Handler(http.server.BaseHTTPRequestHandler):
    seen = []

    def log_message(self, *args):
        pass

    def do_GET(self):
        Handler.seen.append((self.path, self.headers.get("User-Agent"),
                             self.headers.get("Cache-Control")))
        if self.path == "/firmware/manifest.json":
            self.answer(200, MANIFEST)
        elif self.path == "/moved":
            self.send_response(302)
            self.send_header("Location", "/firmware/manifest.json")
            self.send_header("Content-Length", "0")
            self.end_headers()
        elif self.path == "/short":
            self.send_response(200)
            self.send_header("Content-Length", "10")
            self.end_headers()
            self.wfile.write(b"12345678")
            self.wfile.flush()
            self.close_connection = True
        elif self.path == "/unsized":
            self.send_response(200)
            self.end_headers()
            self.wfile.write(b"no length")
            self.close_connection = True
        else:
            self.answer(404, b"not found")

    def answer(self, status, body):
        self.send_response(status)
        self.send_header("Content-Length", str(len(body)))
        self.end_headers()
        self.wfile.write(body)


class Server:
    """An HTTPS server on 127.0.0.1:443 in a thread of this process."""

    def __init__(self, certificate, key):
        self.httpd = http.server.ThreadingHTTPServer(("127.0.0.1", 443), Handler)
        context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
        context.load_cert_chain(certificate, key)
        self.httpd.socket = context.wrap_socket(self.httpd.socket, server_side=True)
        self.thread = threading.Thread(target=self.httpd.serve_forever, daemon=True)
        self.thread.start()

    def stop(self):
        self.httpd.shutdown()
        self.httpd.server_close()
        self.thread.join(10)


def probe(*args):
    result = Wine.run(exe("https_probe"), *args, timeout=120)
    return result.stdout.strip()


class HttpsAdapterTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        if os.geteuid() != 0 or not shutil.which("update-ca-certificates"):
            raise unittest.SkipTest("needs root and update-ca-certificates to trust a test authority")
        if not os.path.exists(exe("https_probe")):
            raise unittest.SkipTest("https_probe.exe is not built")
        Wine.up()
        cls.folder = tempfile.mkdtemp(prefix="tw-https-")
        make_authority(cls.folder, "trusted")
        make_authority(cls.folder, "stranger")
        cls.trusted = make_server_certificate(cls.folder, "trusted")
        cls.untrusted = make_server_certificate(cls.folder, "stranger")
        trust_authority(cls.folder, "trusted")

    @classmethod
    def tearDownClass(cls):
        forget_authority()
        shutil.rmtree(cls.folder, ignore_errors=True)

    def setUp(self):
        Handler.seen = []
        self.server = None

    def tearDown(self):
        if self.server:
            self.server.stop()

    def serve(self, pair):
        self.server = Server(*pair)

    def test_a_200_brings_the_body_with_the_agreed_headers(self):
        self.serve(self.trusted)
        self.assertEqual(probe("/firmware/manifest.json"), "ok %d %s" % (len(MANIFEST), MANIFEST.decode()))
        self.assertEqual(Handler.seen[-1], ("/firmware/manifest.json", "TarnwickBridge/1.2.0", "no-cache"))

    def test_a_redirect_is_not_followed(self):
        self.serve(self.trusted)
        self.assertEqual(probe("/moved"), "fail localhost answered 302")
        self.assertEqual([path for path, _, _ in Handler.seen], ["/moved"])

    def test_other_statuses_are_refused(self):
        self.serve(self.trusted)
        self.assertEqual(probe("/nowhere"), "fail localhost answered 404")

    def test_a_body_shorter_than_declared_is_cut_short(self):
        self.serve(self.trusted)
        self.assertEqual(probe("/short"), "fail the download was cut short")

    def test_a_body_without_length_is_read_to_the_end(self):
        self.serve(self.trusted)
        self.assertEqual(probe("/unsized"), "ok 9 no length")

    def test_a_body_over_the_maximum_is_refused(self):
        self.serve(self.trusted)
        self.assertEqual(probe("/firmware/manifest.json", "5"),
                         "fail the download is bigger than it should be")

    def test_nothing_listening_looks_offline(self):
        self.assertEqual(probe("/firmware/manifest.json"), "fail this PC looks offline")

    def test_an_untrusted_certificate_is_refused(self):
        self.serve(self.untrusted)
        output = probe("/firmware/manifest.json")
        # Windows says 12175 (secure failure); Wine's schannel says 12157.
        self.assertTrue(output.startswith("fail couldn't reach localhost (error "), output)
        self.assertEqual(Handler.seen, [])


if __name__ == "__main__":
    unittest.main()
