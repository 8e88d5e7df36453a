#!/bin/sh
# Runs inside xvfb-run. Starts the show, which saves its last frame into a FIFO: opening the FIFO
# blocks the show right after that frame has been presented, so a screenshot of the X screen taken
# then shows exactly the saved frame. Then the frame is read from the FIFO and the show ends.
# Usage: capture_screen.sh DIR PROGRAM [OPTIONS...]
# Leaves in DIR: screen.xwd, frame.ppm, show.out, show.err, show.status.
dir=$1
program=$2
shift 2
cd "$dir" || exit 2
mkfifo frame.fifo || exit 2
"$program" "$@" --save frame.fifo > show.out 2> show.err &
pid=$!

# The main thread waits in open() for the FIFO's reader once the last frame is on screen.
blocked=no
tries=0
while [ $tries -lt 1200 ] && [ -d /proc/$pid ]; do
  wchan=$(cat /proc/$pid/wchan 2>/dev/null)
  call=$(cut -d' ' -f1 /proc/$pid/syscall 2>/dev/null)
  if [ "$wchan" = wait_for_partner ] || [ "$call" = 257 ]; then
    blocked=yes
    break
  fi
  sleep 0.05
  tries=$((tries + 1))
done
echo "$blocked" > blocked

xwd -root -silent -display "$DISPLAY" > screen.xwd
# A show that never opened the FIFO must not hang the test: give up reading after a while.
timeout 30 cat frame.fifo > frame.ppm
wait $pid
echo $? > show.status
