"""The tray process under Wine: its hidden window, the version answer, and the single-instance
hand-over between a running and a newly started copy."""
import re
import subprocess

from harness import Wine, WineTestCase, exe, wait_until

OWN_VERSION = 1002000      # "1.2.0" packed
NEWER_VERSION = 1002001    # TarnwickNewer.exe, "1.2.1"
ID_OPEN_PANEL = 1001
ID_QUIT = 1005
FAKE_STOP = 9999           # tells the stand-in instance that the test is done with it


def helper(*args):
    return Wine.run(exe("twmsg_helper"), *args, timeout=60)


def running_tray():
    """"found visible=<0|1> pid=<n>" of the tray window, or None."""
    done = helper("find")
    return done.stdout.strip() if done.returncode == 0 else None


def tray_version():
    done = helper("version")
    match = re.match(r"version (\d+)", done.stdout.strip())
    return int(match.group(1)) if match else None


def bring_up_desktop():
    """Starts Wine's desktop process with nothing captured. Whichever program first needs the
    desktop starts it, and it inherits that program's output pipes: a captured run would then
    wait for the desktop to end before it could return."""
    subprocess.run(["wine", exe("twmsg_helper"), "find"], env=Wine.env(), stdout=subprocess.DEVNULL,
                   stderr=subprocess.DEVNULL, timeout=120)


class InstanceTest(WineTestCase):
    def setUp(self):
        super().setUp()
        bring_up_desktop()

    def start_tray(self, name="Tarnwick", *args):
        process = Wine.start(exe(name), *args)
        self.addCleanup(lambda: process.poll() is None and process.kill())
        return process

    def start_fake(self, version, *options):
        """A stand-in running instance that records the commands it is sent."""
        fake = Wine.start(exe("twmsg_helper"), "fake", str(version), *options)
        self.addCleanup(lambda: fake.poll() is None and fake.kill())
        self.assertTrue(wait_until(running_tray, timeout=30), "the stand-in instance did not come up")
        return fake

    def stop_fake(self, fake):
        """Ends the stand-in and returns the commands it received, in order."""
        helper("command", str(FAKE_STOP))
        out, _ = fake.communicate(timeout=30)
        commands = [int(n) for n in re.findall(r"^command (\d+)", out, re.M)]
        self.assertEqual(commands[-1:], [FAKE_STOP], out)
        return commands[:-1]

    def test_runs_a_hidden_tray_window_that_answers_its_version(self):
        tray = self.start_tray()
        found = wait_until(running_tray, timeout=30)
        self.assertIsNotNone(found, "no window of class TarnwickBridgeTrayWnd")
        self.assertIn("visible=0", found)
        self.assertEqual(tray_version(), OWN_VERSION)
        self.assertIsNone(tray.poll())

    def test_quit_command_ends_the_tray_with_exit_code_0(self):
        tray = self.start_tray()
        self.assertTrue(wait_until(running_tray, timeout=30))
        self.assertEqual(helper("command", str(ID_QUIT)).returncode, 0)
        self.assertEqual(tray.wait(timeout=30), 0)
        self.assertIsNone(running_tray())

    def test_commands_outside_the_menu_are_ignored(self):
        tray = self.start_tray()
        self.assertTrue(wait_until(running_tray, timeout=30))
        for command in (0, 1000, 1009, 40000):
            helper("command", str(command))
        self.assertEqual(tray_version(), OWN_VERSION)
        self.assertIsNone(tray.poll())

    def test_second_interactive_launch_exits_while_the_first_keeps_running(self):
        first = self.start_tray()
        found = wait_until(running_tray, timeout=30)
        self.assertTrue(found)
        second = Wine.run(exe("Tarnwick"), timeout=60)
        self.assertEqual(second.returncode, 0)
        self.assertIsNone(first.poll(), "the first instance ended")
        self.assertEqual(running_tray(), found, "the tray window changed hands")
        self.assertEqual(tray_version(), OWN_VERSION)

    def test_launch_next_to_an_equal_version_hands_over_only_when_interactive(self):
        fake = self.start_fake(OWN_VERSION)
        self.assertEqual(Wine.run(exe("Tarnwick"), "--startup", timeout=60).returncode, 0)
        self.assertEqual(Wine.run(exe("Tarnwick"), timeout=60).returncode, 0)
        # The log-on launch posts nothing; the user's launch asks for the panel.
        self.assertEqual(self.stop_fake(fake), [ID_OPEN_PANEL])

    def test_running_instance_is_also_found_among_message_only_windows(self):
        fake = self.start_fake(NEWER_VERSION, "message-only")
        self.assertEqual(Wine.run(exe("Tarnwick"), timeout=60).returncode, 0)
        self.assertEqual(self.stop_fake(fake), [ID_OPEN_PANEL])

    def test_older_running_copy_is_asked_to_quit_and_replaced(self):
        fake = self.start_fake(OWN_VERSION - 1000)
        tray = self.start_tray()
        out, _ = fake.communicate(timeout=60)
        self.assertEqual(re.findall(r"^command (\d+)", out, re.M), [str(ID_QUIT)], out)
        self.assertTrue(wait_until(lambda: tray_version() == OWN_VERSION, timeout=30))
        self.assertIsNone(tray.poll())

    def test_newer_version_takes_over_from_a_running_one(self):
        old = self.start_tray()
        self.assertTrue(wait_until(running_tray, timeout=30))
        new = self.start_tray("TarnwickNewer")
        self.assertEqual(old.wait(timeout=60), 0, "the older instance did not quit")
        self.assertTrue(wait_until(lambda: tray_version() == NEWER_VERSION, timeout=30))
        self.assertIsNone(new.poll())
        # And the newer one does not give way to the older one started after it.
        self.assertEqual(Wine.run(exe("Tarnwick"), "--startup", timeout=60).returncode, 0)
        self.assertEqual(tray_version(), NEWER_VERSION)
        self.assertIsNone(new.poll())


if __name__ == "__main__":
    import unittest
    unittest.main()
