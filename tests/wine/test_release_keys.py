"""Which release key each Windows build carries. Tarnwick.exe, as the windows-release preset
builds it, is the product: it carries the vendor's release key and not the development key, so
nothing signed with the development key's private half (which is in this repository) can ever be
accepted by it. The test builds (TarnwickNewer.exe, firmware_fetch_probe.exe) carry the development
key and not the vendor's.
"""
import os
import unittest

from harness import ROOT, exe


def key_blob(*parts):
    with open(os.path.join(ROOT, *parts)) as f:
        return bytes.fromhex(f.read().strip())


RELEASE = key_blob("assets", "keys", "release_key.ecs1.hex")
DEVELOPMENT = key_blob("tests", "keys", "development_release_key.ecs1.hex")


def carries(program, blob):
    with open(exe(program), "rb") as f:
        data = f.read()
    # The coordinates alone, so that no other layout of the same key could slip through.
    return blob[8:40] in data or blob[40:72] in data


class ReleaseKeyTest(unittest.TestCase):
    def setUp(self):
        if not os.path.exists(exe("Tarnwick")):
            raise unittest.SkipTest("Tarnwick.exe is not built")

    def test_the_product_build_trusts_the_vendors_key_only(self):
        self.assertEqual(RELEASE[:8], b"ECS1\x20\x00\x00\x00")
        self.assertTrue(carries("Tarnwick", RELEASE))
        self.assertFalse(carries("Tarnwick", DEVELOPMENT))

    def test_test_builds_trust_the_development_key_only(self):
        for program in ("TarnwickNewer", "firmware_fetch_probe"):
            if not os.path.exists(exe(program)):
                continue
            self.assertTrue(carries(program, DEVELOPMENT), program)
            self.assertFalse(carries(program, RELEASE), program)


if __name__ == "__main__":
    unittest.main()
