#!/bin/sh
# Runs a Windows program under Wine in the given private prefix: run.sh PREFIX PROGRAM [ARGS...]
prefix=$1; shift
export WINEPREFIX="$prefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
[ -f "$prefix/system.reg" ] || "$(dirname "$0")/init.sh" "$prefix" || exit 1
exec wine "$@"
