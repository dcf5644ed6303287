#!/usr/bin/env bash
# Runs the installer on a display (Xvfb), finds its SDL message box by its
# caption, closes it with its OK button, and checks the run.
# Exits 77 (skipped) where Xvfb or its helpers are missing.
set -u
setup=$1
for tool in Xvfb xwininfo xdotool; do
  command -v "$tool" >/dev/null || { echo "skipped: $tool is not installed"; exit 77; }
done
[ -e /usr/lib/x86_64-linux-gnu/libSDL2-2.0.so.0 ] || ldconfig -p | grep -q libSDL2-2.0.so.0 ||
  { echo "skipped: SDL2 is not installed"; exit 77; }

work=$(mktemp -d)
display=:$((90 + RANDOM % 100))
Xvfb "$display" -screen 0 1024x768x24 -nolisten tcp >/dev/null 2>&1 &
xvfb=$!
cleanup() { kill "$pid" 2>/dev/null; kill "$xvfb" 2>/dev/null; wait 2>/dev/null; rm -rf "$work"; }
trap cleanup EXIT
export DISPLAY=$display
for _ in $(seq 50); do xwininfo -root >/dev/null 2>&1 && break; sleep 0.1; done

mkdir "$work/kit" && cp "$setup" "$work/kit/setup" && echo 'int a;' >"$work/kit/a.h" && echo lib >"$work/kit/k.lib"
(cd "$work/kit" && exec ./setup >"$work/stdout") &
pid=$!

# The box is a top-level window named after the caption.
window=
for _ in $(seq 100); do
  window=$(xwininfo -root -tree | awk '/"setup"/ {print $1; exit}')
  [ -n "$window" ] && break
  sleep 0.1
done
[ -n "$window" ] || { echo "FAIL: no window captioned setup"; xwininfo -root -tree; exit 1; }
kill -0 "$pid" 2>/dev/null || { echo "FAIL: the installer did not wait for the box"; exit 1; }
sleep 0.3

# Click the OK button: it sits centred in the lower part of the box, and a
# click beside it does nothing, so walk up from the bottom edge until the
# box goes.
read -r width height < <(xwininfo -id "$window" | awk '/Width:/ {w=$2} /Height:/ {h=$2} END {print w, h}')
for ((y = height - 4; y > height / 3; y -= 4)); do
  xdotool mousemove --window "$window" $((width / 2)) "$y" click 1
  sleep 0.2
  kill -0 "$pid" 2>/dev/null || break
done
kill -0 "$pid" 2>/dev/null && { echo "FAIL: the OK button did not close the box"; exit 1; }
wait "$pid"; status=$?
[ "$status" -eq 0 ] || { echo "FAIL: exit code $status"; exit 1; }
[ ! -s "$work/stdout" ] || { echo "FAIL: the message went to the terminal: $(cat "$work/stdout")"; exit 1; }
[ -f "$work/kit/INCLUDE/a.h" ] && [ -f "$work/kit/LIB/k.lib" ] && [ ! -e "$work/kit/a.h" ] ||
  { echo "FAIL: files not moved"; ls -R "$work/kit"; exit 1; }
echo "box 'setup' shown and closed with OK; files moved"
