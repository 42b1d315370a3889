#!/usr/bin/env bash
# Builds Kestrava and runs every test: scripts/test.sh [default|asan|headless]
# Starts the test fixtures (a private service manager, a loopback sshd, a booted Debian server)
# and stops them at the end.
set -euo pipefail
preset="${1:-default}"
root="$(cd "$(dirname "$0")/.." && pwd)"
cd "$root"

bash scripts/setup-deps.sh
cmake --preset "$preset" >/dev/null
cmake --build --preset "$preset"

fixture_dir="$(mktemp -d /tmp/kestrava-fixtures.XXXXXX)"
started=()
cleanup() {
  for f in "${started[@]}"; do bash "$f" stop "$fixture_dir" || true; done
  rm -rf "$fixture_dir"
}
trap cleanup EXIT

# Each fixture prints the environment its tests need, as export lines.
for f in scripts/fixtures/*.sh; do
  [ -e "$f" ] || continue
  env_lines="$(bash "$f" start "$fixture_dir")"
  started+=("$f")
  eval "$env_lines"
done
export KESTRAVA_REQUIRE_FIXTURES=1

ctest --preset "$preset" -j2
