#!/bin/sh
# The demo, in its own Wine prefix: register the driver, look at it the way an ASIO
# host does, try to create it, show the status block, unregister.
set -e
win64=$(cd "$1" && pwd)
tools=$(cd "$(dirname "$0")" && pwd)
prefix="$win64/demo-prefix"
dll="$win64/asiodriver/TessalineUsbAudioDevice2ASIO.dll"
probe="$win64/asiodriver/asioprobe.exe"
for f in "$dll" "$probe"; do
  [ -f "$f" ] || { echo "demo: $f is not built" >&2; exit 1; }
done

"$tools/wine/init.sh" "$prefix"
trap '"$tools/wine/stop.sh" "$prefix"' EXIT
export WINEPREFIX="$prefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
windll=$(winepath -w "$dll")

printf "== regsvr32 /s %s\n" "$windll"
wine regsvr32 /s "$windll"
echo "registered"
echo
echo "== as a host finds it, then a creation attempt"
wine "$probe" --create | tr -d '\r'
echo
echo "== regsvr32 /u /s"
wine regsvr32 /u /s "$windll"
wine "$probe" | tr -d '\r'
