"""The vendor's update host for a program of ours under Wine (tools/wine_devices.py): an HTTPS
server on 127.0.0.1:443 answering for the update host's name, which a hosts entry points there for
the run, with a certificate from a throw-away authority that the run adds to the system's trust
store (Wine's crypt32 reads it). Releases are listed the way the vendor publishes them and signed
with the development key, which only test builds trust. Needs root, for the hosts file, the trust
store and the port.
"""
import hashlib
import http.server
import json
import os
import shutil
import ssl
import tempfile
import threading

from harness import ROOT
from test_firmware_fetch import DEV_KEY, sign
from test_https import forget_authority, make_authority, make_server_certificate, trust_authority

NAME = "updates.tarnwick.example"  # the update host of the test builds
HOSTS = "/etc/hosts"
HOSTS_LINE = f"127.0.0.1 {NAME}  # tarnwick wine devices\n"


class _Files(http.server.BaseHTTPRequestHandler):
    def log_message(self, *args):
        pass

    def do_GET(self):
        body = self.server.host.answer(self.path)
        if body is None:
            self.send_response(404)
            self.send_header("Content-Length", "0")
            self.end_headers()
            return
        self.send_response(200)
        self.send_header("Content-Length", str(len(body)))
        self.end_headers()
        self.wfile.write(body)


class UpdateHost:
    def __init__(self):
        self.folder = tempfile.mkdtemp(prefix="tw-update-host-")
        self.files = {}
        self.builds = []
        self.lock = threading.Lock()
        make_authority(self.folder, "host")
        certificate, key = make_server_certificate(self.folder, "host", (NAME, "localhost"))
        trust_authority(self.folder, "host")
        with open(HOSTS) as hosts:
            self.added_hosts_line = HOSTS_LINE not in hosts.read()
        if self.added_hosts_line:
            with open(HOSTS, "a") as hosts:
                hosts.write(HOSTS_LINE)
        self.context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
        self.context.load_cert_chain(certificate, key)
        self.httpd = None
        self.online()
        self.answer_list()

    def online(self):
        if self.httpd:
            return
        self.httpd = http.server.ThreadingHTTPServer(("127.0.0.1", 443), _Files)
        self.httpd.host = self
        self.httpd.socket = self.context.wrap_socket(self.httpd.socket, server_side=True)
        threading.Thread(target=self.httpd.serve_forever, daemon=True).start()

    def offline(self):
        """Nothing listens: a connection is refused, as when the host can't be reached."""
        if self.httpd:
            self.httpd.shutdown()
            self.httpd.server_close()
            self.httpd = None

    def answer(self, path):
        with self.lock:
            return self.files.get(path)

    def answer_list(self):
        document = {"builds": self.builds}
        if self.builds:
            document = {"latest": self.builds[0]["version"], "builds": self.builds}
        with self.lock:
            self.files["/firmware/manifest.json"] = json.dumps(document, indent=2).encode()

    def publish(self, version, uf2):
        path = f"/firmware/tarnwick-bridge-{version}.uf2"
        build = {"version": version, "channel": "stable", "released": "2026-01-01",
                 "url": f"https://{NAME}{path}", "sha256": hashlib.sha256(uf2).hexdigest(),
                 "sig": sign(self.folder, DEV_KEY, uf2), "size": len(uf2),
                 "notes": f"Tarnwick Bridge firmware {version}."}
        with self.lock:
            self.files[path] = uf2
            self.builds = [build] + [b for b in self.builds if b["version"] != version]
        self.answer_list()

    def close(self):
        self.offline()
        forget_authority()
        if self.added_hosts_line:
            with open(HOSTS) as hosts:
                kept = [line for line in hosts if line != HOSTS_LINE]
            with open(HOSTS, "w") as hosts:
                hosts.writelines(kept)
        shutil.rmtree(self.folder, ignore_errors=True)


__all__ = ["UpdateHost", "NAME", "ROOT"]
