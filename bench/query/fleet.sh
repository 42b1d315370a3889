#!/usr/bin/env bash
# kestrava-query across many computers, timed from outside.
#
#   bench/query/fleet.sh fake [FLEET_SIZES] [PARALLELS]
#       A simulated fleet: a fake ssh first on PATH runs the fake agent on this machine (no
#       network), each computer answering its query after KESTRAVA_FAKE_DELAY_MS (default 200)
#       with KESTRAVA_FAKE_OBJECTS objects (default 20) of KESTRAVA_FAKE_BLOB_BYTES (1000).
#       For every fleet size and --parallel it prints the wall time, the time one wave of
#       --parallel computers takes times the number of waves (the time the bound predicts), the
#       peak resident memory of kestrava-query and its most open descriptors and threads.
#       Defaults: sizes "100 500", parallels "8 32".
#
#   bench/query/fleet.sh hosts FILE [WQL]
#       Real computers, one name a line in FILE: each alone (the median of 3 runs), then all of
#       them in one --hosts FILE run (median of 3), and the ratio to the slowest alone.
#
# Needs a build in build/default (kestrava-query, and for "fake" the fake agent).
set -euo pipefail
root="$(cd "$(dirname "$0")/../.." && pwd)"
build="${KESTRAVA_BUILD:-$root/build/default}"
query="$build/src/query/kestrava-query"
[ -x "$query" ] || { echo "no $query: build first" >&2; exit 2; }
work="$(mktemp -d /tmp/kestrava-fleet-bench.XXXXXX)"
trap 'rm -rf "$work"' EXIT

now() { date +%s.%N; }
calc() { awk "BEGIN { print $* }"; }

# run_sampled OUTFILE ARGS...: runs kestrava-query, samples its descriptors and threads every
# 10 ms; sets wall, peak_kib, most_fds, most_threads, status.
run_sampled() {
  local out="$1"
  shift
  local start end pid fds threads
  most_fds=0 most_threads=0 peak_kib=0
  start="$(now)"
  "$query" "$@" >"$out" 2>"$out.err" &
  pid=$!
  while kill -0 "$pid" 2>/dev/null; do
    # The program may end between two looks: nothing is counted then.
    fds="$( (ls /proc/"$pid"/fd 2>/dev/null || true) | wc -l)"
    threads="$( (ls /proc/"$pid"/task 2>/dev/null || true) | wc -l)"
    [ "$fds" -gt "$most_fds" ] && most_fds="$fds"
    [ "$threads" -gt "$most_threads" ] && most_threads="$threads"
    local hwm
    hwm="$(awk '/^VmHWM:/ {print $2}' /proc/"$pid"/status 2>/dev/null || true)"
    [ -n "$hwm" ] && [ "$hwm" -gt "$peak_kib" ] && peak_kib="$hwm"
    sleep 0.01
  done
  status=0
  wait "$pid" || status=$?
  end="$(now)"
  wall="$(calc "$end - $start")"
}

fake() {
  local sizes="${1:-100 500}" parallels="${2:-8 32}"
  local agent="$build/tests/remote/kestrava-fake-agent"
  [ -x "$agent" ] || { echo "no $agent: build the tests first" >&2; exit 2; }
  mkdir -p "$work/bin"
  ln -s "$root/tests/query/fake-ssh" "$work/bin/ssh"
  export PATH="$work/bin:$PATH" KESTRAVA_FAKE_AGENT_PROGRAM="$agent"
  export KESTRAVA_FAKE_DELAY_MS="${KESTRAVA_FAKE_DELAY_MS:-200}"
  export KESTRAVA_FAKE_OBJECTS="${KESTRAVA_FAKE_OBJECTS:-20}"
  export KESTRAVA_FAKE_BLOB_BYTES="${KESTRAVA_FAKE_BLOB_BYTES:-1000}"
  echo "delay ${KESTRAVA_FAKE_DELAY_MS} ms, ${KESTRAVA_FAKE_OBJECTS} objects of ${KESTRAVA_FAKE_BLOB_BYTES} bytes a computer"
  printf '%-6s %-9s %9s %14s %10s %9s %9s %11s %7s\n' fleet parallel wall_s predicted_s ratio peak_MiB most_fds most_threads rows
  for p in $parallels; do
    seq -f "computer-%g" "$p" >"$work/wave"
    run_sampled "$work/out" --hosts "$work/wave" --parallel "$p" --format csv "Select * From Kestrava_Fake"
    local wave="$wall"
    for n in $sizes; do
      seq -f "computer-%g" "$n" >"$work/hosts"
      run_sampled "$work/out" --hosts "$work/hosts" --parallel "$p" --format csv "Select * From Kestrava_Fake"
      local waves=$(((n + p - 1) / p))
      local predicted rows
      predicted="$(calc "$wave * $waves")"
      rows=$(($(wc -l <"$work/out") - 1))
      printf '%-6s %-9s %9.2f %14.2f %10.2f %9.1f %9s %11s %7s\n' "$n" "$p" "$wall" "$predicted" \
        "$(calc "$wall / $predicted")" "$(calc "$peak_kib / 1024")" "$most_fds" \
        "$most_threads" "$rows"
      [ "$status" -eq 0 ] || { echo "kestrava-query ended with status $status:" >&2; head -5 "$work/out.err" >&2; }
    done
  done
}

# median_wall LABEL ARGS...: kestrava-query ARGS three times; sets median to the median wall time.
median_wall() {
  local label="$1" times=()
  shift
  for _ in 1 2 3; do
    run_sampled "$work/out" "$@"
    [ "$status" -eq 0 ] || { echo "$label failed:" >&2; head -3 "$work/out.err" >&2; }
    times+=("$wall")
  done
  median="$(printf '%s\n' "${times[@]}" | sort -g | sed -n 2p)"
}

hosts() {
  local file="$1" wql="${2:-Select * From Win32_Process}"
  [ -r "$file" ] || { echo "cannot read $file" >&2; exit 2; }
  local slowest=0 slowest_name="" name
  while read -r name; do
    median_wall "$name" --host "$name" "$wql"
    printf '%-40s alone  %6.2f s\n' "$name" "$median"
    if [ "$(calc "($median > $slowest) ? 1 : 0")" -eq 1 ]; then
      slowest="$median" slowest_name="$name"
    fi
  done < <(sed -e 's/#.*//' -e 's/^[[:space:]]*//' -e 's/[[:space:]]*$//' "$file" | grep -v '^$')
  median_wall "the fleet run" --hosts "$file" "$wql"
  printf 'all of %s together %6.2f s; slowest alone (%s) %6.2f s; ratio %.2f\n' "$file" "$median" \
    "$slowest_name" "$slowest" "$(calc "$median / $slowest")"
}

case "${1:-}" in
  fake) shift; fake "$@" ;;
  hosts) shift; hosts "$@" ;;
  *) sed -n '2,18p' "$0" >&2; exit 2 ;;
esac
