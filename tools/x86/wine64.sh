#!/bin/sh
# One x64 program under Wine in the root, natively, beside the x86 ones (same prefix and
# wineserver; inside the x86 lane's namespace: see run.sh).   wine64.sh PROGRAM [ARGS...]
: > "$X86_RAN"
exec unshare --root="$X86_ROOT" --wd="$PWD" /usr/lib/wine/wine64 "$@"
