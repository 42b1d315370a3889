#!/usr/bin/env bash
# Log record counts against wc -l on the same files.
#   bench/service/log-counts.sh [DIR]   (default /tmp/kestrava-log-bench)
# Writes KESTRAVA_BENCH_LOGS logs (default 200) of KESTRAVA_BENCH_LOG_MIB MiB (default 60) of
# syslog-like lines into DIR/var/log (12 GB with the defaults; kept for the next run, remove DIR
# when done), reads them once so both sides find them in the page cache, then times `wc -l` over
# all of them and log_count_bench's queries: Select * (first and repeated) and one key filter.
set -euo pipefail
root="$(cd "$(dirname "$0")/../.." && pwd)"
dir="${1:-/tmp/kestrava-log-bench}"
count="${KESTRAVA_BENCH_LOGS:-200}"
mib="${KESTRAVA_BENCH_LOG_MIB:-60}"
bench="${KESTRAVA_BENCH_BIN:-$root/build/default/bench/service/log_count_bench}"
logs="$dir/var/log"
mkdir -p "$logs"

if [ ! -e "$logs/app-$(printf %03d $((count - 1))).log" ]; then
  awk -v bytes=$((mib << 20)) 'BEGIN {
    for (i = 0; n < bytes; i++) {
      line = sprintf("Dec  9 %02d:%02d:%02d host app[%d]: request %d served in %d ms for client 10.0.%d.%d",
                     i / 3600 % 24, i / 60 % 60, i % 60, 1000 + i % 97, i, i % 500, i % 256, i % 251)
      print line; n += length(line) + 1
    }
  }' > "$dir/template"
  for i in $(seq -f %03g 0 $((count - 1))); do cp "$dir/template" "$logs/app-$i.log"; done
  rm -f "$dir/template"
fi
cat "$logs"/*.log > /dev/null

TIMEFORMAT='wc -l, all logs: %R s wall, %U s user, %S s system'
time wc -l "$logs"/*.log > /dev/null
"$bench" "$logs" 3 app-100
