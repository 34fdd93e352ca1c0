#!/usr/bin/env bash
# Media import and export throughput against the ffmpeg program remuxing the same clip with
# `-c copy`, measured in the same run on the same machine. Prints the best of RUNS timings of each
# and the ratios (ffmpeg time / quormf time: 1.0 means as fast as the remux; the goal is >= 0.8).
#
#   bench/media_throughput.sh [QUORMF] [SECONDS] [RUNS]
#
# QUORMF defaults to the release build (make bench builds it); the clip is SECONDS long (default
# 120) of 1280x720 H.264 (libx264, B-frames) and AAC, made fresh in a temporary directory.
set -euo pipefail

quormf=${1:-build/release/tools/quormf}
seconds=${2:-120}
runs=${3:-3}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

ffmpeg -nostdin -hide_banner -loglevel error -y \
  -f lavfi -i "testsrc2=size=1280x720:rate=25" -f lavfi -i "sine=frequency=440:sample_rate=48000" \
  -t "$seconds" -c:v libx264 -preset ultrafast -bf 3 -g 50 -c:a aac -b:a 128k "$work/clip.mp4"
size=$(stat -c %s "$work/clip.mp4")
load_before=$(cut -d" " -f1-3 /proc/loadavg)

# Wall-clock seconds of one run of a command, its output directory made fresh.
timed() {
  rm -rf "$work/out" && mkdir -p "$work/out"
  local start end
  start=$(date +%s.%N)
  "$@" >/dev/null
  end=$(date +%s.%N)
  echo "$start $end" | awk '{print $2 - $1}'
}
min() { echo "$1 ${2:-1e9}" | awk '{print ($1 < $2 ? $1 : $2)}'; }

# The three commands take turns in every round, so load from elsewhere falls on each alike; the
# best of the rounds counts.
"$quormf" import "$work/clip.mp4" "$work/rec/rec.qmf" --max-size 65536 --max-files 64 >/dev/null
remux="" import="" export_time=""
for _ in $(seq "$runs"); do
  remux=$(min "$(timed ffmpeg -nostdin -loglevel error -y -i "$work/clip.mp4" -c copy \
    "$work/out/copy.mp4")" "$remux")
  import=$(min "$(timed "$quormf" import "$work/clip.mp4" "$work/out/rec.qmf" --max-size 65536 \
    --max-files 64)" "$import")
  export_time=$(min "$(timed "$quormf" export "$work/rec/rec.qmf" "$work/out/export.mp4")" \
    "$export_time")
done

echo "load average before: $load_before, after: $(cut -d" " -f1-3 /proc/loadavg)"
awk -v size="$size" -v remux="$remux" -v import="$import" -v exported="$export_time" 'BEGIN {
  mib = size / 1048576
  printf "clip: %.1f MiB\n", mib
  printf "ffmpeg -c copy   %7.3f s  %8.1f MiB/s\n", remux, mib / remux
  printf "quormf import    %7.3f s  %8.1f MiB/s  ratio %.2f\n", import, mib / import, remux / import
  printf "quormf export    %7.3f s  %8.1f MiB/s  ratio %.2f\n", exported, mib / exported, remux / exported
}'
