#!/bin/sh
# The driver benchmark of `make bench`: registers the x64 driver in its own Wine prefix and
# sweeps buffer sizes at 48000 and 384000 Hz through asiohost.exe against the virtual DAC.
#   bench-host.sh WIN64_BUILD_DIR [SECONDS_PER_ROW]
set -u
win64=$(cd "$1" && pwd)
seconds=${2:-3}
tools=$(cd "$(dirname "$0")/../../tools" && pwd)
dll="$win64/asiodriver/TessalineUsbAudioDevice2ASIO.dll"
host="$win64/asiohost/asiohost.exe"
for f in "$dll" "$host"; do
  [ -f "$f" ] || { echo "bench: $f is not built" >&2; exit 1; }
done
prefix="$win64/bench-prefix"
"$tools/wine/init.sh" "$prefix" || exit 1
trap '"$tools/wine/stop.sh" "$prefix"' EXIT
export WINEPREFIX="$prefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=" TESSALINE_VIRTUAL_DEVICE=1
windll=$(winepath -w "$dll")
wine regsvr32 /s "$windll" || { echo "bench: regsvr32 failed" >&2; exit 1; }
echo "== driver benchmark: asiohost bench, virtual DAC, ${seconds} s per row"
wine "$host" bench -d "Tessaline USB 2" --rates 48000,384000 -t "$seconds" -q > "$win64/bench-host.txt" 2>&1
rc=$?
tr -d '\r' < "$win64/bench-host.txt"
wine regsvr32 /u /s "$windll"
# Figures, not verdicts: a row that missed a check under load is shown, not fatal; only a
# driver or host that could not run fails the benchmark.
[ "$rc" -ge 2 ] && exit "$rc"
exit 0
