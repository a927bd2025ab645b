#!/bin/sh
# An x86 window program under Xvfb in the x86 lane (run.sh --script): it must start and
# end by itself on the exit command its arguments give, with status 0.
#   window-exits.sh PROGRAM [ARGS...]
[ -n "${DISPLAY:-}" ] || { echo "no display: run the lane under xvfb-run"; exit 1; }
"$X86_WINE" "$@"
rc=$?
echo "$(basename "$1") ended with status $rc"
exit $rc
