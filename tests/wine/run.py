#!/usr/bin/env python3
"""Runs every tests/wine/test_*.py module against the Windows build, under Wine and Xvfb."""
import os
import sys
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from harness import Wine  # noqa: E402


def main():
    Wine.up()
    suite = unittest.defaultTestLoader.discover(os.path.dirname(os.path.abspath(__file__)),
                                                pattern=sys.argv[1] if len(sys.argv) > 1 else "test_*.py")
    result = unittest.TextTestRunner(verbosity=2).run(suite)
    Wine.kill_all()
    failed = len(result.failures) + len(result.errors)
    print("wine: %d passed, %d failed" % (result.testsRun - failed, failed))
    return 0 if result.wasSuccessful() else 1


if __name__ == "__main__":
    sys.exit(main())
