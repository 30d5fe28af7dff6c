#!/usr/bin/env bash
# Builds the Linux app and starts it on the simulated world: a dongle with its controller on.
# What the tray shows is printed as it changes; type commands to change the world (help lists them).
set -euo pipefail
cd "$(dirname "$0")"
export CCACHE_BASEDIR=$PWD
tools/ensure_packages.sh run
mkdir -p build
if [[ ! -f build/linux-release/build.ninja ]]; then
  cmake --preset linux-release >build/linux-release.configure.log 2>&1 ||
    { cat build/linux-release.configure.log; exit 1; }
fi
cmake --build --preset linux-release --target tarnwick >build/linux-release.build.log 2>&1 ||
  { tail -50 build/linux-release.build.log; exit 1; }
exec ./build/linux-release/tarnwick "$@"
