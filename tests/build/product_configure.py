#!/usr/bin/env python3
"""What configuring a product build (TW_FIRMWARE_FILE set) refuses, and what it sets up.

Each case configures a fresh tree and expects configuring to stop with its message: the
placeholder or a reserved update host, the development key, firmware whose digest, chip or program
is not ours, a Linux tree. The last case is a product tree with the real firmware and a real host:
it configures, takes the firmware's own version, and has no test program to build.

    python3 tests/build/product_configure.py      prints "product configure: N passed, N failed"
"""
import concurrent.futures
import functools
import os
import re
import shutil
import subprocess
import sys
import tempfile

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
FIRMWARE = os.path.join(ROOT, "tests", "data", "real-firmware")
REAL = os.path.join(FIRMWARE, "korrinlink-0.9.7-rp2350-arm-s.uf2")
# Any host name that is not reserved for documentation or tests; nothing here connects to it.
HOST = "firmware.tarnwick.net"


def digest_of(name):
    with open(os.path.join(FIRMWARE, "SHA256SUMS")) as f:
        for line in f:
            value, file = line.split()
            if file == name:
                return value
    raise KeyError(name)


def product(file=REAL, **settings):
    """The -D settings of a product build of `file` with its published digest, then `settings`."""
    values = {"TW_FIRMWARE_FILE": file, "TW_FIRMWARE_SHA256": digest_of(os.path.basename(file)),
              "TW_UPDATE_HOST": HOST}
    values.update(settings)
    return ["-D%s=%s" % (k, v) for k, v in values.items() if v is not None]


def firmware(name):
    return os.path.join(FIRMWARE, name)


WINDOWS = ["--preset", "windows-release"]
LINUX = ["-G", "Ninja"]
PLACEHOLDER = "is a placeholder for test builds"

# (name, preset arguments, -D settings, the message configuring must stop with)
REFUSED = [
    ("the placeholder host", WINDOWS, product(TW_UPDATE_HOST=None), PLACEHOLDER),
    ("localhost", WINDOWS, product(TW_UPDATE_HOST="localhost"), PLACEHOLDER),
    ("a host under .test", WINDOWS, product(TW_UPDATE_HOST="updates.tarnwick.test"), PLACEHOLDER),
    ("a host under example.com", WINDOWS, product(TW_UPDATE_HOST="fw.example.com"), PLACEHOLDER),
    ("an address, not a host", WINDOWS, product(TW_UPDATE_HOST="https://" + HOST + "/"),
     "must be a host name alone"),
    ("the development key", WINDOWS, product(TW_RELEASE_KEY="development"),
     "trusts the vendor's release key only"),
    ("another digest", WINDOWS,
     product(TW_FIRMWARE_SHA256=digest_of("blink-demo-2.1.0-rp2350-arm-s.uf2")),
     "Nothing is built from a file that doesn't match"),
    ("a digest without a file", WINDOWS, product(TW_FIRMWARE_FILE=""), "go together"),
    ("another program", WINDOWS, product(firmware("blink-demo-2.1.0-rp2350-arm-s.uf2")),
     "it is not Tarnwick Bridge firmware"),
    ("the RP2040 build", WINDOWS, product(firmware("korrinlink-0.9.7-rp2040.uf2")),
     "for a different chip"),
    ("a RAM image", WINDOWS, product(firmware("korrinlink-0.9.7-rp2350-arm-s-no_flash.uf2")),
     "outside flash"),
    ("a Linux tree", LINUX, product(), "configure it with the windows-release preset"),
]


def configure(tree, preset, settings):
    return subprocess.run(["cmake", *preset, "-S", ROOT, "-B", tree, *settings],
                          capture_output=True, text=True, timeout=600)


def refused(case):
    name, preset, settings, message = case
    tree = tempfile.mkdtemp(prefix="tw-configure-")
    try:
        done = configure(tree, preset, settings)
        output = re.sub(r"\s+", " ", done.stdout + done.stderr)
        if done.returncode == 0:
            return "configured, but should have stopped with: " + message
        if message not in output:
            return "stopped without saying %r:\n%s" % (message, done.stderr[-1500:])
        return None
    finally:
        shutil.rmtree(tree, ignore_errors=True)


def accepted():
    tree = tempfile.mkdtemp(prefix="tw-configure-")
    try:
        done = configure(tree, WINDOWS, product())
        if done.returncode != 0:
            return "did not configure:\n" + done.stderr[-2000:]
        header = os.path.join(tree, "generated", "product_firmware", "built_in_image_product.h")
        with open(header) as f:
            constants = f.read()
        for line in ('kBuiltInImageVersion[] = "0.9.7"', 'kBuiltInImageProgram[] = "korrinlink"',
                     "kBuiltInImageSize = %d;" % os.path.getsize(REAL),
                     'kBuiltInImageSha256[] = "%s"' % digest_of(os.path.basename(REAL))):
            if line not in constants:
                return "%s lacks %s:\n%s" % (header, line, constants)
        targets = subprocess.run(["ninja", "-C", tree, "-t", "targets", "all"],
                                 capture_output=True, text=True).stdout
        programs = sorted(set(re.findall(r"^(?:.*/)?([\w-]+\.exe):", targets, re.M)))
        if programs != ["Tarnwick.exe"]:
            return "a product tree builds Tarnwick.exe alone, not %s" % programs
        return None
    finally:
        shutil.rmtree(tree, ignore_errors=True)


def main():
    jobs = [(case[0], functools.partial(refused, case)) for case in REFUSED]
    jobs.append(("the real firmware and host", accepted))
    passed = failed = 0
    # Two at a time: each configure mostly waits on compiler checks.
    with concurrent.futures.ThreadPoolExecutor(max_workers=2) as pool:
        results = [(name, pool.submit(job)) for name, job in jobs]
        for name, future in results:
            problem = future.result()
            if problem is None:
                passed += 1
                print("ok: %s" % name)
            else:
                failed += 1
                print("FAILED: %s: %s" % (name, problem))
    print("product configure: %d passed, %d failed" % (passed, failed))
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
