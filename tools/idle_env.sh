# Shared by tools/idle_cost.sh and tools/idle_ops.sh (sourced, not run): a Wine prefix of its own
# (TW_IDLE_PREFIX, default build/wine-idle-prefix), so that its wineserver serves nothing else, an
# Xvfb display when DISPLAY is not set, and reading CPU time from /proc.
export WINEPREFIX=$(realpath -m "${TW_IDLE_PREFIX:-build/wine-idle-prefix}")
export WINEDEBUG=${WINEDEBUG:--all}
# Overrides given by the caller (stand-in device DLLs, say) are kept.
export WINEDLLOVERRIDES="${WINEDLLOVERRIDES:+$WINEDLLOVERRIDES;}mscoree,mshtml=;winemenubuilder.exe=d"

idleXvfb=
idleCleanup() {
  wineserver -k >/dev/null 2>&1 || true
  [ -z "$idleXvfb" ] || kill "$idleXvfb" 2>/dev/null || true
}
trap idleCleanup EXIT

if [ -z "${DISPLAY:-}" ]; then
  export DISPLAY=":$((150 + $$ % 50))"
  Xvfb "$DISPLAY" -screen 0 1280x800x24 -nolisten tcp >/dev/null 2>&1 &
  idleXvfb=$!
  sleep 0.5
fi
if [ ! -e "$WINEPREFIX/system.reg" ]; then
  mkdir -p "$WINEPREFIX"
  wineboot -i >/dev/null 2>&1
fi
wineserver -k >/dev/null 2>&1 || true
wineserver -w

# Processes of this prefix whose command name matches the pattern $1 (Wine names a Windows
# process after its file, cut to 15 characters).
pidsOf() {
  local pid
  for pid in $(pgrep -x -- "$1" || true); do
    if tr '\0' '\n' 2>/dev/null <"/proc/$pid/environ" | grep -qxF "WINEPREFIX=$WINEPREFIX"; then
      echo "$pid"
    fi
  done
}
serverPid() { pidsOf 'wineserver(64)?' | head -1; }
# Clock ticks of user and system time of the given processes, all their threads included.
ticksOf() {
  local pid total=0
  for pid in "$@"; do
    [ -r "/proc/$pid/stat" ] || continue
    # Fields after the parenthesised name: utime and stime are the 12th and 13th of them.
    total=$((total + $(sed 's/^.*) //' "/proc/$pid/stat" | awk '{print $12 + $13}')))
  done
  echo "$total"
}
