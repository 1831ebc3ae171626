#!/usr/bin/env bash
# A long fuzz campaign: runs every fuzzer, one at a time and at the lowest
# priority, until it has executed N_INPUTS inputs, then merges the inputs
# that add coverage into the committed seed corpora (fuzz/corpus/<name>).
# Stops at the first fault, leaving the crashing input in build/fuzz/campaign/.
#
#   scripts/fuzz-campaign.sh N_INPUTS [FUZZER...]    e.g. 10000000 kestrune
#
# The work corpora in build/fuzz/campaign/<name>/ are kept, so a campaign
# can be run in several parts; a summary of executions, speed and findings
# is appended to build/fuzz/campaign/summary.txt, and
#   scripts/fuzz-campaign.sh --totals
# adds up the executions of every part. CAMPAIGN_SECONDS=S ends each
# fuzzer's part after S seconds even before N_INPUTS, so that a campaign
# on a machine shared with other work can proceed in parts that each end
# cleanly (with their statistics and their merge).
. "$(dirname "$0")/common.sh"
campaign=build/fuzz/campaign
if [ "${1:-}" = --totals ]; then
  awk '$3 ~ /^[0-9]+$/ { n[$2] += $3 } / FAULT / { f[$2]++ }
       END { for (k in n) printf "%s %d inputs, %d faults\n", k, n[k], f[k] + 0 }' \
    "$campaign/summary.txt" | sort
  exit 0
fi
if [ $# -lt 1 ] || ! [[ $1 =~ ^[0-9]+$ ]]; then
  echo "usage: $0 N_INPUTS [FUZZER...]" >&2
  exit 2
fi
inputs=$1
shift
need_packages BUILD TEST

cmake --preset fuzz >/dev/null
cmake --build --preset fuzz -j"$jobs"

mkdir -p "$campaign"
names=("$@")
[ ${#names[@]} -gt 0 ] || names=("${EFFECTS_PLUGIN_NAMES[@],,}")

for name in "${names[@]}"; do
  fuzzer=build/fuzz/fuzz/${name}_fuzz
  work=$campaign/$name
  log=$campaign/$name.log
  mkdir -p "$work"
  echo "== $name: $inputs inputs"
  # New inputs go to the work corpus; the seeds are read only. An input that
  # hangs counts as a fault. No input takes a second when the fuzzer has a
  # core, but at the lowest priority on a busy machine one can wait tens of
  # seconds for it, so the limit is generous.
  status=0
  nice -n 19 "$fuzzer" -runs="$inputs" -max_total_time="${CAMPAIGN_SECONDS:-0}" \
    -timeout=300 -print_final_stats=1 \
    -artifact_prefix="$campaign/$name-" "$work" "fuzz/corpus/$name" >"$log" 2>&1 || status=$?
  runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log")
  if [ "$status" -ne 0 ]; then
    tail -40 "$log"
    echo "$(date -u +%FT%TZ) $name: FAULT after $runs inputs, see $log" >>"$campaign/summary.txt"
    echo "$name: fault found; the input is in $campaign/$name-*" >&2
    exit 1
  fi
  speed=$(sed -n 's/^stat::average_exec_per_sec: *//p' "$log")
  before=$(ls "fuzz/corpus/$name" | wc -l)
  # Only what adds coverage to the seeds joins them.
  nice -n 19 "$fuzzer" -merge=1 "fuzz/corpus/$name" "$work" >"$campaign/$name-merge.log" 2>&1
  after=$(ls "fuzz/corpus/$name" | wc -l)
  line="$(date -u +%FT%TZ) $name: $runs inputs, $speed/s, no fault; seeds $before -> $after"
  echo "$line" | tee -a "$campaign/summary.txt"
done
