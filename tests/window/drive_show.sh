#!/bin/sh
# Runs inside xvfb-run. Starts the show, drives it with real key presses and reads it through its
# window geometry, its title and screenshots. Keys are held long enough for the show, which polls
# the keyboard once per frame, to see them down and then up again.
# Usage: drive_show.sh MODE DIR PROGRAM [OPTIONS...]
#   MODE window:   moves the window, holds F11 until it is full screen and again until it is back,
#                  holds 3 until the title shows scene 3. Leaves before, fullscreen, after (window
#                  geometry), title_before, title_scene3.
#   MODE director: Right five times, then 5, then Space. Leaves title_start, title_right5,
#                  title_digit5, title_frozen.
#   MODE finale:   waits for the show (started near the end) to finish by itself, photographs the
#                  screen, presses a letter key, photographs it again. Leaves title_start,
#                  finished_after (seconds), title_finished, finished.xwd, title_restarted,
#                  restarted.xwd.
#   MODE taps:     taps keys the way `xdotool key` does (about 12 ms down), each while the show
#                  runs and while it is stopped (SIGSTOP: a frame that lasts 0.3 s, so the press
#                  and the release both arrive in one poll). Leaves title_start, title_d_running,
#                  title_d_stopped, title_dd_stopped, title_space_stopped, title_space_running,
#                  title_digit_stopped, and closed_by_tap ("yes" when a stopped Escape tap ended the
#                  show).
# Every mode ends by holding Escape until the show has ended, and leaves show.out, show.err and
# show.status in DIR.
mode=$1
dir=$2
program=$3
shift 3
cd "$dir" || exit 2
"$program" "$@" > show.out 2> show.err &
pid=$!

now() { date +%s.%N; }
title() { xdotool getwindowname "$window" 2>/dev/null; }
geometry() {
  xdotool getwindowgeometry --shell "$window" 2>/dev/null | grep -E '^(X|Y|WIDTH|HEIGHT)=' |
    tr '\n' ' '
}
screenshot() { xwd -root -silent -display "$DISPLAY" > "$1"; }

# Waits until the command $1 succeeds, at most $2 tenths of a second.
wait_for() {
  tries=0
  while [ $tries -lt "$2" ] && ! eval "$1"; do
    sleep 0.1
    tries=$((tries + 1))
  done
}

# Holds key $1 until the command $2 succeeds (at most 30 s), then releases it.
hold_until() {
  xdotool keydown "$1"
  wait_for "$2" 300
  xdotool keyup "$1"
  sleep 0.5  # let the show see the release before the next press
}

# Taps the keys $@ (`xdotool key`: about 12 ms down, 12 ms between keys) while the show is
# stopped, then lets it run on: every press and release reaches it in one poll.
tap_stopped() {
  kill -STOP $pid
  sleep 0.1
  xdotool key "$@"
  sleep 0.2
  kill -CONT $pid
}

# One press of key $1.
tap() {
  xdotool keydown "$1"
  sleep 0.4
  xdotool keyup "$1"
  sleep 0.4
}

window=
wait_for 'window=$(xdotool search --name "^kestrel_prod" 2>/dev/null | head -n 1); [ -n "$window" ]' 300
started=$(now)

case "$mode" in
  window)
    # Somewhere other than where the show would put it, so that restoring the place is checked.
    xdotool windowmove "$window" 100 50
    sleep 1
    geometry > before
    hold_until F11 '[ "$(geometry)" != "$(cat before)" ]'
    geometry > fullscreen
    hold_until F11 '[ "$(geometry)" = "$(cat before)" ]'
    geometry > after
    title > title_before
    hold_until 3 'title | grep -q "| scene 3 |"'
    title > title_scene3
    ;;
  director)
    wait_for 'title | grep -q "| scene [0-9]"' 100
    title > title_start
    for n in 1 2 3 4 5; do tap Right; done
    wait_for 'title | grep -q "| scene 3 directed |"' 50
    title > title_right5
    hold_until 5 'title | grep -q "| scene 5 |"'
    title > title_digit5
    hold_until space 'title | grep -q " frozen |"'
    title > title_frozen
    ;;
  finale)
    wait_for 'title | grep -q "| scene [0-9]"' 100
    title > title_start
    # Finishing puts the clock back to bar 0, which is the canyon's section.
    wait_for 'title | grep -q "| scene 1 directed |"' 150
    echo "$started $(now)" | awk '{ printf "%.1f\n", $2 - $1 }' > finished_after
    sleep 1
    title > title_finished
    screenshot finished.xwd
    tap a
    sleep 1.5
    title > title_restarted
    screenshot restarted.xwd
    ;;
  taps)
    wait_for 'title | grep -q "| scene 1 directed |"' 100
    title > title_start
    xdotool key d
    wait_for 'title | grep -q "| scene 1 |"' 30
    title > title_d_running
    tap_stopped d
    wait_for 'title | grep -q "| scene 1 directed |"' 30
    title > title_d_stopped
    # Two taps in one frame toggle twice: back where it was, seen a second after.
    tap_stopped d d
    sleep 1
    title > title_dd_stopped
    tap_stopped space
    wait_for 'title | grep -q " frozen |"' 30
    title > title_space_stopped
    xdotool key space
    wait_for '! title | grep -q " frozen |"' 30
    title > title_space_running
    tap_stopped 5
    wait_for 'title | grep -q "| scene 5 |"' 30
    title > title_digit_stopped
    tap_stopped Escape
    # Ended means gone or a zombie waiting to be reaped.
    ended() { ! grep -qs '^State:[[:space:]]*[RSDT]' /proc/$pid/status; }
    wait_for ended 50
    if ended; then echo yes > closed_by_tap; else echo no > closed_by_tap; fi
    ;;
esac

hold_until Escape '! [ -d /proc/$pid ]'
# A show that ignored Escape must not hang the test.
kill $pid 2>/dev/null
wait $pid
echo $? > show.status
