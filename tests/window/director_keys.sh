#!/bin/sh
# Runs inside xvfb-run. Drives the show with real key presses and reads it through its window
# title. Keys are held long enough for the show, which polls the keyboard once per frame, to see
# them down and then up again.
# Usage: director_keys.sh MODE DIR PROGRAM [OPTIONS...]
#   MODE keys:   Right five times, then 5, then Space, then Escape. Leaves title_start,
#                title_right5, title_digit5, title_frozen.
#   MODE finale: waits for the show (started near the end) to finish by itself, photographs the
#                screen, presses a letter key, photographs it again, then Escape. Leaves
#                title_start, finished_after (seconds), finished.xwd, title_finished,
#                restarted.xwd, title_restarted.
# Both leave show.out, show.err and show.status in DIR.
mode=$1
dir=$2
program=$3
shift 3
cd "$dir" || exit 2
"$program" "$@" > show.out 2> show.err &
pid=$!

now() { date +%s.%N; }
title() { xdotool getwindowname "$window" 2>/dev/null; }

# Waits (at most $2 tenths of a second) until the title matches the extended regular expression $1.
wait_title() {
  tries=0
  while [ $tries -lt "$2" ] && ! title | grep -Eq "$1"; do
    sleep 0.1
    tries=$((tries + 1))
  done
}

# One press of key $1.
tap() {
  xdotool keydown "$1"
  sleep 0.4
  xdotool keyup "$1"
  sleep 0.4
}

# Holds key $1 until the title matches $2 (at most 30 s), then releases it.
hold_until_title() {
  xdotool keydown "$1"
  wait_title "$2" 300
  xdotool keyup "$1"
  sleep 0.5
}

window=
tries=0
while [ -z "$window" ] && [ $tries -lt 300 ]; do
  window=$(xdotool search --name '^kestrel_prod' 2>/dev/null | head -n 1)
  [ -n "$window" ] || sleep 0.1
  tries=$((tries + 1))
done
started=$(now)
wait_title '\| scene [0-9]' 100
title > title_start

case "$mode" in
  keys)
    for n in 1 2 3 4 5; do tap Right; done
    wait_title '\| scene 3 directed \|' 50
    title > title_right5
    hold_until_title 5 '\| scene 5 \|'
    title > title_digit5
    hold_until_title space ' frozen \|'
    title > title_frozen
    ;;
  finale)
    # Finishing puts the clock back to bar 0, which is the canyon's section.
    wait_title '\| scene 1 directed \|' 150
    echo "$started $(now)" | awk '{ printf "%.1f\n", $2 - $1 }' > finished_after
    sleep 1
    title > title_finished
    xwd -root -silent -display "$DISPLAY" > finished.xwd
    tap a
    sleep 1.5
    title > title_restarted
    xwd -root -silent -display "$DISPLAY" > restarted.xwd
    ;;
esac

xdotool keydown Escape
tries=0
while [ $tries -lt 300 ] && [ -d /proc/$pid ]; do
  sleep 0.1
  tries=$((tries + 1))
done
xdotool keyup Escape
# A show that ignored Escape must not hang the test.
kill $pid 2>/dev/null
wait $pid
echo $? > show.status
