#!/bin/sh
# The streaming part of the demo, run by tools/demo.sh once the driver is registered in the
# demo's Wine prefix (WINEPREFIX exported): conformance, PCM, native DSD64, DoP and loopback
# latency through asiohost.exe against the virtual DAC, then a table of what was verified.
#   demo-host.sh WIN64_BUILD_DIR DRIVER_NAME
set -u
win64=$(cd "$1" && pwd)
driver=$2
host="$win64/asiohost/asiohost.exe"
status="$win64/asiohost/asiostatus.exe"
work="$win64/asiohost-demo"
rm -rf "$work" && mkdir -p "$work"
windir=$(winepath -w "$work")
export TESSALINE_VIRTUAL_DEVICE=1
# Our driver takes its width and preferred buffer from the per-user settings at init.
if [ "$driver" = "Tessaline USB 2" ]; then
  wine reg add 'HKCU\Software\ASIO\Tessaline USB 2' /v BitsPerSample /t REG_DWORD /d 24 /f > /dev/null
  wine reg add 'HKCU\Software\ASIO\Tessaline USB 2' /v BufferSize /t REG_DWORD /d 100 /f > /dev/null
fi

# Top-level figures from a run's compact JSON summary.
json() { sed -n "s/.*\"$2\":\([^,}]*\).*/\1/p" "$work/$1.json" | head -n 1 | tr -d '"'; }
rows=""
row() { rows="$rows$(printf '%-30s %-5s %s' "$1" "$2" "$3")
"; }
verdict() { [ "$1" = 0 ] && echo pass || echo FAIL; }

# One streaming run in the background; the status block is read while it runs.
stream() {  # name, then asiohost arguments
  name=$1; shift
  TESSALINE_VIRTUAL_DEVICE_WAV="$windir\\$name-played.wav" \
    wine "$host" play -d "$driver" -q --json "$windir\\$name.json" "$@" > "$work/$name.txt" 2>&1 &
  pid=$!
  wine "$status" --wait-running 8000 | tr -d '\r' > "$work/$name.status"
  wait $pid
  rc=$?
  tr -d '\r' < "$work/$name.txt"
  echo "control panel: $(cat "$work/$name.status")"
  echo
  return $rc
}

echo "== asiohost list"
wine "$host" list | tr -d '\r'
echo

echo "== conformance: asiohost check (200 buffer switches, 24-bit, 10 ms)"
wine "$host" check -d "$driver" -n 200 -q --expect-bits 24 --buffer-ms 10 --json "$windir\\check.json" \
  > "$work/check.txt" 2>&1
rc=$?
tr -d '\r' < "$work/check.txt"
row "conformance run" "$(verdict $rc)" "$(json check passed) passed, $(json check failed) failed"
echo

echo "== PCM: 48000 Hz, 24-bit, 10 ms buffer, 1 kHz sine, 4 s"
stream pcm -r 48000 --buffer-ms 10 -t 4 -s sine --expect-bits 24
rc=$?
row "PCM 48000 Hz 24-bit 10 ms" "$(verdict $rc)" "$(json pcm summary); lateness p99 $(json pcm p99) ms"
echo "== native DSD64: 2822400 Hz, 3 s"
stream dsd64 -r 2822400 --buffer-ms 10 -t 3
rc=$?
row "native DSD64" "$(verdict $rc)" "$(json dsd64 summary)"
echo "== DoP: 176400 Hz carrier, 24-bit, 3 s"
stream dop -r 176400 --buffer-ms 10 -t 3 -s dop
rc=$?
row "DoP at 176400 Hz" "$(verdict $rc)" "$(json dop summary)"

echo "== loopback latency: marker out 0 -> in 0, 48000 Hz, 10 ms"
TESSALINE_VIRTUAL_DEVICE_LOOPBACK=1 wine "$host" latency -d "$driver" -q -r 48000 --buffer-ms 10 -t 3 \
  --json "$windir\\latency.json" > "$work/latency.txt" 2>&1
rc=$?
tr -d '\r' < "$work/latency.txt"
row "loopback latency" "$(verdict $rc)" "round trip $(json latency roundTripFrames) frames ($(json latency roundTripMs) ms); getLatencies in+out $(json latency reportedFrames) frames"
echo

echo "== what the demo verified"
printf '%s' "$rows"
for name in pcm dsd64 dop; do
  printf '%-30s %s\n' "control panel during $name" "$(cat "$work/$name.status")"
done
case "$rows" in
  *" FAIL "*) exit 1 ;;
esac
exit 0
