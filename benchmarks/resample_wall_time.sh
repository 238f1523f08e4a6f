#!/bin/sh
# Wall time of whole processes resampling ten minutes of stereo pink noise
# (made here with sox) to mono, for five common rate pairs, side by side:
#   cp     a copy of the input (the floor any converter pays for the I/O)
#   soxrHQ libsoxr at its HQ recipe, whole process (build/benchmarks/soxr_resample,
#          built when libsoxr-dev is found; SOXR_RESAMPLE names another), mixed
#          to mono as plinth mixes
#   sox    sox with its default rate effect (high quality), downmixed to mono
#   plinth plinth resample --channel mix, once per tool given (the column is
#          named after the tool's build folder), with the standard filter and,
#          in the column named with "-high" after it, with --quality high
#          (16-bit output, as every other column)
# Prints the median of five rounds of each, in seconds.
#   benchmarks/resample_wall_time.sh [path/to/plinth ...]
# PLINTH_ROUNDS overrides the number of rounds (the median is of those).
set -eu
[ "$#" -gt 0 ] || set -- build/tools/plinth
rounds=${PLINTH_ROUNDS:-5}
soxr=${SOXR_RESAMPLE:-build/benchmarks/soxr_resample}
[ -x "$soxr" ] || soxr=
command -v sox >/dev/null || { echo "sox is needed (Debian package sox)" >&2; exit 1; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

for rate in 44100 48000 8000; do
  sox -D -n -r "$rate" -c 2 -b 16 "$work/in$rate.wav" synth 600 pinknoise pinknoise vol 0.5
done

# time_median NAME COMMAND...: runs the command $rounds times, prints the median.
time_median() {
  run=0
  while [ "$run" -lt "$rounds" ]; do
    rm -f "$work/out.wav"
    start=$(date +%s.%N)
    "$@" >/dev/null 2>&1
    end=$(date +%s.%N)
    echo "$start $end" | awk '{ printf "%.3f\n", $2 - $1 }'
    run=$((run + 1))
  done | sort -n | awk -v n="$rounds" '{ v[NR] = $1 } END { printf "%s", v[int((n + 1) / 2)] }'
}

printf '%-16s %8s' pair cp
[ -z "$soxr" ] || printf ' %8s' soxrHQ
printf ' %8s' sox
for tool in "$@"; do
  name=$(basename "$(dirname "$(dirname "$tool")")")
  printf ' %12s %12s' "$name" "$name-high"
done
printf '\n'
for pair in 44100:48000 44100:16000 44100:8000 48000:44100 8000:16000; do
  from=${pair%:*}
  to=${pair#*:}
  in="$work/in$from.wav"
  printf '%-16s' "$from->$to"
  printf ' %8s' "$(time_median cp "$in" "$work/out.wav")"
  [ -z "$soxr" ] || printf ' %8s' "$(time_median "$soxr" "$in" "$work/out.wav" "$to" hq)"
  printf ' %8s' "$(time_median sox "$in" -c 1 "$work/out.wav" rate "$to")"
  for tool in "$@"; do
    printf ' %12s' "$(time_median "$tool" resample "$in" "$work/out.wav" --rate "$to" --channel mix --force)"
    printf ' %12s' "$(time_median "$tool" resample "$in" "$work/out.wav" --rate "$to" --channel mix --force \
      --quality high)"
  done
  printf '\n'
done
