#!/bin/bash
# Salvage speed against verify's, measured in the same run on the same fileset: records a fileset
# of about SIZE_MIB MiB (default 1024) with quormf record, reads it once so that both commands
# find it in the page cache, times `quormf verify`, then runs `quormf salvage --json` and takes
# the time of the salvage itself from its report (without the check of the new fileset that the
# command runs afterwards, itself a verify). Prints both throughputs and the ratio salvage /
# verify (1.0: as fast as verify).
#
#   bench/salvage_vs_verify.sh build/release/tools/quormf [SIZE_MIB] [DIR]
set -euo pipefail
quormf=$(realpath "${1:?usage: $0 QUORMF [SIZE_MIB] [DIR]}")
size_mib=${2:-1024}
dir=${3:-$(mktemp -d)}
mkdir -p "$dir"
trap 'rm -rf "$dir/rec" "$dir/out"' EXIT

# The synthetic sources make about 0.2 MiB of payload per second of media.
"$quormf" record "$dir/rec/big.qmf" --max-size 65536 --max-files 1000 \
  --duration $((size_mib * 5)) --overwrite >/dev/null
bytes=$(cat "$dir"/rec/*.qmf | wc -c)

start=$(date +%s.%N)
"$quormf" verify "$dir/rec/big.qmf" >/dev/null
end=$(date +%s.%N)
salvage=$("$quormf" salvage --json "$dir/rec/big.qmf" "$dir/out/big.qmf" |
  python3 -c 'import json, sys; print(json.load(sys.stdin)["seconds"]["salvage"])')
awk -v bytes="$bytes" -v verify="$(awk -v a="$start" -v b="$end" 'BEGIN { print b - a }')" \
  -v salvage="$salvage" 'BEGIN {
    mib = bytes / 1048576
    printf "fileset   %.0f MiB\n", mib
    printf "verify    %.2f s  %.0f MiB/s\n", verify, mib / verify
    printf "salvage   %.2f s  %.0f MiB/s\n", salvage, mib / salvage
    printf "ratio     %.2f of verify speed\n", verify / salvage
  }'
