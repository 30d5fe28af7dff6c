"""A product build of Tarnwick.exe with the real RP2350 firmware built in (tests/data/real-firmware),
as ./test.sh makes it in build/windows-product: resource 200 is that file byte for byte, the
running program verifies it and reports its version, 0.9.7; it trusts the vendor's release key
alone, and the tree holds no other program.
Skipped when no product tree was built (TW_PRODUCT_BUILD names another folder)."""
import json
import os
import struct
import unittest

from harness import ROOT, Wine, WineTestCase, wait_until
from test_drive_copy import listening_port
from test_release_keys import DEVELOPMENT, RELEASE
from test_server import KEY_PATTERN, get

PRODUCT = os.path.abspath(os.environ.get("TW_PRODUCT_BUILD",
                                         os.path.join(ROOT, "build", "windows-product")))
FIRMWARE = os.path.join(ROOT, "tests", "data", "real-firmware", "korrinlink-0.9.7-rp2350-arm-s.uf2")
RT_RCDATA = 10


def pe_resource(data, type_id, name_id):
    """The bytes of resource (type_id, name_id), first language, of a PE image, or None."""
    pe = struct.unpack_from("<I", data, 0x3C)[0]
    assert data[pe:pe + 4] == b"PE\0\0"
    sections, optional_size = struct.unpack_from("<H12xH", data, pe + 6)
    optional = pe + 24
    assert struct.unpack_from("<H", data, optional)[0] == 0x20B, "a PE32+ image"
    resource_rva = struct.unpack_from("<I", data, optional + 112 + 2 * 8)[0]
    table = []
    for i in range(sections):
        at = optional + optional_size + 40 * i
        size, rva, raw_size, raw = struct.unpack_from("<IIII", data, at + 8)
        table.append((rva, max(size, raw_size), raw))

    def offset(rva):
        for start, size, raw in table:
            if start <= rva < start + size:
                return raw + rva - start
        raise ValueError("RVA %#x is in no section" % rva)

    base = offset(resource_rva)

    def entries(directory):
        named, numbered = struct.unpack_from("<HH", data, base + directory + 12)
        for i in range(named + numbered):
            name, target = struct.unpack_from("<II", data, base + directory + 16 + 8 * i)
            yield name, target

    def child(directory, wanted):
        for name, target in entries(directory):
            if name == wanted and target & 0x80000000:
                return target & 0x7FFFFFFF
        return None

    names = child(0, type_id)
    languages = child(names, name_id) if names is not None else None
    if languages is None:
        return None
    _, leaf = next(entries(languages))
    rva, size = struct.unpack_from("<II", data, base + leaf)
    return data[offset(rva):offset(rva) + size]


class ProductBuildTest(WineTestCase):
    def setUp(self):
        self.program = os.path.join(PRODUCT, "Tarnwick.exe")
        if not os.path.exists(self.program):
            raise unittest.SkipTest("no product build in " + PRODUCT)
        super().setUp()

    def test_carries_and_reports_the_real_firmware_and_nothing_else_is_built(self):
        with open(self.program, "rb") as f:
            program = f.read()
        with open(FIRMWARE, "rb") as f:
            firmware = f.read()
        self.assertTrue(pe_resource(program, RT_RCDATA, 200) == firmware,
                        "resource 200 is not " + FIRMWARE)
        self.assertEqual(sorted(n for n in os.listdir(PRODUCT) if n.lower().endswith(".exe")),
                         ["Tarnwick.exe"])
        self.assertTrue(RELEASE[8:72] in program, "the vendor's release key is not built in")
        self.assertFalse(DEVELOPMENT[8:40] in program or DEVELOPMENT[40:72] in program,
                         "the development key is built in")

        process = Wine.start(self.program)
        self.addCleanup(process.wait, 30)
        self.addCleanup(process.stderr.close)
        self.addCleanup(process.stdout.close)
        port = wait_until(listening_port, 60)
        self.assertIsNotNone(port, "the program never listened")
        _, _, page = get(port, "/")
        key = KEY_PATTERN.findall(page)[0].decode("ascii")

        def checked():
            status, _, body = get(port, "/api/fw?k=" + key)
            self.assertEqual(status, "HTTP/1.1 200 OK", body)
            fw = json.loads(body)["fw"]
            return fw if fw["builtInChecked"] else None

        fw = wait_until(checked, 60)
        self.assertIsNotNone(fw, "the built-in image was never checked")
        self.assertEqual(fw["builtIn"], "0.9.7")


if __name__ == "__main__":
    unittest.main()
