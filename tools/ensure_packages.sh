#!/usr/bin/env bash
# Installs the Debian packages the build and the tests need, only when some are missing, so that
# a machine that already has them pays one dpkg query. Usage: ensure_packages.sh [run|test]
set -euo pipefail

purpose="${1:-test}"
packages=(cmake ninja-build g++ python3 ccache googletest libgtest-dev libgmock-dev
          libbenchmark-dev libssl-dev)
if [[ "$purpose" == test ]]; then
  packages+=(g++-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64 wine wine64 xvfb xauth openssl
             ca-certificates chromium)
  # clang builds the fuzzers and checks the firmware lock's use (-Wthread-safety).
  # The fuzzers link clang's runtime (libFuzzer and the sanitizers), which must be the one of the
  # clang that builds them: Debian ships one per clang version. Without clang, Debian's default
  # clang and its default runtime come as a pair.
  clangMajor=$(clang -dumpversion 2>/dev/null | cut -d. -f1 || true)
  if [[ $clangMajor =~ ^[0-9]+$ ]]; then
    packages+=("libclang-rt-$clangMajor-dev")
  else
    packages+=(clang libclang-rt-dev)
  fi
  # Node.js may come from elsewhere than Debian (with npm inside); add Debian's only when absent.
  command -v node >/dev/null || packages+=(nodejs)
  command -v npm >/dev/null || packages+=(npm)
fi

missing=()
for package in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$package")
  fi
done
if ((${#missing[@]} == 0)); then
  exit 0
fi

echo "Installing: ${missing[*]} (this can take a few minutes)"
sudo=""
if [[ $(id -u) -ne 0 ]]; then sudo="sudo"; fi
export DEBIAN_FRONTEND=noninteractive
$sudo apt-get update -qq
$sudo apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
