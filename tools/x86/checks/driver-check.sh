#!/bin/sh
# An x86 driver with the virtual DAC under x86 hosts, in one namespace of the x86 lane
# (run.sh --script): register with the x86 regsvr32, find it as a host does, asiohost's
# conformance run, a PCM stream compared bit for bit with what the DAC played, the C host
# that declares the binary interface itself (abihost), unregister.
#   driver-check.sh DRIVER_DLL ASIOHOST_EXE DRIVER_NAME [ABIHOST_EXE]
# Buffers are large (20 ms): under emulation a small buffer measures the emulator.
set -u
dll=$1 host=$2 driver=$3 abihost=${4:-}
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
if [ -n "$abihost" ]; then
  step "abihost: the driver through a C host's own x86 vtable, records and callbacks" "$X86_WINE" "$abihost" "$driver"
fi
unset TESSALINE_VIRTUAL_DEVICE
step "regsvr32 /u $(basename "$dll") (x86)" "$X86_WINE" regsvr32 /u /s "$(winpath "$dll")"
step "asiohost list no longer shows '$driver'" \
  sh -c '! "$X86_WINE" "$1" list | tr -d "\r" | grep -F -- "$2"' - "$host" "$driver"
[ $failed -eq 0 ] && echo "x86 driver checks: every step passed" || echo "x86 driver checks: a step failed"
exit $failed
