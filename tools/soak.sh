#!/usr/bin/env bash
# Runs seeded random histories of the whole Linux program (tw_soak, under AddressSanitizer and
# UndefinedBehaviorSanitizer) for as long as asked, from the given seed on (default: one taken
# from the clock, so each run meets new histories). Any seed that fails is added to
# tests/soak/regression_seeds.txt, which ./test.sh replays every time. Ends with a line saying
# how many histories, steps and simulated hours it covered.
#
#   tools/soak.sh [minutes] [first-seed]
set -uo pipefail
cd "$(dirname "$0")/.."
export CCACHE_BASEDIR=$PWD CCACHE_DIR=${CCACHE_DIR:-$HOME/.cache/ccache}

minutes=${1:-10}
first=${2:-$(($(date +%s) * 1000 % 1000000000000))}
regressions=tests/soak/regression_seeds.txt

tools/build_preset.sh linux-debug tw_soak || exit 1

found=$(mktemp)
trap 'rm -f "$found"' EXIT
echo "Soaking for $minutes minute(s) from seed $first ..."
build/linux-debug/tw_soak --first-seed "$first" --seconds "$((minutes * 60))" --failures "$found"
status=$?
while read -r seed step; do
  [[ -z $seed ]] && continue
  if ! grep -qE "^$seed( |$)" "$regressions"; then
    echo "$seed $step  # failed at step $step; found by tools/soak.sh on $(date -u +%Y-%m-%d)" >>"$regressions"
    echo "Kept seed $seed in $regressions; replay it with build/linux-debug/tw_soak --seed $seed"
  fi
done <"$found"
exit $status
