#!/bin/sh
# An x86 window program under Xvfb in the x86 lane (run.sh --script): it must show its
# window, then end on its exit command (WM_COMMAND with COMMAND_ID, posted by windowexit,
# tools/x86/windowexit) with status 0.
#   window-exits.sh WINDOWEXIT_EXE TITLE COMMAND_ID PROGRAM [ARGS...]
set -u
[ -n "${DISPLAY:-}" ] || { echo "no display: run the lane under xvfb-run"; exit 1; }
sender=$1 title=$2 command=$3; shift 3
name=$(basename "$1")
out=$(mktemp) || exit 1
"$X86_WINE" "$@" &
program=$!
"$X86_WINE" "$sender" "$title" "$command" > "$out" 2>&1
sent=$?
tr -d '\r' < "$out"
rm -f "$out"
if [ $sent -ne 0 ]; then
  # The window never showed or the program did not end: it ends now, and the check fails.
  kill -KILL $program 2>/dev/null
  wait $program 2>/dev/null
  echo "FAILED: $name did not show '$title' and end on command $command"
  exit 1
fi
wait $program
rc=$?
echo "$name ended with status $rc"
exit $rc
