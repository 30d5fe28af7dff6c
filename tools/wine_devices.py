"""Runs a Windows program of ours under Wine with the simulated devices: the stand-in hid.dll,
setupapi.dll and winusb.dll of build/windows-release/wine-devices host the world the Linux app
runs on (a dongle on 0.9.3 with its controller on).

The first line of output is "control 127.0.0.1:PORT": a TCP port taking the Linux console's world
commands (plug, unplug, on, off, battery N, charging, signal N, pad ..., press, board ...,
fault ...), one line each, one answer line back ("ok ..." or "error ..."). Then comes the
program's own output; the script ends with the program, with its exit code.

usage: wine_devices.py PROGRAM.exe [ARGS...]
"""
import os
import shutil
import socket
import subprocess
import sys
import tempfile
import threading
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
sys.path.insert(0, os.path.join(ROOT, "tests", "wine"))
from harness import BUILD, Wine  # noqa: E402  (the prefix and display of the Wine tests)

DEVICES = os.path.join(BUILD, "wine-devices")
STANDINS = ("hid", "setupapi", "winusb")


def free_port():
    with socket.socket() as probe:
        probe.bind(("127.0.0.1", 0))
        return probe.getsockname()[1]


def relay(client, world_port):
    """Passes a control client's lines to the world inside the program and its answers back."""
    with client, client.makefile("rw", newline="\n") as lines:
        world = None
        for line in lines:
            for _ in range(100):  # the program may still be starting
                try:
                    world = world or socket.create_connection(("127.0.0.1", world_port))
                    break
                except OSError:
                    time.sleep(0.1)
            if world is None:
                lines.write("error the program's devices are not up\n")
                lines.flush()
                continue
            world.sendall(line.rstrip("\r\n").encode() + b"\n")
            answer = b""
            while not answer.endswith(b"\n"):
                chunk = world.recv(4096)
                if not chunk:
                    break
                answer += chunk
            lines.write(answer.decode(errors="replace") or "error the program has ended\n")
            lines.flush()
        if world:
            world.close()


def serve_control(server, world_port):
    while True:
        client, _ = server.accept()
        threading.Thread(target=relay, args=(client, world_port), daemon=True).start()


def run(program, args, **popen):
    """Starts the program with the devices; returns (Popen, control port, run folder). `popen`
    goes to subprocess.Popen (a test takes the program's output with stdout=PIPE, ...)."""
    folder = tempfile.mkdtemp(prefix="tw-devices-")
    for name in os.listdir(DEVICES):
        if name.endswith(".dll"):
            shutil.copy(os.path.join(DEVICES, name), folder)
    # The stand-ins are found beside the program, so the program runs from a copy there.
    target = os.path.join(folder, os.path.basename(program))
    shutil.copy(program, target)
    world_port = free_port()
    server = socket.create_server(("127.0.0.1", 0))
    threading.Thread(target=serve_control, args=(server, world_port), daemon=True).start()
    Wine.up()
    env = Wine.env()
    # Native first, then builtin: processes Wine starts on the side (services, explorer) have no
    # stand-ins beside them and keep Wine's own.
    env["WINEDLLOVERRIDES"] += ";" + ",".join(STANDINS) + "=n,b"
    env["TW_DEVICES_PORT"] = str(world_port)
    env["TW_DEVICES_PROGRAM"] = os.path.basename(program)
    process = subprocess.Popen(["wine", target, *args], env=env, cwd=folder, **popen)
    return process, server.getsockname()[1], folder


def main():
    if len(sys.argv) < 2:
        sys.exit("usage: tools/wine_devices.sh PROGRAM.exe [ARGS...]")
    program = os.path.abspath(sys.argv[1])
    if not os.path.exists(os.path.join(DEVICES, "tw_device_world.dll")):
        sys.exit("the stand-in devices are not built: tools/build_preset.sh windows-release")
    process, port, folder = run(program, sys.argv[2:])
    print(f"control 127.0.0.1:{port}", flush=True)
    try:
        code = process.wait()
    except KeyboardInterrupt:
        process.terminate()
        code = process.wait()
    shutil.rmtree(folder, ignore_errors=True)
    sys.exit(code)


if __name__ == "__main__":
    main()
