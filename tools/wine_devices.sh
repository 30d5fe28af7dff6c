#!/usr/bin/env bash
# Runs a Windows program of ours under Wine with the simulated dongle and board behind stand-in
# device DLLs. First line: "control 127.0.0.1:PORT" (the world's commands, one line each).
exec python3 "$(dirname "$0")/wine_devices.py" "$@"
