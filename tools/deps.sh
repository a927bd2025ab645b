#!/bin/sh
# Installs the Debian packages the build, the tests and the demo need, if missing.
set -e
PKGS="make cmake g++ clang libclang-rt-14-dev
 g++-mingw-w64-x86-64-posix g++-mingw-w64-i686-posix binutils-mingw-w64-x86-64 binutils-mingw-w64-i686
 wine wine64 xvfb xauth x11-apps imagemagick
 googletest libbenchmark-dev
 libfreetype-dev fonts-dejavu-core fonts-liberation libpng-dev zlib1g-dev pkg-config
 nsis osslsigncode openssl xdotool"
missing=""
for p in $PKGS; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "ok installed" || missing="$missing $p"
done
if [ -n "$missing" ]; then
  echo "installing:$missing"
  SUDO=""; [ "$(id -u)" -ne 0 ] && SUDO=sudo
  $SUDO apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends $missing
fi
