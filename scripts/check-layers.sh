#!/usr/bin/env bash
# Checks that no source file includes a header from a floor above its own:
# scripts/check-layers.sh [src-dir]. Each folder of src/ is a floor, and the table below says
# which other floors it may include. A folder missing from the table fails the check, so that a
# new floor finds its place on purpose. docs/architecture.md draws the same floors.
set -euo pipefail
src="${1:-$(cd "$(dirname "$0")/.." && pwd)/src}"

declare -A may=(
  [sys]=""
  [core]=""
  [viewtable]=""
  [service]="sys core"
  [remote]="sys core service"
  [connect]="sys core service remote"
  [agent]="sys core service remote connect"
  [query]="sys core service remote connect"
  [platform]="core"
  [app]="core platform viewtable"
  [views]="core platform app viewtable"
  [desktop]="sys core platform app views viewtable connect remote"
)

status=0
for dir in "$src"/*/; do
  floor="$(basename "$dir")"
  if [[ ! -v "may[$floor]" ]]; then
    echo "check-layers: src/$floor is not in the table of floors"
    status=1
    continue
  fi
  while IFS=: read -r file line include; do
    target="${include#*\"}"
    target="${target%%/*}"
    [ "$target" = "$floor" ] && continue
    [[ " ${may[$floor]} " == *" $target "* ]] && continue
    echo "check-layers: src/${file#"$src"/}:$line includes $target/, which src/$floor may not"
    status=1
  done < <(grep -rnE '^#include "[A-Za-z0-9_]+/' "$dir" --include='*.h' --include='*.cpp' || true)
done
[ "$status" -eq 0 ] && echo "check-layers: every include stays on its floor or goes down"
exit "$status"
