#!/usr/bin/env bash
# Installs the Debian packages that are missing, and nothing else.
# Usage: tools/install-deps.sh app|test|package
set -euo pipefail

build=(cmake ninja-build g++ qt6-base-dev qt6-serialport-dev libgl-dev fonts-dejavu-core)
# Tests: Windows resource and syntax checks, virtual ports, desktop-file and
# metainfo checks, packaging, and the window read through the screen
# readers' accessibility bus in a real X server, and pyserial's RFC 2217 server.
test=(binutils-mingw-w64-x86-64 g++-mingw-w64-x86-64-posix socat desktop-file-utils appstream dpkg-dev file strace
      xvfb xauth at-spi2-core dbus-x11 python3-pyatspi gir1.2-atspi-2.0 tshark ser2net lintian xdotool python3-serial)
# The Debian package: dependencies read off the program, and its files typed.
package=(dpkg-dev file)

want=("${build[@]}")
[ "${1:-app}" = test ] && want+=("${test[@]}")
[ "${1:-app}" = package ] && want+=("${package[@]}")

missing=()
for p in "${want[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

echo "Installing: ${missing[*]}"
SUDO=""
[ "$(id -u)" -ne 0 ] && SUDO=sudo
$SUDO apt-get update -qq
DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
