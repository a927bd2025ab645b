#!/bin/sh
# Checks that shipped binaries carry none of the virtual DAC: no import of its DLL and none
# of the texts only its code holds (each is first found in the DLL itself, so that a
# renamed text cannot make the check pass by itself).
#   not-in-deliverables.sh OBJDUMP VIRTUAL_DAC_DLL SHIPPED_FILE...
set -u
objdump=$1 dll=$2
shift 2
narrow="TESSALINE_VIRTUAL_DEVICE_LOOPBACK TESSALINE_VIRTUAL_DEVICE_CAPTURE_JACKS"
wide="High Definition Audio Device"
named="Tessaline USB 2 (virtual)"
failed=0
has() {  # has FILE ENCODING TEXT: the text is in the file (strings -e s: 8-bit, l: UTF-16LE)
  strings -a -n 8 -e "$2" "$1" | grep -qF -- "$3"
}
for text in $narrow "$named"; do
  has "$dll" s "$text" || { echo "the virtual DAC's DLL lacks '$text': choose another marker"; failed=1; }
done
has "$dll" l "$wide" || { echo "the virtual DAC's DLL lacks '$wide' (UTF-16): choose another marker"; failed=1; }
for f in "$@"; do
  [ -f "$f" ] || { echo "FAILED: $f is not built"; failed=1; continue; }
  name=$(basename "$f")
  if "$objdump" -p "$f" | grep -qiF "DLL Name: $(basename "$dll")"; then
    echo "FAILED: $name imports $(basename "$dll")"; failed=1
  fi
  for text in $narrow "$named"; do
    if has "$f" s "$text"; then echo "FAILED: $name holds '$text'"; failed=1; fi
  done
  if has "$f" l "$wide"; then echo "FAILED: $name holds '$wide' (UTF-16)"; failed=1; fi
  echo "$name: $(stat -c %s "$f") bytes"
done
[ $failed -eq 0 ] && echo "no deliverable carries the virtual DAC"
exit $failed
