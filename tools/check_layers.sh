#!/usr/bin/env bash
# The system's code reaches the outside world only through the ports in src/platform/*.h, so it
# may include no OS header. (Which subsystem may include which is enforced by the build: each
# library sees only the headers of its dependencies.)
set -euo pipefail
cd "$(dirname "$0")/.."
pattern='#include *[<"](windows|winsock2|ws2tcpip|winhttp|setupapi|hidsdi|hidpi|shellapi|shlobj|bcrypt|wincrypt|winusb|cfgmgr32|unistd|sys/|netinet/|arpa/|pthread|openssl/)'
if grep -rnE "$pattern" src/app src/dongle src/panel src/firmware src/flash src/common; then
  echo "layers: the system's code above includes an OS header" >&2
  exit 1
fi
echo "layers: ok"
