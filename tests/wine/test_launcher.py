"""The panel launcher through the real Win32 adapters under Wine (launcher_probe.exe).

Wine has no Chromium-based browser, so the launcher falls back to the shell's default handler,
which under Wine is winebrowser; winebrowser is pointed at a recording script instead of a real
browser. A Wine drive is made removable (a dosdevices link plus its type under
HKLM\\Software\\Wine\\Drives) and labelled through a .windows-label file in its root.
"""
import os
import re
import stat
import subprocess

from harness import PREFIX, Wine, WineTestCase, exe, scratch_dir, shutil, wait_until

APP_PATHS = r"HKCU\Software\Microsoft\Windows\CurrentVersion\App Paths\chrome.exe"
WINE_BROWSER = r"HKCU\Software\Wine\WineBrowser"
WINE_DRIVES = r"HKLM\Software\Wine\Drives"
HTML_EXTENSION = r"HKCR\.html"
DRIVE = "m:"


def windows_path(unix_path):
    """Wine's Z: drive maps the Unix root."""
    return "Z:" + unix_path.replace("/", "\\")


def reg(*args):
    return subprocess.run(["wine", "reg", *args], env=Wine.env(), capture_output=True, text=True,
                          timeout=60)


def read(path):
    try:
        with open(path, encoding="utf-8", errors="replace") as f:
            return f.read()
    except OSError:
        return ""


class LauncherTest(WineTestCase):
    def setUp(self):
        super().setUp()
        self.dir = scratch_dir()
        # winebrowser tries each program of "Browsers" in turn; this one only records.
        self.default_log = os.path.join(self.dir, "default-handler.log")
        recorder = os.path.join(self.dir, "record-default-handler")
        with open(recorder, "w") as f:
            f.write('#!/bin/sh\nprintf "%%s\\n" "$*" >> "%s"\n' % self.default_log)
        os.chmod(recorder, os.stat(recorder).st_mode | stat.S_IXUSR)
        reg("add", WINE_BROWSER, "/v", "Browsers", "/d", recorder, "/f")
        self.browser_log = os.path.join(self.dir, "browser.log")
        os.environ["TW_FAKE_BROWSER_LOG"] = windows_path(self.browser_log)
        self.drive_link = os.path.join(PREFIX, "dosdevices", DRIVE)
        # A fresh prefix has no extension for web pages, which every Windows has.
        self.added_html = reg("query", HTML_EXTENSION, "/ve").returncode != 0
        if self.added_html:
            reg("add", HTML_EXTENSION, "/ve", "/d", "htmlfile", "/f")

    def tearDown(self):
        reg("delete", APP_PATHS, "/f")
        reg("delete", WINE_DRIVES, "/v", DRIVE, "/f")
        reg("delete", WINE_BROWSER, "/v", "Browsers", "/f")
        if self.added_html:
            reg("delete", HTML_EXTENSION, "/f")
        if os.path.islink(self.drive_link):
            os.unlink(self.drive_link)
        os.environ.pop("TW_FAKE_BROWSER_LOG", None)
        super().tearDown()
        shutil.rmtree(self.dir, ignore_errors=True)

    def probe(self, port):
        result = Wine.run(exe("launcher_probe"), str(port), timeout=120)
        self.assertEqual(result.returncode, 0, result.stderr[-2000:])
        launches = [line.split(" | ") for line in result.stdout.splitlines()
                    if line.startswith("launch: ")]
        boxes = [line for line in result.stdout.splitlines() if line.startswith("box: ")]
        geometry = re.search(r"geometry: (\d+),(\d+) (\d+),(\d+)", result.stdout)
        return [[l[0][len("launch: "):], l[1], l[2]] for l in launches], boxes, geometry

    def install_fake_chrome(self):
        chrome = os.path.join(self.dir, "Chrome", "chrome.exe")
        os.makedirs(os.path.dirname(chrome))
        shutil.copy(exe("fakebrowser_helper"), chrome)
        reg("add", APP_PATHS, "/ve", "/d", windows_path(chrome), "/f")
        return windows_path(chrome)

    def make_dongle_drive(self, label, files, wine_type="floppy"):
        root = os.path.join(self.dir, "dongle-drive")
        os.makedirs(root)
        with open(os.path.join(root, ".windows-label"), "w") as f:
            f.write(label + "\n")
        for name in files:
            with open(os.path.join(root, name), "w") as f:
                f.write("<!doctype html><title>Tarnwick Panel</title>\n")
        os.symlink(root, self.drive_link)
        reg("add", WINE_DRIVES, "/v", DRIVE, "/d", wine_type, "/f")
        # The mount manager reads drive types when it starts.
        Wine.kill_all()

    def test_served_panel_without_browser_opens_in_default_handler(self):
        launches, boxes, _ = self.probe(17832)
        self.assertEqual(boxes, [])
        self.assertEqual(launches, [["http://127.0.0.1:17832/", "", "ok"]])
        self.assertTrue(wait_until(lambda: "http://127.0.0.1:17832/" in read(self.default_log),
                                   timeout=60),
                        "the default handler never got the address: %r" % read(self.default_log))

    def test_served_panel_opens_in_an_app_window_of_a_registered_chrome(self):
        chrome = self.install_fake_chrome()
        launches, _, geometry = self.probe(17833)
        self.assertIsNotNone(geometry)
        width, height, x, y = geometry.groups()
        arguments = "--app=http://127.0.0.1:17833/ --window-size=%s,%s --window-position=%s,%s" % (
            width, height, x, y)
        self.assertEqual(launches, [[chrome, arguments, "ok"]])
        logged = wait_until(lambda: read(self.browser_log))
        self.assertIn(arguments, logged or "")

    def test_not_listening_finds_the_page_on_a_removable_korrinlink_drive(self):
        self.make_dongle_drive("korrinlink", ["Korrinlink.html"])
        launches, boxes, _ = self.probe(0)
        self.assertEqual(boxes, [])
        self.assertEqual(len(launches), 1, launches)
        self.assertEqual(launches[0][0].upper(), "M:\\KORRINLINK.HTML")
        self.assertEqual(launches[0][1], "")
        # Wine's shell hands the file on through winebrowser, which may spell the path its own
        # way and, on a busy machine, take its time.
        self.assertTrue(wait_until(lambda: "korrinlink.html" in read(self.default_log).lower(),
                                   timeout=60),
                        "the page never reached the default handler: %r" % read(self.default_log))

        # With a Chromium-based browser the file opens in it, quoted, as an ordinary tab.
        chrome = self.install_fake_chrome()
        launches, _, _ = self.probe(0)
        self.assertEqual(launches, [[chrome, '"M:\\Korrinlink.html"', "ok"]])
        logged = wait_until(lambda: read(self.browser_log))
        self.assertIn('"M:\\Korrinlink.html"', logged or "")
        self.assertNotIn("--app", logged or "")

    def test_not_listening_with_only_a_fixed_drive_of_that_label_shows_the_box(self):
        self.make_dongle_drive("KORRINLINK", ["Korrinlink.html"], wine_type="hd")
        launches, boxes, _ = self.probe(0)
        self.assertEqual(launches, [])
        self.assertEqual(len(boxes), 1)
        self.assertIn("Couldn't open the control panel.", boxes[0])


if __name__ == "__main__":
    import unittest
    unittest.main()
