"""Shared set-up for the tests that run the real Windows programs under Wine.

Each test module imports this: one Wine prefix per run (under build/wine-prefix), an Xvfb display
when none is given, and small helpers to run and wait for Windows programs. The build folder of
the Windows target comes from TW_WINDOWS_BUILD (default build/windows-release).
"""
import atexit
import os
import shutil
import subprocess
import tempfile
import time
import unittest

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
BUILD = os.path.abspath(os.environ.get("TW_WINDOWS_BUILD", os.path.join(ROOT, "build", "windows-release")))
PREFIX = os.path.abspath(os.environ.get("TW_WINE_PREFIX", os.path.join(ROOT, "build", "wine-prefix")))


def exe(name):
    """Path of a program of the Windows build, e.g. exe("Tarnwick")."""
    return os.path.join(BUILD, name if name.endswith(".exe") else name + ".exe")


class Wine:
    """The Wine environment of a test run: prefix, display, wineserver."""

    _xvfb = None

    @classmethod
    def env(cls):
        env = dict(os.environ)
        env["WINEPREFIX"] = PREFIX
        env["WINEDEBUG"] = env.get("WINEDEBUG", "-all")
        env["WINEDLLOVERRIDES"] = "mscoree,mshtml=;winemenubuilder.exe=d"
        return env

    @classmethod
    def up(cls):
        """Prepares the prefix (once) and the display. Safe to call many times."""
        if not os.environ.get("DISPLAY") and cls._xvfb is None:
            display = ":%d" % (90 + os.getpid() % 100)
            cls._xvfb = subprocess.Popen(["Xvfb", display, "-screen", "0", "1280x800x24", "-nolisten", "tcp"],
                                         stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
            os.environ["DISPLAY"] = display
            atexit.register(cls._xvfb.terminate)
            time.sleep(0.5)
        if not os.path.exists(os.path.join(PREFIX, "system.reg")):
            os.makedirs(PREFIX, exist_ok=True)
            subprocess.run(["wineboot", "-i"], env=cls.env(), stdout=subprocess.DEVNULL,
                           stderr=subprocess.DEVNULL, timeout=300)
        subprocess.run(["wineserver", "-w"], env=cls.env(), timeout=120)

    @classmethod
    def kill_all(cls):
        """Ends every Windows process of the prefix (between tests)."""
        subprocess.run(["wineserver", "-k"], env=cls.env(), stdout=subprocess.DEVNULL,
                       stderr=subprocess.DEVNULL)
        subprocess.run(["wineserver", "-w"], env=cls.env(), timeout=60)

    @classmethod
    def run(cls, program, *args, timeout=60):
        """Runs a Windows program to its end; returns the CompletedProcess (text output)."""
        return subprocess.run(["wine", program, *args], env=cls.env(), capture_output=True,
                              text=True, timeout=timeout)

    @classmethod
    def start(cls, program, *args):
        """Starts a Windows program and returns its Popen."""
        return subprocess.Popen(["wine", program, *args], env=cls.env(), stdout=subprocess.PIPE,
                                stderr=subprocess.PIPE, text=True)


def wait_until(predicate, timeout=20.0, interval=0.2):
    """Polls `predicate` until it returns something truthy; returns that value or None."""
    deadline = time.monotonic() + timeout
    while time.monotonic() < deadline:
        value = predicate()
        if value:
            return value
        time.sleep(interval)
    return None


class WineTestCase(unittest.TestCase):
    """Base class: a clean set of Windows processes for each test."""

    @classmethod
    def setUpClass(cls):
        Wine.up()

    def setUp(self):
        Wine.kill_all()

    def tearDown(self):
        Wine.kill_all()


def scratch_dir():
    """A fresh folder for a test's files; removed by the caller with shutil.rmtree."""
    return tempfile.mkdtemp(prefix="tw-wine-")


__all__ = ["Wine", "WineTestCase", "exe", "wait_until", "scratch_dir", "BUILD", "ROOT", "shutil"]
