#!/usr/bin/env bash
# Builds Kestrava and starts it against the local computer.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
cd "$root"

bash scripts/setup-deps.sh
cmake --preset default >/dev/null
cmake --build --preset default --target kestrava

if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
  echo "kestrava: no display found (neither DISPLAY nor WAYLAND_DISPLAY is set)." >&2
  echo "Run it in a desktop session, or under a virtual X server: xvfb-run -a scripts/run.sh" >&2
  exit 1
fi
exec build/default/src/desktop/kestrava "$@"
