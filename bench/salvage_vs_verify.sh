#!/bin/bash
# Salvage speed against verify's, measured in the same run on the same fileset: records a fileset
# of about SIZE_MIB MiB (default 1024) with quormf record, reads it once so that both commands
# find it in the page cache, times `quormf verify`, then runs `quormf salvage --json` and takes
# the time of the salvage itself from its report (without the check of the new fileset that the
# command runs afterwards, itself a verify). Prints both throughputs and the ratio salvage /
# verify (1.0: as fast as verify). For the floor that writing puts under salvage, it also times a
# plain copy of the member files into a fresh directory (read and write, no hashing), and prints
# the ratio that copy alone would reach against verify.
#
#   bench/salvage_vs_verify.sh build/release/tools/quormf [SIZE_MIB] [DIR]
set -euo pipefail
quormf=$(realpath "${1:?usage: $0 QUORMF [SIZE_MIB] [DIR]}")
size_mib=${2:-1024}
dir=${3:-$(mktemp -d)}
mkdir -p "$dir"
trap 'rm -rf "$dir/rec" "$dir/out" "$dir/copy"' EXIT

# The synthetic sources make about 0.2 MiB of payload per second of media.
"$quormf" record "$dir/rec/big.qmf" --max-size 65536 --max-files 1000 \
  --duration $((size_mib * 5)) --overwrite >/dev/null
bytes=$(cat "$dir"/rec/*.qmf | wc -c)
# Each timed step starts with no dirty pages left behind by the one before.
sync

start=$(date +%s.%N)
"$quormf" verify "$dir/rec/big.qmf" >/dev/null
end=$(date +%s.%N)
mkdir -p "$dir/copy"
sync
start_copy=$(date +%s.%N)
cat "$dir"/rec/*.qmf >"$dir/copy/all"
end_copy=$(date +%s.%N)
rm -rf "$dir/copy"
sync
salvage=$("$quormf" salvage --json "$dir/rec/big.qmf" "$dir/out/big.qmf" |
  python3 -c 'import json, sys; print(json.load(sys.stdin)["seconds"]["salvage"])')
awk -v bytes="$bytes" -v verify="$(awk -v a="$start" -v b="$end" 'BEGIN { print b - a }')" \
  -v copy="$(awk -v a="$start_copy" -v b="$end_copy" 'BEGIN { print b - a }')" \
  -v salvage="$salvage" 'BEGIN {
    mib = bytes / 1048576
    printf "fileset   %.0f MiB\n", mib
    printf "verify    %.2f s  %.0f MiB/s\n", verify, mib / verify
    printf "salvage   %.2f s  %.0f MiB/s\n", salvage, mib / salvage
    printf "copy      %.2f s  %.0f MiB/s  (read and write, no hashing)\n", copy, mib / copy
    printf "ratio     %.2f of verify speed (a plain copy: %.2f)\n", verify / salvage, verify / copy
  }'
