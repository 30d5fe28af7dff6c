#!/usr/bin/env bash
# Builds the Linux app and starts it on the simulated world: a dongle with its controller on.
# What the tray shows is printed as it changes; type commands to change the world (help lists them).
#
# The app is built in a tree of its own (build/linux-app), so ./run.sh and ./test.sh can run at
# the same time without building over each other.
set -euo pipefail
cd "$(dirname "$0")"
export CCACHE_BASEDIR=$PWD CCACHE_DIR=${CCACHE_DIR:-$HOME/.cache/ccache}
tools/ensure_packages.sh run
if [[ -x build/linux-app/tarnwick ]]; then
  echo "Building the app if anything changed (log: build/linux-app.build.log)..." >&2
else
  echo "Building the app for the first time: this takes a few minutes and prints nothing until" \
    "it is done (follow it with: tail -f build/linux-app.build.log)..." >&2
fi
tools/build_preset.sh linux-app tarnwick
exec ./build/linux-app/tarnwick "$@"
