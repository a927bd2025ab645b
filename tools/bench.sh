#!/bin/sh
# Runs every benchmark program of the native release build and prints its figures.
set -e
bench=$1
for b in $(find "$bench" -name '*_bench' -type f -perm -u+x | sort); do
  echo "== $(basename "$b")"
  "$b" --benchmark_min_time=0.2
done
