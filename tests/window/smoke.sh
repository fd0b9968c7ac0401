#!/usr/bin/env bash
# Runs the real program under Xvfb with only the built-in devices, lets the
# demo input play for a few seconds, closes the window through its own menu
# (Exit) and checks that the input port was live, that the program ended by
# itself with status 0, and that it wrote its settings on the way out.
set -euo pipefail
korvane=$1
for tool in xvfb-run xdotool import convert; do
  command -v "$tool" >/dev/null || { echo "$tool is missing"; exit 77; }
done
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"
# In a sanitizer build: the system libraries behind the X11 platform (D-Bus,
# fontconfig) keep allocations until exit that are none of ours.
printf 'leak:libdbus-1.so\nleak:libfontconfig.so\nleak:libxcb\n' >lsan.supp
export QT_QPA_PLATFORM=xcb  # a real X server, whatever the caller set
export LSAN_OPTIONS="suppressions=$work/lsan.supp${LSAN_OPTIONS:+:$LSAN_OPTIONS}"

cat >session.sh <<'SESSION'
set -u
"$1" >korvane.log 2>&1 &
pid=$!
if ! window=$(timeout 20 xdotool search --sync --name "Midi SMPTE"); then
  echo "no window appeared"; kill "$pid"; exit 1
fi
window=$(echo "$window" | head -n1)
sleep 4
import -window root shot.png
# Exit is the last entry of the menu bar: Alt opens the bar, Left wraps to it.
xdotool windowfocus --sync "$window"
xdotool key --window "$window" alt
xdotool key --window "$window" Left
xdotool key --window "$window" Return 2>/dev/null || true
for _ in $(seq 100); do
  kill -0 "$pid" 2>/dev/null || break
  sleep 0.1
done
if kill -0 "$pid" 2>/dev/null; then
  echo "still running after Exit"; kill "$pid"; exit 1
fi
wait "$pid"
SESSION

status=0
KORVANE_MIDI_API=none xvfb-run -a -s "-screen 0 1024x768x24" bash session.sh "$korvane" || status=$?
cat korvane.log
[ "$status" -eq 0 ] || { echo "korvane ended with status $status"; exit 1; }

# The input lamp (x 475, just below the menu bar) is lime once the demo input is open.
colours=$(convert shot.png -crop 36x50+476+20 -format %c histogram:info:-)
if ! grep -qi "#00FF00" <<<"$colours"; then
  cp shot.png "${TMPDIR:-/tmp}/korvane-smoke-failed.png"
  echo "the input lamp is not lit (screen: ${TMPDIR:-/tmp}/korvane-smoke-failed.png)"; exit 1
fi
grep -q "^Midi_In1=" Korvane.ini || { echo "no settings written"; exit 1; }
echo "ok"
