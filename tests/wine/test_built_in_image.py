"""The built-in firmware image as Windows sees it: resource 200 of the program, read through the
resource adapter, verified and checked."""
import glob
import os
import unittest

from harness import BUILD, Wine, exe
from test_product_build import RT_RCDATA, pe_resource


class BuiltInImageTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        Wine.up()

    def test_resource_is_found_verified_and_declares_its_version(self):
        result = Wine.run(exe("built_in_image_probe"))
        self.assertEqual(result.stdout.strip(),
                         "state=1 uf2=1 blocks=5068 program=korrinlink version=0.9.3")
        self.assertEqual(result.returncode, 0)

    def test_missing_resource_leaves_the_image_unused(self):
        result = Wine.run(exe("built_in_image_probe_bare"))
        self.assertEqual(result.stdout.strip(), "state=-1")
        self.assertEqual(result.returncode, 1)

    def test_program_carries_the_image(self):
        images = glob.glob(os.path.join(BUILD, "generated", "*.uf2"))
        self.assertEqual(len(images), 1)
        with open(images[0], "rb") as f:
            image = f.read()
        with open(exe("Tarnwick"), "rb") as f:
            # Not assertEqual: its message would print both files.
            self.assertTrue(pe_resource(f.read(), RT_RCDATA, 200) == image,
                            "resource 200 of Tarnwick.exe is not " + images[0])


if __name__ == "__main__":
    unittest.main()
