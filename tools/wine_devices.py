"""Runs a Windows program of ours under Wine with the simulated devices: the stand-in hid.dll,
setupapi.dll and winusb.dll of build/windows-release/wine-devices host the world the Linux app
runs on (a dongle on 0.9.3 with its controller on).

The first line of output is "control 127.0.0.1:PORT": a TCP port taking the Linux console's world
commands (plug, unplug, on, off, battery N, charging, signal N, pad ..., press, board ...,
fault ...), one line each, one answer line back ("ok ..." or "error ..."). Run as root, it also
plays the update host (tools/wine_update_host.py): "publish VERSION [FILE]" publishes a signed
build (the world's stand-in release, or the UF2 file FILE) and "host offline|online" takes the
host away and back. Then comes the program's own output; the script ends with the program, with
its exit code.

usage: wine_devices.py PROGRAM.exe [ARGS...]
"""
import os
import shutil
import signal
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


def ask(world, line):
    """One line to the world inside the program; its answer line."""
    world.sendall(line.rstrip("\r\n").encode() + b"\n")
    answer = b""
    while not answer.endswith(b"\n"):
        chunk = world.recv(1 << 20)
        if not chunk:
            break
        answer += chunk
    return answer.decode(errors="replace") or "error the program has ended\n"


def update_host_command(host, world_port, words):
    """publish and host: answered here, where the update host runs. None for other commands."""
    if not words or words[0] not in ("publish", "host"):
        return None
    if host is None:
        return "error the update host needs root (hosts file, trust store, port 443)\n"
    if words[0] == "host" and words[1:] in (["offline"], ["online"]):
        host.offline() if words[1] == "offline" else host.online()
        return f"ok (the update host is {words[1]})\n"
    if words[0] == "publish" and len(words) in (2, 3):
        if len(words) == 3:
            with open(words[2], "rb") as f:
                uf2 = f.read()
        else:
            with socket.create_connection(("127.0.0.1", world_port)) as world:
                answer = ask(world, "release-uf2 " + words[1])
            if not answer.startswith("ok "):
                return answer
            uf2 = bytes.fromhex(answer[3:].strip())
        host.publish(words[1], uf2)
        return f"ok (published {words[1]}, signed by the development key)\n"
    return "error publish needs VERSION [FILE]; host needs offline or online\n"


def relay(client, world_port, host):
    """Passes a control client's lines to the world inside the program and its answers back."""
    with client, client.makefile("rw", newline="\n") as lines:
        world = None
        for line in lines:
            try:
                answer = update_host_command(host, world_port, line.split())
            except OSError as error:
                answer = f"error {error}\n"
            if answer is not None:
                lines.write(answer)
                lines.flush()
                continue
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
            lines.write(ask(world, line))
            lines.flush()
        if world:
            world.close()


def serve_control(server, world_port, host):
    while True:
        client, _ = server.accept()
        threading.Thread(target=relay, args=(client, world_port, host), daemon=True).start()


class Session:
    """A program running with the devices: its process, control port and update host."""

    def __init__(self, process, port, folder, host):
        self.process, self.port, self.folder, self.host = process, port, folder, host

    def close(self):
        if self.host:
            self.host.close()
        shutil.rmtree(self.folder, ignore_errors=True)


def run(program, args, extra_env=None, update_host=False, **popen):
    """Starts the program with the devices (and the update host when asked); returns a Session.
    `extra_env` adds to the program's environment; `popen` goes to subprocess.Popen (a test takes
    the program's output with stdout=PIPE, ...)."""
    host = None
    if update_host:
        from wine_update_host import UpdateHost
        host = UpdateHost()  # trusted before the program starts: crypt32 reads the store once
    folder = tempfile.mkdtemp(prefix="tw-devices-")
    for name in os.listdir(DEVICES):
        if name.endswith(".dll"):
            shutil.copy(os.path.join(DEVICES, name), folder)
    # The stand-ins are found beside the program, so the program runs from a copy there.
    target = os.path.join(folder, os.path.basename(program))
    shutil.copy(program, target)
    world_port = free_port()
    server = socket.create_server(("127.0.0.1", 0))
    threading.Thread(target=serve_control, args=(server, world_port, host), daemon=True).start()
    Wine.up()
    env = Wine.env()
    # Native first, then builtin: processes Wine starts on the side (services, explorer) have no
    # stand-ins beside them and keep Wine's own.
    env["WINEDLLOVERRIDES"] += ";" + ",".join(STANDINS) + "=n,b"
    env["TW_DEVICES_PORT"] = str(world_port)
    env["TW_DEVICES_PROGRAM"] = os.path.basename(program)
    env.update(extra_env or {})
    process = subprocess.Popen(["wine", target, *args], env=env, cwd=folder, **popen)
    return Session(process, server.getsockname()[1], folder, host)


def stop_on_terminate(*_):
    raise KeyboardInterrupt  # the same tidy end as Ctrl-C: the update host's changes are undone


def main():
    signal.signal(signal.SIGTERM, stop_on_terminate)
    if len(sys.argv) < 2:
        sys.exit("usage: tools/wine_devices.sh PROGRAM.exe [ARGS...]")
    program = os.path.abspath(sys.argv[1])
    if not os.path.exists(os.path.join(DEVICES, "tw_device_world.dll")):
        sys.exit("the stand-in devices are not built: tools/build_preset.sh windows-release")
    session = run(program, sys.argv[2:], update_host=os.geteuid() == 0)
    print(f"control 127.0.0.1:{session.port}", flush=True)
    try:
        code = session.process.wait()
    except KeyboardInterrupt:
        session.process.terminate()
        code = session.process.wait()
    session.close()
    sys.exit(code)


if __name__ == "__main__":
    main()
