#!/bin/sh
# The clock figures of `make bench`: the x64 driver streaming through asiohost.exe into the
# virtual DAC whose clock runs 100 ppm fast, then 100 ppm slow, completing packets in 4 ms
# bursts as USB audio drivers do. Per row: switches, lost periods, resync requests, the
# rate the positions imply by the host's clock and by the driver's time stamps (both must
# show the device's drift), the device's frames played against the last position, and
# what it played compared bit for bit with what was sent.
#   bench-drift.sh WIN64_BUILD_DIR        (TESS_DRIFT_SECONDS: length of each row, default 20)
set -u
win64=$(cd "$1" && pwd)
seconds=${TESS_DRIFT_SECONDS:-20}
tools=$(cd "$(dirname "$0")/../../tools" && pwd)
dll="$win64/asiodriver/TessalineUsbAudioDevice2ASIO.dll"
host="$win64/asiohost/asiohost.exe"
for f in "$dll" "$host"; do
  [ -f "$f" ] || { echo "bench: $f is not built" >&2; exit 1; }
done
prefix="$win64/drift-prefix"
"$tools/wine/init.sh" "$prefix" || exit 1
work="$win64/drift"
mkdir -p "$work"
trap '"$tools/wine/stop.sh" "$prefix"; rm -f "$work"/played*.wav' EXIT
export WINEPREFIX="$prefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=" TESSALINE_VIRTUAL_DEVICE=1
# Under the real-time class when there is one (chrt -f, as the soak of bench-host.sh: Wine
# applies no thread priorities), so that the rows show the clock, not the machine's load;
# the wineserver, which every wait and event goes through, is started in it too.
rt=""
class="plain"
if chrt -f 10 true 2>/dev/null; then rt="chrt -f 10"; class="real-time class"; fi
"$tools/wine/stop.sh" "$prefix"
windll=$($rt winepath -w "$dll")
$rt wine regsvr32 /s "$windll" || { echo "bench: regsvr32 failed" >&2; exit 1; }
windir=$($rt winepath -w "$work")
rc=0
for ppm in 100 -100; do
  echo "== device clock $ppm ppm, completions in 4 ms bursts: $seconds s at 48000 Hz, 24-bit, 10 ms buffer, $class"
  TESSALINE_VIRTUAL_DEVICE_DRIFT_PPM=$ppm TESSALINE_VIRTUAL_DEVICE_BURST_MS=4 \
  TESSALINE_VIRTUAL_DEVICE_WAV="$windir\\played$ppm.wav" \
    $rt wine "$host" play -d "Tessaline USB 2" -r 48000 --buffer-ms 10 -t "$seconds" -q > "$work/row$ppm.txt" 2>&1
  status=$?
  tr -d '\r' < "$work/row$ppm.txt" | grep -E "^(Switches|Callback|Clock|Played)|device played what was sent"
  [ "$status" -ge 2 ] && rc=$status
  rm -f "$work/played$ppm.wav"
done
$rt wine regsvr32 /u /s "$windll"
exit "$rc"
