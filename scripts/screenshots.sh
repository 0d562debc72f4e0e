#!/usr/bin/env bash
# Takes the README's pictures again: runs the demo (tarvex --demo) on a virtual
# display, presses its buttons as a user would and saves each window as a PNG
# in docs/. It follows the simulated car's timetable (warm-up idle 30 s, first
# launch at 40 s, the next about 41 s later), so it takes about two minutes;
# then the CAN car (tarvex --demo --car can) for its on-board tests and report.
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"

if [ "${1:-}" != --on-display ]; then
  tarvex_install_missing "${TARVEX_PACKAGES[@]}" "${TARVEX_SCREENSHOT_PACKAGES[@]}"
  tarvex_configure
  cmake --build "$TARVEX_BUILD" --parallel "$(nproc)" --target tarvex
  exec xvfb-run -a -s "-screen 0 1400x1200x24" "$BASH_SOURCE" --on-display
fi

docs="$TARVEX_ROOT/docs"
mkdir -p "$docs"
export QT_QPA_PLATFORM=xcb
"$TARVEX_BUILD/app/tarvex" --demo &
tarvex_pid=$!
trap 'kill "$tarvex_pid" 2>/dev/null || true' EXIT
started=$SECONDS

# window TITLE X Y: waits for the window, puts it at X,Y and prints its id.
window() {
  local id
  id=$(timeout 20 xdotool search --sync --onlyvisible --name "^$1\$" | head -n 1)
  xdotool windowmove "$id" "$2" "$3"
  echo "$id"
}
# press ID X Y: a click at X,Y inside the window (the layouts' twips / 15).
press() { xdotool mousemove --window "$1" "$2" "$3" click 1; }
# menu ID KEYS...: keys typed into the window (a menu's Alt+letter, then its entry's letter).
menu() {
  xdotool windowfocus --sync "$1"
  for key in "${@:2}"; do
    xdotool key "$key"
    sleep 0.3
  done
}
# until S: waits until S seconds after the start.
until_second() {
  local left=$(($1 - (SECONDS - started)))
  if [ "$left" -gt 0 ]; then sleep "$left"; fi
}
shot() {
  sleep 0.5
  import -window "$1" -strip "$docs/$2.png"
  echo "docs/$2.png"
}

gauges=$(window Gauges 0 0)
main=$(window "Tarvex - Mode 22" 380 0)
# The main window's controls stand under its menu bar: the client area is
# laid out 373 pixels high, the rest is the bar.
bar=$(($(xdotool getwindowgeometry "$main" | sed -n 's/.*Geometry: [0-9]*x//p') - 373))
# Log the drive, for the replay pictures at the end.
drive="$(mktemp -d)/drive.csv"
press "$main" 300 $((17 + bar)) # the log file's name
xdotool key ctrl+a
xdotool type --delay 5 "$drive"
press "$main" 239 $((40 + bar)) # Log to file
press "$main" 48 $((344 + bar)) # Start Scan
until_second 50      # ten seconds into the first launch
shot "$main" main-window
shot "$gauges" gauges
menu "$main" alt+v c # View > Charts
charts=$(window "Tarvex - Charts" 0 420)
sleep 3
shot "$charts" charts-live

until_second 62
press "$main" 380 $((344 + bar)) # Drag Strip: the scan lets go of the adapter
drag=$(window "OBD Dragstrip" 0 400)
press "$drag" 200 188 # Start
until_second 104      # the second launch is past the quarter mile
shot "$drag" drag-strip
press "$drag" 316 188 # Stop

press "$main" 144 $((344 + bar)) # Stop Scan
press "$main" 252 $((344 + bar)) # Open DTC Reader (it resets the adapter)
dtc=$(window DTCReader 560 400)
sleep 2
press "$dtc" 56 24 # Read DTC
sleep 1
shot "$dtc" trouble-codes

# The logged drive played back: the whole log in the charts, the player's
# cursor on it, the main window's boxes on the line under the cursor.
kill "$tarvex_pid"
wait "$tarvex_pid" 2>/dev/null || true
"$TARVEX_BUILD/app/tarvex" --replay "$drive" &
tarvex_pid=$!
main=$(window "Tarvex - Mode 22 - replaying drive.csv" 380 0)
charts=$(window "Tarvex - Charts" 0 420)
player=$(window "Replay - drive.csv" 0 0)
press "$player" 30 20 # Play
sleep 4
shot "$charts" charts-replay


# The CAN car's own results: View > On-board tests; then, in a fresh demo (the
# tests window holds the adapter), File > Save report... to a PDF, whose
# window shows the report as it prints.
kill "$tarvex_pid"
wait "$tarvex_pid" 2>/dev/null || true
"$TARVEX_BUILD/app/tarvex" --demo --car can &
tarvex_pid=$!
main=$(window "Tarvex - Mode 22" 380 0)
menu "$main" alt+v o # View > On-board tests
tests=$(window "On-board tests" 0 420)
sleep 9 # the adapter's set-up, the protocol search and the reads
shot "$tests" on-board-tests
kill "$tarvex_pid"
wait "$tarvex_pid" 2>/dev/null || true
"$TARVEX_BUILD/app/tarvex" --demo --car can &
tarvex_pid=$!
main=$(window "Tarvex - Mode 22" 380 0)
menu "$main" alt+f r # File > Save report...
window "Save report" 100 100 >/dev/null
xdotool key ctrl+a
xdotool type --delay 5 "$(mktemp -d)/report.pdf"
xdotool key Return
report=$(window Report 0 0)
sleep 12
shot "$report" report
