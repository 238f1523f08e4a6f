# Sourced by the wall-time scripts. process_time SCRATCH COMMAND... runs the
# command (its output discarded) and prints its wall time, to the
# microsecond from the shell's own clock, and its processor time (user and
# system), to the millisecond, in seconds. SCRATCH is a file it may
# overwrite. Nothing is started between the two readings of the clock but the
# command: a few milliseconds matter when whole processes take twenty.
process_time() {
  local scratch=$1
  shift
  local TIMEFORMAT='%3U %3S'
  local start=${EPOCHREALTIME/[^0-9]/}
  { time "$@" >/dev/null 2>&1; } 2>"$scratch"
  local end=${EPOCHREALTIME/[^0-9]/}
  local user kernel
  read -r user kernel <"$scratch"
  awk -v wall="$((end - start))" -v user="$user" -v kernel="$kernel" \
    'BEGIN { printf "%.4f %.3f\n", wall / 1e6, user + kernel }'
}
