#!/usr/bin/env bash
# The system's code reaches the outside world only through the ports in src/platform/*.h, so it
# may include no OS header. Which subsystem may include which is enforced by the build: each
# library sees only the headers of its dependencies. Given a configured build folder, this also
# builds the wrong-way includes of tests/layers/ and expects every one of them to fail.
# Usage: check_layers.sh [build folder]
set -euo pipefail
cd "$(dirname "$0")/.."
pattern='#include *[<"](windows|winsock2|ws2tcpip|winhttp|setupapi|hidsdi|hidpi|shellapi|shlobj|bcrypt|wincrypt|winusb|cfgmgr32|unistd|sys/|netinet/|arpa/|pthread|openssl/)'
if grep -rnE "$pattern" src/app src/dongle src/panel src/firmware src/flash src/common; then
  echo "layers: the system's code above includes an OS header" >&2
  exit 1
fi
if [[ $# -ge 1 ]]; then
  for source in tests/layers/*.cpp; do
    name=$(basename "$source" .cpp)
    log=$(cmake --build "$1" --target "tw_layer_$name" 2>&1) && {
      echo "layers: $source compiled, but its include must be out of reach" >&2
      exit 1
    }
    if ! grep -q "No such file or directory" <<<"$log"; then
      echo "layers: $source failed for another reason than the unreachable include:" >&2
      echo "$log" | tail -20 >&2
      exit 1
    fi
  done
fi
echo "layers: ok"
