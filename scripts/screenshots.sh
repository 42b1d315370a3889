#!/usr/bin/env bash
# Starts Kestrava in a real X window under Xvfb, drives it as a person would (xdotool), and saves
# a PNG of each state: scripts/screenshots.sh [build-dir] [out-dir] [computer]
# The computer name is typed into the Connect dialog under "Remote Machine" when given.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build="${1:-$root/build/default}"
out="${2:-$root/docs/screenshots}"
computer="${3:-}"
mkdir -p "$out"

display=":$((90 + RANDOM % 100))"
Xvfb "$display" -screen 0 1024x768x24 -nolisten tcp >/dev/null 2>&1 &
xvfb=$!
export DISPLAY="$display"
app=""
cleanup() {
  [ -n "$app" ] && kill "$app" 2>/dev/null || true
  kill "$xvfb" 2>/dev/null || true
  wait 2>/dev/null || true
}
trap cleanup EXIT
for _ in $(seq 50); do xdpyinfo >/dev/null 2>&1 && break; sleep 0.1; done

"$build/src/app/kestrava" >/dev/null 2>&1 &
app=$!

window_of() {  # the main window, by its caption
  for _ in $(seq 100); do
    id="$(xdotool search --name "$1" 2>/dev/null | head -n1 || true)"
    [ -n "$id" ] && { echo "$id"; return 0; }
    sleep 0.1
  done
  echo "screenshots: no window named '$1'" >&2
  return 1
}
shot() { sleep "${2:-0.6}"; import -window root "$out/$1.png"; echo "screenshots: $out/$1.png"; }

main="$(window_of MDIKestrava)"
xdotool windowactivate --sync "$main" 2>/dev/null || xdotool windowfocus --sync "$main" || true
shot 01-connect-dialog

# Alt+A opens the About box; Enter presses its OK.
xdotool key --window "$main" alt+a
shot 02-about
xdotool key --window "$main" Return
sleep 0.3

if [ -n "$computer" ]; then
  xdotool key --window "$main" alt+c
  sleep 0.3
  # Remote Machine, then the name; Tab order: OK, name box, Local, Remote.
  xdotool key --window "$main" Tab Tab Tab space
  sleep 0.2
  xdotool type --window "$main" --delay 20 "$computer"
fi
# Enter presses OK (the default button): connect and build every view.
xdotool key --window "$main" Return
window_of "Done building information" >/dev/null
shot 03-services 1.0

for entry in alt+p:04-processes alt+u:05-computer-system alt+l:06-logical-disk \
             alt+o:07-operating-system alt+r:08-processor alt+e:09-event-log-files; do
  xdotool key --window "$main" "${entry%%:*}"
  shot "${entry##*:}"
done

# A service action mid-blink: Services to the front, a row selected, Start pressed; the row is
# bold from 250 to 500 ms after the press.
xdotool key --window "$main" alt+s
sleep 0.5
xdotool key --window "$main" Down ${KESTRAVA_SCREENSHOT_ROW_KEYS:-}
sleep 0.2
# Tab order from the list: Stop, Pause, Start.
xdotool key --window "$main" Tab Tab Tab space
sleep 0.28
import -window root "$out/10-services-blink.png"
echo "screenshots: $out/10-services-blink.png"
sleep 2
shot 11-services-after-refill
