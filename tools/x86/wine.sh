#!/bin/sh
# One x86 program (or Wine's own x86 program: regsvr32, reg ...) under Wine in the root,
# from the working folder; its code runs in QEMU (inside the x86 lane's namespace: see
# run.sh).   wine.sh PROGRAM [ARGS...]
: > "$X86_RAN"
exec unshare --root="$X86_ROOT" --wd="$PWD" /usr/lib/wine/wine "$@"
