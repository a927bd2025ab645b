#!/bin/sh
# Long fuzz runs: every libFuzzer target of the native sanitizer build for a chosen time
# each, one after the other, on a corpus kept in the build folder between runs
# (<build>/fuzz/<target>/corpus, seeded from the target's committed corpus). Prints each
# target's executions, coverage (edges and features) and corpus size, and any finding.
#
#   tools/fuzz.sh BUILD_DIR [SECONDS_PER_TARGET] [TARGET ...]
#
# Exit status: 0 when no target found anything, 1 when one did (its input is in
# <build>/fuzz/<target>/), 2 on a usage or build problem.
set -u
build=${1:?usage: tools/fuzz.sh BUILD_DIR [SECONDS] [TARGET ...]}
seconds=${2:-600}
[ $# -ge 2 ] && shift 2 || shift $#
listing=$build/fuzz/targets.tsv
if [ ! -f "$listing" ]; then
  echo "no fuzz targets listed in $listing (configure the native build with -DTESS_SANITIZE=ON and clang)" >&2
  exit 2
fi

only=" $* "
wanted() {
  [ "$only" = "  " ] && return 0
  case $only in *" $1 "*) return 0 ;; esac
  return 1
}

tab=$(printf '\t')
summary=$(mktemp)
trap 'rm -f "$summary"' EXIT
failed=0
while IFS="$tab" read -r name exe seeds dict; do
  wanted "$name" || continue
  if [ ! -x "$exe" ]; then
    echo "$name: $exe is not built (cmake --build $build --target fuzz_targets)" >&2
    exit 2
  fi
  work=$build/fuzz/$name
  mkdir -p "$work/corpus"
  log=$work/fuzz.log
  echo "== $name: ${seconds} s (corpus $work/corpus, log $log)"
  # A slow input is a finding too: -timeout turns a hang into a reported input.
  set -- -max_total_time="$seconds" -timeout=30 -print_final_stats=1 -artifact_prefix="$work/"
  [ -n "$dict" ] && set -- "$@" -dict="$dict"
  set -- "$@" "$work/corpus"
  [ -n "$seeds" ] && set -- "$@" "$seeds"
  "$exe" "$@" >"$log" 2>&1
  rc=$?
  status=$(grep -E '^#[0-9]+.*cov: ' "$log" | tail -n 1)
  execs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log")
  rate=$(sed -n 's/^stat::average_exec_per_sec: *//p' "$log")
  edges=$(echo "$status" | sed -n 's/.* cov: \([0-9]*\).*/\1/p')
  features=$(echo "$status" | sed -n 's/.* ft: \([0-9]*\).*/\1/p')
  corpus=$(echo "$status" | sed -n 's/.* corp: \([0-9]*\/[0-9]*[a-zA-Z]*\).*/\1/p')
  kept=$(find "$work/corpus" -type f | wc -l)
  if [ "$rc" -eq 0 ]; then
    result=ok
  else
    failed=1
    result="FOUND (exit $rc): $(sed -n 's/.*Test unit written to //p' "$log" | tail -n 1)"
    grep -m 3 -E 'ERROR|SUMMARY|deadly signal|timeout' "$log" | sed 's/^/    /'
  fi
  printf '%-20s %14s %10s %7s %9s %16s %8s  %s\n' "$name" "${execs:-?}" "${rate:-?}" "${edges:-?}" \
    "${features:-?}" "${corpus:-?}" "$kept" "$result" >>"$summary"
done <"$listing"

echo
printf '%-20s %14s %10s %7s %9s %16s %8s  %s\n' target executions exec/s edges features "corpus in/size" kept result
cat "$summary"
echo "(${seconds} s per target; edges and features as libFuzzer counts them; 'corpus' is the fuzzer's"
echo " corpus at the end, seeds included; 'kept' the inputs saved in the build folder so far)"
exit $failed
