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

# The soak: create..release cycles with nothing growing, then streams at the minimum
# buffer at 48000 and 384000 Hz, as they are and with the whole host under the real-time
# class (chrt -f, which stands in for what Windows gives such threads; Wine applies no
# thread priorities), each alone and with two busy threads competing for the CPU.
cycles=${TESS_SOAK_CYCLES:-1000}
soak=${TESS_SOAK_SECONDS:-60}
echo "== soak: $cycles cycles"
wine "$host" play -d "Tessaline USB 2" --cycles "$cycles" -q 2>&1 | tr -d '\r' | grep -E "^(Cycles|before|after|Growth|cycle)"
busy() {
  for _ in 1 2; do sh -c 'while :; do :; done' >/dev/null 2>&1 & echo $!; done
}
realtime=""
if chrt -f 10 true 2>/dev/null; then realtime="chrt -f 10"; fi
for load in quiet busy; do
  for class in plain realtime; do
    [ "$class" = realtime ] && [ -z "$realtime" ] && { echo "== (chrt -f is not available: no real-time rows)"; continue; }
    pids=""
    [ "$load" = busy ] && pids=$(busy)
    for rate in 48000 384000; do
      echo "== $soak s at $rate Hz, 2 ms buffer, $class, $load"
      if [ "$class" = realtime ]; then run="$realtime wine"; else run="wine"; fi
      TESSALINE_VIRTUAL_DEVICE_LOOPBACK=1 $run "$host" play -d "Tessaline USB 2" -r "$rate" --buffer-ms 2 \
        -t "$soak" --loopback -q 2>&1 | tr -d '\r' | grep -E "^(Switches|Callback|CPU)|input follows"
    done
    for p in $pids; do kill "$p" 2>/dev/null; done
  done
done
wine regsvr32 /u /s "$windll"
# Figures, not verdicts: a row that missed a check under load is shown, not fatal; only a
# driver or host that could not run fails the benchmark.
[ "$rc" -ge 2 ] && exit "$rc"
exit 0
