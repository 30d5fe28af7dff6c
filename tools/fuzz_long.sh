#!/usr/bin/env bash
# Runs every fuzz target for longer than the test script does (default 10 minutes each) and keeps
# what it finds new in the target's corpus. Usage: tools/fuzz_long.sh [seconds] [target-name]
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-600}
only=${2:-}
tools/ensure_packages.sh test
[[ -f build/fuzz/build.ninja ]] || cmake --preset fuzz >/dev/null
cmake --build --preset fuzz >/dev/null
for target in build/fuzz/*_fuzz; do
  name=$(basename "$target" _fuzz)
  [[ -z $only || $only == "$name" ]] || continue
  mkdir -p "fuzz/corpus/$name"
  echo "fuzzing $name for $seconds s"
  "$target" -max_total_time="$seconds" -rss_limit_mb=2048 -timeout=10 \
    -artifact_prefix="fuzz/corpus/$name/crash-" "fuzz/corpus/$name"
done
