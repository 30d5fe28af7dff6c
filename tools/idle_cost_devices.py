"""The idle cost of a Windows program under Wine with the simulated devices (tools/wine_devices.py):
CPU seconds per minute of the program's process and of wineserver, with no dongle, with the dongle,
and with the panel's input stream open to an API client. The stand-ins run inside the program's
process, so its figure includes theirs (they sleep when nothing happens).

usage: idle_cost_devices.py PROGRAM.exe [seconds]
"""
import os
import socket
import sys
import threading
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tests", "wine"))
from devices_program import DevicesProgram  # noqa: E402
from harness import PREFIX, Wine  # noqa: E402

TICKS = os.sysconf("SC_CLK_TCK")


def prefix_pids(*names):
    pids = []
    for pid in filter(str.isdigit, os.listdir("/proc")):
        try:
            with open(f"/proc/{pid}/comm") as comm:
                if comm.read().strip() not in [name[:15] for name in names]:
                    continue
            with open(f"/proc/{pid}/environ", "rb") as environ:
                if b"WINEPREFIX=" + PREFIX.encode() + b"\0" in environ.read():
                    pids.append(pid)
        except OSError:
            continue
    return pids


def cpu_seconds(pids):
    total = 0
    for pid in pids:
        try:
            with open(f"/proc/{pid}/stat") as stat:
                fields = stat.read().rsplit(")", 1)[1].split()
            total += int(fields[11]) + int(fields[12])
        except OSError:
            pass
    return total / TICKS


def measure(program, name, seconds):
    pids = {"program": prefix_pids(name), "wineserver": prefix_pids("wineserver", "wineserver64")}
    before = {k: cpu_seconds(v) for k, v in pids.items()}
    time.sleep(seconds)
    return {k: (cpu_seconds(v) - before[k]) * 60 / seconds for k, v in pids.items()}


def stream(program, stop):
    with socket.create_connection(("127.0.0.1", program.port)) as s:
        s.sendall(f"GET /api/input?k={program.key} HTTP/1.1\r\nHost: 127.0.0.1:{program.port}"
                  "\r\n\r\n".encode())
        while not stop.is_set() and s.recv(65536):
            pass


def main():
    path = os.path.abspath(sys.argv[1])
    seconds = int(sys.argv[2]) if len(sys.argv) > 2 else 60
    name = os.path.basename(path)
    Wine.up()
    Wine.kill_all()
    program = DevicesProgram(path, args=("--startup",))
    try:
        time.sleep(10)  # start-up settles
        program.world("unplug")
        time.sleep(5)
        rows = [("no dongle", measure(program, name, seconds))]
        program.world("plug")
        time.sleep(5)
        rows.append(("dongle", measure(program, name, seconds)))
        stop = threading.Event()
        threading.Thread(target=stream, args=(program, stop), daemon=True).start()
        time.sleep(2)
        rows.append(("dongle, input stream open", measure(program, name, seconds)))
        stop.set()
    finally:
        program.close()
        Wine.kill_all()
    for label, figures in rows:
        print(f"{label:28} program {figures['program']:.2f} s/min   "
              f"wineserver {figures['wineserver']:.2f} s/min")


if __name__ == "__main__":
    main()
