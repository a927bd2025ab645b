#!/bin/sh
# x86 asiohost against an x86 driver with the virtual DAC, in one namespace of the x86
# lane (run.sh --script): register with the x86 regsvr32, find it as a host does,
# conformance run, a PCM stream compared bit for bit with what the DAC played, unregister.
#   asiohost-check.sh DRIVER_DLL ASIOHOST_EXE DRIVER_NAME
# Buffers are large (20 ms): under emulation a small buffer measures the emulator.
set -u
dll=$1 host=$2 driver=$3
winpath() { printf 'Z:%s' "$1" | tr / '\\'; }
work=$PWD/x86-asiohost-$(basename "$dll" .dll)
rm -rf "$work" && mkdir -p "$work" || exit 1
failed=0
step() {  # description, then the command; its output is kept and shown
  what=$1; shift
  "$@" > "$work/out.txt" 2>&1
  rc=$?
  tr -d '\r' < "$work/out.txt"
  if [ $rc -eq 0 ]; then echo "ok: $what"; else echo "FAILED ($rc): $what"; failed=1; fi
  return $rc
}

step "regsvr32 $(basename "$dll") (x86)" "$X86_WINE" regsvr32 /s "$(winpath "$dll")" || exit 1
step "asiohost list shows '$driver'" sh -c '"$X86_WINE" "$1" list | tr -d "\r" | grep -F -- "$2"' - "$host" "$driver"
export TESSALINE_VIRTUAL_DEVICE=1
step "asiohost check (x86, 20 ms buffers)" \
  "$X86_WINE" "$host" check -d "$driver" -q -n 100 --buffer-ms 20 --timeout-ms 30000
TESSALINE_VIRTUAL_DEVICE_WAV=$(winpath "$work/played.wav") \
  step "asiohost play: 48000 Hz sine, 20 ms buffers, 2 s, what the DAC played equals what was sent" \
  "$X86_WINE" "$host" play -d "$driver" -q -r 48000 --buffer-ms 20 -t 2 -s sine --timeout-ms 30000
unset TESSALINE_VIRTUAL_DEVICE
step "regsvr32 /u $(basename "$dll") (x86)" "$X86_WINE" regsvr32 /u /s "$(winpath "$dll")"
step "asiohost list no longer shows '$driver'" \
  sh -c '! "$X86_WINE" "$1" list | tr -d "\r" | grep -F -- "$2"' - "$host" "$driver"
[ $failed -eq 0 ] && echo "asiohost x86 checks: every step passed" || echo "asiohost x86 checks: a step failed"
exit $failed
