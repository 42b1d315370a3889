#!/usr/bin/env bash
# kestrava-query "Select * From Win32_Process" against ps with the equivalent fields, each a whole
# process from start to exit (start-up and output included), taken in turns.
#   bench/service/query-vs-ps.sh [PROCESSES] [RUNS]     (defaults 1000 and 21)
# Tops this computer's process list up to PROCESSES with sleeping children (killed at the end),
# prints each side's median wall time and the ratio of the medians, then, where /usr/bin/time is
# installed, each side's peak resident memory. Where farm-bench is on PATH it takes the turns
# instead (pair by pair ratios, CPU and peak memory too), for the table output and for CSV.
set -euo pipefail
root="$(cd "$(dirname "$0")/../.." && pwd)"
query="${KESTRAVA_QUERY:-$root/build/default/src/query/kestrava-query}"
total="${1:-1000}"
runs="${2:-21}"
ps_fields=pid,ppid,comm,args,nlwp,vsz,rss,majflt,minflt,lstart,time,pri

sleepers=()
trap 'kill "${sleepers[@]}" 2>/dev/null || true; wait 2>/dev/null || true' EXIT
present=$(find /proc -maxdepth 1 -name '[0-9]*' | wc -l)
for ((i = present; i < total; i++)); do
  sleep 3600 &
  sleepers+=($!)
done

if command -v farm-bench >/dev/null; then
  echo "processes: $(find /proc -maxdepth 1 -name '[0-9]*' | wc -l)"
  farm-bench -n "$runs" --timeout 600 --vs "ps -e -o $ps_fields" -- \
    "$query" "Select * From Win32_Process"
  farm-bench -n "$runs" --timeout 600 --vs "ps -e -o $ps_fields" -- \
    "$query" --format csv "Select * From Win32_Process"
  exit 0
fi

microseconds() {
  local start end
  start=$(date +%s%N)
  "$@" > /dev/null
  end=$(date +%s%N)
  echo $(((end - start) / 1000))
}
median() { sort -n | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }

a=() b=()
for ((r = 0; r < runs; r++)); do
  a+=("$(microseconds "$query" "Select * From Win32_Process")")
  b+=("$(microseconds ps -e -o "$ps_fields")")
done
ma=$(printf '%s\n' "${a[@]}" | median)
mb=$(printf '%s\n' "${b[@]}" | median)
echo "processes: $(find /proc -maxdepth 1 -name '[0-9]*' | wc -l)"
echo "kestrava-query, median of $runs: $((ma / 1000)).$(((ma % 1000) / 100)) ms"
echo "ps -e -o $ps_fields, median of $runs: $((mb / 1000)).$(((mb % 1000) / 100)) ms"
awk -v a="$ma" -v b="$mb" 'BEGIN { printf "ratio kestrava-query / ps: %.2f\n", a / b }'
if [ -x /usr/bin/time ]; then
  /usr/bin/time -f "kestrava-query peak resident: %M KiB" "$query" "Select * From Win32_Process" > /dev/null
  /usr/bin/time -f "ps peak resident: %M KiB" ps -e -o "$ps_fields" > /dev/null
fi
