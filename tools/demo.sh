#!/bin/sh
# The demo, in its own Wine prefix, for each variant of the driver (kernel-streaming pins,
# then Core Audio clients): register it, look at it the way an ASIO host does, stream
# through it against the virtual DAC, show the status block, unregister.
set -e
win64=$(cd "$1" && pwd)
tools=$(cd "$(dirname "$0")" && pwd)
prefix="$win64/demo-prefix"
probe="$win64/asiodriver/asioprobe.exe"
variants="TessalineUsbAudioDevice2ASIO:kernel-streaming TessalineUsbAudioDevice2ASIOW:Core-Audio"
for f in "$probe" $(for v in $variants; do echo "$win64/asiodriver/${v%%:*}.dll"; done); do
  [ -f "$f" ] || { echo "demo: $f is not built" >&2; exit 1; }
done

"$tools/wine/init.sh" "$prefix"
trap '"$tools/wine/stop.sh" "$prefix"' EXIT
export WINEPREFIX="$prefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
hostdemo="$tools/../asiohost/scripts/demo-host.sh"
status=0
tables=""

for v in $variants; do
  name=${v%%:*} title=$(echo "${v#*:}" | tr '-' ' ')
  dll="$win64/asiodriver/$name.dll"
  windll=$(winepath -w "$dll")
  wav="$win64/demo-played-$name.wav"
  rm -f "$wav"
  echo "################ the $title variant: $name.dll"
  printf "== regsvr32 /s %s\n" "$windll"
  wine regsvr32 /s "$windll"
  echo "registered"
  echo
  echo "== as a host finds it, without any device: the creation fails cleanly"
  wine "$probe" --create | tr -d '\r'
  echo
  echo "== with the virtual DAC (TESSALINE_VIRTUAL_DEVICE=1, looping its output back)"
  TESSALINE_VIRTUAL_DEVICE=1 TESSALINE_VIRTUAL_DEVICE_LOOPBACK=1 \
  TESSALINE_VIRTUAL_DEVICE_WAV="$(winepath -w "$wav")" \
    wine "$probe" --stream 3 > "$win64/demo-stream.txt" || status=$?
  tr -d '\r' < "$win64/demo-stream.txt"
  if [ -f "$wav" ]; then
    echo "  the DAC wrote what it played to $wav ($(stat -c %s "$wav") bytes)"
  fi
  # The host program's part: conformance, PCM, DSD64, DoP and loopback latency runs.
  if [ -f "$win64/asiohost/asiohost.exe" ] && [ -f "$hostdemo" ]; then
    echo
    sh "$hostdemo" "$win64" "Tessaline USB 2" > "$win64/demo-host-$name.txt" 2>&1 || status=$?
    cat "$win64/demo-host-$name.txt"
    tables="$tables
== what the demo verified: the $title variant
$(sed -n '/^== what the demo verified/,$p' "$win64/demo-host-$name.txt" | tail -n +2)"
  fi
  echo
  echo "== regsvr32 /u /s"
  wine regsvr32 /u /s "$windll"
  wine "$probe" | tr -d '\r'
  echo
done
[ -n "$tables" ] && printf '%s\n\n' "$tables"
[ "$status" -eq 0 ] && echo "demo: every check held" || echo "demo: a check failed"
exit "$status"
