#!/bin/sh
# The Core Audio variant carries none of the kernel-streaming library: it does not import
# ksuser.dll and links no CKs* class. The kernel-streaming variant, checked the same way,
# shows that the check sees what it looks for.
# usage: check-variant-dlls.sh <objdump> <nm> <core-audio dll> <kernel-streaming dll>
set -u
objdump=$1 nm=$2 ca=$3 ks=$4

symbolsOf() { if [ -f "$1.debug" ]; then echo "$1.debug"; else echo "$1"; fi; }
ksClasses() { "$nm" -C "$(symbolsOf "$1")" | grep -c ' CKs[A-Za-z]*::' ; }

status=0
if "$objdump" -p "$ca" | grep -qi 'DLL Name: *ksuser\.dll'; then
  echo "FAIL: $ca imports ksuser.dll"; status=1
fi
n=$(ksClasses "$ca")
if [ "$n" -ne 0 ]; then
  echo "FAIL: $ca links $n symbols of CKs classes:"; "$nm" -C "$(symbolsOf "$ca")" | grep ' CKs[A-Za-z]*::' | head
  status=1
fi
k=$(ksClasses "$ks")
if [ "$k" -eq 0 ]; then
  echo "FAIL: no CKs symbols found in $ks either: the check cannot see them"; status=1
fi
[ $status -eq 0 ] && echo "ok: $(basename "$ca") has no kernel-streaming code ($(basename "$ks") has $k CKs symbols)"
exit $status
