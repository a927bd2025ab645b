#!/bin/sh
# The status block between an x86 and an x64 process, in one namespace of the x86 lane
# (run.sh --script; one prefix and wineserver for both sides, as on 64-bit Windows):
# the driver of one architecture streams in asiohost of that architecture against the
# virtual DAC, while asiostatus of the other architecture reads the block the way the
# control panel does; then the other way round (native DSD64 there: its 32-bit words
# travel at 88200 Hz).
#   status-block-cross.sh WIN32_BUILD WIN64_BUILD
set -u
win32=$1 win64=$2
winpath() { printf 'Z:%s' "$1" | tr / '\\'; }
for f in "$win64/asiodriver/TessalineUsbAudioDevice2ASIO.dll" "$win64/asiohost/asiohost.exe" "$win64/asiohost/asiostatus.exe"; do
  [ -f "$f" ] || { echo "x64 side missing: $f (build the win64 tree first)"; exit 1; }
done
work=$PWD/x86-status-block-cross
rm -rf "$work" && mkdir -p "$work" || exit 1
failed=0
check() {  # description, then a condition
  what=$1; shift
  if "$@"; then echo "ok: $what"; else echo "FAILED: $what"; failed=1; fi
}

# The driver's width comes from the per-user settings (HKCU\Software is one key for both views).
"$X64_WINE" reg add 'HKCU\Software\ASIO\Tessaline USB 2' /v BitsPerSample /t REG_DWORD /d 24 /f > /dev/null

# stream DRIVER_WINE READER_WINE DRIVER_BUILD READER_BUILD NAME EXPECTED [asiohost play args...]
stream() {
  dwine=$1 rwine=$2 dbuild=$3 rbuild=$4 name=$5 expected=$6; shift 6
  dll=$(winpath "$dbuild/asiodriver/TessalineUsbAudioDevice2ASIO.dll")
  "$dwine" regsvr32 /s "$dll" || { echo "FAILED: regsvr32 $dll"; failed=1; return; }
  TESSALINE_VIRTUAL_DEVICE=1 "$dwine" "$dbuild/asiohost/asiohost.exe" play -d "Tessaline USB 2" -q \
    --timeout-ms 30000 "$@" > "$work/$name-play.txt" 2>&1 &
  player=$!
  "$rwine" "$rbuild/asiohost/asiostatus.exe" --wait-running 120000 | tr -d '\r' > "$work/$name-status.txt"
  wait $player
  played=$?
  tr -d '\r' < "$work/$name-play.txt" | tail -n 3
  echo "reader: $(cat "$work/$name-status.txt")"
  check "$name: the driver streamed (asiohost play status $played)" [ $played -eq 0 ]
  check "$name: the reader saw '$expected'" grep -qxF -- "$expected" "$work/$name-status.txt"
  "$dwine" regsvr32 /u /s "$dll"
}

stream "$X86_WINE" "$X64_WINE" "$win32" "$win64" "x86 driver, x64 reader" \
  "RUNNING  2 Channel, 24 bits, 96000 Hz, Buffer 20.0 ms  PCM" -r 96000 --buffer-ms 20 -t 6 -s sine
stream "$X64_WINE" "$X86_WINE" "$win64" "$win32" "x64 driver, x86 reader" \
  "RUNNING  2 Channel, 32 bits, 88200 Hz, Buffer 20.0 ms  DSD64" -r 2822400 --buffer-ms 20 -t 6
"$X64_WINE" reg delete 'HKCU\Software\ASIO\Tessaline USB 2' /v BitsPerSample /f > /dev/null
[ $failed -eq 0 ] && echo "status block across x86 and x64: every check passed" || echo "status block across x86 and x64: a check failed"
exit $failed
