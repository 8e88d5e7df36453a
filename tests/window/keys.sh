#!/bin/sh
# Runs inside xvfb-run. Starts the show windowed, holds F11 until the window is full screen, holds
# it again until the window is back, holds 3 until the title shows scene 3, then holds Escape until
# the show has ended. Keys are held
# down (not tapped) because the show polls the keyboard once per frame.
# Usage: keys.sh DIR PROGRAM [OPTIONS...]
# Leaves in DIR: before, fullscreen, after (window geometry), title_before, title_scene3 (window
# titles), show.out, show.err, show.status.
dir=$1
program=$2
shift 2
cd "$dir" || exit 2
"$program" "$@" > show.out 2> show.err &
pid=$!

geometry() {
  xdotool getwindowgeometry --shell "$window" 2>/dev/null | grep -E '^(X|Y|WIDTH|HEIGHT)=' |
    tr '\n' ' '
}

# Holds key $1 until the command $2 succeeds (at most 30 s), then releases it.
hold_until() {
  xdotool keydown "$1"
  tries=0
  while [ $tries -lt 300 ] && ! eval "$2"; do
    sleep 0.1
    tries=$((tries + 1))
  done
  xdotool keyup "$1"
  sleep 1  # let the show see the release before the next press
}

window=
tries=0
while [ -z "$window" ] && [ $tries -lt 300 ]; do
  window=$(xdotool search --name '^kestrel_prod' 2>/dev/null | head -n 1)
  [ -n "$window" ] || sleep 0.1
  tries=$((tries + 1))
done
# Somewhere other than where the show would put it, so that restoring the place is checked.
xdotool windowmove "$window" 100 50
sleep 1
geometry > before
hold_until F11 '[ "$(geometry)" != "$(cat before)" ]'
geometry > fullscreen
hold_until F11 '[ "$(geometry)" = "$(cat before)" ]'
geometry > after
xdotool getwindowname "$window" > title_before
hold_until 3 'xdotool getwindowname "$window" | grep -q "| scene 3 |"'
xdotool getwindowname "$window" > title_scene3
hold_until Escape '! [ -d /proc/$pid ]'
# A show that ignored Escape must not hang the test.
kill $pid 2>/dev/null
wait $pid
echo $? > show.status
