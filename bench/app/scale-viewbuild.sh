#!/usr/bin/env bash
# The GUI's local view build at scale: viewbuild_bench with PROCESSES processes and SERVICES
# service units on the private user manager of the test fixture, STARTED of them running.
#   bench/app/scale-viewbuild.sh [PROCESSES] [SERVICES] [STARTED] [-- BENCHMARK ARGS]
#   (defaults 10000, 2000, 200). Needs root (the fixture's manager); stops it at the end.
set -euo pipefail
root="$(cd "$(dirname "$0")/../.." && pwd)"
bench="${KESTRAVA_VIEWBUILD_BENCH:-$root/build/default/bench/app/viewbuild_bench}"
processes="${1:-10000}"
services="${2:-2000}"
started="${3:-200}"
shift $(($# < 3 ? $# : 3))
[ "${1:-}" = -- ] && shift

fixture="$root/scripts/fixtures/systemd-user.sh"
dir="$(mktemp -d /tmp/kestrava-scale.XXXXXX)"
trap 'bash "$fixture" stop "$dir" || true; rm -rf "$dir"' EXIT
eval "$(bash "$fixture" start "$dir")"

units() { seq -f 'kestrava-scale-%04g.service' 0 $(($1 - 1)); }
user_systemctl() {
  XDG_RUNTIME_DIR="$KESTRAVA_TEST_SYSTEMD_RUNTIME_DIR" timeout 600 systemctl --user "$@" </dev/null
}
for name in $(units "$services"); do
  printf '[Unit]\nDescription=Kestrava scale %s\n[Service]\nExecStart=/bin/sleep infinity\nStandardOutput=null\n' \
    "${name%.service}" >"$KESTRAVA_TEST_SYSTEMD_UNIT_DIR/$name"
done
user_systemctl daemon-reload
# shellcheck disable=SC2046
[ "$started" -gt 0 ] && user_systemctl start $(units "$started")
echo "services: $services unit files, $started running; processes: at least $processes" >&2

KESTRAVA_BENCH_PROCESSES="$processes" "$bench" "$@"
