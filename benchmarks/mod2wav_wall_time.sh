#!/usr/bin/env bash
# Whole-process wall time of `plinth mod2wav` from this build against a build
# of commit 61cff94, side by side in one run: the benchmark module with 4, 8
# and 32 channels (about 245 s of music) and examples/example.mod, at 8000 Hz
# (through MODWAV) and with --rate 44100. `cp` of the finished output is the
# floor. Median of five rounds (PLINTH_ROUNDS overrides that); every output is
# compared with the old one byte for byte, and any difference stops the
# script. Processor time (user and system) is shown beside the wall time.
#   benchmarks/mod2wav_wall_time.sh [build-dir]
# The old commit is checked out as a git worktree and built once, in
# $PLINTH_BASELINE_DIR (default /tmp/plinth-61cff94).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "${1:-$root/build}" && pwd)
old_commit=61cff94
old_dir=${PLINTH_BASELINE_DIR:-${TMPDIR:-/tmp}/plinth-$old_commit}
rounds=${PLINTH_ROUNDS:-5}

if [[ ! -x $old_dir/build/tools/plinth ]]; then
  [[ -d $old_dir ]] || git -C "$root" worktree add --detach "$old_dir" "$old_commit" >/dev/null
  cmake -S "$old_dir" -B "$old_dir/build" -DCMAKE_BUILD_TYPE=Release \
    -DPLINTH_BUILD_TESTS=OFF -DPLINTH_BUILD_BENCHMARKS=OFF >/dev/null
  cmake --build "$old_dir/build" -j 2 --target plinth >/dev/null
fi
old=$old_dir/build/tools/plinth
new=$build/tools/plinth

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
for channels in 4 8 32; do
  "$build/benchmarks/make_benchmark_module" "$channels" "$work/bench$channels.mod"
done
cp "$root/examples/example.mod" "$work/example.mod"

# Runs a command and prints its wall time and its processor time (user and
# system) in seconds. On a shared machine the processor time is the steadier.
source "$root/benchmarks/process_time.sh"
measure() { process_time "$work/time.scratch" "$@"; }
# Median of column $1 of the lines read.
median() { awk -v c="$1" '{ print $c }' | sort -n | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }
ratio() { awk -v b="$1" -v a="$2" 'BEGIN { printf "%.2fx", b / a }'; }

printf '%-14s %-6s | %8s | %8s | %8s | %7s || %8s | %8s | %7s\n' \
  module rate cp "$old_commit" now speedup "cpu old" "cpu now" speedup
for module in bench4 bench8 bench32 example; do
  for rate in 8000 44100; do
    options=()
    [[ $rate == 8000 ]] || options=(--rate "$rate")
    : >"$work/cp.times"
    : >"$work/old.times"
    : >"$work/new.times"
    for ((round = 0; round < rounds; ++round)); do
      rm -f "$work/old.wav" "$work/new.wav" "$work/copy.wav"
      measure "$old" mod2wav "$work/$module.mod" "$work/old.wav" "${options[@]}" >>"$work/old.times"
      measure "$new" mod2wav "$work/$module.mod" "$work/new.wav" "${options[@]}" >>"$work/new.times"
      measure cp "$work/old.wav" "$work/copy.wav" >>"$work/cp.times"
      if ! cmp -s "$work/old.wav" "$work/new.wav"; then
        echo "$module at $rate Hz: the output differs from $old_commit's" >&2
        exit 1
      fi
    done
    copy=$(median 1 <"$work/cp.times")
    before=$(median 1 <"$work/old.times")
    after=$(median 1 <"$work/new.times")
    cpuBefore=$(median 2 <"$work/old.times")
    cpuAfter=$(median 2 <"$work/new.times")
    printf '%-14s %-6s | %7.4fs | %7.4fs | %7.4fs | %7s || %7.3fs | %7.3fs | %7s\n' "$module.mod" "$rate" \
      "$copy" "$before" "$after" "$(ratio "$before" "$after")" "$cpuBefore" "$cpuAfter" "$(ratio "$cpuBefore" "$cpuAfter")"
  done
done
