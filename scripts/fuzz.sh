#!/usr/bin/env bash
# Builds the libFuzzer targets with clang and runs each for a bounded time: scripts/fuzz.sh [seconds]
# Each runs under a memory limit: a process above rss_mb, or one allocation above malloc_mb, fails.
set -euo pipefail
seconds="${1:-30}"
rss_mb="${KESTRAVA_FUZZ_RSS_MB:-512}"
malloc_mb="${KESTRAVA_FUZZ_MALLOC_MB:-64}"
root="$(cd "$(dirname "$0")/.." && pwd)"
cd "$root"
bash scripts/setup-deps.sh
cmake --preset fuzz >/dev/null
cmake --build --preset fuzz
mapfile -t fuzzers < <(find build/fuzz/fuzz -type f -executable -name '*_fuzzer' | sort)
if [ "${#fuzzers[@]}" -eq 0 ]; then echo "fuzz: no fuzz targets built"; exit 0; fi
for f in "${fuzzers[@]}"; do
  name="$(basename "$f")"
  corpus="$(mktemp -d)"
  seeds="fuzz/$(basename "$(dirname "$f")")/corpus"
  echo "fuzz: $name for ${seconds}s"
  "$f" -max_total_time="$seconds" -rss_limit_mb="$rss_mb" -malloc_limit_mb="$malloc_mb" \
    -print_final_stats=1 "$corpus" $( [ -d "$seeds" ] && echo "$seeds" ) 2>&1 | tail -n 4
  rm -rf "$corpus"
done
echo "fuzz: ${#fuzzers[@]} targets ran without a crash"
