#!/bin/sh
# Runs every benchmark program of the native release build and prints its figures.
set -e
bench=$1
win64=${2:-}
for b in $(find "$bench" -name '*_bench' -type f -perm -u+x | sort); do
  echo "== $(basename "$b")"
  "$b" --benchmark_min_time=0.2
done
# The driver's own figures, when the Windows build has it.
hostbench="$(dirname "$0")/../asiohost/scripts/bench-host.sh"
if [ -n "$win64" ] && [ -f "$win64/asiodriver/TessalineUsbAudioDevice2ASIO.dll" ] && [ -f "$hostbench" ]; then
  sh "$hostbench" "$win64"
fi
# The driver against a drifting device clock (TESS_DRIFT_SECONDS per row, default 20).
driftbench="$(dirname "$0")/../asiohost/scripts/bench-drift.sh"
if [ -n "$win64" ] && [ -f "$win64/asiodriver/TessalineUsbAudioDevice2ASIO.dll" ] && [ -f "$driftbench" ]; then
  sh "$driftbench" "$win64"
fi
# The remote-control receiver's figures, when the Windows build has them.
remotebench="$(dirname "$0")/../panel/remote/scripts/bench-remote.sh"
if [ -n "$win64" ] && [ -f "$win64/panel/remote/remote_bench.exe" ]; then
  sh "$remotebench" "$win64"
fi
