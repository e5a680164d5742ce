#!/usr/bin/env bash
# Runs the libFuzzer targets of a fuzz build for longer than the tests do.
#
#   tests/fuzz/run-fuzzers.sh <build-dir> [seconds-per-target] [name...]
#
# <build-dir> was configured with CC=clang CXX=clang++ -DTARV_FUZZ=ON and
# built with --target fuzz_all. Each target starts from its seed corpus in
# tests/fuzz/corpus/<name> and from what earlier runs found, which it keeps
# in <build-dir>/tests/fuzz/work/<name>/corpus; inputs that break a property
# or crash land in <build-dir>/tests/fuzz/work/<name>/artifacts. Without names
# every target runs, one after the other. Exit status 1 when any target failed.
set -uo pipefail

if [[ $# -lt 1 || ! -d $1/bin ]]; then
  echo "usage: $0 <build-dir> [seconds-per-target] [name...]" >&2
  exit 2
fi
build=$(cd "$1" && pwd)
seconds=${2:-300}
shift $(( $# >= 2 ? 2 : 1 ))
seeds=$(cd "$(dirname "$0")" && pwd)/corpus

names=("$@")
if [[ ${#names[@]} -eq 0 ]]; then
  for program in "$build"/bin/fuzz_*; do
    [[ -x $program ]] && names+=("${program##*/fuzz_}")
  done
fi
if [[ ${#names[@]} -eq 0 ]]; then
  echo "no fuzz targets in $build/bin: build with --target fuzz_all" >&2
  exit 2
fi

failed=()
for name in "${names[@]}"; do
  program=$build/bin/fuzz_$name
  work=$build/tests/fuzz/work/$name
  mkdir -p "$work/corpus" "$work/artifacts"
  echo "=== fuzz_$name for ${seconds} s"
  if ! "$program" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -max_len=4096 \
       -print_final_stats=1 -artifact_prefix="$work/artifacts/" \
       "$work/corpus" "$seeds/$name" 2>"$work/last-run.log"; then
    failed+=("$name")
    grep -E "property broken|ERROR|SUMMARY" "$work/last-run.log" | head -n 5
    echo "    log: $work/last-run.log"
    echo "    reproduce: $program $(ls -t "$work"/artifacts/* 2>/dev/null | head -n 1)"
  else
    grep -E "^stat::number_of_executed_units|^Done" "$work/last-run.log" | tail -n 2 | sed 's/^/    /'
  fi
done

if [[ ${#failed[@]} -gt 0 ]]; then
  echo "failed: ${failed[*]}"
  exit 1
fi
echo "all ${#names[@]} targets ran clean"
