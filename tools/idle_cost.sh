#!/usr/bin/env bash
# What a Windows program costs while it sits idle under Wine: CPU seconds per minute of the
# program's own process and of wineserver, measured from /proc/PID/stat (utime + stime).
#
#   tools/idle_cost.sh PROGRAM.exe [seconds] [program arguments...]
#
# seconds: how long to measure (default 60); the program gets TW_IDLE_SETTLE seconds (default 10)
# to start up before the measuring begins. Arguments default to "--startup", the way start with
# Windows launches Tarnwick.exe (no panel, no browser). The run uses a Wine prefix of its own
# (TW_IDLE_PREFIX, default build/wine-idle-prefix), so that its wineserver serves nothing else,
# and an Xvfb display when DISPLAY is not set. Prints, per minute:
#   program: <s>   wineserver: <s>   (and the prefix's other Wine processes for reference)
set -uo pipefail
cd "$(dirname "$0")/.."

program=${1:?usage: tools/idle_cost.sh PROGRAM.exe [seconds] [arguments...]}
seconds=${2:-60}
shift $(($# >= 2 ? 2 : 1))
arguments=("$@")
[ ${#arguments[@]} -gt 0 ] || arguments=(--startup)
settle=${TW_IDLE_SETTLE:-10}
program=$(realpath "$program")

. tools/idle_env.sh

otherPids() {
  local pid name
  for pid in $(pgrep -f -- '\.exe' || true); do
    tr '\0' '\n' 2>/dev/null <"/proc/$pid/environ" | grep -qxF "WINEPREFIX=$WINEPREFIX" || continue
    name=$(cat "/proc/$pid/comm" 2>/dev/null || true)
    [ "$name" = "$(basename "$program" | cut -c1-15)" ] || echo "$pid"
  done
}

name=$(basename "$program" | cut -c1-15)
(cd "$(dirname "$program")" && exec wine "$program" "${arguments[@]}") >/dev/null 2>&1 &
sleep "$settle"
mapfile -t programPids < <(pidsOf "$name")
if [ ${#programPids[@]} -eq 0 ]; then
  echo "idle_cost: $name is not running after ${settle} s" >&2
  exit 1
fi
mapfile -t serverPids < <(serverPid)
mapfile -t others < <(otherPids)

hz=$(getconf CLK_TCK)
p0=$(ticksOf "${programPids[@]}")
s0=$(ticksOf "${serverPids[@]}")
o0=$(ticksOf "${others[@]}")
sleep "$seconds"
p1=$(ticksOf "${programPids[@]}")
s1=$(ticksOf "${serverPids[@]}")
o1=$(ticksOf "${others[@]}")

perMinute() { awk -v d="$1" -v hz="$hz" -v s="$seconds" 'BEGIN { printf "%.2f", d / hz * 60 / s }'; }
echo "measured ${seconds} s of $(basename "$program") ${arguments[*]} (CPU seconds per minute)"
echo "program: $(perMinute $((p1 - p0)))"
echo "wineserver: $(perMinute $((s1 - s0)))"
echo "other wine processes: $(perMinute $((o1 - o0)))"
