#!/usr/bin/env bash
# The system's code reaches the outside world only through the ports in src/platform/*.h: it may
# include no OS header, and nothing from the simulated world or the adapters.
set -euo pipefail
cd "$(dirname "$0")/.."
pattern='#include *[<"](windows|winsock2|ws2tcpip|winhttp|setupapi|hidsdi|hidpi|shellapi|shlobj|bcrypt|wincrypt|winusb|unistd|sys/|netinet/|arpa/|pthread|openssl/)|#include *"(sim|platform/(win32|host))/'
if grep -rnE "$pattern" src/app src/dongle src/panel src/firmware src/flash src/common; then
  echo "layers: the system's code above includes an OS header or an adapter" >&2
  exit 1
fi
if grep -rnE '#include *"(app|dongle|panel|firmware|flash)/' src/sim; then
  echo "layers: the simulated world must not include the system's code" >&2
  exit 1
fi
echo "layers: ok"
