#!/usr/bin/env bash
# Whole processes resampling ten minutes of stereo pink noise (made here with
# sox) to mono, for five common rate pairs, side by side:
#   cp     a copy of the input (the floor any converter pays for the I/O)
#   soxrHQ libsoxr at its HQ recipe, whole process (build/benchmarks/soxr_resample,
#          built when libsoxr-dev is found; SOXR_RESAMPLE names another), mixed
#          to mono as plinth mixes
#   sox    sox with its default rate effect (high quality), downmixed to mono
#   plinth plinth resample --channel mix, once per tool given (the column is
#          named after the tool's build folder), with the standard filter and,
#          in the column named with "-high" after it, with --quality high
#          (16-bit output, as every other column)
# Every round runs each command once in turn, so that a machine busy with
# other work slows them alike. Prints the median over the rounds of each
# command's wall time, then of its CPU time (user and system), in seconds.
#   benchmarks/resample_wall_time.sh [path/to/plinth ...]
# PLINTH_ROUNDS overrides the number of rounds (default 5).
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

# The columns: a name, then the command, @IN@, @OUT@ and @RATE@ standing for
# the input, the output and the rate.
names=(cp)
commands=("cp @IN@ @OUT@")
if [ -n "$soxr" ]; then names+=(soxrHQ); commands+=("$soxr @IN@ @OUT@ @RATE@ hq"); fi
names+=(sox)
commands+=("sox @IN@ -c 1 @OUT@ rate @RATE@")
for tool in "$@"; do
  name=$(basename "$(dirname "$(dirname "$tool")")")
  names+=("$name" "$name-high")
  commands+=("$tool resample @IN@ @OUT@ --rate @RATE@ --channel mix --force"
             "$tool resample @IN@ @OUT@ --rate @RATE@ --channel mix --force --quality high")
done

# times COMMAND...: "wall cpu" of one run, in seconds.
source "$(dirname "$0")/process_time.sh"
times_of() {
  rm -f "$work/out.wav"
  process_time "$work/time.scratch" "$@"
}

median() { sort -n | awk '{ v[NR] = $1 } END { printf "%.4f", v[int((NR + 1) / 2)] }'; }

pairs=(44100:48000 44100:16000 44100:8000 48000:44100 8000:16000)
for pair in "${pairs[@]}"; do
  from=${pair%:*}
  to=${pair#*:}
  for ((round = 0; round < rounds; ++round)); do
    for i in "${!commands[@]}"; do
      read -r -a words <<<"${commands[$i]}"
      words=("${words[@]//@IN@/$work/in$from.wav}")
      words=("${words[@]//@OUT@/$work/out.wav}")
      words=("${words[@]//@RATE@/$to}")
      echo "$i $(times_of "${words[@]}")"
    done
  done >"$work/times-$pair"
done

for field in 2 3; do
  [ "$field" = 2 ] && echo "Wall time, median of $rounds rounds (s)" || echo "CPU time, user and system (s)"
  printf '%-16s' pair
  for name in "${names[@]}"; do printf ' %12s' "$name"; done
  printf '\n'
  for pair in "${pairs[@]}"; do
    printf '%-16s' "${pair%:*}->${pair#*:}"
    for i in "${!commands[@]}"; do
      printf ' %12s' "$(awk -v i="$i" -v f="$field" '$1 == i { print $f }' "$work/times-$pair" | median)"
    done
    printf '\n'
  done
done
