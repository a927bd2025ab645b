#!/bin/sh
# The remote-control receiver's figures for `make bench`: datagrams per second delivered to a
# window on loopback and the loss behind a slow window, from remote_bench.exe under Wine.
#   bench-remote.sh WIN64_BUILD_DIR
set -u
win64=$(cd "$1" && pwd)
bench="$win64/panel/remote/remote_bench.exe"
[ -f "$bench" ] || { echo "bench: $bench is not built" >&2; exit 1; }
tools=$(cd "$(dirname "$0")/../../../tools" && pwd)
prefix="$win64/bench-prefix"
"$tools/wine/init.sh" "$prefix" || exit 1
trap '"$tools/wine/stop.sh" "$prefix"' EXIT
export WINEPREFIX="$prefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
wine "$bench" | tr -d '\r'
