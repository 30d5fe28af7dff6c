#!/usr/bin/env bash
# Configures one CMake preset when needed and builds it (all targets, or the ones named), for
# ./test.sh and ./run.sh. Output goes to build/<preset>.configure.log and build/<preset>.build.log;
# on failure the end of the log is printed and the exit status is non-zero.
#
#   tools/build_preset.sh <preset> [target...]
#
# One build at a time per build tree: a second build of the same tree (./test.sh twice, or a
# developer's build script) waits for the first, instead of both writing the same files.
#
# It configures when the tree has never been configured, when the preset (as CMakePresets.json
# resolves it) changed since the last configure, or when the cache was changed since (for example
# by hand with -DTW_TEST_ONLY=...), so that what the preset says is what is built. A cache
# variable the preset no longer sets is removed; a changed generator or toolchain starts the tree
# afresh. A changed CMake file needs nothing here: the build configures again by itself.
#
# Every build here is a full test build: all test files, and the generated firmware stand-in.
set -uo pipefail
cd "$(dirname "$0")/.."

preset=${1:?usage: tools/build_preset.sh <preset> [target...]}
shift
dir=build/$preset
configureLog=build/$preset.configure.log
buildLog=build/$preset.build.log
mkdir -p build

# The lock goes with the process: it is released however this script ends. A build that holds it
# for longer than any real build takes is taken to be stuck.
exec 9>>"build/$preset.lock"
if ! flock -n 9; then
  echo "Waiting for another build of $dir to finish..." >&2
  if ! flock -w "${TW_BUILD_LOCK_WAIT:-1800}" 9; then
    echo "Gave up waiting for the other build of $dir (build/$preset.lock is still held)." >&2
    exit 1
  fi
fi

settings=(-DTW_TEST_ONLY= -DTW_FIRMWARE_FILE= -DTW_FIRMWARE_SHA256=)
stamp=build/$preset.configured  # what the last configure was given, and the cache it left
cacheState() { stat -c '%i %Y %s' "$dir/CMakeCache.txt" 2>/dev/null; }

# Prints what to do: "keep", "configure [-U name]...", or "fresh".
plan=$(python3 - "$preset" "$stamp" "$(cacheState)" "${settings[*]}" <<'PY'
import json, sys

name, stamp_path, cache_state, settings = sys.argv[1:5]
presets = {p["name"]: p for p in json.load(open("CMakePresets.json"))["configurePresets"]}

def resolve(preset_name):
    preset = presets[preset_name]
    parents = preset.get("inherits", [])
    parents = [parents] if isinstance(parents, str) else parents
    resolved = {}
    for parent in reversed(parents):  # the first parent named wins
        merge(resolved, resolve(parent))
    merge(resolved, {k: v for k, v in preset.items()
                     if k not in ("name", "hidden", "inherits", "displayName", "description")})
    return resolved

def merge(into, values):
    for key, value in values.items():
        if isinstance(value, dict):
            into.setdefault(key, {}).update(value)
        else:
            into[key] = value

now = {"preset": resolve(name), "settings": settings}
try:
    before = json.load(open(stamp_path))
except (OSError, ValueError):
    before = None
if before is None or cache_state == "":
    print("configure")
elif before.get("cache") == cache_state and before.get("configured") == now:
    print("keep")
else:
    old = before.get("configured", {}).get("preset", {})
    rest = lambda p: {k: v for k, v in p.items() if k != "cacheVariables"}
    if rest(old) != rest(now["preset"]):
        print("fresh")
    else:
        gone = set(old.get("cacheVariables", {})) - set(now["preset"].get("cacheVariables", {}))
        print(" ".join(["configure"] + ["-U " + key for key in sorted(gone)]))
# What the stamp will say once the configure succeeds (the cache state is added then).
json.dump(now, open(stamp_path + ".next", "w"))
PY
) || { echo "Can't read the preset $preset from CMakePresets.json" >&2; exit 1; }

if [[ $plan != keep || ! -f $dir/build.ninja ]]; then
  options=()
  if [[ $plan == fresh ]]; then
    options=(--fresh)
  elif [[ $plan == configure\ * ]]; then
    read -ra options <<<"${plan#configure }"
  fi
  rm -f "$stamp"
  if ! cmake --preset "$preset" --no-warn-unused-cli "${options[@]}" "${settings[@]}" \
    >"$configureLog" 2>&1; then
    cat "$configureLog"
    exit 1
  fi
  python3 - "$stamp" "$(cacheState)" <<'PY'
import json, sys
stamp_path, cache_state = sys.argv[1:3]
json.dump({"configured": json.load(open(stamp_path + ".next")), "cache": cache_state},
          open(stamp_path, "w"))
PY
fi
rm -f "$stamp.next"

targets=()
if (($#)); then targets=(--target "$@"); fi
if ! cmake --build --preset "$preset" "${targets[@]}" >"$buildLog" 2>&1; then
  tail -50 "$buildLog"
  exit 1
fi
