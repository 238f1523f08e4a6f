#!/bin/sh
# Wall time of a batch of 200 short WAV files (copies of examples/example.wav:
# 2 s of 44.1 kHz stereo) resampled to 16000 Hz, with -j 1 and with -j 2.
# Prints the median of five runs of each.
#   benchmarks/batch_wall_time.sh [path/to/plinth]
set -eu
tool=${1:-build/tools/plinth}
source_wav=$(dirname "$0")/../examples/example.wav
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir "$work/in"
i=0
while [ "$i" -lt 200 ]; do
  cp "$source_wav" "$work/in/take$i.wav"
  i=$((i + 1))
done
for jobs in 1 2; do
  run=0
  while [ "$run" -lt 5 ]; do
    rm -rf "$work/out"
    start=$(date +%s.%N)
    "$tool" resample --rate 16000 -j "$jobs" -o "$work/out" "$work"/in/*.wav 2>/dev/null
    end=$(date +%s.%N)
    echo "$start $end" | awk '{ printf "%.3f\n", $2 - $1 }'
    run=$((run + 1))
  done | sort -n | sed -n 3p | awk -v jobs="$jobs" '{ printf "-j %s: %s s (median of 5)\n", jobs, $1 }'
done
