#!/usr/bin/env bash
# Starts Kestrava in a real X window under Xvfb, drives it as a person would (xdotool), and saves
# a PNG of each state: scripts/screenshots.sh [build-dir] [out-dir] [computer] [service]
# computer: typed into the Connect dialog under "Remote Machine" when given ("" for this one).
# service: a running service to pause from the Services view (and resume afterwards); the
#          Services view is shot with it paused.
# There is no window manager under Xvfb: a click on an empty corner makes the main window the
# active one, and keys go to it from then on. The dialogs are its MDI children.
# docs/screenshots/README.md says how the pictures in docs/ were taken.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build="${1:-$root/build/default}"
out="${2:-$root/docs/screenshots}"
computer="${3:-}"
service="${4:-}"
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

"$build/src/desktop/kestrava" >/dev/null 2>&1 &
app=$!

window_of() {  # a window, by its caption: window_of CAPTION [tenths of a second]
  for _ in $(seq "${2:-100}"); do
    id="$(xdotool search --name "$1" 2>/dev/null | head -n1 || true)"
    [ -n "$id" ] && { echo "$id"; return 0; }
    sleep 0.1
  done
  echo "screenshots: no window named '$1'" >&2
  return 1
}
point_at() {  # a click on an empty corner of a window makes it the active one
  eval "$(xdotool getwindowgeometry --shell "$1")"
  xdotool mousemove --window "$1" $((WIDTH - 40)) $((HEIGHT - 40)) click 1
  sleep 0.3
}
keys() {  # one at a time: keys sent in one burst are sometimes dropped
  for k in "$@"; do xdotool key "$k"; sleep 0.15; done
}
shot() { sleep "${2:-0.6}"; import -window root "$out/$1.png"; echo "screenshots: $out/$1.png"; }

main="$(window_of MDIKestrava)"
point_at "$main"
# The Connect dialog opens with the main window, OK focused.
shot 01-connect-dialog
if [ -n "$computer" ]; then
  # From OK, Tab reaches the options (the name box is disabled while Local is chosen); Down
  # chooses Remote, which enables the name box, the Tab stop before the options.
  keys Tab Down shift+Tab
  xdotool type --delay 30 "$computer"
  shot 01-connect-dialog-remote 1.0
fi
# Enter presses OK (the default button): connect and build every view. Over ssh the build
# waits for the connection too.
keys Return
window_of "Done building information" 600 >/dev/null || { import -window root "$out/failed.png"; exit 1; }
if [ -n "$computer" ] && ! pgrep -P "$app" -x ssh >/dev/null; then
  echo "screenshots: no ssh to '$computer' under Kestrava; the views are not the far side's" >&2
  exit 1
fi
shot 03-services 1.0

# Alt+A opens the About box; Enter presses its OK.
keys alt+a
shot 02-about
keys Return

for entry in alt+p:04-processes alt+u:05-computer-system alt+l:06-logical-disk \
             alt+o:07-operating-system alt+r:08-processor alt+e:09-event-log-files; do
  keys "${entry%%:*}"
  shot "${entry##*:}"
done

# Services to the front; the list has the focus.
keys alt+s
sleep 0.5
if [ -n "$service" ]; then
  # Typing a name selects its row; Tab order from the list: Stop, Pause, Start, Resume.
  keys Home
  xdotool type --delay 30 "$service"
  keys Tab Tab space
  # The view refills itself 2 s after an action.
  shot 12-services-paused 3.0
  keys shift+Tab shift+Tab  # back from Pause to the list
  sleep 0.2
fi
# A service action mid-blink: a row selected, Start pressed; the row is bold from 250 to 500 ms
# after the press.
keys Down ${KESTRAVA_SCREENSHOT_ROW_KEYS:-}
sleep 0.2
keys Tab Tab Tab space
sleep 0.28
import -window root "$out/10-services-blink.png"
echo "screenshots: $out/10-services-blink.png"
sleep 2
shot 11-services-after-refill
if [ -n "$service" ]; then
  # Leave the paused service running again: its row, then Resume (four Tabs from the list).
  keys shift+Tab shift+Tab shift+Tab  # back from Start to the list
  keys Home
  xdotool type --delay 30 "$service"
  keys Tab Tab Tab Tab space
  shot 13-services-resumed 3.0
fi
