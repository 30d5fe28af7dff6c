#!/usr/bin/env bash
# What each operation of an idle Tarnwick.exe costs under Wine, per call: the program's CPU time,
# wineserver's, and the wall time (tests/wine/idle_ops_probe.cpp says which operations).
#
#   tools/idle_ops.sh [calls] [build folder]
#
# calls defaults to 200; the build folder to build/windows-release (build idle_ops_probe there).
# Uses the Wine prefix and display of tools/idle_cost.sh.
set -uo pipefail
cd "$(dirname "$0")/.."
calls=${1:-200}
probe=$(realpath "${2:-build/windows-release}/idle_ops_probe.exe")
. tools/idle_env.sh

# A wineserver that stays for the whole run, so that its process id holds.
wineserver -p
server=$(serverPid)
wine "$probe" "$calls" "$server" 2>/dev/null | tr -d '\r'
