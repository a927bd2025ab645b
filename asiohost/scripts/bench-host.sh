#!/bin/sh
# The driver benchmark of `make bench`: registers each x64 variant of the driver in turn
# (kernel-streaming pins, Core Audio clients) in its own Wine prefix, sweeps buffer sizes at
# 48000 and 384000 Hz through asiohost.exe against the virtual DAC, prints both sweeps side
# by side, then soaks each variant.
#   bench-host.sh WIN64_BUILD_DIR [SECONDS_PER_ROW]
set -u
win64=$(cd "$1" && pwd)
seconds=${2:-3}
tools=$(cd "$(dirname "$0")/../../tools" && pwd)
variants="TessalineUsbAudioDevice2ASIO TessalineUsbAudioDevice2ASIOW"
host="$win64/asiohost/asiohost.exe"
for f in "$host" $(for v in $variants; do echo "$win64/asiodriver/$v.dll"; done); do
  [ -f "$f" ] || { echo "bench: $f is not built" >&2; exit 1; }
done
prefix="$win64/bench-prefix"
"$tools/wine/init.sh" "$prefix" || exit 1
trap '"$tools/wine/stop.sh" "$prefix"' EXIT
export WINEPREFIX="$prefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=" TESSALINE_VIRTUAL_DEVICE=1
register() { wine regsvr32 /s "$(winepath -w "$win64/asiodriver/$1.dll")" || { echo "bench: regsvr32 failed" >&2; exit 1; }; }
unregister() { wine regsvr32 /u /s "$(winepath -w "$win64/asiodriver/$1.dll")"; }
label() { case "$1" in *W) echo "Core Audio" ;; *) echo "kernel streaming" ;; esac; }

rc=0
for v in $variants; do
  register "$v"
  echo "== driver benchmark, $(label "$v") variant: asiohost bench, virtual DAC, ${seconds} s per row"
  wine "$host" bench -d "Tessaline USB 2" --rates 48000,384000 -t "$seconds" -q > "$win64/bench-host-$v.txt" 2>&1
  r=$?
  [ "$r" -gt "$rc" ] && rc=$r
  tr -d '\r' < "$win64/bench-host-$v.txt"
  unregister "$v"
done
echo "== side by side: kernel streaming | Core Audio (lost periods, stalls, callback lateness p99 and max in ms, callback CPU per period in us)"
set -- $variants
awk '
  FNR == 1 { file++ }
  $1 ~ /^[0-9]+$/ && NF >= 11 {
    key = $1 " " $2
    if (file == 1) { order[++n] = key; a[key] = sprintf("%5s %6s %8s %8s %8s", $5, $6, $8, $9, $10) }
    else b[key] = sprintf("%5s %6s %8s %8s %8s", $5, $6, $8, $9, $10)
  }
  END {
    printf "%8s %9s | %5s %6s %8s %8s %8s | %5s %6s %8s %8s %8s\n", "rate", "buffer ms",
      "lost", "stalls", "p99", "max", "cb cpu", "lost", "stalls", "p99", "max", "cb cpu"
    for (i = 1; i <= n; i++) {
      split(order[i], k, " ")
      printf "%8s %9s | %s | %s\n", k[1], k[2], a[order[i]], (order[i] in b) ? b[order[i]] : "   (no row)"
    }
  }' "$win64/bench-host-$1.txt" "$win64/bench-host-$2.txt" | tr -d '\r'

# The soak: create..release cycles with nothing growing, then streams at the minimum
# buffer at 48000 and 384000 Hz, as they are and with the whole host under the real-time
# class (chrt -f, which stands in for what Windows gives such threads; Wine applies no
# thread priorities), each alone and with two busy threads competing for the CPU.
cycles=${TESS_SOAK_CYCLES:-1000}
soak=${TESS_SOAK_SECONDS:-30}
busy() {
  for _ in 1 2; do sh -c 'while :; do :; done' >/dev/null 2>&1 & echo $!; done
}
for v in $variants; do
  register "$v"
  echo "== soak, $(label "$v") variant: $cycles cycles"
  wine "$host" play -d "Tessaline USB 2" --cycles "$cycles" -q 2>&1 | tr -d '\r' | grep -E "^(Cycles|before|after|Growth|cycle)"
  realtime=""
  if chrt -f 10 true 2>/dev/null; then realtime="chrt -f 10"; fi
  for load in quiet busy; do
    for class in plain realtime; do
      [ "$class" = realtime ] && [ -z "$realtime" ] && { echo "== (chrt -f is not available: no real-time rows)"; continue; }
      pids=""
      [ "$load" = busy ] && pids=$(busy)
      for rate in 48000 384000; do
        echo "== $(label "$v"): $soak s at $rate Hz, 2 ms buffer, $class, $load"
        if [ "$class" = realtime ]; then run="$realtime wine"; else run="wine"; fi
        TESSALINE_VIRTUAL_DEVICE_LOOPBACK=1 $run "$host" play -d "Tessaline USB 2" -r "$rate" --buffer-ms 2 \
          -t "$soak" --loopback -q 2>&1 | tr -d '\r' | grep -E "^(Switches|Callback|CPU)|input follows"
      done
      for p in $pids; do kill "$p" 2>/dev/null; done
    done
  done
  unregister "$v"
done
# Figures, not verdicts: a row that missed a check under load is shown, not fatal; only a
# driver or host that could not run fails the benchmark.
[ "$rc" -ge 2 ] && exit "$rc"
exit 0
