"""The stand-in winusb.dll keeps Microsoft's documented contract strictly: winusb_contract_probe.exe
breaks it one way per call against the simulated board, and each mistake must be refused with its
documented error and reported as a "CONTRACT" line, while the calls done right still work (an
overlapped read that stays pending, is aborted, and lands as aborted; one the board's removal
ends, after which new calls fail as a removed device's do)."""
import os
import socket
import subprocess
import sys
import unittest

from harness import BUILD, ROOT, WineTestCase, exe

sys.path.insert(0, os.path.join(ROOT, "tools"))
import wine_devices  # noqa: E402

ERROR_INVALID_HANDLE = 6
ERROR_GEN_FAILURE = 31
ERROR_INVALID_PARAMETER = 87
ERROR_NO_MORE_ITEMS = 259
ERROR_OPERATION_ABORTED = 995
ERROR_IO_INCOMPLETE = 996
ERROR_IO_PENDING = 997
ERROR_DEVICE_NOT_CONNECTED = 1167

# What each call must answer, and whether the stand-in must complain about it.
EXPECTED = [
    ("initialize without overlapped", "fail", ERROR_INVALID_HANDLE, "WinUsb_Initialize"),
    ("initialize", "ok", 0, None),
    ("query pipe past the endpoints", "fail", ERROR_NO_MORE_ITEMS, "WinUsb_QueryPipe"),
    ("set a ULONG policy with a UCHAR's size", "fail", ERROR_INVALID_PARAMETER,
     "WinUsb_SetPipePolicy"),
    ("set the read-only maximum transfer size", "fail", ERROR_INVALID_PARAMETER,
     "WinUsb_SetPipePolicy"),
    ("get a ULONG policy into one byte", "fail", ERROR_INVALID_PARAMETER, "WinUsb_GetPipePolicy"),
    ("policy of a pipe the interface lacks", "fail", ERROR_INVALID_PARAMETER,
     "WinUsb_SetPipePolicy"),
    ("read from the OUT pipe", "fail", ERROR_INVALID_PARAMETER, "WinUsb_ReadPipe"),
    ("read pending", "fail", ERROR_IO_PENDING, None),
    ("result while pending", "fail", ERROR_IO_INCOMPLETE, None),
    ("second read on a pending record", "fail", ERROR_INVALID_PARAMETER, "WinUsb_ReadPipe"),
    ("abort", "ok", 0, None),
    ("aborted read landed", "ok", 0, None),
    ("result of the aborted read", "fail", ERROR_OPERATION_ABORTED, None),
    ("control request bigger than its buffer", "fail", ERROR_INVALID_PARAMETER,
     "WinUsb_ControlTransfer"),
    ("control request", "ok", 0, None),
    ("free", "ok", 0, None),
    ("use after free", "fail", ERROR_INVALID_HANDLE, "WinUsb_AbortPipe"),
    ("free twice", "fail", ERROR_INVALID_HANDLE, "WinUsb_Free"),
    ("initialize again", "ok", 0, None),
    ("read pending before removal", "fail", ERROR_IO_PENDING, None),
    ("pending read ended by removal", "ok", 0, None),
    ("result of the read", "fail", ERROR_DEVICE_NOT_CONNECTED, None),
    ("read after removal", "fail", ERROR_DEVICE_NOT_CONNECTED, None),
    ("control request after removal", "fail", ERROR_DEVICE_NOT_CONNECTED, None),
    ("free after removal", "ok", 0, None),
]


class WinUsbContractTest(WineTestCase):
    def test_each_broken_rule_is_refused_and_reported(self):
        program = exe("winusb_contract_probe")
        if not os.path.exists(program) or not os.path.exists(
                os.path.join(BUILD, "wine-devices", "winusb.dll")):
            self.skipTest("winusb_contract_probe.exe or the stand-ins are not built")
        session = wine_devices.run(program, [], stdout=subprocess.PIPE, stderr=subprocess.STDOUT,
                                   text=True)
        self.addCleanup(session.close)
        process, port = session.process, session.port
        printed = []
        with socket.create_connection(("127.0.0.1", port), timeout=60) as control:
            lines = control.makefile("rw")

            def world(command):
                lines.write(command + "\n")
                lines.flush()
                self.assertTrue(lines.readline().startswith("ok"), command)

            world("board ours 0.9.1")
            # The probe says when its last read is pending; only then does the board go.
            for line in process.stdout:
                printed.append(line)
                if line.startswith("read pending before removal:"):
                    world("board gone")
                    break
            rest, _ = process.communicate(timeout=120)
        output = "".join(printed) + rest
        self.assertIn("done", output.splitlines(), output)

        # Each call's line, with the complaints printed since the call before it.
        results, complaints, pending = {}, {}, []
        for line in output.splitlines():
            if "CONTRACT" in line:
                pending.append(line.split("CONTRACT ", 1)[1].split(":", 1)[0])
            elif ": " in line:
                what, _, outcome = line.partition(": ")
                result, error = outcome.split()
                results[what] = (result, int(error))
                complaints[what], pending = pending, []
        for what, result, error, complaint in EXPECTED:
            with self.subTest(what):
                self.assertEqual(results.get(what), (result, error), output)
                self.assertEqual(complaints.get(what), [complaint] if complaint else [], output)


if __name__ == "__main__":
    unittest.main()
