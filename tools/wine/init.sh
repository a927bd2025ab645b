#!/bin/sh
# Creates the private Wine prefix once; later calls find it ready.
prefix=$1
export WINEPREFIX="$prefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
if [ ! -f "$prefix/system.reg" ]; then
  mkdir -p "$prefix"
  wine wineboot -i >/dev/null 2>&1
  wineserver -w
fi
test -f "$prefix/system.reg"
