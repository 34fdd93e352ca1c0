#!/usr/bin/env bash
# Runs every libFuzzer target of a fuzz build for SECONDS each, starting from the committed
# seed corpus, and prints how many inputs each one executed. Exits non-zero on a crash, a leak
# or a sanitizer report; the input that caused it is left in BUILD_DIR/fuzz/artifacts/.
#   fuzz/run.sh BUILD_DIR SECONDS
set -euo pipefail

if [ $# -ne 2 ]; then
  echo "usage: $0 BUILD_DIR SECONDS" >&2
  exit 2
fi
build_dir=$(cd "$1" && pwd)
seconds=$2
source_dir=$(cd "$(dirname "$0")" && pwd)

shopt -s nullglob
targets=("$build_dir"/fuzz/*_fuzz)
if [ ${#targets[@]} -eq 0 ]; then
  echo "no fuzz targets in $build_dir/fuzz (configure with the fuzz preset first)" >&2
  exit 2
fi

status=0
for target in "${targets[@]}"; do
  name=$(basename "$target")
  # QuorBlockFuzz.cpp builds quor_block_fuzz: the seed folder carries the source's name, so
  # names are compared without case and underscores.
  seeds=""
  for dir in "$source_dir"/corpus/*/; do
    dir=${dir%/}
    if [ "$(basename "$dir" | tr 'A-Z' 'a-z')" = "$(echo "$name" | tr -d '_')" ]; then
      seeds=$dir
    fi
  done
  work="$build_dir/fuzz/corpus/$name"
  artifacts="$build_dir/fuzz/artifacts/$name/"
  log="$build_dir/fuzz/$name.log"
  mkdir -p "$work" "$artifacts"
  dirs=("$work")
  [ -d "$seeds" ] && dirs+=("$seeds")
  echo "== $name for ${seconds}s (corpus $work${seeds:+, seeds $seeds})"
  if "$target" -max_total_time="$seconds" -print_final_stats=1 -artifact_prefix="$artifacts" \
      "${dirs[@]}" >"$log" 2>&1; then
    result=ok
  else
    result=FAILED
    status=1
  fi
  runs=$(grep -o 'stat::number_of_executed_units: *[0-9]*' "$log" | grep -o '[0-9]*$' || true)
  cov=$(grep -o 'cov: [0-9]*' "$log" | tail -1 || true)
  echo "$name: $result, ${runs:-?} executions, ${cov:-cov: ?}"
  if [ "$result" = FAILED ]; then
    grep -E 'ERROR|SUMMARY|Test unit written' "$log" | head -20 || true
    echo "full log: $log"
  fi
done
exit $status
